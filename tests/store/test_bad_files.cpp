// Every store of the sample file against every kind of file it must not spoil: each is refused
// with the operator's reason, or opened where it may be, and a refused file stays byte for byte.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include "alert/delivery.h"
#include "dbhelpers.h"
#include "events/eventstore.h"
#include "runs/runs.h"
#include "store/store.h"

using store::Fault;

namespace {

// The reason of the first step that failed: opening, then (for a writer) writing one row.
template <class Store, class Write>
QString attempt(Store& store, bool opened, bool writes, Write write) {
    return !opened || (writes && !write()) ? store.lastError() : QString();
}

struct StoreCase {
    const char* name;
    bool creates, writes;  // makes a missing file; writes into the file
    const char* owns;      // the table besides pv_data whose shape it checks
    std::function<QString(const QString& path)> attempt;
};

QString samples(const QString& path, store::SampleStore::Access access, bool writes) {
    store::SampleStore store(path, QStringLiteral("samples"));
    store::Sample s;
    s.id = 1;
    return attempt(store, store.open(access), writes, [&] { return store.storeSample(s); });
}

QString eventsFile(const QString& path, bool writes) {
    events::EventStore store(path, QStringLiteral("events"));
    std::vector<events::EventEntry> entries(1);
    entries[0].at = QDateTime::currentDateTime();
    return attempt(store, store.open(!writes), writes, [&] { return store.append(entries); });
}

QString runsFile(const QString& path, bool writes) {
    runs::RunStore store(path, QStringLiteral("runs"));
    runs::Run run;
    run.name = QStringLiteral("run");
    return attempt(store, store.open(!writes), writes, [&] { return store.start(run); });
}

QString alertQueue(const QString& path) {
    alert::Outbox outbox(path, QStringLiteral("outbox"));
    QString why;
    if (!outbox.open(&why)) return why;
    return attempt(outbox, true, true, [&] { return outbox.keep({alert::Letter()}); });
}

struct FileCase {
    const char* name;
    QByteArray bytes;  // the file's bytes; empty: a database the ring store made
    const char* sql;   // then changed by this, or marked (read-only, locked)
    std::function<QString(const StoreCase&)> expected;
};

QString text(Fault f) {
    return store::faultText(f);
}

}  // namespace

TEST(BadFiles, EveryStoreRefusesWhatItMustNotSpoilAndSaysWhy) {
    using A = store::SampleStore::Access;
    const std::vector<StoreCase> stores = {
        {"ring", true, true, "archive", [](auto& p) { return samples(p, A::ReadWrite, true); }},
        {"recorder", true, true, "archive", [](auto& p) { return samples(p, A::Record, true); }},
        {"ring reader", false, false, "archive",
         [](auto& p) { return samples(p, A::ReadOnly, false); }},
        {"events", true, true, "events", [](auto& p) { return eventsFile(p, true); }},
        {"events reader", false, false, "events", [](auto& p) { return eventsFile(p, false); }},
        {"runs", true, true, "", [](auto& p) { return runsFile(p, true); }},
        {"runs reader", false, false, "", [](auto& p) { return runsFile(p, false); }},
        {"alert queue", false, true, "", alertQueue},
    };
    const auto all = [](Fault f) { return [f](const StoreCase&) { return text(f); }; };
    const auto owner = [](const char* table) {
        return [table](const StoreCase& s) {
            return qstrcmp(s.owns, table) ? QString() : text(Fault::WrongTables);
        };
    };
    const auto writers = [](Fault f) {
        return [f](const StoreCase& s) { return s.writes ? text(f) : QString(); };
    };
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    const std::vector<FileCase> files = {
        {"missing",
         {},
         "missing",
         [](const StoreCase& s) { return s.creates ? QString() : text(Fault::Missing); }},
        {"marked read-only", {}, "read-only", writers(Fault::ReadOnly)},
        {"not a database", garbage, nullptr, all(Fault::NotADatabase)},
        {"a header too short", "SQLite format 3", nullptr, all(Fault::NotADatabase)},
        {"samples of another shape",
         {},
         "DROP TABLE pv_data; CREATE TABLE pv_data (a, b)",
         all(Fault::WrongTables)},
        {"events of another shape",
         {},
         "CREATE TABLE events (id INTEGER, what TEXT)",
         owner("events")},
        {"an archive of another shape",
         {},
         "CREATE TABLE archive (stamp TEXT, payload BLOB)",
         owner("archive")},
        {"locked by another program", {}, "locked", writers(Fault::Locked)},
    };
    QTemporaryDir dir;
    int n = 0;
    for (const FileCase& file : files) {
        for (const StoreCase& store : stores) {
            const QString path = dir.filePath(QStringLiteral("%1.db").arg(++n));
            const QString how = QString::fromLatin1(file.sql ? file.sql : "");
            QProcess holder;
            if (!file.bytes.isEmpty()) {
                record_test::writeFile(path, file.bytes);
            } else if (how != u"missing") {
                ASSERT_TRUE(store::SampleStore(path, QStringLiteral("make")).open());
                if (how == u"read-only") QFile::setPermissions(path, QFileDevice::ReadOwner);
                if (how == u"locked") {
                    holder.start(QCoreApplication::applicationDirPath() + "/record_child",
                                 {"lock", path});
                    ASSERT_TRUE(holder.waitForStarted(5000) && holder.waitForReadyRead(10000));
                    ASSERT_TRUE(holder.readLine().startsWith("locked"));
                } else if (how.startsWith(u"CREATE") || how.startsWith(u"DROP")) {
                    for (const QString& sql : how.split(QStringLiteral("; ")))
                        ASSERT_TRUE(record_test::exec(path, sql)) << file.sql;
                }
            }
            const QByteArray before = record_test::fileBytes(path);
            const QString want = file.expected(store);
            EXPECT_EQ(store.attempt(path), want) << file.name << " / " << store.name;
            if (!want.isEmpty() && !holder.processId()) {
                EXPECT_EQ(record_test::fileBytes(path), before) << file.name << " / " << store.name;
            }
            holder.kill();
            holder.waitForFinished(5000);
        }
    }
}
