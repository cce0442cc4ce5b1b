#pragma once
// The port settings the operator chose with "打开": what the link opens and talks with.

#include <cstdint>

namespace comm {

struct PortSettings {
    int32_t port = 0;     // port number 1..20
    int32_t baud = 0;     // baud index: 0 = 4800, 1 = 9600, 2 = 19200
    int32_t parity = 0;   // parity index: 0 none, 1 odd, 2 even
    int32_t address = 0;  // slave address 1..16

    bool operator==(const PortSettings&) const = default;
};

}  // namespace comm
