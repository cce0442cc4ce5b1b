// The link on a garbled line: answers dropped and answers with a bad CRC, for thousands of
// exchanges.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

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
    auto& cp = link.commParams();
    cp(comm::kPortSlot) = 1;
    cp(comm::kBaudSlot) = 1;
    cp(comm::kParitySlot) = 0;
    cp(comm::kAddressSlot) = 1;

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
