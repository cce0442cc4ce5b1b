#pragma once
// Why the line failed, as values: which failure, the port, address or code it names, the device,
// and the system's own words where the system gave the reason. The words are made where the
// failure is shown (status bar, write status line) or stored (the event log, in Chinese).

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

#include "base/tr.h"

namespace comm {

struct LineError {
    enum class Kind {
        None,
        NoDevice,        // port number names no device
        NotOpened,       // port number, no reason known
        OpenFailed,      // port number, device and cause
        NotOpen,         // a call with no port open
        BadAddress,      // the slave address (number)
        OutOfRange,      // a register or value the instrument cannot take
        Timeout,         // the instrument did not answer in time
        BadCrc,          // an answer with a wrong checksum
        BadAnswer,       // an answer of the wrong shape
        Exception,       // an exception answer (number: its code)
        DeviceGone,      // the serial device went away (device, cause)
        ConnectionLost,  // the gateway's connection ended (cause)
        Failed,          // an exchange failed for the cause alone
        NoAnswer,        // a write failed without a known reason
        Stopped,         // the link has been shut down
        AwaitingDevice,  // a write while the lost device is being reopened
    };
    // What the system said: its own words (system), or one of the network's failures that the
    // operator gets plain words for.
    enum class Cause { System, Refused, HostSilent, GatewayClosed };

    Kind kind = Kind::None;
    int number = 0;
    QString device{};
    Cause cause = Cause::System;
    QString system{};

    bool isEmpty() const { return kind == Kind::None; }
    // "端口 3（/dev/ttyUSB0）无法打开：No such file or directory" in the language; empty for None.
    QString text(base::Lang lang = base::Lang::Shown) const;
    // The values as an event row keeps them, and back (None for values it does not know).
    QStringList values() const;
    static LineError fromValues(const QStringList& values);

    bool operator==(const LineError&) const = default;
};

}  // namespace comm

Q_DECLARE_METATYPE(comm::LineError)
