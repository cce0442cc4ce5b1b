#pragma once
// The child side of the lock tests: another process holding a write transaction on a database
// file, as a report tool or a second program would.

#include <QString>

namespace testing_support {

// Opens path, begins a write transaction (IMMEDIATE, or EXCLUSIVE when asked), prints "locked" on
// stdout and holds it until stdin closes. Returns the child's exit status (1 when it could not
// lock).
int holdDatabaseLock(const QString& path, bool exclusive);

}  // namespace testing_support
