#pragma once
// The recorder Recorder: on a 100 ms timer of the UI thread it stores the live values into the sample
// store once per second of the clock, as the next record of the ring, and tells the chart through
// the handshake that a record was added. It records whether or not a port is open.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "record/clock.h"
#include "record/handshake.h"
#include "record/store.h"

namespace record {

class Recorder : public QObject {
    Q_OBJECT
  public:
    // Gives LiveValues 0..9 of the instrument image at the moment of storing.
    using LiveSource = std::function<std::array<float, 10>()>;

    Recorder(QString dbPath, const Clock& clock, RecorderHandshake& handshake, LiveSource live,
          QObject* parent = nullptr);
    ~Recorder() override;

    // Opens the store and starts the 100 ms timer.
    void start();
    // Stops the timer and closes the store's connection.
    void stop();
    bool running() const { return timer_.isActive(); }

    // One tick of the timer: stores a sample when the clock has reached a new second since the
    // latest one. While the file cannot be used, opening it is retried once a second.
    void tick();

    // Whole seconds between the clock and the latest stored sample, as an absolute value.
    double okitime() const;

    // One line for the status bar: what the recorder is doing, or why it is not recording.
    QString statusText() const { return status_; }

    const SampleStore& store() const { return store_; }

    // Number of the latest record, 0..65500; kept between ticks.
    int32_t LastRecordNo = 0;

  signals:
    void statusChanged();

  private:
    double secondsSinceLatest(const QDateTime& now) const;
    void setStatus(const QString& text);
    void setFailure(const QString& reason);

    SampleStore store_;
    const Clock& clock_;
    RecorderHandshake& handshake_;
    LiveSource live_;
    QTimer timer_;
    QDateTime lastOpenAttempt_;
    QString status_;
};

}  // namespace record
