// The hash chains through the real program's --verify: an intact file, copies changed with the
// sqlite3 tool (each naming the first changed row or hour), files that are not ours, a file from
// before the chains, and retention cutting inside an hour.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

#include "base/baseos.h"
#include "base/oledate.h"
#include "dbhelpers.h"
#include "events/eventstore.h"
#include "store/chain.h"
#include "store/chainkey.h"
#include "store/store.h"
#include "store/storewriter.h"

namespace {

// 2026-03-01 00:10:00 UTC: hour 493,920.
constexpr int64_t kStart = 1772323800;
constexpr int kSeconds = 13;  // one every 17 minutes: four hours

struct Verdict {
    int exit = -1;
    QString out;
};

// keys: the folder of the chains' key (--data), none when empty.
Verdict verify(const QString& path, const QString& keys = QString()) {
    QProcess p;
    QStringList args = {"--verify", "--db", path};
    if (!keys.isEmpty()) args << "--data" << keys;
    p.start(qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars", args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed()};
}

// Whatever the chains say, the verdict says whether the account that checks may rewrite the
// file: in its own folder it may; read-only in a read-only folder it may not (unless it is root).
TEST(Verify, SaysWhetherThisAccountCanRewriteTheFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("records");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/kept.db";
    {
        store::SampleStore store(path, "make-kept");
        ASSERT_TRUE(store.open());
    }
    const QByteArray unprotected = "记录未受保护：本账户可以改写此文件";
    for (const bool locked : {false, true}) {
        const QFileDevice::Permissions readOnly =
            QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        if (locked) {
            ASSERT_TRUE(QFile::setPermissions(path, readOnly));
            ASSERT_TRUE(QFile::setPermissions(folder, readOnly | QFileDevice::ExeOwner));
        }
        QProcess p;
        p.start(qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars", {"--verify", "--db", path});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_EQ(p.readAllStandardError().contains(unprotected), !locked || ::geteuid() == 0)
            << locked;
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// sql through the sqlite3 tool, as someone changing the file beside the program would.
void tamper(const QString& path, const QString& sql) {
    QProcess p;
    p.start("sqlite3", {path, sql});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

QString hourText(int64_t t) {
    return QDateTime::fromSecsSinceEpoch(t - t % 3600)
        .toUTC()
        .toString("'archive hour 'yyyy-MM-ddTHH:mm:ssZ");
}

int64_t secondAt(int i) {
    // The tenth comes from a clock set back into the first hour.
    return i == 9 ? kStart + 30 : kStart + i * 17 * 60;
}

// staleMarks: the 8th and 9th stored as stale.
void writeSamples(const QString& path, int from, int to, bool staleMarks = true) {
    store::SampleStore store(path, "make-samples");
    ASSERT_TRUE(store.open(store::SampleStore::Access::Record)) << store.lastError().toStdString();
    for (int i = from; i < to; ++i) {
        store::Sample s;
        s.at = secondAt(i);
        const QDateTime local = QDateTime::fromSecsSinceEpoch(s.at);
        s.date = base::oleDate(local.date());
        s.time = base::oleTime(local.time());
        for (int c = 0; c < 10; ++c)
            s.values[c] = c == 3 ? std::numeric_limits<float>::quiet_NaN() : 20.5f + i * 0.37f + c;
        s.stale = staleMarks && (i == 7 || i == 8);
        ASSERT_TRUE(store.storeNextSample(s, 0)) << store.lastError().toStdString();
    }
}

// count rows ten minutes apart from kStart; those in setBack come from a clock set back a day.
void writeEvents(const QString& path, int count, std::initializer_list<int> setBack = {}) {
    events::EventStore events(path, "make-events");
    ASSERT_TRUE(events.open()) << events.lastError().toStdString();
    std::vector<events::EventEntry> rows;
    for (int i = 0; i < count; ++i) {
        events::EventEntry e;
        e.at = QDateTime::fromSecsSinceEpoch(
            kStart + i * 600 - (std::count(setBack.begin(), setBack.end(), i) ? 86400 : 0));
        e.kind = "write";
        e.text = QString("设定SV1 = %1 已写入").arg(i);
        if (i % 2) e.reg = 0x2a;
        e.value = i;
        if (i % 3) e.code = "monitor.written", e.args = {"SV1", QString::number(i)};
        if (i % 4 == 1) e.user = "wang", e.oldValue = "1", e.newValue = "2", e.reason = "校准";
        rows.push_back(e);
    }
    ASSERT_TRUE(events.append(rows)) << events.lastError().toStdString();
}

QString makeIntact(const QTemporaryDir& dir) {
    const QString path = dir.filePath("intact.db");
    writeSamples(path, 0, kSeconds);
    writeEvents(path, 10);
    return path;
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

}  // namespace

TEST(Verify, IntactAndChangedCopies) {
    QTemporaryDir dir;
    const QString intact = makeIntact(dir);
    const int64_t second = secondAt(5), otherHour = secondAt(8) - secondAt(8) % 3600;
    struct Case {
        const char* name;
        QString sql;
        int exit;
        QString out;
    };
    const Case cases[] = {
        {"intact", "", 0, "intact, 10 rows, 4 hours"},
        {"sample value", QString("UPDATE archive SET pv1 = pv1 + 1 WHERE t = %1").arg(second), 1,
         hourText(second)},
        {"sample deleted", QString("DELETE FROM archive WHERE t = %1").arg(second), 1,
         hourText(second)},
        {"second added in the middle",
         QString("INSERT INTO archive (t, seq, pv1) VALUES (%1, 0, 2000)").arg(second + 1), 1,
         hourText(second)},
        {"hour added without hash",
         QString("INSERT INTO archive (t, seq, pv1) VALUES (%1, 0, 2000)").arg(kStart + 36000), 1,
         hourText(kStart + 36000)},
        {"hour's hash",
         QString("UPDATE archive_hours SET hash = zeroblob(32) WHERE hour = %1")
             .arg(otherHour / 3600),
         1, hourText(otherHour)},
        {"stale mark deleted",
         QString("DELETE FROM archive_stale WHERE first = %1").arg(secondAt(7)), 1,
         hourText(secondAt(7))},
        {"stale mark added", QString("INSERT INTO archive_stale VALUES (%1, %1)").arg(second), 1,
         hourText(second)},
        {"roll-up changed",
         QString("UPDATE archive_rollup SET pv1_max = pv1_max + 1 WHERE level = 3 AND t = %1")
             .arg(otherHour),
         1, hourText(otherHour)},
        {"roll-up added",
         QString("INSERT INTO archive_rollup (level, t, n, first, last, pv1_max) VALUES (1, %1, 1, "
                 "%1, %1, 900)")
             .arg(second + 60),
         1, hourText(second)},
        {"event text", "UPDATE events SET text = '设定SV1 = 9 已写入' WHERE id = 4", 1,
         "event row 4"},
        {"event deleted", "DELETE FROM events WHERE id = 6", 1, "event row 7"},
        {"event added in the middle",
         "UPDATE events SET id = id + 100 WHERE id > 7; UPDATE events SET id = id - 99 WHERE id > "
         "100; INSERT INTO events (id, at, kind, text, hash) SELECT 8, at, kind, 'x', hash FROM "
         "events WHERE id = 7",
         1, "event row 8"},
        {"first event deleted", "DELETE FROM events WHERE id = 1", 1, "event row 2"},
        {"audit columns", "UPDATE events SET reason = '维修' WHERE id = 6", 1, "event row 6"},
        {"user given to a row without", "UPDATE events SET user_id = 'li' WHERE id = 3", 1,
         "event row 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString copy = dir.filePath(QString("copy-%1.db").arg(&c - cases));
        ASSERT_TRUE(QFile::copy(intact, copy));
        if (!c.sql.isEmpty()) tamper(copy, c.sql);
        const QByteArray before = fileHash(copy);
        const Verdict v = verify(copy);
        EXPECT_EQ(v.exit, c.exit);
        EXPECT_TRUE(v.out.contains(c.out)) << v.out.toStdString();
        EXPECT_EQ(fileHash(copy), before) << "verifying wrote to the file";
    }
}

TEST(Verify, RefusesWhatIsNotOurs) {
    QTemporaryDir dir;
    QFile text(dir.filePath("notes.db"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(4096, 'x'));
    text.close();
    const QString foreign = dir.filePath("foreign.db");
    tamper(foreign, "CREATE TABLE t (a); INSERT INTO t VALUES (1)");
    for (const QString& path : {dir.filePath("missing.db"), text.fileName(), foreign}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(verify(path).exit, 2);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.db")));
}

// A file from before the chains verifies; the chains start with what is written after.
TEST(Verify, OlderFileThenNewRows) {
    QTemporaryDir dir;
    const QString path = dir.filePath("old.db");
    {
        store::SampleStore store(path, "make-old");
        ASSERT_TRUE(store.open());
    }
    tamper(path,
           "CREATE TABLE events (id INTEGER PRIMARY KEY, at TEXT, kind TEXT, text TEXT, reg "
           "INTEGER, value INTEGER, status INTEGER); INSERT INTO events (at, kind, text) VALUES "
           "('2026-02-01 10:00:00.000', 'link', '端口已打开'), ('2026-02-01 10:00:01.000', "
           "'link', '端口已关闭');"
           "UPDATE sl_void SET last_id = 1, last_id_copy = 1; INSERT INTO pv_data VALUES (1, "
           "46054, 0.5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10)");
    Verdict v = verify(path);
    EXPECT_EQ(v.exit, 0);
    EXPECT_EQ(v.out, "intact, 2 rows, 0 hours");
    writeSamples(path, 0, 3);
    writeEvents(path, 3);
    v = verify(path);
    EXPECT_EQ(v.exit, 0);
    EXPECT_EQ(v.out, "intact, 5 rows, 2 hours");
    tamper(path, "UPDATE events SET text = 'x' WHERE id = 4");
    EXPECT_TRUE(verify(path).out.contains("event row 4"));
}

// Rows hashed before the audit columns existed verify once the columns are added; the new rows
// chain on with them.
TEST(Verify, RowsHashedBeforeTheAuditColumns) {
    QTemporaryDir dir;
    const QString path = dir.filePath("hashed.db");
    tamper(path,
           "CREATE TABLE events (id INTEGER PRIMARY KEY, at TEXT, kind TEXT, text TEXT, reg "
           "INTEGER, value INTEGER, status INTEGER, code TEXT, args TEXT, at_ms INTEGER, hash "
           "BLOB)");
    QByteArray previous = store::chain::zeroHash();
    QStringList inserts;
    for (int id = 1; id <= 2; ++id) {
        const QVariantList v = {id,         "2026-02-01 10:00:00.000",
                                "link",     "端口已打开",
                                QVariant(), id,
                                QVariant(), "link.opened",
                                "[]",       qlonglong(kStart) * 1000};
        previous = store::chain::link(previous, store::chain::eventContent(v));
        inserts << QString(
                       "INSERT INTO events VALUES (%1, '%2', 'link', '端口已打开', NULL, %1, "
                       "NULL, 'link.opened', '[]', %3, x'%4')")
                       .arg(id)
                       .arg(v[1].toString())
                       .arg(kStart * 1000)
                       .arg(QString::fromLatin1(previous.toHex()));
    }
    tamper(path, inserts.join(u';'));
    writeEvents(path, 2);
    Verdict v = verify(path);
    EXPECT_EQ(v.exit, 0);
    EXPECT_EQ(v.out, "intact, 4 rows, 0 hours");
    EXPECT_EQ(record_test::scalar(path, "SELECT user_id FROM events WHERE id = 4").toString(),
              "wang");
    tamper(path, "UPDATE events SET old_value = '7' WHERE id = 2");
    EXPECT_TRUE(verify(path).out.contains("event row 2"));
}

// Retention cuts inside an hour and drops the oldest events, also ones a clock set back put after
// kept rows; what remains verifies, new rows chain on from the anchors, and a row deleted later
// beside an anchor is still found.
TEST(Verify, RetentionKeepsTheChainsIntact) {
    QTemporaryDir dir;
    const QString path = dir.filePath("retention.db");
    writeSamples(path, 0, kSeconds);
    writeEvents(path, 13, {10, 12});
    const int64_t cut = kStart + 3600 + 1200;  // inside the second hour
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        store::SampleStore store(path, "retention");
        ASSERT_TRUE(store.open(store::SampleStore::Access::Record));
        ASSERT_TRUE(store.dropArchiveBefore(cut + round * 300, events::EventStore::removeBefore));
        store.close();
        const Verdict v = verify(path);
        EXPECT_EQ(v.exit, 0) << v.out.toStdString();
    }
    // Each removal leaves a row naming the anchors it made.
    EXPECT_EQ(record_test::scalar(path, "SELECT group_concat(id) FROM events").toString(),
              "10,12,14,15");
    writeSamples(path, kSeconds, kSeconds + 3);
    writeEvents(path, 2);
    Verdict v = verify(path);
    EXPECT_EQ(v.exit, 0) << v.out.toStdString();
    EXPECT_EQ(v.out, "intact, 6 rows, 4 hours");
    const QString copy = dir.filePath("copy.db");
    ASSERT_TRUE(QFile::copy(path, copy));
    tamper(path, QString("DELETE FROM archive WHERE t = %1").arg(secondAt(6)));
    EXPECT_TRUE(verify(path).out.contains(hourText(secondAt(6))));
    tamper(copy, "DELETE FROM events WHERE id = 12");
    EXPECT_TRUE(verify(copy).out.contains("event row 14")) << verify(copy).out.toStdString();
}

// A check in steps while the recorder goes on: seconds added to the hour a step ended with (and to
// later hours) between two steps are no break.
TEST(Verify, StepsBesideTheWriter) {
    QTemporaryDir dir;
    const QString path = dir.filePath("live.db");
    writeSamples(path, 0, 3);
    store::Database db(path, "live-check");
    ASSERT_TRUE(db.open(store::FileAccess::ReadOnly, 2000));
    store::ChainVerifier verifier(db);
    while (verifier.report().hours == 0 && !verifier.done())
        ASSERT_TRUE(verifier.step(1));
    ASSERT_FALSE(verifier.done());
    writeSamples(path, 3, 10);
    while (!verifier.done())
        ASSERT_TRUE(verifier.step(1));
    EXPECT_TRUE(verifier.report().intact) << verifier.report().why.toStdString();
    EXPECT_EQ(verifier.report().hours, 3);
}

// A file this program chained says so: stripping a chain, or the record of how far it reached,
// never verifies, nor does an anchor that no chained row names; a program writing on after the
// stripping does not make it verify again.
TEST(Verify, StrippedChainsAndForgedAnchors) {
    QTemporaryDir dir;
    const QString intact = makeIntact(dir);
    const int64_t firstHour = kStart / 3600;
    const QString anchorTable =
        "CREATE TABLE IF NOT EXISTS chain_anchor (chain TEXT NOT NULL, at INTEGER NOT NULL, hash "
        "BLOB NOT NULL, n INTEGER, sum BLOB, PRIMARY KEY (chain, at));";
    struct Case {
        const char* name;
        QString sql;
        bool writeOn;  // then the program writes rows and seconds on
    };
    const Case cases[] = {
        {"hashes set NULL", "UPDATE events SET hash = NULL", false},
        {"hashes set NULL, a row edited",
         "UPDATE events SET hash = NULL; UPDATE events SET text = 'x' WHERE id = 3", true},
        {"hash column dropped", "ALTER TABLE events DROP COLUMN hash", false},
        {"events dropped", "DROP TABLE events", true},
        {"hours deleted", "DELETE FROM archive_hours", true},
        {"hours and their seconds deleted", "DELETE FROM archive_hours; DELETE FROM archive", true},
        {"hours dropped", "DROP TABLE archive_hours", true},
        {"newest event deleted", "DELETE FROM events WHERE id = 10", true},
        {"record dropped", "DROP TABLE chain_state", true},
        {"record emptied", "DELETE FROM chain_state", true},
        {"record rewound", "UPDATE chain_state SET first = NULL", true},
        {"block hidden by an anchor",
         anchorTable +
             "INSERT INTO chain_anchor SELECT 'events', 8, hash, 5, zeroblob(32) FROM events WHERE "
             "id = 5; DELETE FROM events WHERE id BETWEEN 6 AND 7",
         false},
        {"oldest rows hidden by an anchor",
         anchorTable +
             "INSERT INTO chain_anchor SELECT 'events', 4, hash, 0, zeroblob(32) FROM events WHERE "
             "id = 3; DELETE FROM events WHERE id <= 3",
         false},
        {"oldest hour hidden by an anchor",
         anchorTable + QString("INSERT INTO chain_anchor SELECT 'hours', hour + 1, hash, 0, "
                               "zeroblob(32) FROM archive_hours WHERE hour = %1; DELETE FROM "
                               "archive WHERE t < %2; DELETE FROM archive_hours WHERE hour = %1")
                           .arg(firstHour)
                           .arg((firstHour + 1) * 3600),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString copy = dir.filePath(QString("stripped-%1.db").arg(&c - cases));
        ASSERT_TRUE(QFile::copy(intact, copy));
        tamper(copy, c.sql);
        Verdict v = verify(copy);
        EXPECT_EQ(v.exit, 1) << v.out.toStdString();
        if (!c.writeOn) continue;
        writeSamples(copy, kSeconds, kSeconds + 2);
        writeEvents(copy, 2);
        v = verify(copy);
        EXPECT_EQ(v.exit, 1) << "written on: " << v.out.toStdString();
    }
}

// Retention by age never removes signed seconds, nor the event rows from them on; the event log
// keeps its rows longer where the policy says; a policy other than the one the file kept is a
// row of the event log. The file verifies throughout.
TEST(Verify, RetentionKeepsSignedDataAndTheAuditTrail) {
    QTemporaryDir dir;
    const QString path = dir.filePath("signed.db");
    writeSamples(path, 0, kSeconds);
    writeEvents(path, 13);
    const int64_t signedFrom = secondAt(4);
    {
        // A span signed as the signing windows do it: the signature with its chained row.
        events::EventStore log(path, "sign");
        ASSERT_TRUE(log.open());
        const QStringList args = {QString("span:%1-%2").arg(signedFrom).arg(secondAt(8)), "审核",
                                  "qa", "李 质量", QString(64, 'a')};
        std::vector<events::EventEntry> row = {
            events::codedEntry(events::eventkind::kRun, "report.signed", args)};
        ASSERT_TRUE(log.append(row, [&](store::Database& db) {
            QSqlQuery q(db.db());
            return q.exec(
                       "CREATE TABLE signatures (id INTEGER PRIMARY KEY, subject TEXT NOT NULL, "
                       "digest TEXT NOT NULL, user_id TEXT NOT NULL, full_name TEXT NOT NULL, "
                       "meaning TEXT NOT NULL, at_ms INTEGER NOT NULL, utc_offset INTEGER NOT "
                       "NULL)") &&
                   q.exec(QString("INSERT INTO signatures VALUES (1, '%1', '%5', '%3', '%4', '%2', "
                                  "%6, 0)")
                              .arg(args[0], args[1], args[2], args[3], args[4])
                              .arg(QDateTime::currentMSecsSinceEpoch()));
        }));
    }
    QStringList notes;
    const auto retain = [&](int keepDays, int keepAuditDays) {
        store::StoreWriter writer(path, QString("writer-%1").arg(keepAuditDays));
        QObject::connect(&writer, &store::StoreWriter::archiveNote,
                         [&](const QString& code, const QStringList& args) {
                             notes << code + ":" + args.join(',');
                         });
        writer.setRetention({keepDays, 0, keepAuditDays});
        writer.setAlsoRemove(&events::EventStore::removeBefore);
        writer.open();
        for (int i = 0; i < 2; ++i) {  // the second looks again at once after a removal
            store::Sample now;
            const QDateTime t = QDateTime::currentDateTime().addSecs(i);
            now.at = t.toSecsSinceEpoch();
            now.date = base::oleDate(t.date());
            now.time = base::oleTime(t.time());
            writer.write(now);
        }
        writer.close();
    };
    retain(1, 0);
    // The seconds before the signed span went with the event rows of their time; the rest stay.
    EXPECT_EQ(record_test::scalar(
                  path, QString("SELECT count(*) FROM archive WHERE t < %1").arg(signedFrom))
                  .toInt(),
              0);
    EXPECT_EQ(record_test::scalar(path, QString("SELECT count(*) FROM archive WHERE t >= %1 AND "
                                                "t < %2")
                                            .arg(signedFrom)
                                            .arg(kStart + 86400))
                  .toInt(),
              kSeconds - 5);  // the 5th to the 13th, without the one set back into the first hour
    EXPECT_EQ(record_test::scalar(path, QString("SELECT min(at_ms) FROM events")).toLongLong() >=
                  signedFrom * 1000,
              true);
    EXPECT_EQ(record_test::scalar(path, "SELECT count(*) FROM events WHERE code = 'report.signed'")
                  .toInt(),
              1);
    Verdict v = verify(path);
    EXPECT_EQ(v.exit, 0) << v.out.toStdString();
    const int events = record_test::scalar(path, "SELECT count(*) FROM events").toInt();
    // Nothing more may go while the oldest seconds are signed: no removal, no row.
    retain(1, 0);
    EXPECT_EQ(record_test::scalar(path, "SELECT count(*) FROM events").toInt(), events);
    // The event log set to keep its rows longer: the change is a row of its own.
    notes.clear();
    retain(1, 3650);
    EXPECT_EQ(notes, QStringList({"archive.retentionChanged:1/0/0,1/0/3650"}));
    v = verify(path);
    EXPECT_EQ(v.exit, 0) << v.out.toStdString();
    // An administrator's release of the signed span (its row in the chain) lets its seconds go.
    {
        events::EventStore log(path, "release");
        ASSERT_TRUE(log.open());
        std::vector<events::EventEntry> row = {
            events::codedEntry(events::eventkind::kRun, "retention.released",
                               {QString("span:%1-%2").arg(signedFrom).arg(secondAt(8)), "qa"})};
        row.front().user = "qa";
        row.front().reason = "archived elsewhere";
        ASSERT_TRUE(log.append(row));
    }
    retain(1, 3650);
    EXPECT_EQ(record_test::scalar(
                  path, QString("SELECT count(*) FROM archive WHERE t < %1").arg(kStart + 86400))
                  .toInt(),
              0);
    v = verify(path);
    EXPECT_EQ(v.exit, 0) << v.out.toStdString();
}

// A file an older version chained and cut by retention (its anchors named by no row, no record of
// its chains) verifies as before, and goes on verifying once this version writes on into it; only
// then does stripping it count.
TEST(Verify, OlderChainedFileWithAnchors) {
    QTemporaryDir dir;
    const QString path = dir.filePath("older.db");
    writeSamples(path, 0, kSeconds, /*staleMarks=*/false);  // an older version's sums have none
    writeEvents(path, 13);
    {
        store::SampleStore store(path, "older-retention");
        ASSERT_TRUE(store.open(store::SampleStore::Access::Record));
        ASSERT_TRUE(
            store.dropArchiveBefore(kStart + 3600 + 1200, events::EventStore::removeBefore));
    }
    // What an older version left: the same rows and anchors, without the record or the naming row.
    tamper(path,
           "DROP TABLE chain_state; PRAGMA application_id = 0; DELETE FROM events WHERE code "
           "= 'chain.anchors'");
    ASSERT_GT(record_test::scalar(path, "SELECT count(*) FROM chain_anchor").toInt(), 1);
    Verdict v = verify(path);
    EXPECT_EQ(v.exit, 0) << v.out.toStdString();
    writeSamples(path, kSeconds, kSeconds + 3, false);
    writeEvents(path, 2);
    v = verify(path);
    EXPECT_EQ(v.exit, 0) << v.out.toStdString();
    tamper(path, "UPDATE events SET hash = NULL");
    EXPECT_EQ(verify(path).exit, 1);
}

// A second archived more than once (a clock set back, a restart whose clock is behind the last
// run's, a record another program put into the ring) where some of its rows are stale: the hour's
// sum takes the stale mark once for each row the marks cover, as the verifier counts them, in
// whatever order the rows and marks came. A changed value of such a second is still found.
TEST(Verify, StaleMarksOnSecondsArchivedTwice) {
    // The cases' seconds lie in the hour after the first sample's: the marks join the sums from
    // there on.
    constexpr int64_t kHour = kStart - kStart % 3600 + 3600;
    constexpr int64_t kT = kHour + 600;
    enum Source { Fresh, Stale, Ring };
    struct Step {
        int64_t at;
        Source source;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"stale on stale", {{kT, Stale}, {kT + 1, Stale}, {kT, Stale}}},
        {"stale on an archived second", {{kT, Fresh}, {kT + 1, Fresh}, {kT, Stale}}},
        {"archived second in a stale stretch", {{kT, Stale}, {kT + 1, Stale}, {kT, Fresh}}},
        {"stale stretch grown over an archived second",
         {{kT, Fresh}, {kT + 5, Fresh}, {kT - 1, Stale}, {kT, Stale}}},
        {"twice archived, then marked", {{kT, Fresh}, {kT, Fresh}, {kT, Stale}, {kT, Fresh}}},
        {"ring record in a stale stretch", {{kT, Stale}, {kT + 1, Stale}, {kT, Ring}}},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString("case-%1.db").arg(&c - cases));
        {
            store::SampleStore store(path, "stale-twice");
            ASSERT_TRUE(store.open(store::SampleStore::Access::Record))
                << store.lastError().toStdString();
            float value = 20.25f;
            const auto sample = [&](int64_t at) {
                store::Sample s;
                s.at = at;
                const QDateTime local = QDateTime::fromSecsSinceEpoch(at);
                s.date = base::oleDate(local.date());
                s.time = base::oleTime(local.time());
                for (int k = 0; k < 10; ++k)
                    s.values[k] = value + k;
                value += 1;
                return s;
            };
            std::vector<Step> steps = {{kStart, Fresh}};
            steps.insert(steps.end(), c.steps.begin(), c.steps.end());
            for (const Step& step : steps) {
                store::Sample s = sample(step.at);
                if (step.source == Ring) {
                    // Another program's record: into the ring only, the counter moved on to it.
                    const int id =
                        record_test::scalar(path, "SELECT last_id FROM sl_void").toInt() + 1;
                    ASSERT_TRUE(record_test::exec(
                        path, QString("INSERT OR REPLACE INTO pv_data VALUES (%1, %2, %3, %4, %5, "
                                      "%6, %7, %8, %9, %10, %11, %12, %13)")
                                  .arg(id)
                                  .arg(s.date, 0, 'g', 17)
                                  .arg(s.time, 0, 'g', 17)
                                  .arg(s.values[0])
                                  .arg(s.values[1])
                                  .arg(s.values[2])
                                  .arg(s.values[3])
                                  .arg(s.values[4])
                                  .arg(s.values[5])
                                  .arg(s.values[6])
                                  .arg(s.values[7])
                                  .arg(s.values[8])
                                  .arg(s.values[9])));
                    ASSERT_TRUE(record_test::exec(
                        path,
                        QString("UPDATE sl_void SET last_id = %1, last_id_copy = %1").arg(id)));
                    // The next sample of this program takes it into the archive.
                    s = sample(kHour + 3000);
                }
                s.stale = step.source == Stale;
                ASSERT_TRUE(store.storeNextSample(s, 0)) << store.lastError().toStdString();
            }
        }
        ASSERT_GE(
            record_test::scalar(path, QString("SELECT count(*) FROM archive WHERE t = %1").arg(kT))
                .toInt(),
            2);
        Verdict v = verify(path);
        EXPECT_EQ(v.exit, 0) << v.out.toStdString();
        tamper(path, QString("UPDATE archive SET pv2 = pv2 + 1 WHERE t = %1 AND seq = 1").arg(kT));
        v = verify(path);
        EXPECT_EQ(v.exit, 1);
        EXPECT_TRUE(v.out.contains(hourText(kT))) << v.out.toStdString();
    }
}

namespace {

// The event rows from `from` on, and every hour from `fromHour` on, linked again with plain
// SHA-256 as someone who rewrote them beside the service would; the event row `from` first gets
// a new text.
void relinkPlain(const QString& path, int64_t from, int64_t fromHour) {
    record_test::withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QString("UPDATE events SET text = 'x' WHERE id = %1").arg(from)));
        QStringList cols;
        for (const store::chain::Field& f : store::chain::eventFields())
            cols << f.name;
        ASSERT_TRUE(q.exec(QString("SELECT %1, hash FROM events ORDER BY id").arg(cols.join(','))));
        QByteArray previous = store::chain::zeroHash();
        std::vector<std::pair<int64_t, QByteArray>> hashes;
        while (q.next()) {
            const int64_t id = q.value(0).toLongLong();
            QVariantList values;
            for (int i = 0; i < int(cols.size()); ++i)
                values << q.value(i);
            const QByteArray h =
                id >= from ? store::chain::link(previous, store::chain::eventContent(values))
                           : q.value(int(cols.size())).toByteArray();
            hashes.emplace_back(id, h);
            previous = h;
        }
        ASSERT_TRUE(q.exec("SELECT hour, n, sum, hash FROM archive_hours ORDER BY hour"));
        std::vector<std::pair<int64_t, QByteArray>> hours;
        previous = store::chain::zeroHash();
        while (q.next()) {
            const int64_t hour = q.value(0).toLongLong();
            const QByteArray h =
                hour >= fromHour ? store::chain::hourHash(previous, hour, q.value(1).toLongLong(),
                                                          q.value(2).toByteArray())
                                 : q.value(3).toByteArray();
            hours.emplace_back(hour, h);
            previous = h;
        }
        QSqlQuery put(db);
        for (const auto& [table, key, rows] :
             {std::tuple{"events", "id", &hashes}, std::tuple{"archive_hours", "hour", &hours}}) {
            for (const auto& [at, h] : *rows) {
                put.prepare(QString("UPDATE %1 SET hash = ? WHERE %2 = ?").arg(table, key));
                put.addBindValue(h);
                put.addBindValue(qlonglong(at));
                ASSERT_TRUE(put.exec());
            }
        }
    });
}

// The newest event rows after `keep` removed, and the record made to say the chain ends there,
// sealed with plain SHA-256 as someone without the key would.
void cutAndResealPlain(const QString& path, int64_t keep) {
    record_test::withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QString("DELETE FROM events WHERE id > %1").arg(keep)));
        ASSERT_TRUE(q.exec(QString("SELECT hash FROM events WHERE id = %1").arg(keep)) && q.next());
        store::chain::State s;
        s.last = keep;
        s.hash = q.value(0).toByteArray();
        ASSERT_TRUE(q.exec("SELECT first FROM chain_state WHERE chain = 'events'") && q.next());
        s.first = q.value(0).toLongLong();
        q.prepare("UPDATE chain_state SET last = ?, hash = ?, seal = ? WHERE chain = 'events'");
        q.addBindValue(qlonglong(s.last));
        q.addBindValue(s.hash);
        q.addBindValue(store::chain::stateSeal(store::chain::kEventsChain, s));
        ASSERT_TRUE(q.exec());
    });
}

}  // namespace

