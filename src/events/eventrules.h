#pragma once
// What goes into the event log, as pure functions: one entry per write made for the operator, per
// change of the alarm, sensor and program states between two instrument images, per event of the
// line and per change of the recorder's state. The control outputs' switching is left to the
// samples, which hold it second by second.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "base/audit.h"
#include "base/tr.h"
#include "comm/image.h"
#include "comm/linkevents.h"
#include "store/chain.h"
#include "store/recorder.h"

namespace events {

// The kinds of entry, as stored in the kind column.
namespace eventkind {
inline const QString kWrite = QStringLiteral("write");
inline const QString kAlarm = QStringLiteral("alarm");
inline const QString kProgram = QStringLiteral("program");
// Test runs starting and ending (rows written before runs had a kind of their own say "program").
inline const QString kRun = QStringLiteral("run");
inline const QString kLink = QStringLiteral("link");
inline const QString kRecorder = QStringLiteral("recorder");
// Alerts firing, returning to normal, acknowledged, and each attempt to notify someone.
inline const QString kAlert = QStringLiteral("alert");
// Logins, accounts, access control switched, exports, the program's start and end, clock jumps.
inline const QString kAudit = QStringLiteral("audit");
}  // namespace eventkind

// The kinds in the order the log window lists them, and the word the operator reads for each.
// The instrument's alarms and the program's alerts are one kind to the operator ("报警"): the
// alerts stay apart in the kind column, and choosing the alarms in the window shows both.
const std::vector<QString>& eventKinds();
QString eventKindCaption(const QString& kind);
// The stored kinds the window's choice of a kind shows.
QStringList storedKinds(const QString& kind);
// The kind a stored row reads as: rows of runs written before runs had a kind of their own were
// stored as program rows.
QString kindOnRead(const QString& kind, const QString& text);
// The stored texts such older run rows begin with.
const std::vector<QString>& runTextHeads();

struct EventEntry {
    qint64 id = 0;  // row number once stored, 0 before
    QDateTime at;   // local time, milliseconds
    QString kind;
    QString text;  // one line for the operator, in Chinese as stored
    std::optional<int> reg;
    std::optional<int> value;
    std::optional<int> status;
    // What happened as data: a code ("link.opened") and its values, from which each subsystem
    // makes the line in the chosen language. Empty in rows stored before events had codes.
    QString code{};
    QStringList args{};
    // The audit trail's columns: who asked (user id), the value before and after, and why. Empty in
    // rows stored before them, and the user and reason with access control off.
    QString user{};
    QString oldValue{};
    QString newValue{};
    QString reason{};
    // The PC's offset from UTC in minutes when the row was stored; none in older rows. The store
    // stamps it from the time, so two entries alike but for it are the same entry.
    std::optional<int> utcOffset{};
    // A row copied from another log (the user store's): not stored again where a row of its
    // code and moment is stored already.
    bool copied = false;

    bool operator==(const EventEntry& o) const {
        return id == o.id && at == o.at && kind == o.kind && text == o.text && reg == o.reg &&
               value == o.value && status == o.status && code == o.code && args == o.args &&
               user == o.user && oldValue == o.oldValue && newValue == o.newValue &&
               reason == o.reason;
    }
    bool hasAudit() const {
        return !user.isEmpty() || !oldValue.isEmpty() || !newValue.isEmpty() || !reason.isEmpty();
    }
};

// Makes the lines of the codes of a subsystem above this layer (alerts, forwarding); nullopt for
// a code it does not know.
using EventTexts = std::optional<QString> (*)(const QString& code, const QStringList& args,
                                              base::Lang lang);
// Adds a subsystem's texts, once however often it is called.
void addEventTexts(EventTexts texts);

// An entry of the code with its values, its text made in Chinese.
EventEntry codedEntry(const QString& kind, const QString& code, QStringList args = {});
// The same, stamped with who did it, the values before and after and the reason.
EventEntry codedEntry(const QString& kind, const QString& code, QStringList args,
                      const base::Audit& by);
// The file's hash chains found changed: [chain ("events" or "archive"), the event id or the
// hour's first second in UTC].
inline const QString kChainBrokenCode = QStringLiteral("chain.broken");
// The file holds less than the service's protected record of its chains (its newest rows or a
// table removed, an older copy put back): [chain, the event id or the hour's first second].
inline const QString kChainShortCode = QStringLiteral("chain.short");
EventEntry chainBrokenEntry(const store::ChainReport& report);

// The entry's line in the language: made from its code and values; a row without a code (stored
// before codes) or with a code no subsystem knows reads from its stored text.
QString eventText(const EventEntry& e, base::Lang lang = base::Lang::Shown);

// The values as stored in the args column (a JSON array), and back.
QString eventArgsText(const QStringList& args);
QStringList eventArgs(const QString& stored);

// The entry of a finished write: the control's caption, an arrow and the value; a failure adds
// its reason, a write refused to the one at the PC the refusal. The report's audit goes with it.
EventEntry writeEntry(const comm::WriteReport& report);

// The entry of an event of the line: detail is the device, error a failed open's reason.
EventEntry linkEntry(comm::LinkEvent event, const QString& detail,
                     const comm::LineError& error = {});

// Whether a stored entry says the instrument became unreachable (silent, its port closed, not
// opened or lost), and whether it says the recorder records again after a stop.
bool linkWentDown(const EventEntry& e);
bool recorderResumed(const EventEntry& e);

// Changes between two images, in panel order: the alarm and sensor labels of the alarm frame, then
// the program state, segment number and cycle count. Each reads
// "<before> → <after>" in the panel's own texts, trailing blanks trimmed; value is the new state.
std::vector<EventEntry> imageEntries(const comm::InstrumentImage& before,
                                     const comm::InstrumentImage& after);

// The entry for a change of the recorder's state, or nothing when it only counts records on.
std::optional<EventEntry> recorderEntry(const store::RecorderStatus& before,
                                        const store::RecorderStatus& after);

// The time as stored in the at column: local YYYY-MM-DD HH:MM:SS.mmm.
QString eventTimeText(const QDateTime& at);
// The time as the audit trail shows it: "2026-12-09 17:32:05 +08:00" (the local time of the row
// and the offset it was stored with). Rows stored before the offset was kept get the offset this
// PC's zone gives their local time.
QString auditTimeText(const EventEntry& e);

}  // namespace events
