#pragma once
// A row of the program's own audit trail ("audit.started", "audit.exported", ...) as the event
// log stores it.

#include "auth/audit.h"
#include "base/audit.h"
#include "events/eventrules.h"

namespace chamber {

inline events::EventEntry auditRow(const QString& code, const QStringList& args,
                                   const base::Audit& by = {}) {
    return events::codedEntry(QString::fromLatin1(auth::kAuditKind), code, args, by);
}

}  // namespace chamber
