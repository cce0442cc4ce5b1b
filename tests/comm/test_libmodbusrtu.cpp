// The seven calls over libmodbus against the simulated instrument on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "comm/libmodbusrtu.h"
#include "comm/lineos.h"
#include "sim/server.h"

using comm::kModbusFail;
using comm::LibModbusRTU;

namespace {

struct SimRig {
    sim::SimServer server;
    std::unique_ptr<LibModbusRTU> bus;
    explicit SimRig(sim::ServerOptions o = {}) : server(o) {
        std::string why;
        EXPECT_TRUE(server.start(&why)) << why;
        comm::PortMap ports;
        ports.setExplicit(1, QString::fromStdString(server.device()));
        bus = std::make_unique<LibModbusRTU>(ports);
        EXPECT_EQ(bus->OpenPort_Modbus(1, 1, 0), 0);
    }
};

}  // namespace

TEST(ModbusOverSim, ReadsEveryArea) {
    SimRig r;
    r.server.setHoldingRegister(4107, -1999);
    int32_t buf[16] = {};
    ASSERT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), 0);
    EXPECT_EQ(buf[0], r.server.inputRegister(1));
    ASSERT_EQ(r.bus->Get_4X_DX(1, 1, 4097, 16, buf), 0);
    EXPECT_EQ(buf[10], -1999);  // sign-extended from the 16-bit register
    ASSERT_EQ(r.bus->Get_3X_DX(1, 1, 4097, 16, buf), 0);
    ASSERT_EQ(r.bus->Get_4X_DX(1, 1, 257, 8, buf), 0);
    ASSERT_EQ(r.bus->Get_0X_B16(1, 1, 1, buf), 0);
    EXPECT_GE(buf[0], 0);
    EXPECT_LE(buf[0], 255);
}

TEST(ModbusOverSim, WritesAndReadsBackSignedValues) {
    SimRig r;
    for (int32_t v : {-1999, 0, 350, 9999, -32768, 32767}) {
        ASSERT_EQ(r.bus->Set_4X_D1(1, 1, 4107, v), 0) << v;
        int32_t buf[1] = {};
        ASSERT_EQ(r.bus->Get_4X_DX(1, 1, 4107, 1, buf), 0);
        EXPECT_EQ(buf[0], v);
        EXPECT_EQ(r.server.holdingRegister(4107), v);
    }
    // 65535 is the unsigned form of -1 and fits one register.
    ASSERT_EQ(r.bus->Set_4X_D1(1, 1, 4107, 65535), 0);
    EXPECT_EQ(r.server.holdingRegister(4107), -1);
}

TEST(ModbusOverSim, PacksSixteenStatesIntoTwoBytes) {
    SimRig r;
    r.server.setSensorOpen(1, true);  // discrete input 5
    r.server.setSensorOpen(2, true);  // discrete input 6
    int32_t buf[2] = {-7, -7};
    ASSERT_EQ(r.bus->Get_1X_B16(1, 1, 1, buf), 0);
    int32_t expect0 = 0, expect1 = 0;
    for (int k = 0; k < 8; ++k) {
        if (r.server.discreteInput(1 + k)) expect0 |= 1 << k;
        if (r.server.discreteInput(9 + k)) expect1 |= 1 << k;
    }
    EXPECT_EQ(buf[0] & 0x30, 0x30);
    EXPECT_EQ(buf[0], expect0);
    EXPECT_EQ(buf[1], expect1);
}

TEST(ModbusOverSim, FailuresReturnTheFailStatus) {
    SimRig r;
    int32_t buf[16] = {};
    // Outside the map: exception 02.
    EXPECT_EQ(r.bus->Get_4X_DX(1, 1, 9000, 1, buf), kModbusFail);
    EXPECT_TRUE(r.bus->stats().lastError.text(base::Lang::Stored).contains("2"))
        << r.bus->stats().lastError.text(base::Lang::Stored).toStdString();
    EXPECT_EQ(r.bus->Set_4X_D1(1, 1, 9000, 1), kModbusFail);
    // Not sent at all: past 16 bits, or a register number that has no address.
    const uint64_t before = r.bus->stats().exchanges;
    EXPECT_EQ(r.bus->Set_4X_D1(1, 1, 1, 65536), kModbusFail);
    EXPECT_EQ(r.bus->Set_4X_D1(1, 1, 1, -32769), kModbusFail);
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 0, 1, buf), kModbusFail);
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 0, buf), kModbusFail);
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 126, buf), kModbusFail);
    EXPECT_EQ(r.bus->stats().exchanges, before);
    // The line still works after the failures.
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), 0);
}

