#include "forward/forwarder.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "events/eventstore.h"
#include "forward/logging.h"
#include "forward/serversql.h"
#include "store/chainheads.h"
#include "store/migrate.h"
#include "store/schema.h"
#include "store/store.h"

namespace forward {

namespace {

// How long the forwarder waits for the recorder's lock on the local file; it is on a thread of
// its own, so waiting is harmless, and its own writes are a single row.
constexpr int kLocalBusyMs = 200;
// The cursor row is written at most this often while sending; a crash in between only makes the
// server see a few samples again, which it drops.
constexpr int kCursorSaveMs = 5000;
constexpr int kTickMs = 1000;
constexpr int kFinalFlushMs = 3000;
// How long leaving waits for the last batch: the flush, then one round the server's TCP timeout
// ends. A server hung beyond that is left to the forwarding thread, which ends on its own.
constexpr int kShutdownWaitMs = kFinalFlushMs + 15000;

QString nameFor(const char* what) {
    return base::uniqueName(QStringLiteral("forward-%1").arg(QLatin1String(what)));
}

}  // namespace

struct ForwardWorker::Batch {
    forward::RingPlan plan;
    forward::EventPlan events;
    int64_t pending = 0;  // samples and events not yet confirmed, this batch included
    bool hasEvents = false;
    std::vector<forward::SampleRow> samples;
    std::vector<forward::EventRow> eventRows;
    forward::SampleCursor cursorAfter;
    int64_t eventCursorAfter = 0;
    int64_t sentCount = 0;  // samples and events this batch settles
};

ForwardWorker::ForwardWorker(ForwardConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      key_(forward::describe(config_.target) + u'|' + config_.station),
      local_(nameFor("local")),
      samples_(std::make_unique<store::SampleStore>(config_.dbPath, nameFor("samples"))),
      events_(std::make_unique<events::EventStore>(config_.dbPath, nameFor("events"))),
      serverName_(nameFor("server")) {}

ForwardWorker::~ForwardWorker() {
    closeServer();
    closeLocal();
}

void ForwardWorker::start() {
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        connect(timer_, &QTimer::timeout, this, [this] { scheduleNext(round()); });
    }
    timer_->start(0);
}

void ForwardWorker::scheduleNext(bool more) {
    if (timer_ && !finished_) timer_->start(more ? 0 : kTickMs);
}

void ForwardWorker::finish() {
    finished_ = true;
    if (timer_) timer_->stop();
    if (serverOpen_) drain(kFinalFlushMs);
    saveCursor(true);
    closeServer();
    closeLocal();
}

bool ForwardWorker::drain(int maxMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < maxMs) {
        const int before = failures_;
        const bool more = round();
        if (failures_ > before || !serverOpen_) return false;
        if (!more) return pending_ == 0;
    }
    return false;
}

void ForwardWorker::setStatus(const forward::Status& s) {
    if (s == status_) return;
    status_ = s;
    emit statusChanged(s);
}

// Local file ------------------------------------------------------------------------------------

bool ForwardWorker::openLocal() {
    if (localOpen_) return true;
    // The recorder makes the file; the forwarder never does.
    if (!QFileInfo(config_.dbPath).isFile()) return false;
    if (!local_.open(config_.dbPath, /*readOnly=*/false, kLocalBusyMs)) return false;
    localOpen_ = true;
    QSqlQuery q(local_.db());
    QSqlError shapeError;
    // Checkpoints are the recorder's business.
    q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
    const bool ok = q.exec(QStringLiteral(
                        "SELECT 1 FROM sqlite_master WHERE type='table' AND name='pv_data'")) &&
                    q.next() && q.exec(store::schema::kCreateForwardCursorSql) &&
                    samples_->open(store::SampleStore::Access::ReadOnly) &&
                    store::migrate(local_.db(), &shapeError);
    if (!ok) {
        q = QSqlQuery();
        closeLocal();
        return false;
    }
    // A log of another shape is left out; the samples go on regardless.
    eventsOpen_ = events_->open(/*readOnly=*/true);
    q.prepare(
        QStringLiteral("SELECT sample_id, sample_date, sample_time, event_id, archive_t, "
                       "archive_seq FROM forward_cursor WHERE target = ?"));
    q.addBindValue(key_);
    // Read once: after a reopen the cursor in memory may be newer than the one on disk.
    if (!cursorLoaded_ && q.exec() && q.next()) {
        cursor_.id = q.value(0).toInt();
        cursor_.date = q.value(1).toDouble();
        cursor_.time = q.value(2).toDouble();
        eventCursor_ = q.value(3).toLongLong();
        cursor_.at = q.value(4).toLongLong();
        cursor_.seq = q.value(5).toLongLong();
    }
    cursorLoaded_ = true;
    return true;
}

