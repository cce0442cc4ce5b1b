#include "auth/credentials.h"

#include "base/workerthread.h"

namespace auth {

CredentialCheck checkCredentials(const QString& path, const QString& user,
                                 const QString& password) {
    CredentialCheck c;
    if (path.isEmpty()) return c;
    UserStore store(path, base::uniqueName(QStringLiteral("credentials")));
    c.store = store.open(/*create=*/false);
    if (c.store != StoreState::Ready) return c;
    c.controlled = store.accessControl();
    if (!c.controlled) return c;
    c.outcome = store.authenticate(user, password);
    if (c.outcome != Outcome::Done) return c;
    if (const auto account = store.account(user)) c.role = account->role;
    c.idleMinutes = store.idleLockMinutes();
    return c;
}

}  // namespace auth
