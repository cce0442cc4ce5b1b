#pragma once
// The seven calls through which all traffic with the instrument goes. Every argument is a 32-bit
// signed integer; a buffer receives one register per element. Register N of an area is protocol
// address N-1. Every failed exchange returns kModbusFail, success returns 0.

#include <QString>
#include <cstdint>

#include "comm/lineerror.h"

namespace comm {

inline constexpr int32_t kModbusFail = -8888;

// What the link has done so far, for the status bar.
struct LinkStats {
    bool portOpen = false;
    QString device;  // device the open port names, or the one that failed to open
    // Exchanges attempted on an open port; a call refused before the wire (no port open, a bad
    // address or argument) is not one.
    uint64_t exchanges = 0;
    uint64_t failures = 0;  // of which failed
    LineError lastError;    // why the last failed exchange failed; empty once one succeeds again
    bool lastOk = true;     // the most recent exchange succeeded
    // Why the last open failed, naming the port ("端口 3 无法打开：..."); empty when the last open
    // succeeded. Kept until the next open.
    LineError openError;
    // The open port's device went away (unplugged); the link is reopening it once a second.
    bool deviceLost = false;
};

class ModbusRTU {
  public:
    virtual ~ModbusRTU() = default;

    // Opens the port: baud index 0 = 4800, 1 = 9600, 2 = 19200; parity index 0 none, 1 odd, 2 even.
    virtual int32_t OpenPort_Modbus(int32_t port, int32_t baudIndex, int32_t parityIndex) = 0;
    virtual int32_t ClosePort_Modbus(int32_t port) = 0;
    // Reads qty input (3X) / holding (4X) registers from start into buf[0..qty-1] as signed values.
    virtual int32_t Get_3X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                              int32_t* buf) = 0;
    virtual int32_t Get_4X_DX(int32_t port, int32_t addr, int32_t start, int32_t qty,
                              int32_t* buf) = 0;
    // Reads 16 discrete inputs (1X) / coils (0X) from start: buf[0] gets the first eight as a byte
    // value (bit k = state of the k-th of the group), buf[1] the next eight.
    virtual int32_t Get_1X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) = 0;
    virtual int32_t Get_0X_B16(int32_t port, int32_t addr, int32_t start, int32_t* buf) = 0;
    // Writes one holding register. A value that does not fit 16 bits (-32768..65535) is never sent.
    virtual int32_t Set_4X_D1(int32_t port, int32_t addr, int32_t reg, int32_t value) = 0;

    virtual LinkStats stats() const { return {}; }
    // Why the last failed call failed, a refused one included ("端口未打开"); empty when unknown.
    virtual LineError lastFailure() const { return stats().lastError; }
    // True when the system reported the open port's device gone (read or write errors such as
    // EIO/ENXIO, terminal settings unreadable, the device node missing). A silent instrument on a
    // working port is not a gone device. Cleared by the next open.
    virtual bool deviceGone() const { return false; }
};

// One holding-register write as every writer makes it: a failed exchange is repeated once, with the
// identical arguments, and the repeat's status is not tested. Returns the last status; calls (if
// given) receives the number of calls made.
int32_t writeWithRepeat(ModbusRTU& bus, int32_t port, int32_t addr, int32_t reg, int32_t value,
                        int* calls = nullptr);

}  // namespace comm
