#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <memory>

#include "comm/link.h"
#include "fakemodbus.h"

using comm::Link;
using testing_support::FakeModbus;

namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

QCoreApplication& app() {
    static QCoreApplication a(argc, argv);
    return a;
}

// Owns a Link over a FakeModbus; the fake stays reachable for scripting.
struct Rig {
    FakeModbus* bus;
    std::unique_ptr<Link> link;
    Rig() {
        app();
        auto fake = std::make_unique<FakeModbus>();
        bus = fake.get();
        link = std::make_unique<Link>(std::move(fake));
    }
};

bool waitFor(const std::function<bool()>& cond, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace

TEST(LinkThread, OpenStoresStatusAndPolls) {
    Rig r;
    QSignalSpy opened(r.link.get(), &Link::opened);
    r.bus->setInput(1, 321);
    r.link->open({1, 1, 0, 1});
    ASSERT_TRUE(waitFor([&] { return r.link->image().LiveValues[0] == 321.0f; }));
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toInt(), 0);
    EXPECT_EQ(r.bus->callTexts().front(), "OpenPort_Modbus(1,1,0)");
    r.link->close();
    ASSERT_TRUE(waitFor([&] { return r.bus->callTexts().contains("ClosePort_Modbus(1)"); }));
    // No further reads once the close has been handled.
    QTest::qWait(50);
    const size_t after = r.bus->callCount();
    QTest::qWait(300);
    EXPECT_EQ(r.bus->callCount(), after);
    EXPECT_EQ(r.link->image().LiveValues[0], 321.0f);
    EXPECT_EQ(r.link->lastCycleMs(), 0);  // the cycle-time figure starts again with the next open
}

TEST(LinkThread, WriteRepeatsOnceOnFailure) {
    struct Case {
        std::vector<int32_t> statuses;
        int calls;
    };
    const Case cases[] = {{{}, 1}, {{-8888}, 2}, {{-8888, -8888}, 2}, {{-1}, 1}, {{5}, 1}};
    for (const auto& c : cases) {
        Rig r;
        r.link->setSettings({2, 0, 0, 5});
        for (int32_t s : c.statuses)
            r.bus->queueWriteStatus(s);
        QSignalSpy spy(r.link.get(), &Link::writeFinished);
        QSignalSpy reports(r.link.get(), &Link::writeReported);
        r.link->writeHolding(4107, -1999);
        ASSERT_TRUE(waitFor([&] { return spy.count() == 1 && reports.count() == 1; }));
        // The report names the address the write went to, as the event log keeps it.
        EXPECT_EQ(reports.at(0).at(0).value<comm::WriteReport>().address, 5);
        const QStringList calls = r.bus->callTexts();
        ASSERT_EQ(calls.size(), c.calls);
        for (const QString& call : calls)
            EXPECT_EQ(call, "Set_4X_D1(2,5,4107,-1999)");
        EXPECT_EQ(spy.at(0).at(4).toInt(), c.calls);
    }
}

TEST(LinkThread, ValuePastSixteenBitsIsNotSent) {
    Rig r;
    QSignalSpy spy(r.link.get(), &Link::writeFinished);
    r.link->writeHolding(1, 65536);
    r.link->writeHolding(1, -32769);
    ASSERT_TRUE(waitFor([&] { return spy.count() == 2; }));
    EXPECT_EQ(r.bus->callCount(), 0u);
    EXPECT_EQ(spy.at(0).at(3).toInt(), comm::kModbusFail);
    EXPECT_EQ(spy.at(0).at(4).toInt(), 0);
}

TEST(LinkThread, QueuedWriteLandsBetweenTwoReads) {
    Rig r;
    Link* link = r.link.get();
    // What a hook touches is its own: the line's thread may call it until the link has ended,
    // after this test's locals are gone.
    const auto asked = std::make_shared<std::atomic<bool>>(false);
    // When the first block of a cycle is being read, the UI asks for a write.
    r.bus->setHook([link, asked](const QString& fn) {
        if (fn == "Get_3X_DX" && !asked->exchange(true)) {
            QMetaObject::invokeMethod(
                link, [link] { link->writeHolding(1, 350); }, Qt::QueuedConnection);
            QThread::msleep(
                50);  // the exchange takes a while; the UI hands over its write meanwhile
        }
    });
    r.link->open({0, 0, 0, 1});
    ASSERT_TRUE(waitFor([&] { return r.bus->callTexts().contains("Set_4X_D1(0,1,1,350)"); }));
    r.link->close();
    const QStringList calls = r.bus->callTexts();
    const int w = calls.indexOf("Set_4X_D1(0,1,1,350)");
    ASSERT_GT(w, 1);
    // The write falls inside the cycle: a read of the same cycle comes before it and after it.
    EXPECT_TRUE(calls.at(w - 1).startsWith("Get_")) << calls.join(' ').toStdString();
    EXPECT_TRUE(calls.at(w + 1).startsWith("Get_")) << calls.join(' ').toStdString();
    EXPECT_NE(calls.at(w + 1), "Get_3X_DX(0,1,1,8)");
}

