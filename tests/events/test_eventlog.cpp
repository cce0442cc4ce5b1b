// The event log: which changes between two images make which entries, the audit trail that no
// row count pushes out, the files it must leave alone, and the writer thread end to end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>

#include "dbhelpers.h"
#include "events/eventlog.h"
#include "store/schema.h"

using events::EventEntry;

namespace {

struct ImageCase {
    const char* name;
    std::function<void(comm::InstrumentImage&)> before, after;
    std::vector<std::pair<QString, QString>> expected;  // kind, text
    std::vector<int> values;
};

TEST(EventRules, ImageChangesMakeOneEntryEach) {
    const auto none = [](comm::InstrumentImage&) {};
    const std::vector<ImageCase> cases = {
        {"nothing changes", none, none, {}, {}},
        {"live values alone are no event",
         none,
         [](auto& i) {
             i.LiveValues[0] = 300;
             i.ParamValues[10] = 1234;
             i.InputRegsHigh[6] = 55;  // segment time remaining
         },
         {},
         {}},
        {"alarm 1 comes",
         none,
         [](auto& i) { i.DiscreteBits[2] = 1; },
         {{"alarm", "ALM1 OFF → ALM1报警"}},
         {1}},
        {"alarm 2 goes",
         [](auto& i) { i.DiscreteBits[3] = 1; },
         [](auto& i) { i.DiscreteBits[3] = 0; },
         {{"alarm", "ALM2 报警 → ALM2 OFF"}},
         {0}},
        {"any non-zero flag is on; 1 to 7 is no change",
         [](auto& i) { i.DiscreteBits[2] = 1; },
         [](auto& i) { i.DiscreteBits[2] = 7; },
         {},
         {}},
        {"sensor 2 closes in one pass with control 2 coming on, which is no event",
         [](auto& i) { i.DiscreteBits[5] = 1; },
         [](auto& i) {
             i.DiscreteBits[1] = 1;
             i.DiscreteBits[5] = 0;
         },
         {{"alarm", "传感器2开路 → 传感器正常"}},
         {0}},
        {"program starts, next segment, next cycle",
         none,
         [](auto& i) {
             i.InputRegsHigh[0] = 1;
             i.InputRegsHigh[5] = 2;
             i.InputRegsHigh[8] = 1;
         },
         {{"program", "曲线状态 停止 → 运行"},
          {"program", "当前段号 0 → 2"},
          {"program", "循环次数 0 → 1"}},
         {1, 2, 1}},
        {"an unknown program state reads as its number",
         [](auto& i) { i.InputRegsHigh[0] = 3; },
         [](auto& i) { i.InputRegsHigh[0] = -7; },
         {{"program", "曲线状态 结束 → -7"}},
         {-7}},
    };
    for (const ImageCase& c : cases) {
        comm::InstrumentImage before, after;
        c.before(before);
        c.before(after);
        c.after(after);
        const auto got = events::imageEntries(before, after);
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(got[k].kind, c.expected[k].first) << c.name;
            EXPECT_EQ(got[k].text, c.expected[k].second) << c.name;
            EXPECT_EQ(got[k].value, c.values[k]) << c.name;
            EXPECT_FALSE(got[k].reg) << c.name;
            EXPECT_FALSE(got[k].status) << c.name;
        }
    }
}

