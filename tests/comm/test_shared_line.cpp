// Several chambers on one line: the simulated instruments at several addresses on one
// pseudo-terminal, one link per chamber from one registry of lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <mutex>
#include <thread>

#include "comm/libmodbusrtu.h"
#include "comm/link.h"
#include "sim/server.h"

namespace {

// Waits for a condition with the event loop running; generous, as the machine may be loaded.
bool until(const std::function<bool()>& done, int ms = 10000) {
    return QTest::qWaitFor(done, ms);
}

// The instruments at `addresses` on one pty (some silent), their SV1 set to 100 times their
// address, and a link per address on one line; the first link is focused.
struct Bench {
    std::mutex logMutex;
    QStringList writes;  // the simulator's write log
    sim::SimServer server;
    std::unique_ptr<comm::LineRegistry> lines;
    std::vector<std::unique_ptr<comm::Link>> links;

    static sim::ServerOptions options(std::vector<int> addresses, std::vector<int> silent,
                                      Bench* self) {
        sim::ServerOptions o;
        o.addresses = std::move(addresses);
        o.silentAddresses = std::move(silent);
        o.writeLog = [self](const std::string& line) {
            std::lock_guard<std::mutex> lock(self->logMutex);
            self->writes << QString::fromStdString(line);
        };
        return o;
    }
    Bench(const std::vector<int>& addresses, std::vector<int> silent = {}, QString device = {})
        : server(options(addresses, std::move(silent), this)) {
        std::string why;
        EXPECT_TRUE(server.start(&why)) << why;
        for (int a : addresses)
            server.withInstrument(
                a, [a](sim::Instrument& i) { return i.setHoldingRegister(1, 100 * a); });
        comm::PortMap ports;
        ports.setExplicit(1, device.isEmpty() ? QString::fromStdString(server.ptyPath()) : device);
        lines = std::make_unique<comm::LineRegistry>(ports, [ports](const QString&) {
            auto bus = std::make_unique<comm::LibModbusRTU>(ports);
            bus->setResponseTimeoutMs(100);
            return bus;
        });
        for (int a : addresses) {
            links.push_back(std::make_unique<comm::Link>(lines->lineFor(1)));
            links.back()->setSettings({1, 1, 0, a});
        }
        links.front()->setFocused(true);
    }
    QStringList writeLog() {
        std::lock_guard<std::mutex> lock(logMutex);
        return writes;
    }
    void openAll() {
        for (auto& l : links)
            l->open();
    }
};

bool holdsOwnValues(const comm::Link& link) {
    const int sv1 = 100 * link.settings().address;
    return link.image().InputRegsLow[2] == sv1 && link.image().InputRegsHigh[2] == sv1;
}

}  // namespace

TEST(SharedLine, EachChamberReadsItsOwnInstrumentAndTheFocusedOneTheWholeCycle) {
    Bench b({1, 2, 3});
    b.lines->setTurnaroundMs(QString::fromStdString(b.server.ptyPath()), 2);
    ASSERT_EQ(b.links[0]->line(), b.links[2]->line());
    int focusedCycles = 0, otherCycles = 0;
    QObject::connect(b.links[0].get(), &comm::Link::cycleFinished, [&] { ++focusedCycles; });
    for (int i : {1, 2})
        QObject::connect(b.links[i].get(), &comm::Link::cycleFinished, [&] { ++otherCycles; });
    b.openAll();
    ASSERT_TRUE(until([&] {
        return std::all_of(b.links.begin(), b.links.end(),
                           [](auto& l) { return holdsOwnValues(*l); });
    }));
    // While the focused chamber runs twenty whole cycles the others get only their short poll,
    // never stale.
    const int start = focusedCycles;
    int worstSilentMs = 0;
    ASSERT_TRUE(until([&] {
        for (int i : {1, 2})
            worstSilentMs = std::max(worstSilentMs, b.links[i]->silentMs());
        return focusedCycles >= start + 20;
    }));
    EXPECT_LT(worstSilentMs, comm::kStaleAfterMs);
    EXPECT_EQ(otherCycles, 0);
    EXPECT_EQ(b.links[0]->image().HoldingValues[0], 100.0f);
    EXPECT_EQ(b.links[1]->image().HoldingValues[0], 0.0f);  // holding registers: the focused one's

    // The focus moves: the chamber shown now gets the whole cycle, with its own values.
    b.links[1]->setFocused(true);
    EXPECT_TRUE(
        until([&] { return otherCycles >= 2 && b.links[1]->image().HoldingValues[0] == 200.0f; }));
    EXPECT_EQ(b.links[2]->image().HoldingValues[0], 0.0f);
}

