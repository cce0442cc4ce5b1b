#include "events/eventstore.h"

#include "base/tr.h"
#include "events/logging.h"

#include <QDir>
#include <QFileInfo>
#include <QMultiHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <limits>
#include <utility>

#include "store/chain.h"
#include "store/migrate.h"
#include "store/schema.h"
#include "store/store.h"

namespace events {

namespace {

// The writer waits this long for a lock another connection holds; it runs off the window's thread.
constexpr int kBusyTimeoutMs = 2000;

QVariant optionalInt(const std::optional<int>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Int));
}

std::optional<int> intOrNull(const QVariant& v) {
    if (v.isNull()) return std::nullopt;
    return v.toInt();
}

}  // namespace

EventStore::EventStore(QString path, QString connectionName)
    : db_(std::move(path), std::move(connectionName)) {}

EventStore::~EventStore() {
    close();
}

bool EventStore::open(bool readOnly) {
    close();
    if (!db_.open(readOnly ? store::FileAccess::ReadOnly : store::FileAccess::Create,
                  kBusyTimeoutMs))
        return false;
    if (!prepareTable(readOnly)) {
        const store::Fault f = db_.fault();
        close();
        return db_.fail(f);
    }
    return true;
}

bool EventStore::prepareTable(bool readOnly) {
    QStringList events;
    if (!db_.columns(QStringLiteral("events"), &events)) return false;
    // A file whose tables have another shape belongs to something else: it is left alone.
    if (store::schema::eventShape(events) == store::schema::EventShape::Foreign)
        return db_.fail(store::Fault::WrongTables);
    if (readOnly) return true;
    // Only a file that passed the checks is changed: to WAL, so the recorder, the chart and this
    // log read and write side by side. An older file's tables are then brought up to this
    // program's shape, its rows kept (a newer program's version stays).
    if (!db_.useWal(false)) return false;
    QSqlError e;
    if (!store::migrate(db_.db(), &e)) return db_.failFromSql(e);
    if (!events.isEmpty()) return true;
    QSqlQuery q(db_.db());
    return q.exec(store::schema::kCreateEventsTableSql) || db_.failFromSql(q.lastError());
}

void EventStore::close() {
    db_.close();
}

bool EventStore::beginRead() {
    return db_.beginRead();
}

void EventStore::endRead() {
    db_.endRead();
}

bool EventStore::hasTable() {
    return db_.isOpen() && db_.db().tables().contains(QStringLiteral("events"));
}

std::optional<QPair<qint64, qint64>> EventStore::idSpan() {
    if (!hasTable()) return std::nullopt;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT min(id), max(id) FROM events")) || !q.next() ||
        q.value(0).isNull())
        return std::nullopt;
    return QPair<qint64, qint64>(q.value(0).toLongLong(), q.value(1).toLongLong());
}

std::optional<qint64> EventStore::count(const EventFilter& f) {
    std::optional<qint64> n;
    if (!query(QStringLiteral("count(*)"), f,
               [&](const QSqlQuery& q) { n = q.value(0).toLongLong(); }))
        return std::nullopt;
    return n.value_or(0);
}

