#pragma once
// What the session, the accounts and the program itself put into every chamber's event log: the
// user store's own rows as codes with values ("user.login", "user.account.created", ...), the
// program's start and end, exports, and a jump of the PC's clock. Pure logic.

#include <QString>
#include <QStringList>
#include <optional>

#include "auth/userstore.h"
#include "base/tr.h"

namespace auth {

// The event log's kind of these rows.
inline constexpr char kAuditKind[] = "audit";  // as the event log names it

// The program's own rows: [] for start and end; [who, what, file] for an export ("csv",
// "events", "pdf", "png", "report", "review"; who is empty from the command line); [wall clock
// before, after (ms UTC), the jump in seconds] for the clock.
inline constexpr char kProgramStarted[] = "audit.started";
inline constexpr char kProgramEnded[] = "audit.ended";
inline constexpr char kExported[] = "audit.exported";
// An export refused to who asked: [who, what, file, the refusal as stored].
inline constexpr char kExportRefused[] = "audit.export.refused";
inline constexpr char kClockJumped[] = "audit.clock";
// The PC's own settings, their values before and after in the row's columns too:
// [who, chamber, "PORT,ADDRESS,BAUD,PARITY"] for a chamber added or removed,
// [who, chamber, before, after] for one changed or a chamber's line settings changed,
// [who, port, ms before, ms after] for the pause between frames on a line.
inline constexpr char kChamberAdded[] = "audit.chamber.added";
inline constexpr char kChamberChanged[] = "audit.chamber.changed";
inline constexpr char kChamberRemoved[] = "audit.chamber.removed";
inline constexpr char kTurnaround[] = "audit.turnaround";
// [who, option, before, after] for a setting the command line changed ("--keep-days", ...).
inline constexpr char kSettingChanged[] = "audit.setting";

// A row of the user store as the event log keeps it: its code under "user.", and who did it
// followed by the row's values. No password is ever among them.
QString auditCode(const AccessEvent& e);
QStringList auditArgs(const AccessEvent& e);
// Whether the row is a failed login (each raises an alert); the account named, empty for an
// unknown user id (what was typed may be a password and is not kept).
bool isFailedLogin(const AccessEvent& e, QString* account = nullptr);

// The line of an audit code in the language; nullopt for another code.
std::optional<QString> auditText(const QString& code, const QStringList& args, base::Lang lang);

// Watches the wall clock against the monotonic one: fed a reading of both now and then, it tells
// when the wall clock moved more than kJumpMs further (or less) than the time that passed.
class ClockWatch {
  public:
    static constexpr qint64 kJumpMs = 60'000;
    static constexpr int kCheckMs = 10'000;  // how often the program looks

    // The jump since the last reading (wall minus monotonic, ms) when beyond kJumpMs either way.
    std::optional<qint64> feed(qint64 wallMs, qint64 monoMs);

  private:
    std::optional<qint64> wall_;
    qint64 mono_ = 0;
};

}  // namespace auth
