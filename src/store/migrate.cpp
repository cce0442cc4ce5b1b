#include "store/migrate.h"

#include <QSqlQuery>
#include <QStringList>
#include <functional>

#include "store/database.h"
#include "store/schema.h"

namespace store {

namespace {

// The statements of one step for the file as it is now; false when its tables cannot be read.
using Step = std::function<bool(QSqlQuery&, QStringList*)>;

// 1: the event log's codes, its chain's hash and the audit columns, beside the rows it holds.
bool eventColumnsStep(QSqlQuery& q, QStringList* sql) {
    QStringList events;
    if (!readColumns(q, QStringLiteral("events"), &events)) return false;
    // Each older shape gets what came after it.
    switch (schema::eventShape(events)) {
        case schema::EventShape::BeforeCodes:
            *sql << schema::addEventCodeColumnsSql();
            [[fallthrough]];
        case schema::EventShape::Coded:
            *sql << schema::kAddEventHashColumnSql;
            [[fallthrough]];
        case schema::EventShape::Hashed:
            *sql << schema::addAuditColumnsSql();
            break;
        case schema::EventShape::None:
        case schema::EventShape::Audited:
        case schema::EventShape::Foreign:
            break;
    }
    return true;
}

// 2: the forwarding cursor's place in the archive. Files given version 1 by an earlier program
// may still hold a cursor from before the archive.
bool cursorColumnsStep(QSqlQuery& q, QStringList* sql) {
    QStringList cursor;
    if (!readColumns(q, QStringLiteral("forward_cursor"), &cursor)) return false;
    if (!cursor.isEmpty() && !cursor.contains(QStringLiteral("archive_t")))
        *sql << schema::addArchiveCursorColumnsSql();
    return true;
}

// 3: where each chain's keyed links begin; none yet.
bool keyedChainsStep(QSqlQuery&, QStringList* sql) {
    *sql << schema::kCreateChainKeyedSql;
    return true;
}

struct Migration {
    int version;
    Step step;
};
const Migration kMigrations[] = {
    {1, eventColumnsStep},
    {2, cursorColumnsStep},
    {3, keyedChainsStep},
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

}  // namespace store
