#include "shell/auditreview.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>

#include "auth/guard.h"
#include "base/tr.h"
#include "events/eventwindow.h"
#include "report/auditreview.h"
#include "report/signatures.h"
#include "store/exportfile.h"
#include "ui/filedialog.h"
#include "ui/signdialog.h"

namespace shell {

namespace {

void writeReview(EventWindow& window, const report::AuditReviewRequest& request) {
    const QPointer<EventWindow> shown(&window);
    // Made, and its audit row kept, also when the window has closed meanwhile.
    const auto write = [request, shown](const store::ExportDone& done) {
        report::runLater(
            QCoreApplication::instance(), [request, shown, done]() -> std::function<void()> {
                const QString why = report::makeAuditReview(request);
                return [why, shown, done, pdf = request.pdfPath] {
                    done(why.isEmpty());
                    if (!shown) return;
                    shown->showStatus(why.isEmpty() ? base::Tr::tr("审计审阅已生成：%1").arg(pdf)
                                                    : base::Tr::tr("审计审阅未生成：%1").arg(why));
                };
            });
    };
    if (!window.exporter()) {
        write([](bool) {});
    } else if (const QString no =
                   window.exporter()(QStringLiteral("review"), request.pdfPath, write);
               !no.isEmpty()) {
        window.showStatus(base::Tr::tr("未导出：%1").arg(no));
        return;
    }
    window.showStatus(base::Tr::tr("正在生成审计审阅…"));
}

}  // namespace

void reviewAuditTrail(EventWindow& window, const QString& dbPath, const QString& usersPath) {
    const QString file =
        ui::saveFileName(&window, base::Tr::tr("审计审阅"), QStringLiteral("audit-review.pdf"),
                         base::Tr::tr("PDF 文件 (*.pdf)"));
    if (!file.isEmpty()) reviewAuditTrailTo(window, dbPath, usersPath, file);
}

void reviewAuditTrailTo(EventWindow& window, const QString& dbPath, const QString& usersPath,
                        const QString& pdfPath) {
    const events::EventFilter filter = window.filter();
    report::AuditReviewRequest request;
    request.dbPath = dbPath;
    request.pdfPath = pdfPath;
    request.usersPath = usersPath;
    const int64_t now = QDateTime::currentSecsSinceEpoch();
    request.from = filter.from ? filter.from->toSecsSinceEpoch() : 0;
    request.to = filter.to ? filter.to->toSecsSinceEpoch() : now;
    const auth::Guard* guard = auth::Guard::instance();
    if (!guard || !guard->standing().controlled) return writeReview(window, request);

    const QPointer<EventWindow> shown(&window);
    auto* dialog = new ui::SignDialog(
        base::Tr::tr("审计追踪审阅：%1 至 %2")
            .arg(QDateTime::fromSecsSinceEpoch(request.from)
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 QDateTime::fromSecsSinceEpoch(request.to)
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
        [shown, request, now](const QString& user, const QString& password, int meaning,
                              const ui::SignDialog::Done& done) {
            if (!shown) return;
            report::signLater(
                shown, request.usersPath,
                {user, password, report::Meaning(meaning),
                 report::auditSubject(request.from, request.to), request.to < now, request.to},
                request.dbPath,
                [request](QString* error) {
                    return report::auditDigest(request.dbPath, request.from, request.to, error);
                },
                [done](const report::SignOutcome& o) { done(o.why); });
        },
        &window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The review is written once signed; a cancelled signature writes none.
    QObject::connect(dialog, &QDialog::accepted, &window, [shown, request] {
        if (shown) writeReview(*shown, request);
    });
    dialog->open();
}

}  // namespace shell
