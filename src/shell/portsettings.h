#pragma once
// What "打开" takes from the port controls into the port settings, and the status-bar text of the
// link.

#include <QString>
#include <QStringList>

#include "comm/commparams.h"
#include "comm/image.h"
#include "comm/modbusrtu.h"

namespace shell {

// Steps 1 to 4 of an open: port number and slave address by the leading-number rule (0 when the
// text holds no number or one too large), the baud and parity indexes of the selected options (an
// index outside 0..2 leaves that setting as it was).
void copyPortSettings(comm::PortSettings& settings, const QString& portText, int baudIndex,
                      int parityIndex, const QString& addressText);

// The link's part of the status bar: port state, exchanges, failures and the last failure.
// Live values count as old once no register block has been read for this long.
inline constexpr int kStaleAfterMs = comm::kStaleAfterMs;

// The baud rate and parity of the line, as the status bar names them ("  9600 无校验").
QString lineSettingsText(const comm::PortSettings& settings);

// The status bar's line about the link. silentMs: time since the last good register block.
QString linkStatusText(const comm::LinkStats& stats, bool polling, int32_t port, double cycleMs,
                       int silentMs = 0);

}  // namespace shell
