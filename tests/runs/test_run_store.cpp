// The runs table on its own, in real database files: a run stored and read back field by field,
// one open run at a time, unique names, the runs of an older file that shares a name, and a file
// marked read-only, which is listed and left exactly as it was.

#include <gtest/gtest.h>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "runs/runs.h"
#include "store/store.h"

namespace {

// A database file as the recorder makes it.
QString recorderFile(const QTemporaryDir& dir) {
    const QString db = dir.filePath("runs.db");
    store::SampleStore samples(db, "make-samples");
    EXPECT_TRUE(samples.open());
    return db;
}

void exec(const QString& db, const char* sql) {
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "raw");
        c.setDatabaseName(db);
        ASSERT_TRUE(c.open());
        EXPECT_TRUE(QSqlQuery(c).exec(sql)) << sql;
    }
    QSqlDatabase::removeDatabase("raw");
}

}  // namespace

TEST(RunStore, RunsAreStoredEndedListedAndNamedOnce) {
    QTemporaryDir dir;
    const QString db = recorderFile(dir);
    EXPECT_TRUE(runs::RunStore::besideSamples(db, "probe"));
    runs::RunStore store(db, "runs");
    ASSERT_TRUE(store.open());
    EXPECT_FALSE(store.stop(100));
    EXPECT_EQ(store.lastError(), "没有正在进行的试验");

    runs::Run run{0,        "湿热 40 °C / 93 %RH",   "2026-117",  "王工", "样品 3 件",
                  "3 号箱", "1: /dev/ttyUSB0",       7,           1000,   std::nullopt,
                  true,     {true, 0, -40.5, 85.25}, {false, 3.5}};
    ASSERT_TRUE(store.start(run)) << store.lastError().toStdString();
    EXPECT_GT(run.id, 0);
    ASSERT_TRUE(store.openRun());
    EXPECT_EQ(*store.openRun(), run);

    // One run open at a time; a name in use is refused unless the program may number it.
    runs::Run next = run;
    next.name = "other";
    EXPECT_FALSE(store.start(next));
    EXPECT_EQ(store.lastError(), "已有试验正在进行");
    ASSERT_TRUE(store.stop(900));  // an end before the start is the start
    EXPECT_FALSE(store.openRun());
    next.name = run.name;
    next.start = 2000;
    EXPECT_FALSE(store.start(next));
    EXPECT_EQ(store.lastError(), "试验名称已被使用：湿热 40 °C / 93 %RH");
    for (const char* numbered : {" (2)", " (3)"}) {
        runs::Run again = next;
        ASSERT_TRUE(store.start(again, /*makeNameUnique=*/true));
        EXPECT_EQ(again.name, run.name + numbered);
        ASSERT_TRUE(store.stop(again.start + 10));
    }

    const std::vector<runs::Run> runs = store.list();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].name, run.name + " (3)");  // newest start first, then newest row
    runs::Run ended = run;
    ended.end = run.start;
    EXPECT_EQ(runs[2], ended);

    // A file of an older version may hold two runs of one name: listed, but found as neither.
    exec(db,
         "INSERT INTO runs (name, start_t, end_t) SELECT name, 5000, 5001 FROM runs WHERE id = 1");
    EXPECT_EQ(store.list().size(), 4u);
    EXPECT_FALSE(store.find(run.name));
    EXPECT_EQ(store.lastError(), "有 2 个名为“湿热 40 °C / 93 %RH”的试验，无法确定是哪一个");
}

TEST(RunStore, AFileMarkedReadOnlyIsListedAndLeftAsItWas) {
    QTemporaryDir dir;
    const QString db = recorderFile(dir);
    {
        runs::RunStore store(db, "write");
        runs::Run run;
        run.name = "kept";
        ASSERT_TRUE(store.open() && store.start(run));
    }
    ASSERT_TRUE(QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup));
    const auto bytes = [&db] {
        QFile f(db);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    runs::RunStore store(db, "read");
    ASSERT_TRUE(store.open(/*readOnly=*/true)) << store.lastError().toStdString();
    ASSERT_EQ(store.list().size(), 1u);
    EXPECT_EQ(store.openRun()->name, "kept");
    EXPECT_FALSE(store.stop(2000));
    store.close();
    EXPECT_EQ(bytes(), before);

    // Another program's file and a missing one are no place for runs.
    const QString foreign = dir.filePath("foreign.db");
    exec(foreign, "CREATE TABLE pv_data (a INTEGER, b TEXT)");
    EXPECT_FALSE(runs::RunStore::besideSamples(foreign, "probe"));
    EXPECT_FALSE(runs::RunStore::besideSamples(dir.filePath("none.db"), "probe"));
    runs::RunStore missing(dir.filePath("none.db"), "missing");
    EXPECT_FALSE(missing.open(/*readOnly=*/true));
    EXPECT_FALSE(QFile::exists(dir.filePath("none.db")));
}
