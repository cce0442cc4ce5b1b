#include "shell/exportcommand.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>
#include <cstdio>

#include "auth/audit.h"
#include "auth/userstore.h"
#include "base/tr.h"
#include "chamber/auditrow.h"
#include "events/eventstore.h"
#include "forward/forwardsetup.h"
#include "report/report.h"
#include "report/signatures.h"
#include "runs/runcontrol.h"
#include "shell/accesscommand.h"
#include "shell/application.h"
#include "shell/settings.h"
#include "store/csvexport.h"
#include "store/exportfile.h"
#include "store/store.h"

namespace shell {

namespace {

int failWith(int status, const QString& line) {
    std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(line));
    return status;
}

// With access control on, what the command line wrote goes into the database's audit trail, as
// an export from a window does, naming who wrote it.
void recordExport(const QString& db, const QString& what, const QString& file,
                  const QString& who = {}) {
    auth::UserStore users(userStorePath(), QStringLiteral("export-users"));
    if (users.open(/*create=*/false) != auth::StoreState::Ready || !users.accessControl()) return;
    events::EventStore events(db, QStringLiteral("export-audit"));
    if (!events.open()) return;
    base::Audit by;
    by.user = who;
    std::vector<events::EventEntry> rows{chamber::auditRow(
        QString::fromLatin1(auth::kExported), {who, what, QFileInfo(file).absoluteFilePath()}, by)};
    rows.front().at = QDateTime::currentDateTime();
    if (!events.append(rows))
        failWith(0, QStringLiteral("%1: %2").arg(db, base::shown(events.lastError())));
}

// A database named that is not there, in the words the exports use.
QString missingFile(const QString& db) {
    return base::Phrase{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件不存在：%1")), {db}}
        .text(base::Lang::Shown);
}

// Under access control records leave through the command line only in the hands of a user who
// proves who they are (--user, the password on standard input, as for settings). nullopt: the
// export may go on, *who the user (empty with access control off); else the exit status.
std::optional<int> identify(const Options& options, QString* who) {
    auth::UserStore users(userStorePath(), QStringLiteral("export-login"));
    // A store that cannot be read lets records be looked at, as the windows do.
    if (users.open(/*create=*/false) != auth::StoreState::Ready || !users.accessControl())
        return std::nullopt;
    if (options.user.isEmpty())
        return failWith(2, base::Tr::tr("访问控制已开启：从命令行导出记录须给出用户（--user），"
                                        "密码从标准输入读取"));
    const auto password = readPassword(base::Tr::tr("用户 %1 的密码：").arg(options.user));
    if (!password) return failWith(2, base::Tr::tr("标准输入没有提供密码"));
    const auth::Outcome o = users.authenticate(options.user, *password);
    if (o != auth::Outcome::Done) return failWith(1, auth::outcomeText(o));
    *who = options.user.trimmed();
    return std::nullopt;
}

}  // namespace

int runExport(const Options& options) {
    const QString db =
        options.db.isEmpty() ? Application::defaultDatabasePath(options.profile) : options.db;
    const bool records = !options.exportCsv.isEmpty();
    const QString target = records ? options.exportCsv : options.exportEvents;
    QString who;
    if (const auto refused = identify(options, &who)) return *refused;

    store::CsvExport samples(db, QStringLiteral("velmars-export"));
    events::EventStore events(db, QStringLiteral("events-export"));
    if (records && !samples.open()) return failWith(2, samples.error().text(base::Lang::Shown));
    if (!records && !events.open(/*readOnly=*/true))
        return failWith(2, QStringLiteral("%1: %2").arg(db, base::shown(events.lastError())));

    const store::ExportOutcome done =
        store::exportTo(target, [&](QIODevice& out, QString* error) -> std::optional<qint64> {
            if (records) {
                const auto rows = samples.write(out, {options.from, options.to});
                if (!rows) *error = samples.error().text(base::Lang::Shown);
                return rows;
            }
            events::EventFilter filter;
            filter.from = options.from;
            filter.to = options.to;
            const qint64 rows = events::writeEventsCsv(events, filter, out);
            if (rows < 0) *error = base::shown(events.lastError());
            return rows < 0 ? std::nullopt : std::optional<qint64>(rows);
        });
    if (!done.writeError.isEmpty())
        return failWith(1, base::Tr::tr("无法写入 %1：%2").arg(target, done.writeError));
    if (!done.rows) return failWith(2, done.readError);
    recordExport(db, records ? QStringLiteral("csv") : QStringLiteral("events"), target, who);
    std::fprintf(stderr, "%lld\n", static_cast<long long>(*done.rows));
    return 0;
}

namespace {

// The run --run names or the span --from/--to of the database, as a report's request with the
// subject its signatures are kept under; ended: whether its data are complete. The exit status
// when the database or the run cannot be read or found (its line on stderr).
std::optional<int> subjectOf(const Options& options, const QString& db,
                             report::ReportRequest& request, bool& ended) {
    if (options.run) {
        runs::RunStore store(db, QStringLiteral("report-runs"));
        if (!QFileInfo::exists(db)) return failWith(2, missingFile(db));
        if (!store.open(/*readOnly=*/true))
            return failWith(2, QStringLiteral("%1: %2").arg(db, base::shown(store.lastError())));
        const auto run = store.find(*options.run);
        if (!run) {
            const QString why = store.lastError().isEmpty()
                                    ? base::Tr::tr("没有名为“%1”的试验").arg(*options.run)
                                    : store.failure().text(base::Lang::Shown);
            return failWith(2, QStringLiteral("%1: %2").arg(db, why));
        }
        request = runs::reportRequest(*run, db, QDateTime::currentSecsSinceEpoch());
        ended = run->end.has_value();
    } else {
        store::SampleStore store(db, QStringLiteral("report-extent"));
        if (!QFileInfo::exists(db)) return failWith(2, missingFile(db));
        if (!store.open(store::SampleStore::Access::ReadOnly))
            return failWith(2, QStringLiteral("%1: %2").arg(db, base::shown(store.lastError())));
        const auto extent = store.archiveExtent();
        if (!extent && !(options.from && options.to))
            return failWith(
                2, QStringLiteral("%1: %2").arg(db, base::Tr::tr("数据库中没有归档的数据")));
        request.dbPath = db;
        request.from = extent ? extent->first : 0;
        request.to = extent ? extent->second : 0;
        request.subject.name = options.title;
        request.subject.station =
            options.station.value_or(forward::keptStationName(*settingsFile()));
        if (request.subject.station.isEmpty())
            request.subject.station = QSysInfo::machineHostName();
    }
    const std::pair<int64_t, int64_t> own{request.from, request.to};
    if (options.from) request.from = options.from->toSecsSinceEpoch();
    if (options.to) request.to = options.to->toSecsSinceEpoch();
    const int64_t now = QDateTime::currentSecsSinceEpoch();
    // Part of a run is a span: its signatures are the span's, not the run's.
    if (!options.run || own != std::pair{request.from, request.to}) {
        request.signatureSubject = report::spanSubject(request.from, request.to);
        ended = request.to < now;
    }
    return std::nullopt;
}

}  // namespace

int runReport(const Options& options) {
    const QString db =
        options.db.isEmpty() ? Application::defaultDatabasePath(options.profile) : options.db;
    // A signer proves who they are with their signature's password.
    QString who = options.sign;
    if (options.sign.isEmpty())
        if (const auto refused = identify(options, &who)) return *refused;
    report::ReportRequest request;
    bool ended = true;
    if (const auto failed = subjectOf(options, db, request, ended)) return *failed;
    request.pdfPath = options.report;
    request.csvPath = options.reportCsv;
    const int64_t now = QDateTime::currentSecsSinceEpoch();
    auth::UserStore users(userStorePath(), QStringLiteral("report-users"));
    users.open(/*create=*/false);
    request.access = report::accessNotes(users, now, db);
    if (!options.sign.isEmpty()) {
        report::SignOutcome o = report::maySign(users);
        const auto password = o.status == 0
                                  ? readPassword(base::Tr::tr("用户 %1 的密码：").arg(options.sign))
                                  : std::nullopt;
        if (o.status == 0 && !password) o = {2, base::Tr::tr("标准输入没有提供密码")};
        if (o.status == 0) {
            o = report::sign(users,
                             {options.sign, *password, *report::meaningFromKey(options.meaning),
                              request.signatureSubject, ended, request.to},
                             request.dbPath,
                             [&](QString* error) { return report::dataDigest(request, error); });
        }
        if (o.status != 0) return failWith(o.status, o.why);
    }
    const report::ReportOutcome outcome = report::makeReport(request);
    if (!outcome.written())
        return failWith(outcome.end == report::ReportOutcome::End::Unwritten ? 1 : 2,
                        outcome.error);
    recordExport(db, QStringLiteral("report"), options.report, who);
    std::fprintf(stderr, "%s\n", qUtf8Printable(options.report));
    return 0;
}

int runRelease(const Options& options) {
    const QString db =
        options.db.isEmpty() ? Application::defaultDatabasePath(options.profile) : options.db;
    report::ReportRequest request;
    bool ended = true;
    if (const auto failed = subjectOf(options, db, request, ended)) return *failed;
    auth::UserStore users(userStorePath(), QStringLiteral("release-users"));
    users.open(/*create=*/false);
    report::SignOutcome o = report::maySign(users);
    const auto password = o.status == 0
                              ? readPassword(base::Tr::tr("管理员 %1 的密码：").arg(options.user))
                              : std::nullopt;
    if (o.status == 0 && !password) o = {2, base::Tr::tr("标准输入没有提供密码")};
    if (o.status == 0)
        o = report::release(
            users, {options.user, *password, options.reason, request.signatureSubject}, db);
    if (o.status != 0) return failWith(o.status, o.why);
    std::printf(
        "%s\n",
        qUtf8Printable(
            base::Tr::tr("%1 已签名的数据已交由保留期限删除").arg(request.signatureSubject)));
    return 0;
}

}  // namespace shell
