// The chamber's commands: each decides with the actor's role, stamps the audit, and hands the
// command to the part that does it (the link, the runs, the alerts).
#include "alert/alerter.h"
#include "alert/alertsettings.h"
#include "auth/audit.h"
#include "chamber/auditrow.h"
#include "chamber/chamber.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "instrument/readings.h"
#include "runs/runcontrol.h"

namespace chamber {

namespace {

using namespace instrument::holding;

auth::Action actionOf(Write what) {
    switch (what) {
        case Write::SetValue:
            return auth::Action::SetValue;
        case Write::AlarmSetting:
            return auth::Action::AlarmSettings;
        case Write::ProgramCommand:
            return auth::Action::ProgramRunCommand;
        case Write::Configuration:
            return auth::Action::ConfigurationWrite;
        case Write::Program:
            break;
    }
    return auth::Action::ProgramWrite;
}

// Whether the write can go: its register is one of what's, and an entry's value is one an entry
// box takes.
bool writable(Write what, int32_t reg, int32_t value) {
    const bool entry = value >= kEntryMin && value <= kEntryMax;
    switch (what) {
        case Write::SetValue:
            return (reg == kSetValue[0] || reg == kSetValue[1]) && entry;
        case Write::AlarmSetting:
            return reg >= kAlarmSettingFirst && reg <= kAlarmSettingLast && entry;
        case Write::ProgramCommand:
            return reg == kProgramCommand && value >= 0 && value <= 3;
        case Write::Configuration:
            return reg >= kConfigurationFirst && reg <= kConfigurationLast;
        case Write::Program:
            return reg >= kProgramFirst && reg <= kProgramLast;
    }
    return false;
}

// Under access control a user's change carries its reason, from whichever client it comes: one
// allowed without it is Invalid.
bool lacksReason(const base::Audit& audit, const auth::Actor& by, const QString& reason) {
    return audit.refusal.isEmpty() && !by.program && by.standing.controlled &&
           reason.trimmed().isEmpty();
}

}  // namespace

const char* outcomeKey(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
            return "done";
        case Outcome::Pending:
            return "pending";
        case Outcome::Refused:
            return "refused";
        case Outcome::Invalid:
            return "invalid";
        case Outcome::NotRecording:
            return "notRecording";
        case Outcome::NotFound:
            return "notFound";
        case Outcome::LinkClosed:
            return "linkClosed";
        case Outcome::Failed:
            break;
    }
    return "failed";
}

std::optional<Write> writeOf(int32_t reg) {
    for (Write w : {Write::SetValue, Write::AlarmSetting, Write::ProgramCommand,
                    Write::Configuration, Write::Program})
        if (writable(w, reg, 0)) return w;
    return std::nullopt;
}

void Chamber::watchCommands() {
    connect(&link_, &comm::Link::writeReported, this, [this](const comm::WriteReport& r) {
        const auto it = writes_.constFind(r.id);
        if (it == writes_.cend()) return;
        const quint64 ticket = it->ticket;
        const bool portClosed = it->portClosed;
        writes_.erase(it);
        comm::WriteReport mine = r;
        mine.id = ticket;
        emit writeReported(mine);
        emit commandFinished(ticket, !r.audit.refusal.isEmpty() ? Outcome::Refused
                                     : r.status == 0            ? Outcome::Done
                                     : portClosed               ? Outcome::LinkClosed
                                                                : Outcome::Failed);
    });
}

Ticket Chamber::write(Write what, int32_t reg, int32_t value, const auth::Actor& by,
                      const QString& reason, const QString& caption) {
    if (!writable(what, reg, value)) return {Outcome::Invalid, 0};
    const base::Audit audit = auth::auditOf(by, actionOf(what), reason);
    if (lacksReason(audit, by, reason)) return {Outcome::Invalid, 0};
    // A refused write goes to the link all the same: it ends there unsent, and the audit trail
    // keeps what was asked and why it was not done.
    const quint64 ticket = nextTicket();
    const bool portClosed = !link_.polling();
    writes_.insert(link_.writeHolding(reg, value, caption, audit), {ticket, portClosed});
    if (!audit.refusal.isEmpty()) return {Outcome::Refused, ticket};
    return {Outcome::Pending, ticket};
}

Ticket Chamber::writeSetValue(int loop, int32_t value, const auth::Actor& by,
                              const QString& reason) {
    if (loop < 0 || loop > 1) return {Outcome::Invalid, 0};
    return write(Write::SetValue, kSetValue[loop], value, by, reason,
                 loop == 0 ? QStringLiteral("设定SV1") : QStringLiteral("设定SV2"));
}

