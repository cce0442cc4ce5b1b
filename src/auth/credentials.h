#pragma once
// A user id and password given to one of the program's clients (the web's login, a password
// given again to confirm, a login on the service's channel), checked against the user store as
// the file holds it now, in one place.

#include <QString>
#include <optional>

#include "auth/roles.h"
#include "auth/userstore.h"

namespace auth {

struct CredentialCheck {
    StoreState store = StoreState::Missing;  // Ready once the file was read
    bool controlled = false;                 // access control on (known with a store Ready)
    // The store's answer to the password when controlled; Unusable when nothing was checked.
    Outcome outcome = Outcome::Unusable;
    // The account's role now, when Done; none for an account gone between the password's check
    // and the reading of its role.
    std::optional<Role> role;
    int idleMinutes = 0;  // the store's idle lock, when Done
};

// Opens the store at path (never made here), reads whether access control is on and, when it
// is, authenticates the user: a failure counts towards the account's lock as any login does.
// Safe on any thread: each check has a connection of its own.
CredentialCheck checkCredentials(const QString& path, const QString& user, const QString& password);

}  // namespace auth
