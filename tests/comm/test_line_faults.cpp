// The link when the line fails: a garbled line for thousands of exchanges; a silent instrument and
// a lost connection on each kind of port; a gateway host that does not answer.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "comm/libmodbusrtu.h"
#include "comm/link.h"
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

}  // namespace

TEST(LineFaults, GarbledLineKeepsTheImageAndRecovers) {
    QCoreApplication app(argc, argv);
    sim::ServerOptions o;
    o.seed = 7;
    sim::SimServer server(o);
    std::string why;
    ASSERT_TRUE(server.start(&why)) << why;
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(server.ptyPath()));
    auto bus = std::make_unique<comm::LibModbusRTU>(ports);
    bus->setResponseTimeoutMs(100);  // keeps thousands of lost answers quick; the rule is the same
    comm::Link link(std::move(bus));
    link.setSettings({1, 1, 0, 1});

    std::array<int, 48> truth{};
    for (int k = 0; k < 48; ++k)
        truth[k] = server.holdingRegister(4097 + k);
    const int sv1 = server.holdingRegister(1);
    const int alarm1 = server.holdingRegister(257);

    link.open();
    // One whole clean cycle first, so that every block holds what the instrument has.
    ASSERT_TRUE(pump(
        [&] {
            return link.image().HoldingValues[0] == float(sv1) &&
                   link.image().HoldingRegs257[0] == alarm1;
        },
        3000));
    server.setFaults(0.10, 0.05);

    // Every published image holds either a value the instrument had or, for the parameter block
    // whose read failed this cycle, zero: never anything made up from a broken answer.
    int checked = 0;
    QString wrong;
    QObject::connect(&link, &comm::Link::imagePublished, [&] {
        const auto& im = link.image();
        ++checked;
        if (!wrong.isEmpty()) return;
        if (im.HoldingValues[0] != float(sv1))
            wrong = QStringLiteral("SV1 setting %1").arg(im.HoldingValues[0]);
        if (im.HoldingRegs257[0] != alarm1)
            wrong = QStringLiteral("alarm 1 setting %1").arg(im.HoldingRegs257[0]);
        for (int k = 0; k < 48; ++k)
            if (im.ParamValues[k] != float(truth[k]) && im.ParamValues[k] != 0.0f)
                wrong = QStringLiteral("parameter %1: %2").arg(k).arg(im.ParamValues[k]);
    });
    ASSERT_TRUE(pump([&] { return link.stats().exchanges >= 5000; }, 240000));
    EXPECT_TRUE(wrong.isEmpty()) << wrong.toStdString();
    EXPECT_GT(checked, 4000);
    const auto s = link.stats();
    // About 15 % of the exchanges fail; the counter says so.
    EXPECT_GT(s.failures, s.exchanges / 20);
    EXPECT_LT(s.failures, s.exchanges / 4);

    server.setFaults(0, 0);
    // Let the exchange in flight end, then one whole cycle: the image is complete again.
    int cycles = 0;
    QObject::connect(&link, &comm::Link::cycleFinished, [&] { ++cycles; });
    ASSERT_TRUE(pump([&] { return cycles >= 2; }, 5000));
    for (int k = 0; k < 48; ++k)
        EXPECT_EQ(link.image().ParamValues[k], float(truth[k])) << k;
    EXPECT_EQ(link.image().InputRegsHigh[0], server.inputRegister(4097));
    link.close();
}

// A silent instrument is only silent, and a lost connection heals without the operator, on each
// kind of port: a serial device, here a symbolic link to the simulator's pty as a udev name is to
// a USB adapter (unplugging removes both, plugging back makes a new pty behind the same name), and
// a gateway on 127.0.0.1 speaking Modbus TCP or passing RTU frames through TCP, restarted on its
// port. "关闭" during an outage stops the reopening.
struct Port {
    const char* name;
    sim::Transport transport;
    const char* openFailure;  // how the open fails with nothing there ("": the system's words)
    const char* gone;         // how the error of a lost connection starts
};

class Transports : public testing::TestWithParam<Port> {};