bool EventStore::dropCopiesStored(std::vector<EventEntry>& entries) {
    qint64 from = std::numeric_limits<qint64>::max();
    for (const EventEntry& e : entries)
        if (e.copied && e.at.isValid()) from = std::min(from, e.at.toMSecsSinceEpoch());
    if (from == std::numeric_limits<qint64>::max()) return true;
    // A log that retention trimmed (its chain has an anchor) had the rows older than its oldest
    // one copied before they went: they are not copied again, at its end.
    qint64 trimmedBefore = std::numeric_limits<qint64>::min();
    const auto anchored = store::chain::anchors(db_, store::chain::kEventsChain);
    if (!anchored) return false;
    QSqlQuery q(db_.db());
    if (!anchored->empty()) {
        if (!q.exec(QStringLiteral("SELECT min(at_ms) FROM events")))
            return db_.failFromSql(q.lastError());
        if (q.next() && !q.value(0).isNull()) trimmedBefore = q.value(0).toLongLong();
    }
    // One look for every copy of the batch; a copy is the same row when its code, time and user
    // are (two users' failed logins in one millisecond are two rows; a row stored without its
    // user by an earlier version matches any).
    q.prepare(QStringLiteral(
        "SELECT code, at_ms, user_id FROM events WHERE at_ms >= ? AND code IS NOT NULL"));
    q.addBindValue(from);
    if (!q.exec()) return db_.failFromSql(q.lastError());
    QMultiHash<QPair<QString, qint64>, QString> stored;
    while (q.next())
        stored.insert({q.value(0).toString(), q.value(1).toLongLong()}, q.value(2).toString());
    std::erase_if(entries, [&](const EventEntry& e) {
        if (!e.copied || !e.at.isValid()) return false;
        const qint64 at = e.at.toMSecsSinceEpoch();
        if (at < trimmedBefore) return true;
        const QList<QString> users = stored.values({e.code, at});
        return users.contains(e.user) || users.contains(QString());
    });
    return true;
}

bool EventStore::append(std::vector<EventEntry>& entries,
                        const std::function<bool(store::Database&)>& alongside) {
    if (!db_.ready()) return false;
    if (entries.empty()) return true;
    store::Transaction t(db_);
    bool ok = t.ok() && appendIn(db_, entries);
    ok = ok && (!alongside || alongside(db_));
    if (ok && t.commit()) return true;
    for (EventEntry& e : entries)
        e.id = 0;
    return false;
}

bool EventStore::appendIn(store::Database& db_, std::vector<EventEntry>& entries) {
    QSqlQuery put(db_.db());
    // Each row links to the one before it: the newest row's hash.
    int64_t lastId = 0;
    QByteArray previous = store::chain::zeroHash();
    bool ok = put.exec(QStringLiteral("SELECT id, hash FROM events ORDER BY id DESC LIMIT 1")) ||
              db_.failFromSql(put.lastError());
    if (ok && put.next()) {
        lastId = put.value(0).toLongLong();
        if (!put.value(1).isNull()) previous = put.value(1).toByteArray();
    }
    const int64_t headId = lastId;
    const QByteArray head = previous;
    put.finish();
    // Where retention removed the newest rows, the next row takes the anchor they left.
    const auto a = ok ? store::chain::anchor(db_, store::chain::kEventsChain) : std::nullopt;
    ok = ok && a.has_value();
    if (ok && !a->hash.isEmpty() && a->at > lastId) {
        lastId = a->at - 1;
        previous = a->hash;
    }
    ok = ok && (put.prepare(QStringLiteral(
                    "INSERT INTO events (id, at, kind, text, reg, value, status, code, args, "
                    "at_ms, user_id, old_value, new_value, reason, utc_offset, hash) VALUES (?, ?, "
                    "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")) ||
                db_.failFromSql(put.lastError()));
    for (auto e = entries.begin(); ok && e != entries.end(); ++e) {
        const QVariant noText{QMetaType(QMetaType::QString)};
        const auto text = [&](const QString& v) { return v.isEmpty() ? noText : QVariant(v); };
        // The order of the chain's fields: the hash covers the audit columns of new rows.
        const QVariantList values = {
            qlonglong(++lastId),
            eventTimeText(e->at),
            e->kind,
            e->text,
            optionalInt(e->reg),
            optionalInt(e->value),
            optionalInt(e->status),
            e->code.isEmpty() ? noText : QVariant(e->code),
            e->code.isEmpty() ? noText : QVariant(eventArgsText(e->args)),
            e->at.isValid() ? QVariant(e->at.toMSecsSinceEpoch())
                            : QVariant(QMetaType(QMetaType::LongLong)),
            text(e->user),
            text(e->oldValue),
            text(e->newValue),
            text(e->reason),
            e->at.isValid() ? QVariant(e->at.toLocalTime().offsetFromUtc() / 60)
                            : QVariant(QMetaType(QMetaType::Int)),
        };
        for (int i = 0; i < values.size(); ++i)
            put.bindValue(i, values[i]);
        const auto key = store::chain::linkKey(db_, store::chain::kEventsChain, lastId);
        if (!key) {
            ok = false;
            break;
        }
        previous = store::chain::link(previous, store::chain::eventContent(values), *key);
        put.bindValue(int(values.size()), previous);
        ok = put.exec() || db_.failFromSql(put.lastError());
        e->id = lastId;
    }
    put = QSqlQuery();
    // The file's record of how far the chain reached moves on with it.
    return ok && store::chain::advance(db_, store::chain::kEventsChain, entries.front().id,
                                       a->hash.isEmpty() || a->at <= headId ? headId : a->at - 1,
                                       a->hash.isEmpty() || a->at <= headId ? head : a->hash,
                                       lastId, previous);
}