TEST(EventRules, WritesCarryRegisterValueStatusAndTheirReason) {
    comm::WriteReport ok{1, 4107, 1234, 0, 1, QStringLiteral("输入1 输入上限"), {}};
    EventEntry e = events::writeEntry(ok);
    EXPECT_EQ(e.text, QStringLiteral("输入1 输入上限 → 1234"));
    EXPECT_EQ(std::tuple(e.kind, e.reg, e.value, e.status),
              std::tuple(QStringLiteral("write"), std::optional(4107), std::optional(1234),
                         std::optional(0)));
    comm::WriteReport failed{
        2, 1, 70000, -8888, 0, QStringLiteral("设定SV1"), {comm::LineError::Kind::OutOfRange}};
    e = events::writeEntry(failed);
    EXPECT_EQ(e.text, QStringLiteral("设定SV1 → 70000（失败：超出寄存器范围）"));
    EXPECT_EQ(e.status, -8888);

    // A write sent to an instrument names its address, whatever the outcome; a refusal was
    // never sent. Rows of older versions (no address) read as before.
    const auto withAddress = [](comm::WriteReport r) {
        r.address = 7;
        return r;
    };
    comm::WriteReport silent{3, 1, 44, -8888, 3, QStringLiteral("设定SV1"), {}};
    comm::WriteReport refused{4, 1, 44, -8888, 0, QStringLiteral("设定SV1"), {}};
    refused.audit.refusal = QStringLiteral("需要登录");
    const struct {
        comm::WriteReport report;
        const char* text;
    } writes[] = {
        {withAddress(ok), "输入1 输入上限 → 1234（地址 7）"},
        {withAddress(failed), "设定SV1 → 70000（地址 7，失败：超出寄存器范围）"},
        {withAddress(silent), "设定SV1 → 44（地址 7，失败：仪表无应答）"},
        {refused, "设定SV1 → 44（未发送：需要登录）"},
        {withAddress(refused), "设定SV1 → 44（地址 7，未发送：需要登录）"},
    };
    for (const auto& w : writes) {
        e = events::writeEntry(w.report);
        EXPECT_EQ(e.text, QString::fromUtf8(w.text));
        EXPECT_EQ(events::eventText(e), QString::fromUtf8(w.text));
    }
}

EventEntry numbered(int n) {
    EventEntry e;
    e.at = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)).addMSecs(n);
    e.kind = n % 2 ? QStringLiteral("link") : QStringLiteral("write");
    e.text = QStringLiteral("事件 %1").arg(n);
    if (n % 2 == 0) {
        e.reg = 4097 + n % 48;
        e.value = -n;
        e.status = 0;
    }
    return e;
}

TEST(EventStore, KeepsEveryRowAndReadsItBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    events::EventStore store(path, QStringLiteral("rows"));
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    int n = 0;
    for (int size : {1, 7, 49, 60, 3}) {
        std::vector<EventEntry> batch;
        for (int k = 0; k < size; ++k)
            batch.push_back(numbered(n++));
        ASSERT_TRUE(store.append(batch));
        EXPECT_GT(batch.back().id, 0);
    }
    const auto rows = store.load({});
    ASSERT_EQ(rows.size(), 120u);
    EXPECT_EQ(rows.front().text, QStringLiteral("事件 %1").arg(n - 1));  // newest first
    EXPECT_EQ(rows.back().text, QStringLiteral("事件 0"));
    EventEntry back = rows.front();
    back.id = 0;
    EXPECT_EQ(back, numbered(n - 1));  // every column reads back, NULLs as NULLs

    // The filter: a kind and a time span, both inclusive.
    events::EventFilter f;
    f.kinds << QStringLiteral("write");
    f.from = numbered(n - 10).at;
    f.to = numbered(n - 1).at;
    f.newestFirst = false;
    const auto writes = store.load(f);
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes.front().text, QStringLiteral("事件 %1").arg(n - 10));
}