void ForwardWorker::closeLocal() {
    events_->close();
    eventsOpen_ = false;
    samples_->close();
    local_.close();
    localOpen_ = false;
}

void ForwardWorker::saveCursor(bool now) {
    if (!cursorDirty_ || !localOpen_) return;
    if (!now && sinceSave_.isValid() && sinceSave_.elapsed() < kCursorSaveMs) return;
    QSqlQuery q(local_.db());
    q.prepare(QStringLiteral(
        "INSERT INTO forward_cursor (target, sample_id, sample_date, sample_time, event_id, "
        "archive_t, archive_seq) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (target) DO UPDATE SET "
        "sample_id = excluded.sample_id, sample_date = excluded.sample_date, sample_time = "
        "excluded.sample_time, event_id = excluded.event_id, archive_t = excluded.archive_t, "
        "archive_seq = excluded.archive_seq"));
    q.addBindValue(key_);
    q.addBindValue(cursor_.id);
    q.addBindValue(cursor_.date);
    q.addBindValue(cursor_.time);
    q.addBindValue(static_cast<qlonglong>(eventCursor_));
    q.addBindValue(static_cast<qlonglong>(cursor_.at));
    q.addBindValue(static_cast<qlonglong>(cursor_.seq));
    if (q.exec()) {
        cursorDirty_ = false;
        sinceSave_.start();
    }
}

// Reads where the ring and the log stand against the cursor, each in one snapshot of the file,
// and with withRows the rows of the next batch.
bool ForwardWorker::readLocal(bool withRows, Batch* b) {
    if (!samples_->beginRead()) return false;
    const bool read = readSamples(withRows, b);
    samples_->endRead();
    if (!read) return false;
    b->pending = b->plan.count + readEvents(withRows, b);
    return true;
}

// From the archive: every sample after the cursor's, however long the server was away, up to
// what retention has removed meanwhile.
bool ForwardWorker::readArchivedSamples(bool withRows, Batch* b) {
    if (cursor_.at == 0 && cursor_.id > 0) {
        // A cursor from the ring's time: every sample of its second and before was sent.
        store::Sample sent;
        sent.date = cursor_.date;
        sent.time = cursor_.time;
        cursor_.at = store::sampleMoment(sent);
        cursor_.seq = std::numeric_limits<int32_t>::max();
    }
    const std::optional<int64_t> count = samples_->countArchivedAfter(cursor_.at, cursor_.seq);
    if (!count) return false;
    b->plan = forward::RingPlan{};
    b->plan.count = static_cast<int>(std::min<int64_t>(*count, std::numeric_limits<int>::max()));
    b->cursorAfter = cursor_;
    if (!withRows || *count == 0) return true;
    const auto rows = samples_->loadArchivedAfter(cursor_.at, cursor_.seq, forward::kMaxBatch);
    if (!rows) return false;
    // Retention removed the seconds after the cursor's before they could be sent.
    if (cursor_.at > 0 && !rows->empty()) {
        const auto extent = samples_->archiveExtent();
        if (extent && extent->first == rows->front().at && rows->front().at > cursor_.at + 1)
            b->plan.skipped = rows->front().at - cursor_.at - 1;
    }
    for (const store::ArchivedSample& a : *rows) {
        forward::SampleRow row;
        row.at = forward::sampleAtUtc(a.at, config_.zone);
        row.values = a.values;
        b->samples.push_back(std::move(row));
        b->cursorAfter.at = a.at;
        b->cursorAfter.seq = a.seq;
    }
    b->sentCount += static_cast<int64_t>(rows->size());
    return true;
}

