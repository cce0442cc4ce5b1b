// The link on a garbled line: answers dropped and answers with a bad CRC, for thousands of
// exchanges.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

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

// A silent instrument is only silent; an unplugged device is reopened once a second until it is
// back, and "关闭" stops that. The device is a symbolic link to the simulator's pty, as a udev name
// is to a USB adapter: unplugging removes both, plugging back makes a new pty behind the same name.
TEST(LineFaults, ReplugIsHealedAndCloseStopsTheRetries) {
    QCoreApplication app(argc, argv);
    const QByteArray dir = QDir::tempPath().toLocal8Bit() + "/velmars-replug-XXXXXX";
    QByteArray dirBuf = dir;
    ASSERT_NE(::mkdtemp(dirBuf.data()), nullptr);
    const std::string name = dirBuf.toStdString() + "/ttyUSB0";
    sim::SimServer server;
    auto plug = [&] {
        std::string why;
        ASSERT_TRUE(server.start(&why)) << why;
        ASSERT_EQ(::symlink(server.ptyPath().c_str(), name.c_str()), 0);
    };
    auto unplug = [&] {
        server.stop();
        ::unlink(name.c_str());
    };
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(name));
    auto bus = std::make_unique<comm::LibModbusRTU>(ports);
    bus->setResponseTimeoutMs(100);
    comm::Link link(std::move(bus));
    link.setSettings({1, 0, 0, 1});
    QList<comm::LinkEvent> events;
    QObject::connect(&link, &comm::Link::linkEvent,
                     [&](comm::LinkEvent e, const QString&) { events << e; });
    auto count = [&](comm::LinkEvent e) { return events.count(e); };
    auto answering = [&] { return link.stats().lastOk && link.stats().exchanges > 0; };

    // Nothing plugged in yet: the open fails, says why until the next open, and the reads polled
    // on the closed port are not counted as exchanges.
    link.open();
    ASSERT_TRUE(pump([&] { return count(comm::LinkEvent::OpenFailed) == 1; }, 2000));
    pump([] { return false; }, 400);
    EXPECT_TRUE(link.stats().openError.contains(QString::fromStdString(name)));
    EXPECT_EQ(link.stats().exchanges + link.stats().failures, 0u);
    EXPECT_GE(link.silentMs(), 300);

    plug();
    link.open();
    ASSERT_TRUE(pump(answering, 3000));
    EXPECT_EQ(count(comm::LinkEvent::Opened), 1);
    EXPECT_TRUE(link.stats().openError.isEmpty());

    // Silent, not gone: the port stays open, failures are counted, and the error clears after.
    server.setSilent(true);
    ASSERT_TRUE(pump([&] { return count(comm::LinkEvent::Silent) == 1; }, 3000));
    EXPECT_FALSE(link.stats().deviceLost);
    EXPECT_TRUE(link.stats().portOpen);
    EXPECT_FALSE(link.stats().lastError.isEmpty());
    EXPECT_GE(link.silentMs(), 500);
    server.setSilent(false);
    ASSERT_TRUE(pump([&] { return count(comm::LinkEvent::Answering) == 1; }, 3000));
    // The event and the good block's figures travel as separate queued signals.
    EXPECT_TRUE(
        pump([&] { return link.stats().lastError.isEmpty() && link.silentMs() < 500; }, 2000))
        << qPrintable(link.stats().lastError) << " " << link.silentMs();

    unplug();
    ASSERT_TRUE(pump([&] { return link.stats().deviceLost; }, 2000));
    EXPECT_EQ(count(comm::LinkEvent::DeviceLost), 1);
    EXPECT_FALSE(link.stats().portOpen);
    pump([] { return false; }, 1500);  // a few reopening attempts fail meanwhile
    EXPECT_TRUE(link.stats().deviceLost);
    plug();
    QElapsedTimer back;
    back.start();
    const uint64_t before = link.stats().exchanges;
    ASSERT_TRUE(pump([&] { return link.stats().exchanges > before + 9 && answering(); }, 3000));
    EXPECT_LT(back.elapsed(), 3000);
    EXPECT_EQ(count(comm::LinkEvent::DeviceBack), 1);
    EXPECT_FALSE(link.stats().deviceLost);

    // Unplugged again; the operator closes during the outage: nothing reopens any more.
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
    ::rmdir(dirBuf.constData());
}
