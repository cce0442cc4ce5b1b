#pragma once
// The port settings the operator chose with "打开": what the link opens and talks with.

#include <QString>
#include <cstdint>

namespace comm {

struct PortSettings {
    int32_t port = 0;     // port number 1..20
    int32_t baud = 0;     // baud index: 0 = 4800, 1 = 9600, 2 = 19200
    int32_t parity = 0;   // parity index: 0 none, 1 odd, 2 even
    int32_t address = 0;  // slave address 1..247

    bool operator==(const PortSettings&) const = default;
};

// The settings as the audit trail keeps them, in the order of the command line's chambers:
// "PORT,ADDRESS,BAUD,PARITY" ("1,2,9600,N").
inline QString settingsText(const PortSettings& s) {
    static constexpr int kBauds[] = {4800, 9600, 19200};
    static constexpr char kParities[] = "NOE";
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.port)
        .arg(s.address)
        .arg(s.baud >= 0 && s.baud < 3 ? kBauds[s.baud] : -1)
        .arg(QChar::fromLatin1(s.parity >= 0 && s.parity < 3 ? kParities[s.parity] : '?'));
}

}  // namespace comm