bool ForwardWorker::readSamples(bool withRows, Batch* b) {
    if (samples_->findArchive()) return readArchivedSamples(withRows, b);
    forward::RingView ring;
    const std::optional<int> counter = samples_->readCounter();
    if (!counter && samples_->lastFault() != store::SampleStore::Fault::None) return false;
    ring.counter = counter.value_or(0);
    const int latest = (ring.counter >= 1 && ring.counter <= store::kRingSize) ? ring.counter : 0;
    if (cursor_.id > 0) {
        if (const auto at = samples_->loadRecord(cursor_.id))
            ring.atCursor = QPair<double, double>(at->date, at->time);
    }
    if (const auto oldest = samples_->loadRecord(store::ringStep(latest, 1)))
        ring.oldest = oldest->date + oldest->time;
    b->plan = forward::planSamples(cursor_, ring);
    if (!withRows) return true;

    // The next places of the ring, in the order they were written.
    const int places = std::min(b->plan.count, forward::kMaxBatch);
    b->cursorAfter = cursor_;
    if (places > 0) {
        b->cursorAfter.id = store::ringStep(b->plan.first, places - 1);
        const std::optional<std::vector<store::Sample>> rows =
            samples_->loadPlaces(b->plan.first, places);
        if (!rows) return false;
        for (const store::Sample& s : *rows) {
            b->cursorAfter.date = s.date;
            b->cursorAfter.time = s.time;
            forward::SampleRow row;
            row.at = forward::sampleAt(s.date, s.time, config_.zone);
            if (row.at.isEmpty()) continue;  // a record without a usable date
            row.values = s.values;
            b->samples.push_back(std::move(row));
        }
    }
    b->sentCount += places;
    return true;
}

int64_t ForwardWorker::readEvents(bool withRows, Batch* b) {
    const bool read = eventsOpen_ && events_->beginRead();
    // The event log, once it exists.
    b->hasEvents = read && events_->hasTable();
    std::optional<int64_t> minId, maxId;
    if (const auto span = b->hasEvents ? events_->idSpan() : std::nullopt) {
        minId = span->first;
        maxId = span->second;
    }
    b->events = forward::planEvents(eventCursor_, minId, maxId);
    b->eventCursorAfter = b->events.after;
    events::EventFilter next;
    next.afterId = b->events.after;
    next.newestFirst = false;
    const int64_t pending = maxId ? events_->count(next).value_or(0) : 0;
    if (withRows && maxId) {
        next.limit = forward::kMaxBatch;
        events_->forEach(next, [&](const events::EventEntry& entry) {
            b->eventCursorAfter = entry.id;
            ++b->sentCount;
            forward::EventRow e;
            e.at = forward::eventAt(events::eventTimeText(entry.at), config_.zone);
            if (e.at.isEmpty()) return;  // an event without a usable time
            e.kind = entry.kind;
            e.text = entry.text;
            e.reg = entry.reg;
            e.value = entry.value;
            e.status = entry.status;
            if (!entry.code.isEmpty()) {
                e.code = entry.code;
                e.args = events::eventArgsText(entry.args);
            }
            b->eventRows.push_back(std::move(e));
        });
    }
    if (read) events_->endRead();
    return pending;
}

// Server -----------------------------------------------------------------------------------------