bool EventStore::removeBefore(store::Database& db, int64_t before) {
    QStringList columns;
    if (!db.columns(QStringLiteral("events"), &columns)) return false;
    if (columns.isEmpty()) return nameAnchors(db);
    // Rows keep their moment in UTC milliseconds; older rows only as local time in text, which
    // sorts as time does.
    const bool hasMs = columns.contains(QStringLiteral("at_ms"));
    // The moment goes in as literals (a number, and a time text of digits): the condition is used
    // in several places of one statement.
    const QString text =
        QStringLiteral("'%1'").arg(eventTimeText(QDateTime::fromSecsSinceEpoch(before)));
    const QString older = hasMs ? QStringLiteral("(at_ms < %1 OR (at_ms IS NULL AND at < %2))")
                                      .arg(qlonglong(before) * 1000)
                                      .arg(text)
                                : QStringLiteral("(at < %1)").arg(text);
    QSqlQuery q(db.db());
    // The anchors: each row kept right after removed ones links to the last of them (a clock set
    // back can leave kept rows between removed ones), and names the row kept before them; with
    // the newest rows removed, the next row to come does. An anchor already there keeps its link.
    const auto had = store::chain::anchors(db, store::chain::kEventsChain);
    if (!had) return false;
    const QString hash = columns.contains(store::schema::kEventHashColumn) ? QStringLiteral("hash")
                                                                           : QStringLiteral("NULL");
    std::vector<store::chain::Anchor> anchors;
    const QString sql = QStringLiteral(
        "SELECT id, gone, prev_gone, prev_hash, %2, kept_before FROM (SELECT id, %1 AS gone, "
        "lag(%1) OVER w AS prev_gone, lag(%2) OVER w AS prev_hash, %2, max(CASE WHEN NOT %1 THEN "
        "id END) OVER (w ROWS BETWEEN UNBOUNDED PRECEDING AND 1 PRECEDING) AS kept_before FROM "
        "events WINDOW w AS (ORDER BY id)) WHERE (NOT gone AND prev_gone) OR id = (SELECT max(id) "
        "FROM events)");
    if (!q.exec(sql.arg(older, hash))) return db.failFromSql(q.lastError());
    while (q.next()) {
        const int64_t id = q.value(0).toLongLong();
        const int64_t keptBefore = q.value(5).toLongLong();
        const auto linkOf = [&](int column) {
            return q.value(column).isNull() ? store::chain::zeroHash()
                                            : q.value(column).toByteArray();
        };
        if (q.value(1).toBool()) {  // the newest row goes: the next one to come links to it
            anchors.push_back({id + 1, linkOf(4), keptBefore, {}});
        } else if (q.value(2).toBool()) {
            const auto old = had->find(id);
            anchors.push_back(
                {id, old != had->end() ? old->second.hash : linkOf(3), keptBefore, {}});
        }
    }
    q.finish();
    if (!q.exec(QStringLiteral("DELETE FROM events WHERE %1").arg(older)))
        return db.failFromSql(q.lastError());
    const bool removed = q.numRowsAffected() > 0;
    q.finish();
    if (removed) {
        for (const store::chain::Anchor& a : anchors)
            if (!store::chain::setAnchor(db, store::chain::kEventsChain, a, /*replaceAll=*/false))
                return false;
        // Anchors of rows that went since, below the newest row, are of no more use.
        if (!q.exec(QStringLiteral(
                "DELETE FROM chain_anchor WHERE chain = 'events' AND at NOT IN (SELECT id FROM "
                "events) AND at < (SELECT max(id) FROM events)")))
            return db.failFromSql(q.lastError());
    }
    return nameAnchors(db);
}

