#include "store/migrate.h"

#include <QSqlQuery>
#include <QStringList>
#include <functional>

#include "store/schema.h"

namespace record {

namespace {

QStringList columnsOf(QSqlQuery& q, const QString& table, bool* ok) {
    QStringList names;
    *ok = q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (*ok && q.next())
        names << q.value(1).toString().toLower();
    return names;
}

// The statements of one step for the file as it is now; false when its tables cannot be read.
using Step = std::function<bool(QSqlQuery&, QStringList*)>;

// 1: the event log's codes, its chain's hash and the audit columns, beside the rows it holds.
bool eventColumnsStep(QSqlQuery& q, QStringList* sql) {
    bool ok = false;
    const QStringList events = columnsOf(q, QStringLiteral("events"), &ok);
    if (!ok) return false;
    const QStringList& all = schema::eventColumns();
    const QStringList hashed = all + QStringList{schema::kEventHashColumn};
    if (events == all.mid(0, schema::kEventColumnsBeforeCodes))
        *sql << schema::addEventCodeColumnsSql();
    if (events == all.mid(0, schema::kEventColumnsBeforeCodes) || events == all)
        *sql << schema::kAddEventHashColumnSql;
    if (events == all.mid(0, schema::kEventColumnsBeforeCodes) || events == all || events == hashed)
        *sql << schema::addAuditColumnsSql();
    return true;
}

// 2: the forwarding cursor's place in the archive. Files given version 1 by an earlier program
// may still hold a cursor from before the archive.
bool cursorColumnsStep(QSqlQuery& q, QStringList* sql) {
    bool ok = false;
    const QStringList cursor = columnsOf(q, QStringLiteral("forward_cursor"), &ok);
    if (!ok) return false;
    if (!cursor.isEmpty() && !cursor.contains(QStringLiteral("archive_t")))
        *sql << schema::addArchiveCursorColumnsSql();
    return true;
}

struct Migration {
    int version;
    Step step;
};
const Migration kMigrations[] = {
    {1, eventColumnsStep},
    {2, cursorColumnsStep},
};
static_assert(std::size(kMigrations) == schema::kFileVersion);

}  // namespace

std::optional<int> fileVersion(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) return std::nullopt;
    return q.value(0).toInt();
}

bool migrate(const QSqlDatabase& db, QSqlError* error) {
    QSqlQuery q(db);
    const auto fail = [&] {
        *error = q.lastError();
        q.exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    const auto before = fileVersion(db);
    if (before && *before >= schema::kFileVersion) return true;
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        *error = q.lastError();
        return false;
    }
    // Looked at again inside the transaction: another program may have migrated meanwhile.
    const auto version = fileVersion(db);
    if (!version) return fail();
    if (*version >= schema::kFileVersion) return q.exec(QStringLiteral("COMMIT")) || fail();
    for (const Migration& m : kMigrations) {
        if (m.version <= *version) continue;
        QStringList sql;
        if (!m.step(q, &sql)) return fail();
        for (const QString& s : std::as_const(sql)) {
            if (!q.exec(s)) return fail();
        }
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(schema::kFileVersion)) ||
        !q.exec(QStringLiteral("COMMIT")))
        return fail();
    return true;
}

}  // namespace record