// Rows copied from the user store are stored once: a copy is dropped when a row of its code,
// moment and user is there already (one stored without a user by an earlier version matches any),
// and, once retention trimmed the log, when it is older than the log's oldest row.
TEST(EventStore, CopiesAreStoredOnceAndNotAgainAfterRetention) {
    QTemporaryDir dir;
    events::EventStore store(dir.filePath(QStringLiteral("Rdatabj.db")), QStringLiteral("copies"));
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    const qint64 t0 = QDateTime(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC).toMSecsSinceEpoch();
    const auto row = [](qint64 at, const char* code, const char* user) {
        EventEntry e = events::codedEntry(QStringLiteral("audit"), QString::fromLatin1(code));
        e.at = QDateTime::fromMSecsSinceEpoch(at, Qt::UTC);
        e.user = QString::fromLatin1(user);
        return e;
    };
    std::vector<EventEntry> stored{row(t0, "user.login.failed", "anna"),
                                   row(t0 + 1000, "user.login", ""),
                                   row(t0 + 2000, "user.login", "qa")};
    ASSERT_TRUE(store.append(stored));
    const auto kept = [&](std::vector<EventEntry> copies) {
        for (EventEntry& c : copies)
            c.copied = true;
        EXPECT_TRUE(store.dropCopiesStored(copies));
        QStringList out;
        for (const EventEntry& c : copies)
            out << c.code + u'/' + c.user;
        return out.join(u' ').toStdString();
    };
    const std::vector<EventEntry> copies{
        row(t0, "user.login.failed", "anna"),    // stored: dropped
        row(t0, "user.login.failed", "bob"),     // another user in the same moment: kept
        row(t0 + 1000, "user.login", "qa"),      // stored without its user: dropped
        row(t0 + 2000, "user.logout", "qa"),     // another code: kept
        row(t0 - 60000, "user.login", "early"),  // older than the log, never trimmed: kept
    };
    EXPECT_EQ(kept(copies), "user.login.failed/bob user.logout/qa user.login/early");
    // Retention left an anchor: what is older than the oldest row went with it.
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("copies"));
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(store::schema::kCreateAnchorTableSql));
    ASSERT_TRUE(q.exec(QStringLiteral(
        "INSERT INTO chain_anchor VALUES ('events', 1, zeroblob(32), 0, zeroblob(32))")));
    EXPECT_EQ(kept(copies), "user.login.failed/bob user.logout/qa");
}

// A day of a control output switching every second, with one operator write at its start and an
// alarm now and then: the write is still there at the end, the log holds no row per switch, and
// the alarm filter lists alarms alone.
TEST(EventStore, ADayOfOutputSwitchingKeepsTheWriteAndOnlyAlarmsAreAlarms) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    events::EventStore store(path, QStringLiteral("audit"));
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    const QDateTime start(QDate(2026, 1, 2), QTime(0, 0));
    std::vector<EventEntry> batch = {
        events::writeEntry({1, 1, 340, 0, 1, QStringLiteral("设定SV1"), {}})};
    batch.front().at = start;
    comm::InstrumentImage before;
    int alarms = 0;
    for (int s = 1; s <= 86400; ++s) {
        comm::InstrumentImage after = before;
        after.DiscreteBits[0] = s % 2;          // control 1 on and off every second
        after.DiscreteBits[1] = s % 7 < 3;      // control 2 on its own rhythm
        after.DiscreteBits[2] = s % 3600 < 60;  // alarm 1 for a minute every hour
        for (EventEntry& e : events::imageEntries(before, after)) {
            e.at = start.addSecs(s);
            alarms += e.kind == events::eventkind::kAlarm;
            batch.push_back(e);
        }
        before = after;
        if (batch.size() >= 500 || s == 86400) {
            ASSERT_TRUE(store.append(batch));
            batch.clear();
        }
    }
    EXPECT_EQ(alarms, 49);  // on and off 24 times, on again at the last second
    events::EventFilter writes;
    writes.kinds << events::eventkind::kWrite;
    const auto kept = store.load(writes);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.front().text, QStringLiteral("设定SV1 → 340"));
    EXPECT_EQ(kept.front().at, start);
    events::EventFilter alarmFilter;
    alarmFilter.kinds << events::eventkind::kAlarm;
    const auto listed = store.load(alarmFilter);
    ASSERT_EQ(listed.size(), 49u);
    for (const EventEntry& e : listed)
        EXPECT_TRUE(e.text.contains(QStringLiteral("ALM1"))) << e.text.toStdString();
    EXPECT_EQ(record_test::scalar(path, "SELECT count(*) FROM events").toInt(), 50);
}