namespace {

// The middle of the cycle times reported after the first.
double medianCycleMs(const QSignalSpy& cycles) {
    std::vector<double> ms;
    for (int i = 1; i < cycles.count(); ++i)
        ms.push_back(cycles.at(i).at(0).toDouble());
    if (ms.empty()) return 0;
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

TEST(LinkThread, OverrunningCyclesFollowAtOnceWithoutOverlap) {
    Rig r;
    struct Calls {
        std::atomic<int> in{0};
        std::atomic<int> most{0};
    };
    const auto calls = std::make_shared<Calls>();
    r.bus->setHook([calls](const QString& fn) {
        if (!fn.startsWith("Get_")) return;
        const int n = ++calls->in;
        calls->most = std::max(calls->most.load(), n);
        QThread::msleep(20);  // nine blocks: about 180 ms a cycle, past the 100 ms period
        --calls->in;
    });
    QSignalSpy cycles(r.link.get(), &Link::cycleFinished);
    r.link->open();
    ASSERT_TRUE(waitFor([&] { return cycles.count() >= 4; }, 5000));
    r.link->close();
    EXPECT_EQ(calls->most.load(), 1);
    // No cycle is shorter than its calls; the middle one shows no idle period after an overrun
    // (single cycles may wait for a core on a loaded machine).
    for (int i = 1; i < cycles.count(); ++i)
        EXPECT_GE(cycles.at(i).at(0).toDouble(), 175);
    EXPECT_LT(medianCycleMs(cycles), 260) << "idle gap after an overrunning cycle";
}

TEST(LinkThread, FastCyclesArePacedAtTheirPeriod) {
    Rig r;
    QSignalSpy cycles(r.link.get(), &Link::cycleFinished);
    r.link->open();
    ASSERT_TRUE(waitFor([&] { return cycles.count() >= 5; }, 3000));
    r.link->close();
    for (int i = 1; i < cycles.count(); ++i)
        EXPECT_GE(cycles.at(i).at(0).toDouble(), 95);
    EXPECT_LT(medianCycleMs(cycles), 160);
}

TEST(LinkThread, ShutdownIsBounded) {
    Rig r;
    r.bus->setHook([](const QString&) { QThread::msleep(200); });
    r.link->open();
    QTest::qWait(50);
    QElapsedTimer t;
    t.start();
    r.link.reset();
    EXPECT_LT(t.elapsed(), 3500);
}

TEST(LinkThread, StuckCallDoesNotHoldShutdownAndLaterRequestsAreRefused) {
    Rig r;
    // The stuck call outlives this test's part in it: the thread left behind still runs the hook
    // after the link is gone, so the hook owns its share of the flags.
    struct Stuck {
        std::atomic<bool> held{true};
        std::atomic<bool> returned{false};
    };
    const auto stuck = std::make_shared<Stuck>();
    r.bus->setHook([stuck](const QString&) {
        while (stuck->held)
            QThread::msleep(5);
        stuck->returned = true;
    });
    r.link->open();
    QTest::qWait(50);
    QElapsedTimer t;
    t.start();
    r.link->shutdown(200);
    EXPECT_LT(t.elapsed(), 1000);
    QSignalSpy reports(r.link.get(), &Link::writeReported);
    QSignalSpy reads(r.link.get(), &Link::readFinished);
    r.link->writeHolding(1, 350, QStringLiteral("设定SV1"));
    r.link->readHolding(8193, 8);
    r.link->open();
    r.link->close();
    ASSERT_TRUE(waitFor([&] { return reports.count() == 1 && reads.count() == 1; }));
    const auto report = reports.at(0).at(0).value<comm::WriteReport>();
    EXPECT_EQ(report.status, comm::kModbusFail);
    EXPECT_EQ(report.calls, 0);
    EXPECT_EQ(report.caption, "设定SV1");
    EXPECT_FALSE(report.error.isEmpty());
    EXPECT_EQ(reads.at(0).at(3).toInt(), comm::kModbusFail);
    EXPECT_EQ(r.link->pendingRequests(), 0);
    EXPECT_FALSE(r.link->polling());
    // The left thread ends once its call returns.
    stuck->held = false;
    EXPECT_TRUE(waitFor([&] { return stuck->returned.load(); }, 60000));
}
