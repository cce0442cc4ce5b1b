#pragma once
// What the audit trail keeps of a change beside what changed: who asked for it, the value before
// and after, and why. With access control off the user and the reason stay empty.

#include <QString>

namespace base {

struct Audit {
    QString user;      // the user id; empty with access control off
    QString oldValue;  // empty when not known
    QString newValue;
    QString reason;
    // Not done: why the one at the PC may not (nothing is sent); empty when it may.
    QString refusal{};

    bool operator==(const Audit&) const = default;
};

}  // namespace base
