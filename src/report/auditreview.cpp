#include "report/auditreview.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "auth/userstore.h"
#include "base/text.h"
#include "base/workerthread.h"
#include "events/eventstore.h"
#include "report/reportpdf.h"
#include "report/signatures.h"
#include "store/chain.h"

namespace report {

namespace {

// The most rows the PDF lists; the CSV holds them all.
constexpr qsizetype kListedAtMost = 5000;

events::EventFilter spanFilter(int64_t from, int64_t to) {
    events::EventFilter f;
    f.from = QDateTime::fromSecsSinceEpoch(from);
    f.to = QDateTime::fromSecsSinceEpoch(to);
    f.newestFirst = false;
    return f;
}

// The chains' verdict in the operator's words; nullopt with error when the file cannot be read.
std::optional<QString> verdict(const QString& dbPath, QString* error) {
    store::Database db(dbPath, base::uniqueName(QStringLiteral("review-verify")));
    if (!db.open(store::FileAccess::ReadOnly, 5000)) {
        *error = db.lastError();
        return std::nullopt;
    }
    store::ChainVerifier verifier(db);
    while (!verifier.done()) {
        if (!verifier.step()) {
            *error = db.lastError();
            return std::nullopt;
        }
    }
    const store::ChainReport& r = verifier.report();
    // Links made with the service's key that this account cannot read are not called intact.
    if (r.intact && !r.unchecked.isEmpty())
        return base::Tr::tr("未能核对：这些记录以服务的密钥链接，本账户无法读取该密钥");
    if (r.intact)
        return base::Tr::tr("完好：%1 条事件记录，%2 小时的存档样本").arg(r.rows).arg(r.hours);
    if (r.chain == u"events") return base::Tr::tr("已被更改：事件记录第 %1 行起").arg(r.at);
    if (r.chain == u"runs") return base::Tr::tr("已被更改：试验记录");
    return base::Tr::tr("已被更改：%1 起一小时的存档样本")
        .arg(base::timeWithOffset(QDateTime::fromSecsSinceEpoch(r.at)));
}

}  // namespace

std::optional<QString> auditDigest(const QString& dbPath, int64_t from, int64_t to,
                                   QString* error) {
    events::EventStore log(dbPath, base::uniqueName(QStringLiteral("review-digest")));
    if (!log.open(/*readOnly=*/true)) {
        *error = log.lastError();
        return std::nullopt;
    }
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(QStringLiteral("audit v1 %1 %2\n").arg(from).arg(to).toUtf8());
    const auto add = [&](const QString& v) {
        const QByteArray b = v.toUtf8();
        h.addData(QByteArray::number(b.size()) + ':' + b);
    };
    const auto optional = [](const std::optional<int>& v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };
    const bool read =
        !log.hasTable() || log.forEach(spanFilter(from, to), [&](const events::EventEntry& e) {
            add(QString::number(e.id));
            add(events::eventTimeText(e.at));
            add(e.kind);
            add(e.text);
            add(optional(e.reg));
            add(optional(e.value));
            add(optional(e.status));
            add(e.code);
            add(events::eventArgsText(e.args));
        });
    if (!read) {
        *error = log.lastError();
        return std::nullopt;
    }
    return QString::fromLatin1(h.result().toHex());
}

QString makeAuditReview(const AuditReviewRequest& r) {
    if (r.to < r.from) return base::Tr::tr("结束时间早于开始时间");
    const QString cannotRead = QStringLiteral("%1：%2");
    QString error;
    const auto chains = verdict(r.dbPath, &error);
    if (!chains) return cannotRead.arg(r.dbPath, error);
    const auto digest = auditDigest(r.dbPath, r.from, r.to, &error);
    if (!digest) return cannotRead.arg(r.dbPath, error);

    ReportContent content;
    content.request.dbPath = r.dbPath;
    content.request.from = r.from;
    content.request.to = r.to;
    content.request.pdfPath = r.pdfPath;
    const QFileInfo pdf(r.pdfPath);
    content.request.csvPath =
        r.csvPath.isEmpty() ? pdf.dir().filePath(pdf.completeBaseName() + QStringLiteral(".csv"))
                            : r.csvPath;
    content.request.signatureSubject = auditSubject(r.from, r.to);
    content.figures.from = r.from;
    content.figures.to = r.to;
    content.digest = *digest;
    {
        SignatureStore signatures(r.dbPath, base::uniqueName(QStringLiteral("review-signatures")));
        auto list = signatures.list(content.request.signatureSubject);
        if (!list) return cannotRead.arg(r.dbPath, signatures.lastError());
        content.signatures = std::move(*list);
    }
    {
        auth::UserStore users(r.usersPath, base::uniqueName(QStringLiteral("review-users")));
        if (!r.usersPath.isEmpty()) users.open(/*create=*/false);
        content.request.access = accessNotes(users, QDateTime::currentSecsSinceEpoch(), r.dbPath);
    }

    // The CSV first, as the event window's export writes it; its hash goes on every page.
    events::EventStore log(r.dbPath, base::uniqueName(QStringLiteral("review-events")));
    if (!log.open(/*readOnly=*/true)) return cannotRead.arg(r.dbPath, log.lastError());
    QSaveFile csv(content.request.csvPath);
    if (!csv.open(QIODevice::WriteOnly))
        return base::Tr::tr("无法写入 %1：%2").arg(content.request.csvPath, csv.errorString());
    const qint64 rows =
        log.hasTable() ? events::writeEventsCsv(log, spanFilter(r.from, r.to), csv) : 0;
    if (rows < 0) return cannotRead.arg(r.dbPath, log.lastError());
    events::EventFilter listed = spanFilter(r.from, r.to);
    listed.limit = kListedAtMost;
    if (log.hasTable()) content.events = log.load(listed);
    content.csvRows = rows;
    if (!csv.commit())
        return base::Tr::tr("无法写入 %1：%2").arg(content.request.csvPath, csv.errorString());
    {
        QFile written(content.request.csvPath);
        QCryptographicHash h(QCryptographicHash::Sha256);
        if (!written.open(QIODevice::ReadOnly) || !h.addData(&written))
            return base::Tr::tr("无法写入 %1：%2")
                .arg(content.request.csvPath, written.errorString());
        content.csvSha256 = QString::fromLatin1(h.result().toHex());
    }
    const base::Phrase why = writeAuditPdf(content, *chains, r.pdfPath);
    if (!why.isEmpty()) {
        QFile::remove(content.request.csvPath);
        return why.text(base::Lang::Shown);
    }
    return {};
}

}  // namespace report