Ticket Chamber::writeProgramCommand(int32_t code, const auth::Actor& by, const QString& reason) {
    return write(Write::ProgramCommand, kProgramCommand, code, by, reason,
                 QStringLiteral("设定曲线"));
}

Ticket Chamber::startRun(const runs::Run& form, const auth::Actor& by, const QString& reason) {
    if (!runs_) return {Outcome::Failed, 0};
    if (!recording_ || runs_->readOnly()) return {Outcome::NotRecording, 0};
    base::Audit audit = auth::auditOf(by, auth::Action::StartEndRun);
    audit.reason = reason;
    const quint64 request = runs_->startRun(form, false, audit);
    if (!audit.refusal.isEmpty()) return {Outcome::Refused, 0};
    if (!request) return {Outcome::Failed, 0};
    const quint64 ticket = nextTicket();
    runCommands_.insert(request, ticket);
    return {Outcome::Pending, ticket};
}

Ticket Chamber::endRun(const auth::Actor& by, const QString& reason) {
    if (!runs_) return {Outcome::Failed, 0};
    if (!recording_ || runs_->readOnly()) return {Outcome::NotRecording, 0};
    base::Audit audit = auth::auditOf(by, auth::Action::StartEndRun);
    audit.reason = reason;
    if (audit.refusal.isEmpty() && !runs_->openRun()) return {Outcome::NotFound, 0};
    const quint64 request = runs_->stopRun(audit);
    if (!audit.refusal.isEmpty()) return {Outcome::Refused, 0};
    if (!request) return {Outcome::Failed, 0};
    const quint64 ticket = nextTicket();
    runCommands_.insert(request, ticket);
    return {Outcome::Pending, ticket};
}

void Chamber::runAnswered(quint64 request, bool done) {
    const auto it = runCommands_.constFind(request);
    if (it == runCommands_.cend()) return;
    const quint64 ticket = *it;
    runCommands_.erase(it);
    emit commandFinished(ticket, done ? Outcome::Done : Outcome::Failed);
}

Outcome Chamber::acknowledgeAlert(const QString& id, const QString& comment,
                                  const auth::Actor& by) {
    const base::Audit audit = auth::auditOf(by, auth::Action::AcknowledgeAlert);
    if (!audit.refusal.isEmpty()) return Outcome::Refused;
    if (comment.simplified().isEmpty()) return Outcome::Invalid;
    if (!alerter_) return Outcome::NotFound;
    return alerter_->acknowledge(id, comment, audit) ? Outcome::Done : Outcome::NotFound;
}

void Chamber::silenceAlerts() {
    if (alerter_) alerter_->silence();
}

Outcome Chamber::changeAlertSettings(const alert::NotifySettings& before,
                                     const alert::RuleConfig& rules,
                                     const alert::NotifySettings& notify, const auth::Actor& by,
                                     const QString& reason) {
    if (!alerter_) return Outcome::NotFound;
    const base::Audit audit = auth::auditOf(by, auth::Action::AlertSettings, reason.trimmed());
    if (lacksReason(audit, by, reason)) return Outcome::Invalid;
    alerter_->settingsChanged(before, notify, audit);
    if (!audit.refusal.isEmpty()) return Outcome::Refused;
    alerter_->setRules(rules);
    alerter_->setNotify(notify);
    if (settings_) alert::saveSettings(*settings_(), rules, notify);
    return Outcome::Done;
}

Outcome Chamber::openPort(const comm::PortSettings& settings, const auth::Actor& by,
                          const QString& reason) {
    base::Audit audit = auth::auditOf(by, auth::Action::ConfigurationWrite, reason);
    if (!audit.refusal.isEmpty()) return Outcome::Refused;
    const comm::PortSettings before = link_.settings();
    if (settings != before && lacksReason(audit, by, reason)) return Outcome::Invalid;
    const bool recorded = settings != before && by.standing.controlled && !by.program;
    if (recorded && eventLog_) {
        audit.oldValue = comm::settingsText(before);
        audit.newValue = comm::settingsText(settings);
        eventLog_->log(auditRow(QString::fromLatin1(auth::kChamberChanged),
                                {audit.user, name_, audit.oldValue, audit.newValue}, audit));
    }
    link_.open(settings);
    return Outcome::Done;
}

Outcome Chamber::openPort(const auth::Actor& by) {
    if (auth::denial(by, auth::Action::ConfigurationWrite) != auth::Denial::None)
        return Outcome::Refused;
    link_.open();
    return Outcome::Done;
}

Outcome Chamber::closePort(const auth::Actor& by) {
    if (auth::denial(by, auth::Action::ConfigurationWrite) != auth::Denial::None)
        return Outcome::Refused;
    link_.close();
    return Outcome::Done;
}

}  // namespace chamber