TEST(SharedLine, SilentAddressIsRetriedSparselyAndDoesNotStallTheOthers) {
    Bench b({1, 2, 3, 4}, /*silent=*/{3});
    QList<comm::LinkEvent> events3;
    QObject::connect(b.links[2].get(), &comm::Link::linkEvent,
                     [&](comm::LinkEvent e, const QString&) { events3 << e; });
    b.openAll();
    ASSERT_TRUE(until([&] { return events3.contains(comm::LinkEvent::Silent); }));
    // While address 2 makes fifteen more exchanges (five or more short polls), the silent one
    // costs one timeout per backed-off retry and the others stay fresh.
    const uint64_t from2 = b.links[1]->stats().exchanges;
    const uint64_t failed3 = b.links[2]->stats().failures;
    int worstSilentMs = 0;
    ASSERT_TRUE(until(
        [&] {
            for (int i : {0, 1, 3})
                worstSilentMs = std::max(worstSilentMs, b.links[i]->silentMs());
            return b.links[1]->stats().exchanges >= from2 + 15;
        },
        30000));
    EXPECT_LT(worstSilentMs, comm::kStaleAfterMs);
    EXPECT_LE(b.links[2]->stats().failures - failed3, 3u);
    EXPECT_TRUE(comm::valuesStale(b.links[2]->polling(), b.links[2]->silentMs()));
    EXPECT_TRUE(holdsOwnValues(*b.links[3]));

    // It answers again: back to the short poll at its next retry.
    b.server.setSilent(3, false);
    EXPECT_TRUE(until(
        [&] { return events3.contains(comm::LinkEvent::Answering) && holdsOwnValues(*b.links[2]); },
        30000));
}

TEST(SharedLine, WritesReachOnlyTheirOwnAddress) {
    Bench b({1, 2, 3});
    b.links[1]->setFocused(true);
    b.openAll();
    ASSERT_TRUE(until([&] { return holdsOwnValues(*b.links[0]) && holdsOwnValues(*b.links[2]); }));
    QList<int> statuses;
    for (auto& l : b.links)
        QObject::connect(l.get(), &comm::Link::writeFinished,
                         [&](quint64, int32_t, int32_t, int32_t s, int) { statuses << s; });
    b.links[1]->writeHolding(4107, -1999);  // the focused chamber
    b.links[2]->writeHolding(4108, 55);     // one in the background, as the alerts' commands may
    ASSERT_TRUE(until([&] { return statuses.size() == 2; }));
    EXPECT_EQ(statuses, (QList<int>{0, 0}));
    const QStringList log = b.writeLog();
    ASSERT_EQ(log.size(), 2) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].endsWith(QStringLiteral("address 2 4X 4107 -1999"))) << log[0].toStdString();
    EXPECT_TRUE(log[1].endsWith(QStringLiteral("address 3 4X 4108 55"))) << log[1].toStdString();
    for (int a : {1, 3})
        EXPECT_NE(
            b.server.withInstrument(a, [](sim::Instrument& i) { return i.holdingRegister(4107); }),
            -1999);
}

