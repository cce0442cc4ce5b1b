// Measures, against the simulated instrument on a pseudo-terminal:
//  1. the poll-cycle period with --wire-timing at 9600 and 19200 baud, parity none, beside the wire
//     limit of one cycle (297 bytes and 18 inter-frame gaps of 3.5 characters);
//  2. the same through a gateway on 127.0.0.1: Modbus TCP without wire timing (the 100 ms pacing is
//     the limit), and RTU frames through TCP with wire timing at 9600 baud;
//  3. the longest time the UI thread's event loop goes without running while polling a healthy
//     instrument, a silent one, and during operator writes.
// Prints a table; run by hand: build/bin/bench_link

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "comm/libmodbusrtu.h"
#include "comm/link.h"
#include "simrig.h"

namespace {

struct Rig {
    std::unique_ptr<sim::SimServer> server;
    std::unique_ptr<comm::Link> link;
    Rig(int baud, bool wireTiming, sim::Transport transport = sim::Transport::Pty) {
        sim::ServerOptions o;
        o.transport = transport;
        o.baud = baud;
        o.wireTiming = wireTiming;
        server = bench::startSimulator(o);
        link = std::make_unique<comm::Link>(
            std::make_unique<comm::LibModbusRTU>(bench::simulatorPorts(*server)));
        link->setSettings({1, baud == 19200 ? 2 : baud == 4800 ? 0 : 1, 0, 1});
    }
};

// Runs the event loop for ms milliseconds and returns the longest gap between two runs of it.
double longestGapMs(int ms, const std::function<void()>& during = {}) {
    bench::GapProbe probe;
    QTimer action;
    if (during) {
        action.setInterval(50);
        QObject::connect(&action, &QTimer::timeout, during);
        action.start();
    }
    bench::spin(ms);
    return probe.worstMs();
}

double wireLimitMs(int baud) {
    const double bitsPerChar = 10.0;  // start, 8 data, stop: parity none
    return (297 + 18 * 3.5) * bitsPerChar / baud * 1000.0;
}

// The median poll period over 20 cycles, the first (which includes the open) left out.
double medianPeriodMs(Rig& r, size_t* count) {
    std::vector<double> periods;
    QObject::connect(r.link.get(), &comm::Link::cycleFinished,
                     [&](double ms) { periods.push_back(ms); });
    r.link->open();
    QElapsedTimer t;
    t.start();
    while (periods.size() < 21 && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    r.link->close();
    if (periods.size() > 1) periods.erase(periods.begin());
    std::sort(periods.begin(), periods.end());
    *count = periods.size();
    return periods.empty() ? 0 : periods[periods.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("| measurement | result | target |\n|---|---|---|\n");
    for (int baud : {9600, 19200}) {
        Rig r(baud, true);
        size_t n = 0;
        const double median = medianPeriodMs(r, &n);
        const double limit = wireLimitMs(baud);
        std::printf(
            "| poll period at %d baud (median of %zu) | %.0f ms | <= 1.05 x %.0f ms = %.0f ms |\n",
            baud, n, median, limit, 1.05 * limit);
    }
    {
        Rig r(9600, false, sim::Transport::ModbusTcp);
        size_t n = 0;
        const double median = medianPeriodMs(r, &n);
        std::printf(
            "| poll period, Modbus TCP on 127.0.0.1 (median of %zu) | %.1f ms | <= %d ms |\n", n,
            median, comm::LineWorker::kPeriodMs);
        // The nine exchanges alone, unpaced: how much of the period the gateway leaves free.
        comm::LibModbusRTU bus(bench::simulatorPorts(*r.server));
        bus.OpenPort_Modbus(1, 1, 0);
        comm::PollCycle cycle(bus);
        QElapsedTimer t;
        t.start();
        for (int k = 0; k < 50; ++k)
            cycle.runCycle(1, 1);
        std::printf(
            "| nine exchanges of one cycle, Modbus TCP, unpaced (mean of 50) | %.2f ms, %llu of "
            "%llu failed | |\n",
            t.nsecsElapsed() / 50 / 1e6, (unsigned long long)bus.stats().failures,
            (unsigned long long)bus.stats().exchanges);
    }
    {
        Rig r(9600, true, sim::Transport::RtuOverTcp);
        size_t n = 0;
        const double median = medianPeriodMs(r, &n);
        const double limit = wireLimitMs(9600);
        std::printf(
            "| poll period, RTU over TCP at 9600 baud (median of %zu) | %.0f ms | <= 1.05 x %.0f "
            "ms = %.0f ms |\n",
            n, median, limit, 1.05 * limit);
    }
    {
        Rig r(9600, false);
        r.link->open();
        const double gap = longestGapMs(3000);
        std::printf("| UI event-loop gap, healthy instrument | %.1f ms | <= 20 ms |\n", gap);
        r.server->setSilent(true);
        const double silent = longestGapMs(3000);
        std::printf("| UI event-loop gap, silent instrument | %.1f ms | <= 20 ms |\n", silent);
        r.server->setSilent(false);
        int value = 0;
        const double writing =
            longestGapMs(3000, [&] { r.link->writeHolding(1, 300 + (value++ % 50)); });
        std::printf("| UI event-loop gap, operator writes every 50 ms | %.1f ms | <= 20 ms |\n",
                    writing);
        r.link->close();
    }
    return 0;
}