bool ForwardWorker::openServer() {
    if (serverOpen_) return true;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), serverName_);
    const forward::Target& t = config_.target;
    db.setHostName(t.host);
    if (t.port > 0) db.setPort(t.port);
    db.setDatabaseName(t.dbname);
    db.setUserName(t.user);
    db.setPassword(t.password);
    db.setConnectOptions(forward::connectOptions(t));
    serverOpen_ = true;
    if (!db.isValid()) {
        // The driver plugin is missing: nothing to wait for.
        closeServer();
        ++failures_;
        sinceFailure_.start();
        setStatus({forward::State::Failed, pending_,
                   QStringLiteral(QT_TRANSLATE_NOOP("velmars", "缺少 PostgreSQL 驱动"))});
        return false;
    }
    if (!db.open()) {
        const QSqlError e = db.lastError();
        db = QSqlDatabase();
        serverFailed(e);
        return false;
    }
    QSqlQuery q(db);
    // "already exists" notices would only clutter the program's output.
    q.exec(QStringLiteral("SET client_min_messages = warning"));
    if (!q.exec(forward::createSamplesTableSql())) {
        const QSqlError e = q.lastError();
        q = QSqlQuery();
        db = QSqlDatabase();
        serverFailed(e);
        return false;
    }
    eventsTableMade_ = false;
    headsTableMade_ = false;
    headsSent_.reset();
    return true;
}

void ForwardWorker::closeServer() {
    if (!serverOpen_) return;
    {
        QSqlDatabase db = QSqlDatabase::database(serverName_, false);
        if (db.isValid()) db.close();
    }
    QSqlDatabase::removeDatabase(serverName_);
    serverOpen_ = false;
}

void ForwardWorker::serverFailed(const QSqlError& e) {
    closeServer();
    ++failures_;
    sinceFailure_.start();
    const QString message = e.driverText() + u' ' + e.databaseText();
    if (const auto reason = forward::errorReason(message, e.nativeErrorCode()))
        setStatus({forward::State::Failed, pending_, reason->words, reason->code});
    else
        setStatus({forward::State::Waiting, pending_, {}});
}

bool ForwardWorker::haveEventCodeColumns(QSqlQuery& q) {
    // A table made before events had codes gains the columns; its rows stay. A user who may
    // write the table but not change it goes on sending without them. Within a savepoint, so
    // that a refusal leaves the batch's transaction usable.
    q.exec(QStringLiteral("SAVEPOINT codes"));
    const bool have = q.exec(forward::countEventCodeColumnsSql()) && q.next() &&
                      (q.value(0).toInt() == 2 || q.exec(forward::addEventCodeColumnsSql()));
    if (!have) {
        qCDebug(lcForward, "events sent without codes: %s", qUtf8Printable(q.lastError().text()));
        q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT codes"));
    }
    q.exec(QStringLiteral("RELEASE SAVEPOINT codes"));
    return have;
}

std::optional<QSqlError> ForwardWorker::send(const Batch& b) {
    QSqlDatabase db = QSqlDatabase::database(serverName_, false);
    QSqlQuery q(db);
    auto fail = [&](const QSqlError& e) {
        if (db.isOpen()) db.rollback();
        return e;
    };
    if (!db.transaction()) return fail(db.lastError());
    if (!b.samples.empty()) {
        if (!q.prepare(forward::insertSamplesSql())) return fail(q.lastError());
        q.addBindValue(config_.station);
        for (const QString& a : forward::sampleArrays(b.samples))
            q.addBindValue(a);
        if (!q.exec()) return fail(q.lastError());
        q.finish();
    }
    // The server's event table comes with the local event log.
    if (b.hasEvents && !eventsTableMade_) {
        if (!q.exec(forward::createEventsTableSql())) return fail(q.lastError());
        eventCodes_ = haveEventCodeColumns(q);
    }
    if (!b.eventRows.empty()) {
        if (!q.prepare(forward::insertEventsSql(eventCodes_))) return fail(q.lastError());
        q.addBindValue(config_.station);
        for (const QString& a : forward::eventArrays(b.eventRows, eventCodes_))
            q.addBindValue(a);
        if (!q.exec()) return fail(q.lastError());
        q.finish();
    }
    std::optional<store::chain::Heads> headsSent;
    if (const auto e = sendHeads(q, &headsSent)) return fail(*e);
    if (!db.commit()) return fail(db.lastError());
    if (b.hasEvents) eventsTableMade_ = true;
    if (headsSent) {
        headsTableMade_ = true;
        headsSent_ = std::move(headsSent);
    }
    return std::nullopt;
}

