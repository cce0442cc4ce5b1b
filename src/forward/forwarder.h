#pragma once
// Store-and-forward of the local samples (and events, where the event log exists) to a central
// PostgreSQL server. The local SQLite file stays the truth: the forwarder reads it through a
// connection of its own, on a thread of its own, and keeps in a table of its own (forward_cursor)
// the newest sample and event the server has confirmed, so that forwarding resumes from there
// after an outage or a restart. Neither the window nor the recorder ever waits for it.

#include <QElapsedTimer>
#include <QObject>
#include <QSqlError>
#include <QString>
#include <QTimeZone>
#include <memory>
#include <optional>

#include "base/workerthread.h"
#include "forward/plan.h"
#include "forward/serveraddress.h"
#include "forward/status.h"
#include "store/chainheads.h"
#include "store/sqlitefile.h"

class QTimer;

class QSqlQuery;

namespace events {
class EventStore;
}
namespace store {
class SampleStore;
}

namespace forward {

struct ForwardConfig {
    forward::Target target;
    QString station;
    QString dbPath;
    QTimeZone zone = QTimeZone::systemTimeZone();
};

// Lives on the forwarding thread; also usable on its own (benchmark) through round() and drain().
class ForwardWorker : public QObject {
    Q_OBJECT
  public:
    explicit ForwardWorker(ForwardConfig config, QObject* parent = nullptr);
    ~ForwardWorker() override;

    // One round: looks at the local file and, when an attempt at the server is due, sends one
    // batch in one transaction. True when more is ready to go at once.
    bool round();
    // Rounds until nothing is left, an attempt fails or maxMs have passed; true when all was sent.
    bool drain(int maxMs);

    forward::Status status() const { return status_; }
    int64_t sentSamples() const { return sentSamples_; }

  public slots:
    // The first round, then one a second (at once while catching up).
    void start();
    // A last batch when the server is there, the cursor kept, the connections closed.
    void finish();

  signals:
    void statusChanged(forward::Status status);
    // Samples and events the server will never get: the local ring or log overwrote them first.
    void skipped(qint64 samples, qint64 events);

  private:
    struct Batch;
    bool openLocal();
    void closeLocal();
    bool readLocal(bool withRows, Batch* batch);
    bool readSamples(bool withRows, Batch* batch);
    bool readArchivedSamples(bool withRows, Batch* batch);
    // The events not yet confirmed.
    int64_t readEvents(bool withRows, Batch* batch);
    bool openServer();
    void closeServer();
    // The server's error when the batch did not land.
    std::optional<QSqlError> send(const Batch& batch);
    // Whether the server's events table has (or could be given) the code and args columns.
    bool haveEventCodeColumns(QSqlQuery& q);
    // The chain heads the service recorded for the local file, where it keeps a record: into the
    // batch's transaction, unless the server took them last time; *sent: the heads sent.
    std::optional<QSqlError> sendHeads(QSqlQuery& q, std::optional<store::chain::Heads>* sent);
    void serverFailed(const QSqlError& e);
    void saveCursor(bool now);
    void setStatus(const forward::Status& s);
    void scheduleNext(bool more);

    ForwardConfig config_;
    QString key_;  // the cursor's row: server and station
    // The forwarder's own table (forward_cursor) in the local file, and the read-only stores the
    // samples and events come from.
    store::SqliteFile local_;
    std::unique_ptr<store::SampleStore> samples_;
    std::unique_ptr<events::EventStore> events_;
    QString serverName_;
    bool localOpen_ = false;
    bool eventsOpen_ = false;
    bool serverOpen_ = false;
    bool eventsTableMade_ = false;
    bool eventCodes_ = false;  // the server's events table has the code and args columns
    bool headsTableMade_ = false;
    std::optional<store::chain::Heads> headsSent_;  // the last heads the server took
    forward::SampleCursor cursor_;
    int64_t eventCursor_ = 0;
    bool cursorLoaded_ = false;
    bool cursorDirty_ = false;
    QElapsedTimer sinceSave_;
    int failures_ = 0;
    QElapsedTimer sinceFailure_;
    int64_t pending_ = 0;
    int64_t sentSamples_ = 0;
    forward::Status status_;
    QTimer* timer_ = nullptr;
    bool finished_ = false;
};

// The UI side: owns the thread, keeps the latest status for the status bar.
class Forwarder : public QObject {
    Q_OBJECT
  public:
    explicit Forwarder(ForwardConfig config, QObject* parent = nullptr);
    ~Forwarder() override;

    void start();
    // Lets the worker send what is left (bounded by the server's timeouts) and ends the thread.
    void shutdown();

    QString station() const { return station_; }
    forward::Status status() const { return status_; }
    QString statusText(base::Lang lang = base::Lang::Stored) const {
        return forward::statusText(status_, lang);
    }
    // Empty until something was skipped.
    QString skippedText(base::Lang lang = base::Lang::Stored) const {
        return forward::skippedText(skippedSamples_, skippedEvents_, lang);
    }

  signals:
    void statusChanged();
    // Newly skipped samples and events, with a line for the event log.
    void skipped(qint64 samples, qint64 events, const QString& text);

  private:
    QString station_;
    base::WorkerThread<ForwardWorker> thread_;
    forward::Status status_;
    int64_t skippedSamples_ = 0;
    int64_t skippedEvents_ = 0;
};

}  // namespace forward
