#pragma once
// What the link hands out besides the image: the events of the line and the outcome of each write
// made for the operator. Plain structs, so that the event log and the windows can take them
// without the link thread's class.

#include <QMetaType>
#include <QString>
#include <cstdint>
#include <optional>

#include "base/audit.h"
#include "base/tr.h"
#include "comm/lineerror.h"

namespace comm {

// What happened to the line, for the status bar and the event log. detail is the device (Opened,
// Closed, DeviceLost, DeviceBack), the reason (OpenFailed) or empty.
enum class LinkEvent {
    Opened,      // the port opened
    Closed,      // the operator closed the port
    OpenFailed,  // the port could not be opened
    Silent,      // a whole poll cycle failed: the instrument stopped answering
    Answering,   // the instrument answers again after Silent
    DeviceLost,  // the system reports the port's device gone
    DeviceBack,  // the lost device opened again
};

// The event's code as the event log stores it ("link.opened"), and back.
QString linkEventCode(LinkEvent event);
std::optional<LinkEvent> linkEventOfCode(const QString& code);
// The event's values as the event log keeps them: the device, or the Chinese words of a failed
// open's reason followed by its values; none for an event without either.
QStringList linkEventValues(const QString& detail, const LineError& error);
// The event as one line in the language: "端口已打开：/dev/ttyUSB0", or "端口已打开" without a
// device. A failed open's reason is made from its values.
QString linkEventText(LinkEvent event, const QStringList& values, base::Lang lang);

// The outcome of one holding-register write made for the operator: what was sent, how it ended
// (status 0 or kModbusFail after the repeat), the caption of the control it came from, and on
// failure the reason.
struct WriteReport {
    quint64 id = 0;
    int32_t reg = 0;
    int32_t value = 0;
    int32_t status = 0;
    int calls = 0;
    QString caption;
    LineError error{};
    // Who asked and why, the value before (from the image) and after; a refusal was never sent.
    base::Audit audit{};
    int32_t address = 0;  // the instrument's address the write went to (0: not sent)
};

}  // namespace comm

Q_DECLARE_METATYPE(comm::WriteReport)
Q_DECLARE_METATYPE(comm::LinkEvent)
