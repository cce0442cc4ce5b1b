// Database files of every older shape open for writing as before: their rows stay, the event
// log's and the forwarding cursor's columns are added, and the file's version then says it has
// this program's shape. A file of a newer program keeps its version.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "dbhelpers.h"
#include "events/eventstore.h"
#include "store/schema.h"

namespace {

TEST(FileShapes, EveryOlderShapeOpensKeepsItsRowsAndGetsTheVersion) {
    const QString base = QStringLiteral(
        "id INTEGER PRIMARY KEY, at TEXT, kind TEXT, text TEXT, reg INTEGER, value INTEGER, "
        "status INTEGER");
    const QString codes = base + QStringLiteral(", code TEXT, args TEXT, at_ms INTEGER");
    const QString hashed = codes + QStringLiteral(", hash BLOB");
    const QString audited = hashed + QStringLiteral(
                                         ", user_id TEXT, old_value TEXT, new_value TEXT, reason "
                                         "TEXT, utc_offset INTEGER");
    struct Shape {
        const char* what;
        QString columns;  // empty: no event log yet
        int version;      // PRAGMA user_version before
        int after;        // and after the open
        bool oldCursor;   // a forwarding cursor from before the archive
    };
    const std::vector<Shape> shapes = {
        {"samples only", {}, 0, store::schema::kFileVersion, false},
        {"before codes, forwarded", base, 0, store::schema::kFileVersion, true},
        {"with codes", codes, 0, store::schema::kFileVersion, false},
        {"hashed", hashed, 0, store::schema::kFileVersion, false},
        {"audited, not yet versioned", audited, 0, store::schema::kFileVersion, false},
        // An earlier program gave version 1 without looking at the cursor.
        {"version 1, forwarded before the archive", audited, 1, store::schema::kFileVersion, true},
        {"of a newer program", audited, store::schema::kFileVersion + 3,
         store::schema::kFileVersion + 3, false},
    };
    QStringList expected = store::schema::eventColumns();
    expected << store::schema::kEventHashColumn << store::schema::auditColumns();
    for (const Shape& s : shapes) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
        ASSERT_TRUE(record_test::exec(path, store::schema::createSamplesTableSql())) << s.what;
        if (!s.columns.isEmpty()) {
            ASSERT_TRUE(
                record_test::exec(path, QStringLiteral("CREATE TABLE events (%1)").arg(s.columns)));
            ASSERT_TRUE(record_test::exec(
                path, QStringLiteral("INSERT INTO events (at, kind, text) VALUES "
                                     "('2026-01-02 08:00:00.000', 'link', 'kept')")));
        }
        if (s.oldCursor) {
            ASSERT_TRUE(record_test::exec(
                path, QStringLiteral("CREATE TABLE forward_cursor (target TEXT PRIMARY KEY, "
                                     "sample_id INTEGER, sample_date REAL, sample_time REAL, "
                                     "event_id INTEGER)")));
            ASSERT_TRUE(record_test::exec(
                path, QStringLiteral("INSERT INTO forward_cursor VALUES ('pg', 7, 0, 0, 3)")));
        }
        ASSERT_TRUE(
            record_test::exec(path, QStringLiteral("PRAGMA user_version = %1").arg(s.version)));
        // Read only, nothing changes.
        {
            events::EventStore viewer(path, QStringLiteral("viewer"));
            EXPECT_TRUE(viewer.open(/*readOnly=*/true)) << s.what;
        }
        EXPECT_EQ(record_test::scalar(path, "PRAGMA user_version").toInt(), s.version) << s.what;
        {
            events::EventStore writer(path, QStringLiteral("writer"));
            ASSERT_TRUE(writer.open()) << s.what << ": " << writer.lastError().toStdString();
        }
        EXPECT_EQ(record_test::scalar(path, "PRAGMA user_version").toInt(), s.after) << s.what;
        QStringList columns;
        record_test::withDb(path, [&](QSqlDatabase& db) {
            QSqlQuery q(QStringLiteral("PRAGMA table_info(events)"), db);
            while (q.next())
                columns << q.value(1).toString();
        });
        EXPECT_EQ(columns, expected) << s.what;
        if (s.oldCursor) {
            EXPECT_EQ(record_test::scalar(path,
                                          "SELECT sample_id + coalesce(archive_t, 10) FROM "
                                          "forward_cursor")
                          .toInt(),
                      17)
                << s.what;
        }
        if (!s.columns.isEmpty()) {
            EXPECT_EQ(record_test::scalar(path, "SELECT text FROM events WHERE id = 1").toString(),
                      QStringLiteral("kept"))
                << s.what;
        }
    }
}

// Every statement of the catalogue makes its table, and the names are those the stores use.
TEST(FileShapes, TheCatalogueMakesEveryTable) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    QStringList names;
    for (const store::schema::Table& t : store::schema::tables()) {
        EXPECT_TRUE(record_test::exec(path, t.create)) << t.name.toStdString();
        names << t.name;
    }
    QStringList made;
    record_test::withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                                   "NOT LIKE 'sqlite_%' ORDER BY rowid"),
                    db);
        while (q.next())
            made << q.value(0).toString();
    });
    EXPECT_EQ(made, names);
}

}  // namespace