TEST_P(Transports, SilentIsOnlySilentAndALostConnectionHeals) {
    QCoreApplication app(argc, argv);
    const Port& port = GetParam();
    const bool serial = port.transport == sim::Transport::Pty;
    sim::ServerOptions o;
    o.transport = port.transport;
    o.address = 7;  // the slave address must travel, through a gateway as the unit id
    sim::SimServer server(o);
    std::string why;
    QTemporaryDir dir;
    QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    if (!serial) {  // the port the gateway listens on, again after each restart
        ASSERT_TRUE(server.start(&why)) << why;
        device = QString::fromStdString(server.device());
        server.stop();
    }
    auto plug = [&] {
        ASSERT_TRUE(server.start(&why)) << why;
        if (serial) {
            ASSERT_EQ(::symlink(server.ptyPath().c_str(), qPrintable(device)), 0);
        }
    };
    auto unplug = [&] {
        server.stop();
        if (serial) ::unlink(qPrintable(device));
    };
    comm::PortMap ports;
    ports.setExplicit(1, device);
    auto bus = std::make_unique<comm::LibModbusRTU>(ports);
    bus->setResponseTimeoutMs(100);
    comm::Link link(std::move(bus));
    link.setSettings({1, 1, 0, 7});
    QList<comm::LinkEvent> events;
    QObject::connect(&link, &comm::Link::linkEvent,
                     [&](comm::LinkEvent e, const QString&) { events << e; });
    int cycles = 0;
    QObject::connect(&link, &comm::Link::cycleFinished, [&] { ++cycles; });
    auto count = [&](comm::LinkEvent e) { return events.count(e); };
    auto answering = [&] { return link.stats().lastOk && link.stats().exchanges > 0; };

    // Nothing there yet: the open fails, says why until the next open, and the reads polled on
    // the closed port are not counted as exchanges.
    link.open();
    ASSERT_TRUE(pump([&] { return count(comm::LinkEvent::OpenFailed) == 1; }, 2000));
    pump([] { return false; }, 400);
    EXPECT_TRUE(link.stats().openError.text(base::Lang::Stored).contains(device))
        << qPrintable(link.stats().openError.text(base::Lang::Stored));
    EXPECT_TRUE(link.stats()
                    .openError.text(base::Lang::Stored)
                    .endsWith(QString::fromUtf8(port.openFailure)))
        << qPrintable(link.stats().openError.text(base::Lang::Stored));
    EXPECT_EQ(link.stats().exchanges + link.stats().failures, 0u);
    EXPECT_GE(link.silentMs(), 300);

    plug();
    link.open();
    EXPECT_TRUE(link.valuesStale());  // nothing read since the open
    ASSERT_TRUE(pump(answering, 3000));
    EXPECT_TRUE(pump([&] { return !link.valuesStale(); }, 2000));
    EXPECT_EQ(count(comm::LinkEvent::Opened), 1);
    EXPECT_TRUE(link.stats().openError.text(base::Lang::Stored).isEmpty());
    // A whole cycle of nine reads without a failure, the image holding the instrument's values.
    const comm::LinkStats opened = link.stats();
    const int cyclesOpened = cycles;
    ASSERT_TRUE(pump([&] { return cycles >= cyclesOpened + 2; }, 3000));
    EXPECT_GE(link.stats().exchanges, opened.exchanges + 9);
    EXPECT_EQ(link.stats().failures, opened.failures);
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

    // Silent, not gone: the port stays open, failures are counted, and the error clears after.
    server.setSilent(true);
    ASSERT_TRUE(pump([&] { return count(comm::LinkEvent::Silent) == 1; }, 3000));
    EXPECT_FALSE(link.stats().deviceLost);
    EXPECT_TRUE(link.stats().portOpen);
    EXPECT_FALSE(link.stats().lastError.text(base::Lang::Stored).isEmpty());
    EXPECT_GE(link.silentMs(), 500);
    server.setSilent(false);
    ASSERT_TRUE(pump([&] { return count(comm::LinkEvent::Answering) == 1; }, 3000));
    // The event and the good block's figures travel as separate queued signals.
    EXPECT_TRUE(pump(
        [&] {
            return link.stats().lastError.text(base::Lang::Stored).isEmpty() &&
                   link.silentMs() < 500;
        },
        2000))
        << qPrintable(link.stats().lastError.text(base::Lang::Stored)) << " " << link.silentMs();

    // Lost: reopening is tried once a second and fails while the device or gateway is away, and
    // once it is back polling resumes by itself.
    unplug();
    ASSERT_TRUE(pump([&] { return link.stats().deviceLost; }, 2000));
    // The values read before are no reading from the moment the device is gone.
    EXPECT_TRUE(link.valuesStale());
    EXPECT_EQ(count(comm::LinkEvent::DeviceLost), 1);
    EXPECT_FALSE(link.stats().portOpen);
    EXPECT_TRUE(
        link.stats().lastError.text(base::Lang::Stored).startsWith(QString::fromUtf8(port.gone)))
        << qPrintable(link.stats().lastError.text(base::Lang::Stored));
    pump([] { return false; }, 1500);
    EXPECT_TRUE(link.stats().deviceLost);
    plug();
    const uint64_t before = link.stats().exchanges;
    ASSERT_TRUE(pump([&] { return link.stats().exchanges > before + 9 && answering(); }, 3000));
    EXPECT_EQ(count(comm::LinkEvent::DeviceBack), 1);
    EXPECT_FALSE(link.stats().deviceLost);
    EXPECT_TRUE(link.stats().portOpen);

    // Lost again; the operator closes during the outage: nothing reopens any more.
    unplug();
    ASSERT_TRUE(pump([&] { return link.stats().deviceLost; }, 2000));
    link.close();
    ASSERT_TRUE(pump([&] { return !link.stats().deviceLost; }, 1000));
    plug();
    const uint64_t closedAt = link.stats().exchanges;
    pump([] { return false; }, 2500);
    EXPECT_EQ(count(comm::LinkEvent::DeviceBack), 1);
    EXPECT_EQ(link.stats().exchanges, closedAt);
    EXPECT_FALSE(link.stats().portOpen);
    EXPECT_EQ(link.silentMs(), 0);
    unplug();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Transports,
    testing::Values(Port{"Serial", sim::Transport::Pty, "", "设备已断开"},
                    Port{"ModbusTcp", sim::Transport::ModbusTcp, "连接被拒绝", "连接已断开"},
                    Port{"RtuOverTcp", sim::Transport::RtuOverTcp, "连接被拒绝", "连接已断开"}),
    [](const auto& info) { return info.param.name; });

// A host that takes no connection is told apart from one that refuses it, and waited for no longer
// than the connect timeout. A listening socket whose one-place backlog is full drops the next
// connection's handshake as a silent host does.
TEST(LineFaults, SilentGatewayHostSaysSo) {
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
    EXPECT_TRUE(bus.stats().openError.text(base::Lang::Stored).endsWith("主机无应答"))
        << qPrintable(bus.stats().openError.text(base::Lang::Stored));
    ::close(filler);
    ::close(listener);
}
