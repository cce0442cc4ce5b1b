#pragma once
// The event log: takes what happens (writes made for the operator, changes of the instrument's
// alarm and program states, events of the line, the recorder's state), stamps it with the time and
// hands it to a thread of its own that stores it in the events table, in batches, so the window's
// thread never waits on the disk and a sample never waits behind a long transaction. Reads for the
// log window and exports run on that thread too and come back as signals.

#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

#include "base/tr.h"
#include "base/workerthread.h"
#include "comm/image.h"
#include "events/eventrules.h"
#include "events/eventstore.h"
#include "store/chain.h"

class QTimer;

namespace comm {
class Link;
}

namespace store {
class Recorder;
}

namespace events {

class EventWriter;

// Rows another store keeps that every log takes as well (the user store's logins, accounts and
// switching), stored in time order among the log's own. A source is made on each log's thread
// and called there before every batch and once a second: it returns the rows added since its
// last call (every row on the first), as copied entries; a row a log holds already is left out.
// Nothing when the rows could not be read just now (the other store busy): the log's own entries
// then wait a little, so that a row copied later is not stored after entries stamped after it.
using CopiedRows = std::function<std::optional<std::vector<EventEntry>>()>;
// Set before the logs start (the logs started later take it too); none: nothing is copied.
void setCopiedRowsSource(std::function<CopiedRows()> make);

// Whether the log is stored: stopped by a file it cannot use (retried once a second), or stored
// again after entries were let go while it could not be.
struct EventLogStatus {
    enum class State { Stored, Stopped, Lost };
    State state = State::Stored;
    store::Fault fault = store::Fault::None;  // Stopped: why
    qint64 lost = 0;                          // Lost: how many entries

    bool operator==(const EventLogStatus&) const = default;
};
// "事件记录已停止：数据库文件只读，每秒重试" in the language; empty while stored.
QString eventLogStatusText(const EventLogStatus& s, base::Lang lang);

class EventLog : public QObject {
    Q_OBJECT
  public:
    explicit EventLog(QString dbPath, QObject* parent = nullptr);
    ~EventLog() override;  // stores what is still waiting, then stops the thread (bounded wait)

    // Starts the writer thread, which opens the file (and retries once a second while it cannot).
    // readOnly: the file belongs to another program's recording; the log only reads it, and
    // entries logged here are shown but not stored.
    void start(bool readOnly = false);
    // From now on only reads the file: another program records into it.
    void viewOnly();

    // Follows the link's writes and line events and the changes between its images.
    void watch(comm::Link& link);
    // Follows the recorder's state.
    void watch(store::Recorder& recorder);

    // Stamps the entry with the current time when it has none and queues it for storing.
    void log(EventEntry entry);
    // Logs the changes between the image last seen and this one.
    void imageSeen(const comm::InstrumentImage& image);

    // Whether the log is stored, and why not, for the status bar.
    EventLogStatus status() const { return status_; }
    // The same in words: empty while the log is stored and the file's chains were found intact
    // (a break found by the last check is said until a check finds them intact).
    QString statusText(base::Lang lang = base::Lang::Stored) const;
    // Entries the writer has stored so far in this run.
    qint64 storedCount() const { return stored_; }
    QString databasePath() const { return path_; }

    // Rows for the log window; the answer comes with rowsLoaded and the returned ticket.
    quint64 requestRows(const EventFilter& filter);
    // Writes the rows that pass the filter to a CSV file; the answer comes with exported.
    quint64 exportCsv(const QString& file, const EventFilter& filter);

  signals:
    void logged(const events::EventEntry& entry);
    void statusChanged();
    void storedChanged();
    void rowsLoaded(quint64 ticket, const QVector<events::EventEntry>& rows);
    void exported(quint64 ticket, qint64 count, const base::Phrase& error);
    // The file's hash chains were checked (at the start and once a day); a break is logged too.
    void chainsChecked(const store::ChainReport& report);

  private:
    QString path_;
    base::WorkerThread<EventWriter> thread_;
    comm::InstrumentImage lastImage_;
    store::RecorderStatus recorderStatus_;
    EventLogStatus status_;
    std::optional<EventEntry> chainBreak_;
    qint64 stored_ = 0;
    quint64 nextTicket_ = 1;
    bool started_ = false;
};

// Runs on the log's thread. Public for its signals; windows use EventLog.
class EventWriter : public QObject {
    Q_OBJECT
  public:
    EventWriter(QString path, QString connectionName);
    ~EventWriter() override;

    // How often waiting entries are stored: a batch per interval keeps each transaction short.
    static constexpr int kFlushMs = 100;
    // Entries kept while the file cannot be written; beyond it the oldest are let go.
    static constexpr int kMaxWaiting = 20000;
    static constexpr int kCheckRows = 5000;
    static constexpr int kCheckEveryMs = 24 * 3600 * 1000;
    static constexpr int kCopiesEveryMs = 1000;  // how often the copied rows' source is asked
    // How long the entries wait for a source that cannot be read, and how often it is asked then.
    static constexpr int kHoldForCopiesMs = 5000;
    static constexpr int kCopiesRetryMs = 100;

  public slots:
    void add(const events::EventEntry& entry);
    void flush();
    void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
    // Another program turned out to record into the file: nothing more is written, the entries
    // waiting are dropped and the file is opened again for reading.
    void becomeReadOnly();
    void load(quint64 ticket, const events::EventFilter& filter);
    void exportCsv(quint64 ticket, const QString& file, const events::EventFilter& filter);
    void stop();
    // Starts a check of the file's hash chains unless one runs: in steps of kCheckRows rows, each
    // its own read, so that the entries and the samples are written between them.
    void checkChains();

  signals:
    void chainsChecked(const store::ChainReport& report);
    void statusReady(const events::EventLogStatus& status);
    void storedReady(qint64 total);
    void rowsReady(quint64 ticket, const QVector<events::EventEntry>& rows);
    void exportDone(quint64 ticket, qint64 count, const base::Phrase& error);

  private:
    bool ensureOpen();
    void schedule(int ms);  // a flush after ms, unless one is due sooner
    void setStatus(const EventLogStatus& status);
    void checkStep();
    // The copied rows' source's new rows merged into the waiting entries by their time; false
    // when the source could not be read.
    bool takeCopies();

    EventStore store_;
    // The chains' check, on a read-only connection of its own while it runs.
    std::unique_ptr<store::Database> checkDb_;
    std::unique_ptr<store::ChainVerifier> verifier_;
    class QTimer* dailyCheck_ = nullptr;
    std::vector<EventEntry> waiting_;
    class QTimer* timer_ = nullptr;
    qint64 stored_ = 0;
    qint64 dropped_ = 0;
    qint64 lastOpenAttemptMs_ = -1;
    EventLogStatus status_;
    bool readOnly_ = false;
    std::optional<CopiedRows> copies_;  // made at the first flush
    qint64 copiesFailedSinceMs_ = -1;   // the source unreadable since (monotonic), or -1
    bool ending_ = false;
};

}  // namespace events

Q_DECLARE_METATYPE(events::EventEntry)
Q_DECLARE_METATYPE(events::EventFilter)
Q_DECLARE_METATYPE(events::EventLogStatus)