// Rows written before the key verify as they always did; rows written with it verify only with it,
// and no longer once rewritten with plain SHA-256 hashes; without the key the keyed chains are
// named as not checked, never as intact.
TEST(Verify, KeyedChains) {
    QTemporaryDir dir;
    const QString keys = dir.filePath("service");
    ASSERT_TRUE(QDir().mkpath(keys));
    const QString path = dir.filePath("keyed.db");
    writeSamples(path, 0, 6);
    writeEvents(path, 4);
    const store::chain::KeyFile key = store::chain::takeKey(keys);
    ASSERT_EQ(key.state, store::chain::KeyFile::State::Made);
    store::chain::setKey(key.key);
    writeSamples(path, 6, kSeconds);
    writeEvents(path, 6);
    store::chain::setKey(QByteArray());
    const int64_t keyedHour =
        record_test::scalar(path, "SELECT first FROM chain_keyed WHERE chain = 'hours'")
            .toLongLong();
    ASSERT_EQ(keyedHour, secondAt(6) / 3600);
    ASSERT_EQ(record_test::scalar(path, "SELECT first FROM chain_keyed WHERE chain = 'events'"), 5);
    const QString noKey = dir.filePath("nokey");
    ASSERT_TRUE(QDir().mkpath(noKey));

    struct Case {
        const char* name;
        std::function<void(const QString&)> change;
        QString keys;
        int exit;
        QString out;
    };
    const Case cases[] = {
        {"with the key", {}, keys, 0, "intact, 10 rows, 4 hours"},
        {"without the key", {}, noKey, 1, "not checked: events, archive, record"},
        // Once keyed, the file's record of its chains is sealed with the key too: rows cut off
        // the end with the record rewritten to match no longer pass.
        {"newest rows cut, the record sealed plain",
         [](const QString& p) { cutAndResealPlain(p, 7); }, keys, 1, "record of the chains"},
        {"unkeyed rows rewritten", [](const QString& p) { relinkPlain(p, 2, 1LL << 40); }, keys, 1,
         "event row 5"},
        {"keyed rows rewritten", [&](const QString& p) { relinkPlain(p, 6, keyedHour); }, keys, 1,
         "event row 6"},
        {"keyed hours rewritten", [&](const QString& p) { relinkPlain(p, 1LL << 40, keyedHour); },
         keys, 1, hourText(keyedHour * 3600)},
        {"keyed rows rewritten, the key not readable",
         [&](const QString& p) { relinkPlain(p, 6, keyedHour); }, noKey, 1, "changed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString copy = dir.filePath(QString("copy-%1.db").arg(&c - cases));
        ASSERT_TRUE(QFile::copy(path, copy));
        if (c.change) c.change(copy);
        const Verdict v = verify(copy, c.keys);
        EXPECT_EQ(v.exit, c.exit);
        EXPECT_TRUE(v.out.contains(c.out)) << v.out.toStdString();
    }
}

// A connection keeps the keyed points it found, but forgets one that a transaction made and then
// rolled back: the chain stays plain, as the file says.
TEST(ChainKey, APointOfARolledBackTransactionIsForgotten) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rollback.db");
    writeEvents(path, 2);
    store::chain::setKey(QByteArray(store::chain::kKeySize, 'k'));
    store::Database db(path, QStringLiteral("rollback"));
    ASSERT_TRUE(db.open(store::FileAccess::Existing, 1000));
    const QString events = store::chain::kEventsChain;
    using From = std::optional<int64_t>;
    {
        store::Transaction t(db);
        ASSERT_TRUE(t.ok());
        ASSERT_TRUE(store::chain::linkKey(db, events, 3));
        EXPECT_EQ(store::chain::keyedFrom(db, events), std::optional<From>(3));
    }
    EXPECT_EQ(store::chain::keyedFrom(db, events), std::optional<From>(From()));
    {
        store::Transaction t(db);
        ASSERT_TRUE(store::chain::linkKey(db, events, 4));
        ASSERT_TRUE(t.commit());
    }
    EXPECT_EQ(store::chain::keyedFrom(db, events), std::optional<From>(4));
    db.close();
    store::chain::setKey(QByteArray());
    EXPECT_EQ(record_test::scalar(path, "SELECT first FROM chain_keyed WHERE chain = 'events'"), 4);
}