std::optional<QSqlError> ForwardWorker::sendHeads(QSqlQuery& q,
                                                  std::optional<store::chain::Heads>* sent) {
    store::chain::HeadStore* store = store::chain::headStore();
    if (!store) return std::nullopt;
    const std::optional<store::chain::Heads> heads =
        store->heads(store::chain::recordedName(config_.dbPath));
    if (!heads || heads->empty()) return std::nullopt;
    // The server has these already; an unchanged head is not sent again.
    if (heads == headsSent_) return std::nullopt;
    if (!headsTableMade_ && !q.exec(forward::createChainHeadsTableSql())) return q.lastError();
    if (!q.prepare(forward::upsertChainHeadSql())) return q.lastError();
    for (const auto& [name, h] : *heads) {
        q.bindValue(0, config_.station);
        q.bindValue(1, name);
        q.bindValue(2, qlonglong(h.last));
        q.bindValue(3, qlonglong(h.n));
        q.bindValue(4, QString::fromLatin1(h.hash.toHex()));
        q.bindValue(5, h.keyedFrom ? QVariant(qlonglong(*h.keyedFrom))
                                   : QVariant(QMetaType(QMetaType::LongLong)));
        if (!q.exec()) return q.lastError();
    }
    q.finish();
    *sent = *heads;
    return std::nullopt;
}

// One round -------------------------------------------------------------------------------------

bool ForwardWorker::round() {
    if (!openLocal()) {
        // The recorder has not made the file yet, or it is not a sample file.
        setStatus({forward::State::Waiting, pending_, {}});
        return false;
    }
    Batch look;
    if (!readLocal(false, &look)) {
        closeLocal();
        return false;
    }
    pending_ = look.pending;

    // After a failure the server is left alone for a growing pause.
    if (failures_ > 0 && sinceFailure_.elapsed() < forward::retryDelayMs(failures_)) {
        forward::Status s = status_;
        s.pending = pending_;
        setStatus(s);
        return false;
    }
    if (!openServer()) return false;
    if (pending_ == 0) {
        failures_ = 0;
        setStatus({forward::State::Healthy, 0, {}});
        return false;
    }

    Batch b;
    if (!readLocal(true, &b)) {
        closeLocal();
        return false;
    }
    if (const auto e = send(b)) {
        qCDebug(lcForward, "batch of %zu samples and %zu events failed: %s", b.samples.size(),
                b.eventRows.size(), qUtf8Printable(e->text()));
        serverFailed(*e);
        return false;
    }

    failures_ = 0;
    cursor_ = b.cursorAfter;
    eventCursor_ = b.eventCursorAfter;
    cursorDirty_ = true;
    sentSamples_ += static_cast<int64_t>(b.samples.size());
    pending_ = std::max<int64_t>(b.pending - b.sentCount, 0);
    qCDebug(lcForward, "batch of %zu samples and %zu events sent, %lld pending", b.samples.size(),
            b.eventRows.size(), static_cast<long long>(pending_));
    if (b.plan.skipped > 0 || b.events.skipped > 0) emit skipped(b.plan.skipped, b.events.skipped);
    saveCursor(false);
    setStatus({forward::State::Healthy, pending_, {}});
    return pending_ > 0;
}

// UI side ---------------------------------------------------------------------------------------

Forwarder::Forwarder(ForwardConfig config, QObject* parent)
    : QObject(parent), station_(config.station), thread_(QStringLiteral("forward"), config) {
    ForwardWorker* worker = thread_.worker();
    connect(worker, &ForwardWorker::statusChanged, this, [this](forward::Status s) {
        status_ = s;
        emit statusChanged();
    });
    connect(worker, &ForwardWorker::skipped, this, [this](qint64 samples, qint64 events) {
        skippedSamples_ += samples;
        skippedEvents_ += events;
        emit statusChanged();
        emit skipped(samples, events, forward::skippedText(samples, events));
    });
}

Forwarder::~Forwarder() {
    shutdown();
}

void Forwarder::start() {
    if (thread_.started()) return;
    thread_.start();
    thread_.post(&ForwardWorker::start);
}

void Forwarder::shutdown() {
    thread_.end(kShutdownWaitMs, [](ForwardWorker& w) { w.finish(); });
}

}  // namespace forward
