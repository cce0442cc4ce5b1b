#pragma once
// Who asks for a command: a user with what is known of their session, or the program itself. The
// command decides with the lowest roles of roles.h whether it is done, and stamps its audit row
// with the actor's user and reason, or with the refusal.

#include <QHash>
#include <QString>
#include <optional>

#include "auth/roles.h"
#include "base/audit.h"

namespace auth {

struct Actor {
    // The program's own doing (an automatic run, a command-line job): always allowed, and its row
    // names no user.
    bool program = false;
    QString userId;     // empty while nobody is logged in or access control is off
    Standing standing;  // access control, the user's role and whether the session is locked

    // The program itself.
    static Actor self() { return Actor{true, {}, {}}; }
    // A user of the given role, logged in with access control on (a remote client's user).
    static Actor user(const QString& userId, Role role) {
        Standing s;
        s.controlled = true;
        s.role = role;
        return Actor{false, userId, s};
    }
    // Whoever is at the PC as the session stands: the user when logged in.
    static Actor atThePc(const QString& userId, const Standing& standing) {
        return Actor{false, userId, standing};
    }
};

// What the user store says of an account now.
struct AccountNow {
    Role role = Role::Viewer;
    bool usable = false;  // enabled and not locked
};

// The accounts as the program's watcher of the user store last read them (at every change of the
// file), by user id folded to one case; none: nobody watches the store. Every decision below
// re-checks a user's account here, so that an account disabled, locked, deleted or given another
// role elsewhere counts as such at once in every window, command and client, whatever the
// session or the token it asks with still says. From any thread.
void publishAccounts(std::optional<QHash<QString, AccountNow>> accounts);

// Why the actor may not do the action; None when it may. A user's role is the one the user store
// gives the account now, and an account it no longer holds enabled and unlocked is nobody's.
Denial denial(const Actor& by, Action action);

// The audit a command carries: the user with access control on, the reason, and the refusal (as
// stored) when the actor may not do the action.
base::Audit auditOf(const Actor& by, Action action, const QString& reason = {});

}  // namespace auth
