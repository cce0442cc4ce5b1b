// Signatures on reports: the order meanings may come in, and the whole path through the real
// program: seconds recorded from the simulated instrument, a run over them, signed from the command
// line with the password on standard input, the signature block on every page read back with
// pdftotext, the refusals (wrong password, a role too low, approval before review, bad input)
// writing no file, the signed run frozen, and data changed after signing named on the pages.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "auth/userstore.h"
#include "base/oledate.h"
#include "events/eventstore.h"
#include "pdftext.h"
#include "report/auditreview.h"
#include "report/signatures.h"
#include "runs/runs.h"
#include "sqlrows.h"
#include "store/csvexport.h"
#include "store/schema.h"
#include "store/store.h"

using report::Meaning;

namespace {

TEST(Signatures, MeaningsComeInOrder) {
    const auto signedAs = [](std::initializer_list<Meaning> ms) {
        std::vector<report::Signature> out;
        for (Meaning m : ms)
            out.push_back({QString(), QString(), QString(), QString(), m, 0, 0});
        return out;
    };
    struct Case {
        const char* what;
        Meaning meaning;
        bool ended;
        std::vector<report::Signature> before;
        const char* refusal;  // empty: allowed
    };
    const Case cases[] = {
        {"performed on a run going on", Meaning::Performed, false, {}, "试验尚未结束，不能签名"},
        {"review of a run going on", Meaning::Reviewed, false, {}, "试验尚未结束，不能签名"},
        {"approval of a run going on", Meaning::Approved, false, signedAs({Meaning::Reviewed}),
         "试验尚未结束，不能签名"},
        {"performed", Meaning::Performed, true, {}, ""},
        {"review first", Meaning::Reviewed, true, {}, ""},
        {"a second review", Meaning::Reviewed, true, signedAs({Meaning::Reviewed}), ""},
        {"approval alone", Meaning::Approved, true, {}, "尚未审核，不能批准"},
        {"approval after performed only", Meaning::Approved, true, signedAs({Meaning::Performed}),
         "尚未审核，不能批准"},
        {"approval after review", Meaning::Approved, true,
         signedAs({Meaning::Performed, Meaning::Reviewed}), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(report::sequenceRefusal(c.meaning, c.ended, c.before).words,
                  QString::fromUtf8(c.refusal))
            << c.what;
    // What the command line and the file take, and nothing else.
    for (Meaning m : {Meaning::Performed, Meaning::Reviewed, Meaning::Approved})
        EXPECT_EQ(report::meaningFromKey(report::meaningKey(m)), m);
    EXPECT_FALSE(report::meaningFromKey(QStringLiteral("approved")));
    EXPECT_FALSE(report::meaningFromKey(QString()));
}

// What the program's own signing path cannot show (the case of a user id, the laboratory's
// setting, the pairs of meanings in either order); a repeated meaning, the reviewer's approval and
// the orders allowed are in SignedRunThroughTheProgram's steps, through the program.
TEST(Signatures, WhoMaySignAfterWhom) {
    const auto by = [](std::initializer_list<std::pair<const char*, Meaning>> ss) {
        std::vector<report::Signature> out;
        for (const auto& [user, m] : ss)
            out.push_back({QString(), QString(), QString::fromUtf8(user), QString(), m, 0, 0});
        return out;
    };
    const struct {
        const char* what;
        Meaning meaning;
        const char* user;
        std::vector<report::Signature> before;
        bool labAllows;
        const char* refusal;  // empty: allowed
    } cases[] = {
        {"in another case", Meaning::Performed, "QA", by({{"qa", Meaning::Performed}}), true,
         "%1 已以“%2”签过名"},
        {"another's review", Meaning::Reviewed, "qb", by({{"qa", Meaning::Reviewed}}), false, ""},
        {"the approver reviews", Meaning::Reviewed, "qa",
         by({{"qb", Meaning::Reviewed}, {"qa", Meaning::Approved}}), false,
         "同一人不能既审核又批准"},
        {"where the laboratory allows it", Meaning::Approved, "qa", by({{"qa", Meaning::Reviewed}}),
         true, ""},
        {"the performer approves", Meaning::Approved, "qa",
         by({{"qa", Meaning::Performed}, {"qb", Meaning::Reviewed}}), false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(report::signerRefusal(c.meaning, QString::fromUtf8(c.user), c.before, c.labAllows)
                      .words,
                  QString::fromUtf8(c.refusal))
            << c.what;
}

TEST(Signatures, AccessControlSwitchedOffIsNoted) {
    QTemporaryDir dir;
    qint64 nowMs = 1'000'000;
    auth::UserStore store(dir.filePath("users.db"), "notes", auth::HashCost::interactive(),
                          [&] { return nowMs; });
    using Spans = std::vector<std::pair<int64_t, int64_t>>;
    const auto expect = [&](bool offNow, const Spans& spans, const char* what) {
        const report::AccessNotes n = report::accessNotes(store, 9000, dir.path());
        EXPECT_EQ(n.offNow, offNow) << what;
        EXPECT_EQ(n.offSpans, spans) << what;
        // On, in a folder this account may write: the records are in its hands.
        EXPECT_EQ(n.unprotected, !offNow) << what;
    };
    expect(true, {}, "no user store");
    ASSERT_EQ(store.open(true), auth::StoreState::Ready);
    ASSERT_EQ(store.createFirstAdmin("qa", "李 质量", "Sup-Secret-77"), auth::Outcome::Done);
    expect(false, {}, "on since the first administrator");
    nowMs = 2'000'000;
    ASSERT_EQ(store.setAccessControl("qa", false), auth::Outcome::Done);
    nowMs = 3'000'000;
    ASSERT_EQ(store.setAccessControl("qa", true), auth::Outcome::Done);
    expect(false, {{2000, 3000}}, "off a while");
    nowMs = 4'000'000;
    ASSERT_EQ(store.setAccessControl("qa", false), auth::Outcome::Done);
    expect(true, {{2000, 3000}, {4000, 9000}}, "off again until now");

    // A store that cannot be read says nothing either way: the report must not claim "off".
    QTemporaryDir other;
    QFile foreign(other.filePath("users.db"));
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write(QByteArray(4096, 'x'));
    foreign.close();
    auth::UserStore unusable(foreign.fileName(), "unusable", auth::HashCost::interactive());
    ASSERT_EQ(unusable.open(false), auth::StoreState::Unusable);
    const report::AccessNotes n = report::accessNotes(unusable, 9000, other.path());
    EXPECT_FALSE(n.offNow);
    EXPECT_TRUE(n.unknown);
}

struct Ran {
    int status = -1;
    QByteArray out, err;
};

// The pages' texts, each ending at its footer's page number.
QStringList pagesOf(const QString& pdf) {
    QStringList pages = testsupport::pdfText(pdf).split(
        QRegularExpression(QStringLiteral("第 \\d+ 页，共 \\d+ 页")));
    pages.removeLast();  // what follows the last footer
    return pages;
}

Ran velmars(const QString& home, const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("APPDATA", home + "/data");  // Windows: the settings and data folder
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars", args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000)) return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// Every page says each of has and none of hasNot.
::testing::AssertionResult onEveryPage(const QStringList& pages, const QStringList& has,
                                       const QStringList& hasNot = {}) {
    if (pages.isEmpty()) return ::testing::AssertionFailure() << "no pages";
    for (const QString& page : pages)
        for (const QString& text : has + hasNot)
            if (page.contains(text) != has.contains(text))
                return ::testing::AssertionFailure()
                       << (has.contains(text) ? "no " : "a ") << text.toStdString() << " on "
                       << page.toStdString();
    return ::testing::AssertionSuccess();
}

// The statement that changes a stored second's first value beside the program.
QString changedSecond(qint64 t) {
    return QStringLiteral("UPDATE archive SET %1 = 99 WHERE t = %2")
        .arg(store::schema::valueColumns().first())
        .arg(t);
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(Signatures, SignedRunThroughTheProgram) {
    QTemporaryDir home;
    const QString db = home.filePath("chamber.db");
    // The program's data folder: XDG_DATA_HOME/velmars/velmars, on Windows %APPDATA%\velmars.
#ifdef _WIN32
    const char* folder = "data/velmars/";
#else
    const char* folder = "data/velmars/velmars/";
#endif
    const QString users =
        home.filePath(QLatin1String(folder) + QString::fromLatin1(auth::kUserStoreFileName));
    // A few seconds of the simulated instrument, recorded by the program.
    ASSERT_EQ(
        velmars(home.path(), {"--simulate", "--connect", "--db", db, "--quit-after", "4"}).status,
        0);
    std::optional<QPair<int64_t, int64_t>> extent;
    {
        store::SampleStore samples(db, "extent");
        ASSERT_TRUE(samples.open(store::SampleStore::Access::ReadOnly));
        extent = samples.archiveExtent();
    }
    ASSERT_TRUE(extent);
    // Enough events in the span for the report to run onto further pages.
    {
        events::EventStore log(db, "events");
        ASSERT_TRUE(log.open());
        std::vector<events::EventEntry> notes;
        for (int i = 0; i < 80; ++i)
            notes.push_back({0,
                             QDateTime::fromSecsSinceEpoch(extent->first),
                             "recorder",
                             QStringLiteral("备注 %1").arg(i),
                             {},
                             {},
                             {}});
        ASSERT_TRUE(log.append(notes));
    }
    // The run over them, ended.
    runs::Run run;
    {
        runs::RunStore runs(db, "make-run");
        ASSERT_TRUE(runs.open());
        run.name = "稳定性 25 °C / 60 %RH";
        run.start = extent->first;
        ASSERT_TRUE(runs.start(run));
        ASSERT_TRUE(runs.stop(extent->second));
    }
    // An administrator (who may sign) and an operator (who may not).
    const QByteArray admin = "Sup-Secret-77";
    ASSERT_EQ(velmars(home.path(), {"--create-admin", "qa", "--full-name", "李 质量"},
                      admin + "\n" + admin + "\n")
                  .status,
              0);
    {
        auth::UserStore store(users, "add-operator");
        ASSERT_EQ(store.open(false), auth::StoreState::Ready);
        ASSERT_EQ(store.createAccount("qa", "op", "王 操作", auth::Role::Operator, "Op-Secret-88"),
                  auth::Outcome::Done);
        ASSERT_EQ(store.changePassword("op", "Op-Secret-88", "Op-Secret-99"), auth::Outcome::Done);
        ASSERT_EQ(
            store.createAccount("qa", "qb", "张 批准", auth::Role::Administrator, "Apr-Secret-44"),
            auth::Outcome::Done);
        ASSERT_EQ(store.changePassword("qb", "Apr-Secret-44", "Apr-Secret-55"),
                  auth::Outcome::Done);
    }
    const QByteArray approver = "Apr-Secret-55";

    const QString pdf = home.filePath("signed.pdf");
    const QStringList report = {"--db", db, "--report", pdf, "--run", run.name};
    const auto sign = [&](const char* user, const char* meaning) {
        return report + QStringList{"--sign", user, "--meaning", meaning};
    };
    struct Step {
        const char* what;
        QStringList args;
        QByteArray input;
        int status;
        const char* err;  // in stderr's line
    };
    const Step steps[] = {
        {"approval before review", sign("qa", "批准"), admin + "\n", 1, "尚未审核，不能批准"},
        {"wrong password", sign("qa", "审核"), "Sup-Secret-78\n", 1, "用户名或密码错误"},
        {"unknown user", sign("nobody", "审核"), admin + "\n", 1, "用户名或密码错误"},
        {"an operator", sign("op", "审核"), "Op-Secret-99\n", 1, "需要"},
        {"no password", sign("qa", "审核"), "", 2, "标准输入没有提供密码"},
        {"unknown meaning", report + QStringList{"--sign", "qa", "--meaning", "同意"}, admin + "\n",
         2, "--meaning"},
        {"meaning alone", report + QStringList{"--meaning", "审核"}, admin + "\n", 2, ""},
        {"review", sign("qa", "审核"), admin + "\n", 0, ""},
        {"the same review again", sign("qa", "审核"), admin + "\n", 1, "已以“审核”签过名"},
        {"the reviewer approves", sign("qa", "批准"), admin + "\n", 1, "同一人不能既审核又批准"},
        {"approval", sign("qb", "Approved"), approver + "\n", 0, ""},
    };
    for (const Step& s : steps) {
        QFile::remove(pdf);
        const Ran r = velmars(home.path(), s.args, s.input);
        EXPECT_EQ(r.status, s.status) << s.what << ": " << r.err.toStdString();
        EXPECT_EQ(QFile::exists(pdf), s.status == 0) << s.what;
        EXPECT_TRUE(r.err.contains(s.err)) << s.what << ": " << r.err.toStdString();
    }

    // Every page of a later report shows both signatures and that the data are as signed. Under
    // access control the report leaves in the hands of a user who gives their password.
    const QStringList byQa = report + QStringList{"--user", "qa"};
    EXPECT_EQ(velmars(home.path(), report).status, 2);
    ASSERT_EQ(velmars(home.path(), byQa, admin + "\n").status, 0);
    const QStringList pages = pagesOf(pdf);
    ASSERT_GE(pages.size(), 2);
    EXPECT_TRUE(
        onEveryPage(pages,
                    {"电子签名", "李 质量（用户 qa） 含义：审核", "张 批准（用户 qb） 含义：批准",
                     "数据与签名时一致", "记录未受保护：生成此报告的账户可以改写记录文件"},
                    {"访问控制未开启"}));
    // The same data with the report in English are the data signed: the words are not signed.
    ASSERT_EQ(velmars(home.path(), byQa + QStringList{"--lang", "en"}, admin + "\n").status, 0);
    const QString english = testsupport::pdfText(pdf);
    EXPECT_TRUE(english.contains("The data are as signed")) << english.toStdString();
    ASSERT_EQ(velmars(home.path(), byQa + QStringList{"--lang", "zh"}, admin + "\n").status, 0);
    // The signatures are checked against the chained rows they were stored with: a meaning
    // rewritten, or every signature deleted, past the file's own triggers, is found; so is a run
    // changed beside the program.
    {
        struct Tampering {
            const char* what;
            const char* sql;
            int exit;
        };
        const Tampering tamperings[] = {
            {"untouched", "", 0},
            {"meaning rewritten",
             "DROP TRIGGER signatures_never_changed; UPDATE signatures SET meaning = '批准' WHERE "
             "meaning = '审核'",
             1},
            {"signatures deleted", "DROP TRIGGER signatures_never_removed; DELETE FROM signatures",
             1},
            {"run renamed", "UPDATE runs SET name = 'x'", 1},
            {"run's band widened", "UPDATE runs SET band1_fixed = 0, band1_pm = 50", 1},
            {"run's end moved", "UPDATE runs SET end_t = end_t + 3600", 1},
            {"signature added",
             "INSERT INTO signatures (subject, digest, user_id, full_name, meaning, at_ms, "
             "utc_offset) SELECT subject, digest, 'boss', '王 老板', meaning, at_ms, utc_offset "
             "FROM signatures LIMIT 1",
             1},
        };
        for (const Tampering& t : tamperings) {
            const QString copy = home.filePath(QStringLiteral("copy-%1.db").arg(&t - tamperings));
            // Through a connection of the test's own, as the sqlite3 tool would (which a Windows
            // test cannot run).
            ASSERT_TRUE(testsupport::sqlExec(db, QStringLiteral("VACUUM INTO '%1'").arg(copy)));
            if (*t.sql) {
                ASSERT_TRUE(testsupport::sqlExec(copy, QString::fromUtf8(t.sql))) << t.what;
            }
            const Ran r = velmars(home.path(), {"--verify", "--db", copy});
            EXPECT_EQ(r.status, t.exit) << t.what << ": " << r.out.toStdString();
        }
    }
    // Each report written is in the audit trail, with who wrote it: its signer, or the user named.
    EXPECT_EQ(testsupport::sqlRows(
                  db, "SELECT user_id FROM events WHERE code = 'audit.exported' ORDER BY id"),
              QStringList({"qa", "qb", "qa", "qa", "qa"}));
    // Each signature's row names its signer; a signer's password check is no login, while the user
    // named for a report (--user) logs in for it.
    EXPECT_EQ(testsupport::sqlRows(
                  db, "SELECT user_id FROM events WHERE code = 'report.signed' ORDER BY id"),
              QStringList({"qa", "qb"}));
    EXPECT_EQ(testsupport::sqlRows(users, "SELECT user FROM access_events WHERE code = 'login'"),
              QStringList({"qa", "qa", "qa"}));
    EXPECT_EQ(testsupport::sqlRows(
                  users, "SELECT user FROM access_events WHERE code = 'signature.checked'"),
              QStringList({"qa", "op", "qa", "qa", "qa", "qb"}));
    // A span is signed apart from the run over the same seconds.
    const auto local = [](int64_t t) {
        return QDateTime::fromSecsSinceEpoch(t).toString("yyyy-MM-dd HH:mm:ss");
    };
    const QStringList span = {
        "--db", db, "--report", pdf, "--from", local(extent->first), "--to", local(extent->second)};
    ASSERT_EQ(
        velmars(home.path(), span + QStringList{"--sign", "qa", "--meaning", "执行"}, admin + "\n")
            .status,
        0);
    EXPECT_TRUE(onEveryPage(pagesOf(pdf), {"含义：执行"}, {"含义：审核"}));
    // Part of the run is no run: none of the run's signatures go on it.
    ASSERT_LT(extent->first, extent->second);
    ASSERT_EQ(
        velmars(home.path(), byQa + QStringList{"--to", local(extent->first)}, admin + "\n").status,
        0);
    EXPECT_TRUE(onEveryPage(pagesOf(pdf), {}, {"电子签名"}));

    // No password in anything written.
    for (const QString& file : {db, db + "-wal", users, users + "-wal", pdf})
        for (const QByteArray& pw :
             {admin, approver, QByteArray("Sup-Secret-78"), QByteArray("Op-Secret-99")})
            EXPECT_FALSE(bytesOf(file).contains(pw)) << file.toStdString();

    // The signed run is frozen.
    {
        runs::RunStore runs(db, "frozen");
        ASSERT_TRUE(runs.open());
        EXPECT_FALSE(runs.remove(run.id));
        EXPECT_EQ(runs.lastError(), "试验已签名，不能更改或删除");
        EXPECT_EQ(runs.list().size(), 1u);
    }
    // Retention drops the signed run's seconds only once an administrator released them for a
    // reason: the decision is a row of the audit trail, and the pages name it.
    const QStringList release = {"--db", db, "--release-signed", "--run", run.name, "--user"};
    const QStringList why = {"--reason", "归档已移交"};
    const Step releases[] = {
        {"without a reason", release + QStringList{"qa"}, admin + "\n", 2, "--reason"},
        {"an operator", release + QStringList{"op"} + why, "Op-Secret-99\n", 1, "需要"},
        {"wrong password", release + QStringList{"qa"} + why, "Sup-Secret-78\n", 1,
         "用户名或密码错误"},
        {"an unsigned span",
         QStringList{"--db", db, "--release-signed", "--from", local(extent->first), "--to",
                     local(extent->first), "--user", "qa"} +
             why,
         admin + "\n", 1, "没有签名"},
        {"the administrator", release + QStringList{"qa"} + why, admin + "\n", 0, ""},
        {"again", release + QStringList{"qb"} + why, approver + "\n", 1, "已由 qa"},
    };
    for (const Step& s : releases) {
        const Ran r = velmars(home.path(), s.args, s.input);
        EXPECT_EQ(r.status, s.status) << s.what << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(s.err)) << s.what << ": " << r.err.toStdString();
    }
    EXPECT_EQ(testsupport::sqlRows(db,
                                   "SELECT user_id || ' ' || reason || ' ' || args FROM events "
                                   "WHERE code = 'retention.released'"),
              QStringList({QStringLiteral("qa 归档已移交 [\"run:%1\",\"qa\"]").arg(run.id)}));
    EXPECT_EQ(velmars(home.path(), {"--verify", "--db", db}).status, 0);
    ASSERT_EQ(velmars(home.path(), byQa, admin + "\n").status, 0);
    EXPECT_TRUE(onEveryPage(
        pagesOf(pdf), {"将已签名的数据交由保留期限删除，原因：归档已移交", "数据与签名时一致"}));

    // A second changed beside the program: the pages say the data no longer match; the file
    // itself refuses to drop a signature.
    ASSERT_TRUE(testsupport::sqlExec(db, changedSecond(extent->first)));
    EXPECT_FALSE(testsupport::sqlExec(db, "DELETE FROM signatures"));
    ASSERT_EQ(velmars(home.path(), byQa, admin + "\n").status, 0);
    EXPECT_TRUE(onEveryPage(pagesOf(pdf), {"警告：数据与签名时不一致"}));

    // With access control switched off, a report says so on every page.
    ASSERT_EQ(
        velmars(home.path(), {"--access-control", "off", "--user", "qa"}, admin + "\n").status, 0);
    ASSERT_EQ(velmars(home.path(), report).status, 0);
    EXPECT_TRUE(onEveryPage(pagesOf(pdf), {"访问控制未开启"}));
}

// Signatures made on English reports by earlier versions were digested over the English column
// names and stale marks: the same data still read as signed, and the pages say how those were
// checked; data changed afterwards read as changed for them too.
TEST(Signatures, EnglishSignaturesOfEarlierVersionsStayChecked) {
    QTemporaryDir dir;
    const QString db = dir.filePath("chamber.db");
    const QDateTime t0(QDate(2026, 3, 2), QTime(9, 0, 0));
    {
        store::SampleStore store(db, "english-samples");
        ASSERT_TRUE(store.open(store::SampleStore::Access::Record));
        for (int i = 0; i < 6; ++i) {
            store::Sample s;
            s.id = i + 1;
            const QDateTime t = t0.addSecs(i);
            s.date = base::oleDate(t.date());
            s.time = base::oleTime(t.time());
            s.at = t.toSecsSinceEpoch();
            s.values = {23.4f + float(i), 60, 25, 60, 500, 600, 1, 2, 100, 0};
            s.stale = i >= 3;  // the last seconds carry the stale mark
            ASSERT_TRUE(store.storeSample(s));
        }
    }
    report::ReportRequest request;
    request.dbPath = db;
    request.pdfPath = dir.filePath("span.pdf");
    request.from = t0.toSecsSinceEpoch();
    request.to = request.from + 5;
    request.subject.name = "RUN-A";
    request.signatureSubject = report::spanSubject(request.from, request.to);

    // The rows as an English report wrote them then, with its words.
    QByteArray rows;
    {
        store::CsvExport csv(db, "english-rows");
        ASSERT_TRUE(csv.open());
        csv.setForm(store::CsvForm::Digest);
        QBuffer out(&rows);
        out.open(QIODevice::WriteOnly);
        ASSERT_TRUE(csv.write(out, {t0, t0.addSecs(5)}));
    }
    ASSERT_EQ(rows.count("数值过期"), 3);
    rows.replace("日期时间,PV1,PV2,SV1,SV2,变送1,变送2,ALM1类型,ALM2类型,输出1,输出2,数据状态",
                 "Date time,PV1,PV2,SV1,SV2,Retransmission 1,Retransmission 2,ALM1 type,ALM2 "
                 "type,Output 1,Output 2,Data state");
    rows.replace("数值过期", "stale");
    const QString english = report::dataDigest(
        request,
        QString::fromLatin1(QCryptographicHash::hash(rows, QCryptographicHash::Sha256).toHex()));
    QString error;
    const auto now = report::dataDigest(request, &error);
    ASSERT_TRUE(now) << error.toStdString();
    ASSERT_NE(english, *now);
    {
        report::SignatureStore signatures(db, "english-sign");
        const qint64 at = t0.addSecs(60).toMSecsSinceEpoch();
        ASSERT_TRUE(signatures.add(
            {request.signatureSubject, english, "qa", "李 质量", Meaning::Reviewed, at, 28800}));
        ASSERT_TRUE(signatures.add(
            {request.signatureSubject, *now, "qb", "张 批准", Meaning::Approved, at + 1, 28800}));
    }
    const char* const earlier = "其中 1 个签名由旧版程序按英文报告的列名计算摘要，核对一致";
    ASSERT_TRUE(report::makeReport(request).written());
    EXPECT_TRUE(onEveryPage(pagesOf(request.pdfPath), {"数据与签名时一致", earlier}, {"警告"}));

    // A stale second's value changed beside the program: neither signature holds any more.
    ASSERT_TRUE(testsupport::sqlExec(db, changedSecond(request.to)));
    ASSERT_TRUE(report::makeReport(request).written());
    EXPECT_TRUE(onEveryPage(pagesOf(request.pdfPath), {"警告：数据与签名时不一致"}, {earlier}));
}

TEST(Signatures, AuditTrailReview) {
    QTemporaryDir dir;
    const QString db = dir.filePath("chamber.db"), users = dir.filePath("users.db");
    const QString pdf = dir.filePath("review.pdf");
    const QDateTime t0(QDate(2026, 3, 2), QTime(9, 0, 0));
    {
        events::EventStore log(db, "review-log");
        ASSERT_TRUE(log.open());
        std::vector<events::EventEntry> rows;
        for (int i = 0; i < 3; ++i)
            rows.push_back({0, t0.addSecs(i), "write", QStringLiteral("SV1 → %1").arg(i), 1, i, 0});
        rows[1].user = "op7";
        rows[1].oldValue = "0";
        rows[1].newValue = "1";
        rows[1].reason = "复核温度";
        ASSERT_TRUE(log.append(rows));
    }
    const int64_t from = t0.toSecsSinceEpoch(), to = from + 60;
    auth::UserStore store(users, "review-users");
    ASSERT_EQ(store.open(true), auth::StoreState::Ready);
    ASSERT_EQ(store.createFirstAdmin("qa", "李 质量", "Sup-Secret-77"), auth::Outcome::Done);
    const auto digestOf = [&](QString* error) { return report::auditDigest(db, from, to, error); };
    const report::SignRequest review{"qa", "Sup-Secret-77", Meaning::Reviewed,
                                     report::auditSubject(from, to), true};
    // A PC clock behind the end of what is signed dates nothing.
    report::SignRequest early = review;
    early.notBefore = QDateTime::currentSecsSinceEpoch() + 3600;
    EXPECT_EQ(report::sign(store, early, db, digestOf).status, 1);
    EXPECT_EQ(report::sign(store, review, db, digestOf).status, 0);

    const report::AuditReviewRequest request{db, pdf, QString(), from, to, users};
    ASSERT_EQ(report::makeAuditReview(request), QString());
    // The copy and the pages carry the audit trail's columns, the times with their offset.
    QFile csv(dir.filePath("review.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n");
    EXPECT_TRUE(lines.value(0).endsWith(",用户,原值,新值,变更原因,时间（含时区）"))
        << lines.value(0).toStdString();
    EXPECT_TRUE(lines.value(2).contains(",op7,0,1,复核温度,")) << lines.value(2).toStdString();
    QStringList pages = pagesOf(pdf);
    ASSERT_FALSE(pages.isEmpty());
    EXPECT_TRUE(pages.front().contains("复核温度")) << pages.front().toStdString();
    EXPECT_TRUE(pages.front().contains("op7"));
    EXPECT_TRUE(pages.front().contains(QRegularExpression("09:00:01 [+-]\\d\\d:\\d\\d")));
    EXPECT_TRUE(pages.front().contains("完好：4 条事件记录")) << pages.front().toStdString();
    EXPECT_TRUE(pages.front().contains("SV1 → 2"));
    EXPECT_TRUE(onEveryPage(pages, {"李 质量（用户 qa） 含义：审核", "数据与签名时一致"}));

    // A row's text changed beside the program: the verdict names it and the signature no longer
    // matches.
    ASSERT_TRUE(testsupport::sqlExec(db, "UPDATE events SET text = 'SV1 → 9' WHERE id = 2"));
    // Into a file of its own: under Wine the reader of the first may still hold it open.
    const QString again = pdf + QStringLiteral(".again.pdf");
    ASSERT_EQ(report::makeAuditReview({db, again, QString(), from, to, users}), QString());
    pages = pagesOf(again);
    ASSERT_FALSE(pages.isEmpty());
    EXPECT_TRUE(pages.front().contains("已被更改：事件记录第 2 行起"))
        << pages.front().toStdString();
    EXPECT_TRUE(onEveryPage(pages, {"警告：数据与签名时不一致"}));
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
