// The link through a gateway, against the simulator standing for one on 127.0.0.1: Modbus TCP,
// and RTU frames through TCP as a serial device server passes them. For each: a poll cycle of nine
// reads, a write and its readback, a silent instrument, and a gateway restart healed without the
// operator.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "link/libmodbusrtu.h"
#include "link/link.h"
#include "sim/server.h"

namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

bool pump(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

class Gateway : public testing::TestWithParam<sim::Transport> {};

TEST_P(Gateway, PollsWritesAndReconnectsAfterARestart) {
    QCoreApplication app(argc, argv);
    sim::ServerOptions o;
    o.transport = GetParam();
    o.address = 7;  // the unit id must travel: a gateway answers for the slave it is asked for
    sim::SimServer server(o);
    std::string why;
    ASSERT_TRUE(server.start(&why)) << why;
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(server.device()));
    auto bus = std::make_unique<comm::LibModbusRTU>(ports);
    bus->setResponseTimeoutMs(100);
    comm::Link link(std::move(bus));
    link.setSettings({1, 1, 0, 7});
    QList<comm::LinkEvent> events;
    QObject::connect(&link, &comm::Link::linkEvent,
                     [&](comm::LinkEvent e, const QString&) { events << e; });
    int images = 0, cycles = 0;
    comm::LinkStats afterFirstCycle;
    QObject::connect(&link, &comm::Link::imagePublished, [&] { images += cycles == 0; });
    QObject::connect(&link, &comm::Link::cycleFinished, [&] {
        if (cycles++ == 0) afterFirstCycle = link.stats();
    });

    link.open();
    ASSERT_TRUE(pump([&] { return cycles >= 1; }, 3000));
    EXPECT_EQ(images, 9);
    EXPECT_EQ(afterFirstCycle.exchanges, 9u);
    EXPECT_EQ(afterFirstCycle.failures, 0u);
    EXPECT_EQ(link.image().HoldingValues[0], float(server.holdingRegister(1)));
    EXPECT_EQ(link.image().ParamValues[47], float(server.holdingRegister(4144)));
    EXPECT_EQ(link.image().InputRegsHigh[15], server.inputRegister(4112));

    int status = -1, calls = 0;
    QObject::connect(&link, &comm::Link::writeFinished,
                     [&](quint64, int32_t, int32_t, int32_t s, int c) { status = s, calls = c; });
    link.writeHolding(1, 345);
    ASSERT_TRUE(pump([&] { return status != -1; }, 2000));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(server.holdingRegister(1), 345);
    EXPECT_TRUE(pump([&] { return link.image().HoldingValues[0] == 345.0f; }, 2000));

    // A silent instrument behind a live connection is only silent.
    server.setSilent(true);
    ASSERT_TRUE(pump([&] { return events.contains(comm::LinkEvent::Silent); }, 3000));
    EXPECT_FALSE(link.stats().deviceLost);
    server.setSilent(false);
    ASSERT_TRUE(pump([&] { return events.contains(comm::LinkEvent::Answering); }, 3000));

    // The gateway restarts: the connection is gone, reconnecting is refused while it is down, and
    // once it listens again polling resumes by itself.
    server.stop();
    ASSERT_TRUE(pump([&] { return link.stats().deviceLost; }, 2000));
    EXPECT_TRUE(link.stats().lastError.startsWith("连接已断开"))
        << qPrintable(link.stats().lastError);
    comm::LibModbusRTU probe(ports);
    EXPECT_NE(probe.OpenPort_Modbus(1, 1, 0), 0);
    EXPECT_TRUE(probe.stats().openError.endsWith("连接被拒绝"))
        << qPrintable(probe.stats().openError);
    pump([] { return false; }, 1500);  // reconnecting attempts fail meanwhile
    EXPECT_TRUE(link.stats().deviceLost);
    ASSERT_TRUE(server.start(&why)) << why;
    const uint64_t before = link.stats().exchanges;
    ASSERT_TRUE(
        pump([&] { return link.stats().exchanges > before + 9 && link.stats().lastOk; }, 3000));
    EXPECT_EQ(events.count(comm::LinkEvent::DeviceLost), 1);
    EXPECT_EQ(events.count(comm::LinkEvent::DeviceBack), 1);
    EXPECT_TRUE(link.stats().portOpen);
    link.close();
}

INSTANTIATE_TEST_SUITE_P(Kinds, Gateway,
                         testing::Values(sim::Transport::ModbusTcp, sim::Transport::RtuOverTcp),
                         [](const auto& info) {
                             return info.param == sim::Transport::ModbusTcp ? "ModbusTcp"
                                                                            : "RtuOverTcp";
                         });

// A host that takes no connection is told apart from one that refuses it, and waited for no longer
// than the connect timeout. A listening socket whose one-place backlog is full drops the next
// connection's handshake as a silent host does.
TEST(Gateway, SilentHostSaysSo) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), size), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&addr), size), 0);
    comm::PortMap ports;
    ports.setExplicit(1, QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(addr.sin_port)));
    comm::LibModbusRTU bus(ports);
    QElapsedTimer t;
    t.start();
    EXPECT_NE(bus.OpenPort_Modbus(1, 1, 0), 0);
    EXPECT_LT(t.elapsed(), comm::LibModbusRTU::kConnectTimeoutMs + 500);
    EXPECT_TRUE(bus.stats().openError.endsWith("主机无应答")) << qPrintable(bus.stats().openError);
    ::close(filler);
    ::close(listener);
}

}  // namespace