// The key is made once, private to the account before a byte is in it, and a key file that is
// there but unusable is left as it is, never replaced.
TEST(ChainKey, MadePrivateAndNeverReplaced) {
    using State = store::chain::KeyFile::State;
    QTemporaryDir dir;
    const QString path = store::chain::keyPath(dir.path());
    const store::chain::KeyFile made = store::chain::takeKey(dir.path());
    ASSERT_EQ(made.state, State::Made);
    EXPECT_EQ(made.key.size(), store::chain::kKeySize);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const store::chain::KeyFile again = store::chain::takeKey(dir.path());
    EXPECT_EQ(again.state, State::Read);
    EXPECT_EQ(again.key, made.key);
    // A second file never takes the place of the first.
    EXPECT_FALSE(base::createPrivateFile(path, "other"));

    const struct {
        const char* name;
        QByteArray content;  // what the key file holds; a folder in its place where null
        State state;
    } cases[] = {
        {"short", QByteArray(31, 'k'), State::WrongSize},
        {"long", QByteArray(33, 'k'), State::WrongSize},
        {"empty", QByteArray(""), State::WrongSize},
        {"not a file", QByteArray(), State::Unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir other;
        const QString p = store::chain::keyPath(other.path());
        if (c.content.isNull()) {
            ASSERT_TRUE(QDir().mkpath(p));
        } else {
            QFile f(p);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.content);
        }
        const store::chain::KeyFile k = store::chain::takeKey(other.path());
        EXPECT_EQ(k.state, c.state);
        EXPECT_FALSE(k.usable());
        EXPECT_FALSE(store::chain::keyProblemText(k, other.path()).isEmpty());
        if (!c.content.isNull()) {
            QFile f(p);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), c.content) << "the key file was replaced";
        }
    }
}
