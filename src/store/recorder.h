#pragma once
// The recorder: on a 100 ms timer of the UI thread it takes the live values once per second of the
// clock and hands them to its store thread, which writes them as the next record of the ring. Once
// the write has ended the recorder says so (sampleStored), so a listener such as the chart never
// looks for a record that is not yet committed. It records whether or not a
// port is open. The UI thread never waits on the disk.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

#include "base/tr.h"
#include "base/workerthread.h"
#include "store/clock.h"
#include "store/retention.h"
#include "store/store.h"

namespace store {

class StoreWriter;

// What the recorder is doing, as values; the status bar and the event log make their texts.
struct RecorderStatus {
    enum class State {
        NotStarted,  // "记录未启动"
        Recording,  // "记录中", "记录中：第 N 条", with samples waiting to be written after a fault
        SlowDisk,  // recording, with more samples queued than the disk takes
        Stopped,   // stopped by the program
        Failed,    // the file cannot take samples: retried every second
        Refused,   // another program records into the file
    };
    State state = State::NotStarted;
    int recordNo = 0;     // Recording: the latest record stored, 0 before the first
    int waiting = 0;      // Recording, Failed: samples held in memory, waiting to be written
    base::Phrase reason;  // Failed, Refused: why, as the store or the lock says it

    bool operator==(const RecorderStatus&) const = default;
    // Whether samples are being recorded (a slow disk and held samples count as recording).
    bool recording() const { return state == State::Recording || state == State::SlowDisk; }
};

// The status as one line, in the language.
QString recorderStatusText(const RecorderStatus& status, base::Lang lang);

class Recorder : public QObject {
    Q_OBJECT
  public:
    // Gives LiveValues 0..9 of the instrument image at the moment of storing.
    using LiveSource = std::function<std::array<float, 10>()>;

    // Whether the live values are stale at the moment of storing (not read from the instrument
    // for a while): such a sample is stored all the same and its second marked stale.
    using StaleSource = std::function<bool()>;

    Recorder(QString dbPath, const Clock& clock, LiveSource live, QObject* parent = nullptr);
    // Lets the store thread finish what it was given, for a few seconds at most; a disk that
    // hangs longer is left to the thread, which ends with the process.
    ~Recorder() override;

    void setStaleSource(StaleSource stale) { stale_ = std::move(stale); }

    // Has the store opened and starts the 100 ms timer.
    void start();
    // Records nothing: another program records into the file. The status bar says why.
    void refuse(const base::Phrase& why);
    // Stops the timer and has the store close its connection once the samples already taken are
    // written.
    void stop();
    bool running() const { return timer_.isActive(); }

    // One tick of the timer: when the clock has reached a new second since the latest sample, the
    // live values of this moment go to the store thread.
    void tick();

    // Whole seconds between the clock and the latest sample taken, as an absolute value.
    double secondsSinceLatestSample() const;

    // What the recorder is doing, or why it is not recording; and the same as a stored line.
    const RecorderStatus& status() const { return status_; }
    QString statusText() const { return recorderStatusText(status_, base::Lang::Stored); }

    // Waits until the store thread has done everything handed to it so far and takes in its
    // results. For tests, benchmarks and tools that drive the recorder by hand; the program's
    // window never calls it. False when timeoutMs passed first.
    bool waitForStore(int timeoutMs = 10000);

    // How long the archive keeps its samples; takes effect with the next sample.
    void setRetention(const RetentionPolicy& policy);
    // What goes with the archive's removed days in the same transaction (the event log's rows).
    void alsoRemoveOldDays(const SampleStore::AlsoRemove& alsoRemove);

    // Number of the latest record, 0..65500, as the store thread last reported it.
    int32_t lastRecordNo() const { return lastRecordNo_; }

  signals:
    void statusChanged();
    // The store thread has finished with a sample: committed as record sample.id, or (when the
    // file cannot take it) not, with the number it would have had. Either way the sample was
    // taken, so the live curve goes on without the file.
    void sampleStored(const store::Sample& sample);
    // A note for the event log from the store thread, as a code and its values (the archive let a
    // day go, samples held through a long disk fault were let go).
    void archiveNote(const QString& code, const QStringList& args);

  private:
    double secondsSinceLatestSample(const QDateTime& now) const;
    void sampleWritten(int recordNo, bool stored, const QString& error, int waiting);
    void storeOpened(bool ok, const QString& error, int recordNo);
    void setStatus(const RecorderStatus& status);

    const Clock& clock_;
    LiveSource live_;
    StaleSource stale_;
    // Date and time (OLE days) of the latest sample taken.
    double latestDate_ = 0;
    double latestTime_ = 0;
    int32_t lastRecordNo_ = 0;
    QTimer timer_;
    base::WorkerThread<StoreWriter> thread_;
    RecorderStatus status_;
    bool stopped_ = false;        // stop() was called and start() not since
    std::deque<Sample> pending_;  // handed to the store thread and not yet reported back
};

}  // namespace store