TEST(ModbusOverSim, SilentInstrumentCostsAtMostTheTimeout) {
    SimRig r;
    r.server.setSilent(true);
    int32_t buf[8] = {11, 12};
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), kModbusFail);
    EXPECT_LT(t.elapsed(), 400);
    EXPECT_EQ(buf[0], 11);  // a failed read leaves the buffer as it was
    EXPECT_TRUE(r.bus->stats().lastError.text(base::Lang::Stored).contains("超时"));
    EXPECT_FALSE(r.bus->deviceGone());  // silent, but the port works
    // A writer's single repeat: two calls, both failing.
    int calls = 0;
    EXPECT_EQ(comm::writeWithRepeat(*r.bus, 1, 1, 1, 350, &calls), kModbusFail);
    EXPECT_EQ(calls, 2);
    r.server.setSilent(false);
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), 0);
}

TEST(ModbusOverSim, WrongAddressGetsNoAnswer) {
    SimRig r;
    int32_t buf[8] = {};
    EXPECT_EQ(r.bus->Get_3X_DX(1, 2, 1, 8, buf), kModbusFail);
    EXPECT_EQ(r.bus->Get_3X_DX(1, 0, 1, 8, buf), kModbusFail);
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), 0);
}

TEST(ModbusOverSim, BadCrcIsAFailure) {
    sim::ServerOptions o;
    o.corruptRate = 1.0;
    SimRig r(o);
    int32_t buf[8] = {};
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), kModbusFail);
    EXPECT_TRUE(r.bus->stats().lastError.text(base::Lang::Stored).contains("CRC"))
        << r.bus->stats().lastError.text(base::Lang::Stored).toStdString();
}

TEST(ModbusOverSim, ClosedLineAndMissingPortFail) {
    SimRig r;
    r.server.closeLine();
    int32_t buf[8] = {};
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), kModbusFail);
    EXPECT_TRUE(r.bus->deviceGone())
        << r.bus->stats().lastError.text(base::Lang::Stored).toStdString();
    // The operator reads which device went away, or that the gateway closed the connection (the
    // simulator's loopback gateway where there are no pseudo-terminals), not the system's words
    // in its own language.
    const QString device = QString::fromStdString(r.server.device());
    EXPECT_EQ(r.bus->stats().lastError.text(base::Lang::Stored),
              device.contains(QStringLiteral("://"))
                  ? QStringLiteral("连接已断开（网关关闭了连接）")
                  : QStringLiteral("设备已断开（%1）").arg(device));
    EXPECT_EQ(r.bus->ClosePort_Modbus(1), 0);
    // Calls on a closed port fail without being counted as exchanges.
    const auto before = r.bus->stats();
    EXPECT_EQ(r.bus->Get_3X_DX(1, 1, 1, 8, buf), kModbusFail);
    EXPECT_EQ(r.bus->lastFailure().text(base::Lang::Stored), "端口未打开");
    EXPECT_EQ(r.bus->stats().exchanges, before.exchanges);
    EXPECT_EQ(r.bus->stats().failures, before.failures);
    comm::PortMap none;
    LibModbusRTU nowhere(none);
    none.setExplicit(3, "/nonexistent/tty");
    LibModbusRTU missing(none);
    EXPECT_EQ(nowhere.OpenPort_Modbus(19, 1, 0), kModbusFail);
    EXPECT_EQ(missing.OpenPort_Modbus(3, 1, 0), kModbusFail);
    // The reason stays until the next open: the port, the device and what the system said.
    const QString why = missing.stats().openError.text(base::Lang::Stored);
    EXPECT_TRUE(why.startsWith("端口 3（/nonexistent/tty）无法打开：")) << why.toStdString();
    EXPECT_GT(why.size(), QString("端口 3（/nonexistent/tty）无法打开：").size());
    // A number without a device says so; on Windows every number names one (COM19 here, which
    // the machine lacks), and the reason is then the system's.
    const QString nowhereWhy = nowhere.stats().openError.text(base::Lang::Stored);
    if (comm::os::numberedPort(19))
        EXPECT_TRUE(nowhereWhy.startsWith("端口 19（\\\\.\\COM19）无法打开："))
            << nowhereWhy.toStdString();
    else
        EXPECT_TRUE(nowhereWhy.contains("无对应设备")) << nowhereWhy.toStdString();
    EXPECT_EQ(missing.Set_4X_D1(3, 1, 1, 1), kModbusFail);
    EXPECT_EQ(missing.stats().exchanges + missing.stats().failures, 0u);
    EXPECT_FALSE(missing.deviceGone());
}
