// Several chambers on one line, against the simulated instruments at several addresses on one
// pseudo-terminal with wire timing:
//  1. 9600 baud 8N1, the focused chamber and 7 others: the share of the others' seconds whose
//     sample holds values read within that second, the focused chamber's median cycle, and how
//     long the line is busy beside the wire time of the frames it carries;
//  2. the same with one of the others silent;
//  3. 19200 baud, the focused chamber and 15 others, and the UI thread's longest event-loop gap.
// Run by hand: build/bin/bench_bus [--seconds N] (each run N seconds, default 600).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

#include "link/libmodbusrtu.h"
#include "link/link.h"
#include "sim/server.h"

namespace {

// The libmodbus bus, timing each call and counting the wire time of the frames it carries: a
// request of 8 bytes, an answer of 5 bytes plus the data, and the 3.5 characters of silence that
// end each frame.
class TimedBus : public comm::ModbusRTU {
  public:
    TimedBus(comm::PortMap ports, int baud) : bus_(std::move(ports)), charNs_(10e9 / baud) {}
    int32_t OpenPort_Modbus(int32_t p, int32_t b, int32_t q) override {
        return bus_.OpenPort_Modbus(p, b, q);
    }
    int32_t ClosePort_Modbus(int32_t p) override { return bus_.ClosePort_Modbus(p); }
    int32_t Get_3X_DX(int32_t p, int32_t a, int32_t s, int32_t n, int32_t* b) override {
        return timed(2 * n, [&] { return bus_.Get_3X_DX(p, a, s, n, b); });
    }
    int32_t Get_4X_DX(int32_t p, int32_t a, int32_t s, int32_t n, int32_t* b) override {
        return timed(2 * n, [&] { return bus_.Get_4X_DX(p, a, s, n, b); });
    }
    int32_t Get_1X_B16(int32_t p, int32_t a, int32_t s, int32_t* b) override {
        return timed(2, [&] { return bus_.Get_1X_B16(p, a, s, b); });
    }
    int32_t Get_0X_B16(int32_t p, int32_t a, int32_t s, int32_t* b) override {
        return timed(2, [&] { return bus_.Get_0X_B16(p, a, s, b); });
    }
    int32_t Set_4X_D1(int32_t p, int32_t a, int32_t r, int32_t v) override {
        return timed(3, [&] { return bus_.Set_4X_D1(p, a, r, v); });
    }
    comm::LinkStats stats() const override { return bus_.stats(); }
    comm::LineError lastFailure() const override { return bus_.lastFailure(); }
    bool deviceGone() const override { return bus_.deviceGone(); }

    // Only answered exchanges count: a silent slave's timeout carries no answer.
    static std::atomic<int64_t> busyNs, wireNs;

  private:
    template <class F>
    int32_t timed(int dataBytes, F call) {
        QElapsedTimer t;
        t.start();
        const int32_t status = call();
        if (status == 0) {
            busyNs += t.nsecsElapsed();
            wireNs += static_cast<int64_t>((8 + 5 + dataBytes + 2 * 3.5) * charNs_);
        }
        return status;
    }
    comm::LibModbusRTU bus_;
    double charNs_;
};
std::atomic<int64_t> TimedBus::busyNs{0}, TimedBus::wireNs{0};

struct Result {
    double freshPercent = 0;  // of the background chambers' answering seconds
    double focusedCycleMs = 0;
    double busyRatio = 0;
    double uiGapMs = 0;
};

Result run(int baud, int chambers, int silentAddress, int seconds) {
    sim::ServerOptions o;
    o.baud = baud;
    o.wireTiming = true;
    for (int a = 1; a <= chambers; ++a)
        o.addresses.push_back(a);
    if (silentAddress) o.silentAddresses = {silentAddress};
    sim::SimServer server(o);
    std::string why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "simulator: %s\n", why.c_str());
        std::exit(1);
    }
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(server.ptyPath()));
    comm::LineRegistry lines(
        ports, [ports, baud](const QString&) { return std::make_unique<TimedBus>(ports, baud); });
    std::vector<std::unique_ptr<comm::Link>> links;
    for (int a = 1; a <= chambers; ++a) {
        links.push_back(std::make_unique<comm::Link>(lines.lineFor(1)));
        links.back()->setSettings({1, baud == 19200 ? 2 : 1, 0, a});
    }
    links.front()->setFocused(true);
    std::vector<double> cycles;
    QObject::connect(links.front().get(), &comm::Link::cycleFinished,
                     [&](double ms) { cycles.push_back(ms); });
    for (auto& l : links)
        l->open();
    // Settle: every chamber answered once.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    cycles.clear();
    TimedBus::busyNs = 0;
    TimedBus::wireNs = 0;

    // A sample second, as the recorder takes it: fresh when a block was read within the second.
    int64_t fresh = 0, samples = 0;
    QTimer second;
    second.setTimerType(Qt::PreciseTimer);
    QObject::connect(&second, &QTimer::timeout, [&] {
        for (size_t i = 1; i < links.size(); ++i) {
            if (static_cast<int>(i) + 1 == silentAddress) continue;
            ++samples;
            if (links[i]->silentMs() < 1000) ++fresh;
        }
    });
    second.start(1000);
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double worstGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstGap = std::max(worstGap, (now - last) / 1e6);
        last = now;
    });
    probe.start(1);
    while (clock.elapsed() < seconds * 1000LL)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    probe.stop();
    second.stop();
    Result r;
    r.freshPercent = samples ? 100.0 * fresh / samples : 0;
    if (!cycles.empty()) {
        std::sort(cycles.begin(), cycles.end());
        r.focusedCycleMs = cycles[cycles.size() / 2];
    }
    r.busyRatio = TimedBus::wireNs ? double(TimedBus::busyNs) / double(TimedBus::wireNs) : 0;
    r.uiGapMs = worstGap;
    for (auto& l : links)
        l->close();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 600;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(10, std::atoi(argv[i + 1]));
    const Result a = run(9600, 8, 0, seconds);
    std::printf(
        "9600 baud, 1+7: fresh %.2f %%, focused cycle %.0f ms, busy %.3f x wire, UI gap %.1f ms\n",
        a.freshPercent, a.focusedCycleMs, a.busyRatio, a.uiGapMs);
    const Result s = run(9600, 8, 5, seconds);
    std::printf("9600 baud, 1+7, address 5 silent: fresh %.2f %%, focused cycle %.0f ms\n",
                s.freshPercent, s.focusedCycleMs);
    const Result b = run(19200, 16, 0, seconds);
    std::printf(
        "19200 baud, 1+15: fresh %.2f %%, focused cycle %.0f ms, busy %.3f x wire, UI gap %.1f "
        "ms\n",
        b.freshPercent, b.focusedCycleMs, b.busyRatio, b.uiGapMs);
    std::printf(
        "bench_bus: 9600 baud 1+7 chambers fresh %.1f %% focused cycle %.0f ms wire %.2f x; one "
        "silent fresh %.1f %%; 19200 baud 1+15 chambers fresh %.1f %% focused cycle %.0f ms\n",
        a.freshPercent, a.focusedCycleMs, a.busyRatio, s.freshPercent, b.freshPercent,
        b.focusedCycleMs);
    return 0;
}
