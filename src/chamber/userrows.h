#pragma once
// The user store's rows (logins, failed logins, locks, accounts, access control switched) in
// every chamber's audit trail: whichever program or process wrote them, while the chambers ran or
// not, each at its own time among the log's rows.

#include <QString>

#include "events/eventlog.h"

namespace chamber {

// The store's rows not yet asked for, as a chamber's log copies them: read on the log's own
// thread, through a connection of its own, whenever another connection changed the file.
events::CopiedRows userStoreRows(const QString& path);

// Every event log made from now on copies the rows of the user store at path.
void copyUserStoreRows(const QString& path);

}  // namespace chamber