// Inside the caller's transaction: a chained row naming every anchor the file holds, so that a
// check trusts these and no others. Nothing where the file holds none.
bool EventStore::nameAnchors(store::Database& db) {
    const auto names = store::chain::anchorNames(db);
    if (!names) return false;
    if (names->isEmpty()) return true;
    QSqlQuery q(db.db());
    if (!q.exec(store::schema::kCreateEventsTableSql)) return db.failFromSql(q.lastError());
    std::vector<EventEntry> row = {
        codedEntry(eventkind::kRecorder, store::chain::kAnchorsCode, *names)};
    row.front().at = QDateTime::currentDateTime();
    return appendIn(db, row);
}

bool EventStore::forEach(const EventFilter& f,
                         const std::function<void(const EventEntry&)>& visit) {
    // An older file opened read-only lacks the columns added since: its rows read without. Asked
    // at each read, as an older program may make the table after this store opened the file.
    QStringList have;
    if (!db_.columns(QStringLiteral("events"), &have))
        have = store::schema::eventColumns().mid(0, store::schema::kEventColumnsBeforeCodes);
    QStringList columns = store::schema::eventColumns() + store::schema::auditColumns();
    for (QString& c : columns)
        if (!have.contains(c)) c = QStringLiteral("NULL");
    return query(columns.join(QStringLiteral(", ")), f, [&](const QSqlQuery& q) {
        EventEntry e;
        e.id = q.value(0).toLongLong();
        e.at =
            QDateTime::fromString(q.value(1).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        e.text = q.value(3).toString();
        e.kind = kindOnRead(q.value(2).toString(), e.text);
        e.reg = intOrNull(q.value(4));
        e.value = intOrNull(q.value(5));
        e.status = intOrNull(q.value(6));
        e.code = q.value(7).toString();
        if (!e.code.isEmpty()) e.args = eventArgs(q.value(8).toString());
        e.user = q.value(10).toString();
        e.oldValue = q.value(11).toString();
        e.newValue = q.value(12).toString();
        e.reason = q.value(13).toString();
        e.utcOffset = intOrNull(q.value(14));
        visit(e);
    });
}

bool EventStore::query(const QString& columns, const EventFilter& f,
                       const std::function<void(const QSqlQuery&)>& visit) {
    if (!db_.ready() || !hasTable()) return db_.fault() == store::Fault::None;
    QStringList where;
    QVariantList binds;
    if (!f.kinds.isEmpty()) {
        // Older run rows are program rows by their kind column and run rows by what they read.
        const auto oldRun = [&] {
            QStringList heads;
            for (const QString& head : runTextHeads()) {
                heads << QStringLiteral("substr(text, 1, %1) = ?").arg(head.size());
                binds << head;
            }
            return QStringLiteral("(kind = 'program' AND (%1))").arg(heads.join(u" OR "));
        };
        QStringList any;
        for (const QString& k : f.kinds) {
            binds << k;
            if (k == eventkind::kRun)
                any << QStringLiteral("kind = ? OR %1").arg(oldRun());
            else if (k == eventkind::kProgram)
                any << QStringLiteral("(kind = ? AND NOT %1)").arg(oldRun());
            else
                any << QStringLiteral("kind = ?");
        }
        where << QStringLiteral("(%1)").arg(any.join(QStringLiteral(" OR ")));
    }
    if (f.from) {
        where << QStringLiteral("at >= ?");
        binds << eventTimeText(*f.from);
    }
    if (f.to) {
        where << QStringLiteral("at <= ?");
        QDateTime end = f.to->toLocalTime();
        end = end.addMSecs(999 - end.time().msec());
        binds << eventTimeText(end);
    }
    if (f.afterId > 0) {
        where << QStringLiteral("id > ?");
        binds << f.afterId;
    }
    if (!f.user.isEmpty() || f.audited) {
        // A file without the audit columns has no row of any user.
        QStringList have;
        if (!db_.columns(QStringLiteral("events"), &have) ||
            !have.contains(store::schema::auditColumns().first())) {
            where << QStringLiteral("0");
        } else if (!f.user.isEmpty()) {
            where << QStringLiteral("user_id = ?");
            binds << f.user;
        }
        if (f.audited)
            where << QStringLiteral("coalesce(user_id, old_value, new_value, reason) IS NOT NULL");
    }
    QString sql = QStringLiteral("SELECT %1 FROM events").arg(columns);
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += f.newestFirst ? QStringLiteral(" ORDER BY id DESC") : QStringLiteral(" ORDER BY id");
    if (f.limit > 0) sql += QStringLiteral(" LIMIT %1").arg(f.limit);
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.prepare(sql)) return db_.failFromSql(q.lastError());
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!q.exec()) return db_.failFromSql(q.lastError());
    while (q.next())
        visit(q);
    if (q.lastError().isValid()) return db_.failFromSql(q.lastError());
    return true;
}

