#pragma once
// What the link benchmarks share: the simulated instrument started for them, and a probe of the
// longest time the UI thread's event loop goes without running.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "comm/ports.h"
#include "sim/server.h"

namespace bench {

// The simulated instrument, started; the benchmark ends saying why when it cannot start.
inline std::unique_ptr<sim::SimServer> startSimulator(const sim::ServerOptions& options) {
    auto server = std::make_unique<sim::SimServer>(options);
    std::string why;
    if (!server->start(&why)) {
        std::fprintf(stderr, "simulator: %s\n", why.c_str());
        std::exit(1);
    }
    return server;
}

// Port 1 names the simulator's device (its pseudo-terminal or gateway).
inline comm::PortMap simulatorPorts(const sim::SimServer& server) {
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(server.device()));
    return ports;
}

// The calling thread's CPU time.
inline double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs the event loop for ms milliseconds.
inline void spin(qint64 ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// The longest gap between two runs of the event loop, sampled by a 1 ms timer from construction
// on, while the loop runs; beside it the UI thread's own CPU time, which tells the program's work
// from a wait for one of the machine's cores.
class GapProbe {
  public:
    GapProbe() {
        clock_.start();
        last_ = clock_.nsecsElapsed();
        lastCpu_ = threadCpuMs();
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const double cpu = threadCpuMs();
            const double gap = (now - last_) / 1e6, used = cpu - lastCpu_;
            if (gap > worstMs_) {
                worstMs_ = gap;
                cpuInWorstMs_ = used;
            }
            worstCpuMs_ = std::max(worstCpuMs_, used);
            last_ = now;
            lastCpu_ = cpu;
        });
        timer_.start(1);
    }
    double worstMs() const { return worstMs_; }
    // The UI thread's CPU time within that longest gap.
    double cpuInWorstMs() const { return cpuInWorstMs_; }
    // The most CPU time the UI thread used between two runs of the probe.
    double worstCpuMs() const { return worstCpuMs_; }

  private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 last_ = 0;
    double lastCpu_ = 0, worstMs_ = 0, cpuInWorstMs_ = 0, worstCpuMs_ = 0;
};

}  // namespace bench
