#pragma once
// What a command given to a chamber comes to: done, waiting for the instrument or a worker thread,
// or not done and why. Every caller (a window, the web, MQTT) gets the same codes; the texts are
// made where they are shown.

#include <QMetaType>
#include <QtGlobal>
#include <cstdint>
#include <optional>

namespace chamber {

enum class Outcome {
    Done,          // done (a write: the instrument took it)
    Pending,       // under way: the final outcome comes with commandFinished and the ticket's id
    Refused,       // the one who asked may not do it (the refusal is in the audit trail)
    Invalid,       // a value, register or comment the command cannot take, or a change without
                   // its reason under access control; nothing was done
    NotRecording,  // another program records into this chamber's file: it only views it
    NotFound,      // no such alert waiting for an acknowledgement, or no open run to end
    LinkClosed,    // the chamber's port is not open
    Failed,        // tried, and it did not happen (the instrument did not take it, the file failed)
};

// A command handed over: its outcome so far, and the id its final outcome comes with.
struct Ticket {
    Outcome outcome = Outcome::Invalid;
    quint64 id = 0;  // 0 when nothing was handed over
};

// The holding-register writes, each with the action (and lowest role) it needs.
enum class Write {
    SetValue,        // 4X 1, 2
    AlarmSetting,    // 4X 257..262
    ProgramCommand,  // 4X 3
    Configuration,   // 4X 4097..4144
    Program,         // 4X 8193..8231: the program's settings and segments
};

// The outcome as a stable code word for remote clients ("done", "pending", "refused", "invalid",
// "notRecording", "notFound", "linkClosed", "failed").
const char* outcomeKey(Outcome outcome);

// The kind of write a holding register takes; none for a register the operator does not write.
std::optional<Write> writeOf(int32_t reg);

}  // namespace chamber

Q_DECLARE_METATYPE(chamber::Outcome)
