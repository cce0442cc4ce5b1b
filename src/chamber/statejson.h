#pragma once
// The chamber's state as JSON, the one form every remote client sends it in.

#include "chamber/commands.h"
#include "chamber/state.h"

namespace chamber {

// The state read back from its JSON form, as a client of the service sees it: what the form does
// not carry (an alert's value in words) is made from what it does; a key missing or of another
// type leaves its field as a default State has it.
State stateFromJson(const QJsonObject& o);

// A command's outcome as the local channel names it, and back: one table for the service and its
// clients ("badRequest", the channel's own word for a malformed command, reads as Invalid; a word
// not known reads as Failed).
QString outcomeWord(Outcome outcome);
Outcome outcomeOfWord(const QString& word);

}  // namespace chamber
