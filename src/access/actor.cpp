#include "access/actor.h"

namespace auth {

Denial denial(const Actor& by, Action action) {
    return by.program ? Denial::None : mayDo(by.standing, action);
}

base::Audit auditOf(const Actor& by, Action action, const QString& reason) {
    base::Audit audit;
    audit.user = !by.program && by.standing.controlled ? by.userId : QString();
    audit.reason = reason;
    audit.refusal = denialText(denial(by, action), action, base::Lang::Stored);
    return audit;
}

}  // namespace auth
