#pragma once
// Who may do what: the four roles, the actions that need one, and the verdict on a request. Pure
// logic; the windows turn a refusal into a control's tooltip.

#include <QString>
#include <optional>

#include "base/tr.h"

namespace auth {

// Ordered: each role may do everything the ones below it may.
enum class Role { Viewer, Operator, Supervisor, Administrator };

enum class Action {
    Look,  // the windows' values, lists and logs
    // operator
    SetValue,
    AlarmSettings,
    ProgramRunCommand,
    StartEndRun,
    AcknowledgeAlert,
    // supervisor
    ConfigurationWrite,
    ProgramWrite,
    SignReport,
    SignAuditReview,
    // administrator
    Accounts,
    AccessControlSettings,
    Retention,
    Forwarding,
    AlertSettings,
};

// The lowest role allowed the action.
Role lowestRole(Action a);

// The role's name as the store keeps it ("viewer", "operator", ...), and back (none when unknown).
QString roleKey(Role r);
std::optional<Role> roleFromKey(const QString& key);
// The role in the operator's words (and as an event row stores it, or shows it).
QString roleText(Role r);
QString roleText(Role r, base::Lang lang);

// What is known of the one at the PC when an action is asked for.
struct Standing {
    bool controlled = false;   // access control is on
    bool storeUsable = true;   // the user store could be read (else nobody may change anything)
    std::optional<Role> role;  // the logged-in user's role; none when nobody is
    bool locked = false;       // the session is locked after idle time
};

// Why an action is refused; None allows it.
enum class Denial { None, StoreUnusable, NotLoggedIn, SessionLocked, RoleTooLow };

Denial mayDo(const Standing& who, Action a);
// The refusal in the operator's words (a control's tooltip), or as the event log keeps it;
// empty for None.
QString denialText(Denial d, Action a, base::Lang lang = base::Lang::Shown);

}  // namespace auth