std::vector<EventEntry> EventStore::load(const EventFilter& filter) {
    std::vector<EventEntry> rows;
    forEach(filter, [&](const EventEntry& e) { rows.push_back(e); });
    return rows;
}

}  // namespace events

#include <QIODevice>

namespace events {

namespace {

QByteArray csvField(const QString& s) {
    if (!s.contains(u',') && !s.contains(u'"') && !s.contains(u'\n') && !s.contains(u'\r'))
        return s.toUtf8();
    QString q = s;
    q.replace(u'"', QStringLiteral("\"\""));
    return '"' + q.toUtf8() + '"';
}

QByteArray csvInt(const std::optional<int>& v) {
    return v ? QByteArray::number(*v) : QByteArray();
}

}  // namespace

qint64 writeEventsCsv(EventStore& store, EventFilter filter, QIODevice& out) {
    filter.newestFirst = false;
    QByteArray buf("\xEF\xBB\xBF");
    buf += base::Tr::tr("时间,类型,内容,寄存器,数值,状态").toUtf8();
    // The audit trail's columns come last, so that readers of the older columns read on. They are
    // there in every copy, empty where the rows have none, so that a copy's shape never depends
    // on what the span happens to hold.
    buf += base::Tr::tr(",用户,原值,新值,变更原因,时间（含时区）").toUtf8();
    buf += "\r\n";
    qint64 count = 0;
    bool written = true;
    const auto flush = [&] {
        if (written && out.write(buf) != buf.size()) written = false;
        buf.clear();
    };
    const bool read = store.forEach(filter, [&](const EventEntry& e) {
        buf += eventTimeText(e.at).toUtf8() + ',' + csvField(e.kind) + ',' +
               csvField(eventText(e)) + ',' + csvInt(e.reg) + ',' + csvInt(e.value) + ',' +
               csvInt(e.status);
        buf += ',' + csvField(e.user) + ',' + csvField(e.oldValue) + ',' + csvField(e.newValue) +
               ',' + csvField(e.reason) + ',' + csvField(auditTimeText(e));
        buf += "\r\n";
        ++count;
        if (buf.size() > 1 << 16) flush();
    });
    flush();
    return read && written ? count : -1;
}

}  // namespace events