// The kinds as the window offers them: alarms and alerts are one choice, runs have their own
// and the run rows of older files (stored as program rows) read and filter as runs.
TEST(EventStore, WindowKindsOverStoredAndOlderRows) {
    QTemporaryDir dir;
    events::EventStore store(dir.filePath(QStringLiteral("Rdatabj.db")), QStringLiteral("kinds"));
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    const QDateTime at(QDate(2026, 1, 2), QTime(8, 0));
    const std::pair<const char*, const char*> rows[] = {
        {"program", "试验开始：旧试验"},  {"program", "曲线状态 停止 → 运行"},
        {"program", "试验结束：旧试验"},  {"run", "试验开始：新试验"},
        {"alarm", "ALM1 OFF → ALM1报警"}, {"alert", "触发：PV1 超差，31.0"},
        {"write", "SV1 → 30.0"}};
    std::vector<EventEntry> batch;
    for (const auto& [kind, text] : rows)
        batch.push_back({0, at, kind, QString::fromUtf8(text), {}, {}, {}});
    ASSERT_TRUE(store.append(batch));

    EXPECT_EQ(events::eventKindCaption(QStringLiteral("alert")), QStringLiteral("报警"));
    EXPECT_EQ(events::eventKindCaption(QStringLiteral("run")), QStringLiteral("试验"));

    const std::pair<QString, std::vector<int>> chosen[] = {{events::eventkind::kRun, {0, 2, 3}},
                                                           {events::eventkind::kProgram, {1}},
                                                           {events::eventkind::kAlarm, {4, 5}},
                                                           {events::eventkind::kWrite, {6}}};
    for (const auto& [kind, expected] : chosen) {
        events::EventFilter f;
        f.kinds = events::storedKinds(kind);
        f.newestFirst = false;
        std::vector<int> got;
        for (const EventEntry& e : store.load(f)) {
            got.push_back(int(e.id - batch.front().id));
            if (kind != events::eventkind::kAlarm) {
                EXPECT_EQ(e.kind, kind) << e.text.toStdString();
            }
        }
        EXPECT_EQ(got, expected) << kind.toStdString();
    }
}

TEST(EventRules, RecorderStatesMakeAnEntryOnlyWhenTheStateChanges) {
    using S = store::RecorderStatus;
    const S notStarted, stopped{S::State::Stopped, 0, 0, {}}, first{S::State::Recording, 1, 0, {}},
        behind{S::State::Recording, 2, 3, {}}, slow{S::State::SlowDisk, 0, 0, {}},
        full{S::State::Failed, 0, 2, QStringLiteral("磁盘已满")};
    const struct {
        S before, after;
        const char* text;  // nullptr: no entry
    } cases[] = {{notStarted, notStarted, nullptr},
                 {notStarted, stopped, nullptr},
                 {notStarted, first, "开始记录"},
                 {first, behind, nullptr},
                 {first, slow, nullptr},
                 {first, full, "记录已停止：磁盘已满，每秒重试"},
                 {full, behind, "开始记录"},
                 {first, stopped, "记录已停止"},
                 {first, notStarted, nullptr}};
    for (const auto& c : cases) {
        const auto e = events::recorderEntry(c.before, c.after);
        EXPECT_EQ(e ? e->text.toStdString() : "-", c.text ? c.text : "-");
    }
}

// A file written before events had codes reads and shows as before, untouched while read only;
// opened to write, it gains the code columns beside its rows, which stay as they were.
TEST(EventStore, AnOlderFileShowsAsBeforeAndGainsTheCodeColumns) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    ASSERT_TRUE(record_test::exec(
        path, QStringLiteral(
                  "CREATE TABLE events (id INTEGER PRIMARY KEY, at TEXT, kind TEXT, text TEXT, "
                  "reg INTEGER, value INTEGER, status INTEGER)")));
    ASSERT_TRUE(record_test::exec(
        path, QStringLiteral("INSERT INTO events (at, kind, text) VALUES "
                             "('2026-01-02 08:00:00.000', 'link', '设备已断开：/dev/ttyUSB0')")));
    const QByteArray untouched = record_test::fileBytes(path);
    const auto rows = [&] {
        events::EventStore store(path, QStringLiteral("older"));
        EXPECT_TRUE(store.open(/*readOnly=*/true)) << store.lastError().toStdString();
        events::EventFilter f;
        f.newestFirst = false;
        return store.load(f);
    };
    std::vector<EventEntry> got = rows();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(record_test::fileBytes(path), untouched);
    EXPECT_TRUE(got[0].code.isEmpty());
    EXPECT_EQ(events::eventText(got[0]), QStringLiteral("设备已断开：/dev/ttyUSB0"));
    EXPECT_TRUE(events::linkWentDown(got[0]));

    std::vector<EventEntry> batch{events::linkEntry(comm::LinkEvent::Silent, QString())};
    batch[0].at = QDateTime(QDate(2026, 1, 2), QTime(9, 0));
    {
        events::EventStore store(path, QStringLiteral("older-written"));
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
        ASSERT_TRUE(store.append(batch));
    }
    got = rows();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text, QStringLiteral("设备已断开：/dev/ttyUSB0"));
    EXPECT_TRUE(got[0].code.isEmpty() && got[0].args.isEmpty());
    EXPECT_EQ(std::tuple(got[1].code, got[1].text),
              std::tuple(QStringLiteral("link.silent"), QStringLiteral("仪表停止应答")));
    EXPECT_EQ(record_test::scalar(path, "SELECT at_ms FROM events WHERE id = 2").toLongLong(),
              batch[0].at.toMSecsSinceEpoch());
}

