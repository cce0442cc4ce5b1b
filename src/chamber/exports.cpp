// The chamber's exports and reports, and the form of its next run: each export is decided with
// who asks and audited by the chamber when its file is written.
#include <QPointer>
#include <memory>
#include <optional>

#include "auth/audit.h"
#include "chamber/auditrow.h"
#include "chamber/chamber.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "report/report.h"
#include "runs/runcontrol.h"

namespace chamber {

void Chamber::auditExport(const auth::Actor& by, const QString& what, const QString& path,
                          const base::Audit& audit) {
    if (!eventLog_ || by.program || !by.standing.controlled) return;
    base::Audit row = audit;
    row.user = by.userId;
    if (audit.refusal.isEmpty())
        eventLog_->log(
            auditRow(QString::fromLatin1(auth::kExported), {by.userId, what, path}, row));
    else
        eventLog_->log(auditRow(QString::fromLatin1(auth::kExportRefused),
                                {by.userId, what, path, audit.refusal}, row));
}

Ticket Chamber::exportFile(const QString& what, const QString& path, const auth::Actor& by,
                           const store::ExportWrite& write) {
    if (!write || path.isEmpty()) return {Outcome::Invalid, 0};
    const base::Audit audit = auth::auditOf(by, auth::Action::Look);
    if (!audit.refusal.isEmpty()) {
        auditExport(by, what, path, audit);
        return {Outcome::Refused, 0};
    }
    const quint64 ticket = nextTicket();
    // Set by done while write is still running (a file made at once): then this call answers.
    struct Answer {
        bool returned = false;
        std::optional<bool> written;
    };
    const auto answer = std::make_shared<Answer>();
    const QPointer<Chamber> self(this);
    write([self, by, what, path, ticket, answer](bool written) {
        if (!self || answer->written) return;  // the chamber has ended, or told twice
        answer->written = written;
        if (written) self->auditExport(by, what, path, {});
        if (answer->returned)
            emit self->commandFinished(ticket, written ? Outcome::Done : Outcome::Failed);
    });
    answer->returned = true;
    if (answer->written) return {*answer->written ? Outcome::Done : Outcome::Failed, ticket};
    return {Outcome::Pending, ticket};
}

Ticket Chamber::makeReport(const report::ReportRequest& request, const auth::Actor& by) {
    const QString what = QStringLiteral("report");
    if (request.pdfPath.isEmpty()) return {Outcome::Invalid, 0};
    const base::Audit audit = auth::auditOf(by, auth::Action::Look);
    if (!audit.refusal.isEmpty()) {
        auditExport(by, what, request.pdfPath, audit);
        return {Outcome::Refused, 0};
    }
    const quint64 ticket = nextTicket();
    auto* job = new report::ReportJob(request, this);
    reports_.insert(ticket, job);
    connect(job, &report::ReportJob::progress, this,
            [this, ticket](int percent) { emit reportProgress(ticket, percent); });
    connect(
        job, &report::ReportJob::finished, this,
        [this, ticket, by, what, path = request.pdfPath](const base::Phrase& why, bool cancelled) {
            const bool written = !cancelled && why.isEmpty();
            if (written) auditExport(by, what, path, {});
            // The job's thread has ended with its signal; it goes once that was delivered.
            if (QObject* done = reports_.take(ticket)) done->deleteLater();
            emit reportFinished(ticket, why, cancelled);
            emit commandFinished(ticket, written ? Outcome::Done : Outcome::Failed);
        });
    job->start();
    return {Outcome::Pending, ticket};
}

void Chamber::cancelReport(quint64 id) {
    if (auto* job = qobject_cast<report::ReportJob*>(reports_.value(id))) job->cancel();
}

void Chamber::keepRunForm(const runs::Run& form, bool save) {
    if (!runs_) return;
    runs_->setDraft(form);
    if (save) runs_->saveSettings();
}

Outcome Chamber::setAutomaticRuns(bool on, const auth::Actor& by) {
    if (!runs_) return Outcome::Failed;
    if (!allows(by, auth::Action::StartEndRun)) return Outcome::Refused;
    runs_->setAutomatic(on);
    runs_->saveSettings();
    return Outcome::Done;
}

}  // namespace chamber