TEST(SharedLine, UnpluggedLineHealsForAllItsChambersAtOnce) {
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));  // as a udev name
    Bench b({1, 2}, {}, device);
    ASSERT_EQ(::symlink(b.server.ptyPath().c_str(), qPrintable(device)), 0);
    QList<comm::LinkEvent> events[2];
    for (int i : {0, 1})
        QObject::connect(b.links[i].get(), &comm::Link::linkEvent,
                         [&events, i](comm::LinkEvent e, const QString&) { events[i] << e; });
    b.openAll();
    ASSERT_TRUE(until([&] { return holdsOwnValues(*b.links[0]) && holdsOwnValues(*b.links[1]); }));
    b.server.stop();
    ::unlink(qPrintable(device));
    for (int i : {0, 1})
        EXPECT_TRUE(until([&] { return events[i].contains(comm::LinkEvent::DeviceLost); })) << i;
    std::string why;
    ASSERT_TRUE(b.server.start(&why)) << why;
    ASSERT_EQ(::symlink(b.server.ptyPath().c_str(), qPrintable(device)), 0);
    for (int i : {0, 1}) {
        EXPECT_TRUE(until([&] { return events[i].contains(comm::LinkEvent::DeviceBack); })) << i;
        EXPECT_EQ(events[i].count(comm::LinkEvent::DeviceLost), 1);
    }
    const uint64_t before = b.links[1]->stats().exchanges;
    EXPECT_TRUE(until(
        [&] { return b.links[1]->stats().exchanges > before && b.links[1]->stats().lastOk; }));
}

// An instrument that answers for another address, as a miswired or misconfigured one does: every
// request gets a well-formed answer from slave 2 whose registers all read 777.
TEST(SharedLine, AnswerFromAnotherAddressIsNeverTakenAsTheAsked) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString pty = QString::fromLocal8Bit(::ptsname(master));
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        auto crc = [](const std::vector<uint8_t>& f) {
            uint16_t c = 0xFFFF;
            for (uint8_t b : f) {
                c ^= b;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            }
            return c;
        };
        std::vector<uint8_t> in;
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) continue;
            in.insert(in.end(), buf, buf + n);
            while (in.size() >= 8) {  // every read request is eight bytes
                const uint8_t fc = in[1];
                const int qty = in[4] << 8 | in[5];
                std::vector<uint8_t> out{2, fc};
                if (fc == 3 || fc == 4) {
                    out.push_back(static_cast<uint8_t>(2 * qty));
                    for (int k = 0; k < qty; ++k)
                        out.insert(out.end(), {0x03, 0x09});
                } else {
                    out.push_back(static_cast<uint8_t>((qty + 7) / 8));
                    out.insert(out.end(), (qty + 7) / 8, 0xFF);
                }
                const uint16_t c = crc(out);
                out.insert(out.end(),
                           {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
                (void)!::write(master, out.data(), out.size());
                in.erase(in.begin(), in.begin() + 8);
            }
        }
    });
    comm::PortMap ports;
    ports.setExplicit(1, pty);
    comm::LineRegistry lines(ports);
    comm::Link asked1(lines.lineFor(1)), asked2(lines.lineFor(1));
    asked1.setFocused(true);
    asked1.open({1, 1, 0, 1});
    asked2.open({1, 1, 0, 2});
    // Address 2 is what answers; address 1 never gets its values.
    EXPECT_TRUE(until([&] { return asked2.image().InputRegsLow[0] == 777; }));
    EXPECT_TRUE(until([&] { return asked1.stats().failures >= 9; }));
    EXPECT_EQ(asked1.stats().exchanges, asked1.stats().failures);
    EXPECT_EQ(asked1.image().InputRegsLow[0], 0);
    EXPECT_EQ(asked1.image().HoldingRegsLow[0], 0);
    EXPECT_EQ(asked1.stats().lastError.text(base::Lang::Stored), QStringLiteral("应答格式错误"));
    asked1.shutdown();
    asked2.shutdown();
    stop = true;
    peer.join();
    ::close(master);
}