// Lets the log work until its file holds n rows (bounded).
void awaitRows(const QString& path, int n) {
    QElapsedTimer t;
    t.start();
    while (record_test::scalar(path, "SELECT count(*) FROM events").toInt() < n &&
           t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Each row's code (its text where it has none) in the order stored.
std::string codesInOrder(const QString& path) {
    return record_test::scalar(path,
                               "SELECT group_concat(coalesce(code, text), ' ') FROM "
                               "(SELECT code, text FROM events ORDER BY id)")
        .toString()
        .toStdString();
}

// While the copied rows' source cannot be read (the user store busy), the log's own entries wait
// for it a while: a row it then gives, stamped before them, is stored before them. At the end
// nothing waits: an entry logged while the source still fails is stored all the same.
TEST(EventLog, OwnEntriesWaitForACopiesSourceThatCannotBeReadNow) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    std::atomic<int> asked{0};
    std::atomic<bool> failing{true};
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    events::setCopiedRowsSource([&, before]() -> events::CopiedRows {
        return [&, before, given = false]() mutable -> std::optional<std::vector<EventEntry>> {
            if (++asked <= 3 || (given && failing)) return std::nullopt;
            if (given) return std::vector<EventEntry>{};
            given = true;
            EventEntry e = events::codedEntry(QStringLiteral("audit"), "user.login.failed");
            e.at = before;
            return std::vector<EventEntry>{e};
        };
    });
    {
        events::EventLog log(path);
        log.start();
        log.log({0, QDateTime(), "recorder", "备注", {}, {}, {}});
        awaitRows(path, 2);
        log.log({0, QDateTime(), "recorder", "最后", {}, {}, {}});
    }
    events::setCopiedRowsSource(nullptr);
    EXPECT_EQ(codesInOrder(path), "user.login.failed 备注 最后");
}

// A copied row stamped with the very millisecond of one of the log's own entries was in the
// other store when it was read: it is stored first.
TEST(EventLog, ACopyOnTheSameMillisecondGoesFirst) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    const QDateTime at = QDateTime::currentDateTime();
    std::atomic<bool> own{false};
    events::setCopiedRowsSource([&, at]() -> events::CopiedRows {
        return
            [&, at, given = false, unread = 2]() mutable -> std::optional<std::vector<EventEntry>> {
                // Unreadable for a moment once the log's own entry is there, so that it waits and
                // the copy comes beside it.
                if (given || !own) return std::vector<EventEntry>{};
                if (unread-- > 0) return std::nullopt;
                given = true;
                EventEntry e = events::codedEntry(QStringLiteral("audit"), "user.login.failed");
                e.at = at;
                return std::vector<EventEntry>{e};
            };
    });
    {
        events::EventLog log(path);
        log.start();
        log.log({0, at, "recorder", "备注", {}, {}, {}});
        own = true;
        awaitRows(path, 2);
    }
    events::setCopiedRowsSource(nullptr);
    EXPECT_EQ(codesInOrder(path), "user.login.failed 备注");
}

