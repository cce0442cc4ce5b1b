#include "auth/actor.h"

#include <mutex>

namespace auth {

namespace {

std::mutex accountsMutex;
std::optional<QHash<QString, AccountNow>> accountsNow;

}  // namespace

void publishAccounts(std::optional<QHash<QString, AccountNow>> accounts) {
    const std::lock_guard lock(accountsMutex);
    accountsNow = std::move(accounts);
}

Denial denial(const Actor& by, Action action) {
    if (by.program) return Denial::None;
    Standing standing = by.standing;
    if (standing.controlled && standing.role) {
        const std::lock_guard lock(accountsMutex);
        if (accountsNow) {
            const auto it = accountsNow->constFind(by.userId.trimmed().toCaseFolded());
            if (it == accountsNow->cend() || !it->usable)
                standing.role.reset();
            else
                standing.role = it->role;
        }
    }
    return mayDo(standing, action);
}

base::Audit auditOf(const Actor& by, Action action, const QString& reason) {
    base::Audit audit;
    audit.user = !by.program && by.standing.controlled ? by.userId : QString();
    audit.reason = reason;
    audit.refusal = denialText(denial(by, action), action, base::Lang::Stored);
    return audit;
}

}  // namespace auth
