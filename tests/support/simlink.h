#pragma once
// A link whose port 1 is the simulated instrument (its pseudo-terminal, or its loopback gateway
// where there are none), set to 9600 baud, no parity, slave address 1: the windows' tests over
// the real link and libmodbus start from it.

#include <QString>
#include <memory>

#include "comm/libmodbusrtu.h"
#include "comm/link.h"
#include "sim/server.h"

namespace testing_support {

inline std::unique_ptr<comm::Link> linkToSim(const sim::SimServer& server) {
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(server.device()));
    auto link = std::make_unique<comm::Link>(std::make_unique<comm::LibModbusRTU>(ports));
    link->setSettings({1, 1, 0, 1});
    return link;
}

}  // namespace testing_support