TEST(EventLog, StoresOffTheCallersThreadAndAnswersQueries) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    const QString csv = dir.filePath(QStringLiteral("events.csv"));
    {
        events::EventLog log(path);
        log.start();
        for (int n = 0; n < 250; ++n)
            log.log(numbered(n));
        QVector<EventEntry> rows;
        qint64 exported = -2;
        base::Phrase failed;
        QObject::connect(&log, &events::EventLog::rowsLoaded,
                         [&](quint64, const QVector<EventEntry>& r) { rows = r; });
        QObject::connect(&log, &events::EventLog::exported,
                         [&](quint64, qint64 count, const base::Phrase& why) {
                             if (count >= 0)
                                 exported = count;
                             else
                                 failed = why;
                         });
        events::EventFilter f;
        f.limit = 10;
        log.requestRows(f);
        log.exportCsv(csv, {});
        // A file that cannot be written is named, its words put into the shown language later.
        const QString nowhere = dir.filePath(QStringLiteral("missing/events.csv"));
        log.exportCsv(nowhere, {});
        QElapsedTimer t;
        t.start();
        while ((rows.isEmpty() || exported == -2 || failed.isEmpty()) && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_EQ(rows.size(), 10);
        EXPECT_EQ(rows.front().text, QStringLiteral("事件 249"));
        EXPECT_EQ(exported, 250);
        EXPECT_EQ(failed.text(base::Lang::Stored), QStringLiteral("无法写入文件 ") + nowhere);
        EXPECT_TRUE(log.statusText().isEmpty());
        // Entries still waiting at the end are stored before the thread ends.
        log.log(numbered(250));
    }
    EXPECT_EQ(record_test::scalar(path, "SELECT max(text) FROM events WHERE text = '事件 250'")
                  .toString(),
              QStringLiteral("事件 250"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    EXPECT_TRUE(data.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(data.count("\r\n"), 251);  // header and rows, CRLF
    // The audit trail's columns follow, empty but for the time with its offset.
    EXPECT_TRUE(data.contains("2026-01-02 03:04:05.001,link,事件 1,,,,,,,,2026-01-02 03:04:05 "));
    EXPECT_TRUE(data.contains(
        "2026-01-02 03:04:05.248,write,事件 248,4105,-248,0,,,,,2026-01-02 03:04:05 "));
}

// The log checks the file's chains when it opens it: a row changed beside the program, or the
// chain stripped of its hashes, is logged as a break (naming the row), an intact file logs nothing.
TEST(EventLog, ChecksTheChainsAtStart) {
    struct Case {
        const char* sql;
        const char* logged;
        int rows;  // looked at before the break
    };
    const Case cases[] = {
        {"", "", 5},
        {"UPDATE events SET value = 7 WHERE id = 3", "完整性校验失败：事件记录第 3 行已被更改", 3},
        {"UPDATE events SET hash = NULL", "完整性校验失败：事件记录第 1 行已被更改", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        const bool changed = *c.sql != 0;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
        {
            events::EventStore store(path, QStringLiteral("chain"));
            ASSERT_TRUE(store.open());
            std::vector<EventEntry> rows;
            for (int n = 0; n < 5; ++n)
                rows.push_back(numbered(n));
            ASSERT_TRUE(store.append(rows));
        }
        if (changed) {
            ASSERT_TRUE(record_test::exec(path, QString::fromUtf8(c.sql)));
        }
        std::optional<store::ChainReport> report;
        {
            events::EventLog log(path);
            QObject::connect(&log, &events::EventLog::chainsChecked,
                             [&](const store::ChainReport& r) { report = r; });
            log.start();
            QElapsedTimer t;
            t.start();
            while (!report && t.elapsed() < 30000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            // The status bar says so too.
            EXPECT_EQ(log.statusText().contains(QStringLiteral("完整性校验失败")), changed);
        }
        ASSERT_TRUE(report);
        EXPECT_EQ(report->intact, !changed);
        EXPECT_EQ(report->rows, c.rows);
        const QVariant text = record_test::scalar(
            path, QStringLiteral("SELECT text FROM events WHERE code = 'chain.broken'"));
        EXPECT_EQ(text.toString(), QString::fromUtf8(c.logged));
    }
}

}  // namespace
