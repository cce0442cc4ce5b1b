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

using record::Fault;

namespace {

// Opens the store on path and, for a writer, writes one row; the operator's reason for the
// first step that fails, empty when both went through.
using Attempt = std::function<QString(const QString& path)>;

template <class Store>
QString reason(Store& store, bool ok) {
    return ok ? QString() : store.lastError();
}

QString sampleStore(const QString& path, record::SampleStore::Access access) {
    record::SampleStore store(path, QStringLiteral("samples"));
    if (!store.open(access)) return store.lastError();
    record::Sample s;
    s.id = 1;
    s.date = 46000;
    return access == record::SampleStore::Access::ReadOnly ? QString()
                                                           : reason(store, store.storeSample(s));
}

QString eventStore(const QString& path, bool readOnly) {
    record::EventStore store(path, QStringLiteral("events"));
    if (!store.open(readOnly)) return store.lastError();
    std::vector<record::EventEntry> entries(1);
    entries[0].at = QDateTime::currentDateTime();
    entries[0].kind = QStringLiteral("test");
    return readOnly ? QString() : reason(store, store.append(entries));
}

QString runStore(const QString& path, bool readOnly) {
    record::RunStore store(path, QStringLiteral("runs"));
    if (!store.open(readOnly)) return store.lastError();
    record::Run run;
    run.name = QStringLiteral("run");
    return readOnly ? QString() : reason(store, store.start(run));
}

QString alertQueue(const QString& path) {
    alert::Outbox outbox(path, QStringLiteral("outbox"));
    QString why;
    if (!outbox.open(&why)) return why;
    alert::Letter letter;
    letter.target = QStringLiteral("a@b.c");
    return reason(outbox, outbox.keep({letter}));
}

enum class Kind {
    Missing,
    MarkedReadOnly,
    Garbage,
    ShortHeader,
    ForeignSamples,
    ForeignEvents,
    ForeignArchive,
    Locked
};

struct StoreCase {
    const char* name;
    bool creates;  // makes a missing file
    bool writes;
    const char* owns;  // the one table besides pv_data whose shape it checks, if any
    Attempt attempt;
};

// The file of that kind at path; its lock holder, for a locked one.
void make(Kind kind, const QString& path, QProcess* holder) {
    if (kind == Kind::Missing) return;
    if (kind == Kind::Garbage || kind == Kind::ShortHeader) {
        QByteArray bytes("SQLite format 3");
        if (kind == Kind::Garbage) {
            bytes = QByteArray(4096, '\0');
            for (int i = 0; i < bytes.size(); ++i)
                bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
        }
        record_test::writeFile(path, bytes);
        return;
    }
    ASSERT_TRUE(record::SampleStore(path, QStringLiteral("make")).open());
    const char* sql =
        kind == Kind::ForeignSamples   ? "DROP TABLE pv_data; CREATE TABLE pv_data (a, b)"
        : kind == Kind::ForeignEvents  ? "CREATE TABLE events (id INTEGER, what TEXT)"
        : kind == Kind::ForeignArchive ? "CREATE TABLE archive (stamp TEXT, payload BLOB)"
                                       : nullptr;
    if (sql) {
        for (const QString& s : QString::fromLatin1(sql).split(QStringLiteral("; ")))
            ASSERT_TRUE(record_test::exec(path, s)) << sql;
    }
    if (kind == Kind::MarkedReadOnly) QFile::setPermissions(path, QFileDevice::ReadOwner);
    if (kind == Kind::Locked) {
        holder->start(QCoreApplication::applicationDirPath() + "/record_child", {"lock", path});
        ASSERT_TRUE(holder->waitForStarted(5000) && holder->waitForReadyRead(10000));
        ASSERT_TRUE(holder->readLine().startsWith("locked"));
    }
}

// What the store says of a file of that kind; empty where it opens (and writes) it.
QString expected(Kind kind, const StoreCase& store) {
    switch (kind) {
        case Kind::Missing:
            return store.creates ? QString() : record::faultText(Fault::Missing);
        case Kind::MarkedReadOnly:
            return store.writes ? record::faultText(Fault::ReadOnly) : QString();
        case Kind::Garbage:
        case Kind::ShortHeader:
            return record::faultText(Fault::NotADatabase);
        case Kind::ForeignSamples:
            return record::faultText(Fault::WrongTables);
        case Kind::ForeignEvents:
        case Kind::ForeignArchive:
            return qstrcmp(store.owns, kind == Kind::ForeignEvents ? "events" : "archive") == 0
                       ? record::faultText(Fault::WrongTables)
                       : QString();
        case Kind::Locked:
            return store.writes ? record::faultText(Fault::Locked) : QString();
    }
    return {};
}

}  // namespace

TEST(BadFiles, EveryStoreRefusesWhatItMustNotSpoilAndSaysWhy) {
    using A = record::SampleStore::Access;
    const std::vector<StoreCase> stores = {
        {"ring", true, true, "archive",
         [](const QString& p) { return sampleStore(p, A::ReadWrite); }},
        {"recorder", true, true, "archive",
         [](const QString& p) { return sampleStore(p, A::Record); }},
        {"ring reader", false, false, "archive",
         [](const QString& p) { return sampleStore(p, A::ReadOnly); }},
        {"events", true, true, "events", [](const QString& p) { return eventStore(p, false); }},
        {"events reader", false, false, "events",
         [](const QString& p) { return eventStore(p, true); }},
        {"runs", true, true, "", [](const QString& p) { return runStore(p, false); }},
        {"runs reader", false, false, "", [](const QString& p) { return runStore(p, true); }},
        {"alert queue", false, true, "", alertQueue},
    };
    const std::vector<std::pair<Kind, const char*>> kinds = {
        {Kind::Missing, "missing"},
        {Kind::MarkedReadOnly, "marked read-only"},
        {Kind::Garbage, "not a database"},
        {Kind::ShortHeader, "a header too short"},
        {Kind::ForeignSamples, "samples of another shape"},
        {Kind::ForeignEvents, "events of another shape"},
        {Kind::ForeignArchive, "an archive of another shape"},
        {Kind::Locked, "locked by another program"},
    };
    QTemporaryDir dir;
    int n = 0;
    for (const auto& [kind, kindName] : kinds) {
        for (const StoreCase& store : stores) {
            const QString path = dir.filePath(QStringLiteral("%1.db").arg(++n));
            QProcess holder;
            make(kind, path, &holder);
            const QByteArray before = record_test::fileBytes(path);
            const QString want = expected(kind, store);
            EXPECT_EQ(store.attempt(path), want) << kindName << " / " << store.name;
            if (!want.isEmpty() && kind != Kind::Locked) {
                EXPECT_EQ(record_test::fileBytes(path), before) << kindName << " / " << store.name;
            }
            holder.kill();
            holder.waitForFinished(5000);
        }
    }
}
