// Several chambers on one line, against the simulated instruments at several addresses on one
// pseudo-terminal with wire timing:
//  1. 9600 baud 8N1, the focused chamber and 7 others: the share of the others' seconds whose
//     sample holds values read within that second, the focused chamber's median cycle, and how
//     long the line is busy beside the wire time of the frames it carries;
//  2. the same with one of the others silent;
//  3. 19200 baud, the focused chamber and 15 others.
// Each chamber is a whole one (its database, recorder, events, runs and alerts in a temporary
// folder), and the overview shows their tiles: the UI thread's longest event-loop gap is that of
// the program with every chamber shown.
// Run by hand: build/bin/bench_bus [--seconds N] (each run N seconds, default 600).

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "chamber/chamber.h"
#include "comm/link.h"
#include "overview/overviewwindow.h"
#include "simrig.h"
#include "store/clock.h"
#include "timedbus.h"

namespace {

using bench::TimedBus;

// The application, timing each event the UI thread handles (the outermost ones: what one run of
// the event loop does), so that a long gap can be told apart from the machine's load and named.
class TimedApp : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* e) override {
        if (QThread::currentThread() != thread()) return QApplication::notify(receiver, e);
        if (depth_++ > 0) {
            const bool done = QApplication::notify(receiver, e);
            --depth_;
            return done;
        }
        const double before = bench::threadCpuMs();
        const QString who = nameOf(receiver);
        const int type = e->type();
        const bool done = QApplication::notify(receiver, e);
        --depth_;
        const double used = bench::threadCpuMs() - before;
        Slow& slow = slowest_[QStringLiteral("%1, event %2").arg(who).arg(type)];
        ++slow.count;
        slow.totalMs += used;
        slow.worstMs = std::max(slow.worstMs, used);
        return done;
    }
    // The kinds of event that took the most CPU time in all, then those that took the most at
    // once, since the last call.
    QString takeSlowest(int n) {
        QList<QPair<double, QString>> total, worst;
        for (auto it = slowest_.cbegin(); it != slowest_.cend(); ++it) {
            const QString line = QStringLiteral("%1: %2 times, %3 ms in all, worst %4 ms")
                                     .arg(it.key())
                                     .arg(it->count)
                                     .arg(it->totalMs, 0, 'f', 1)
                                     .arg(it->worstMs, 0, 'f', 2);
            total << qMakePair(it->totalMs, line);
            worst << qMakePair(it->worstMs, line);
        }
        slowest_.clear();
        QStringList out;
        for (auto* list : {&total, &worst}) {
            std::sort(list->begin(), list->end(),
                      [](auto& a, auto& b) { return a.first > b.first; });
            for (int i = 0; i < std::min<qsizetype>(n, list->size()); ++i)
                if (!out.contains(list->at(i).second)) out << list->at(i).second;
        }
        return out.join(QStringLiteral("\n    "));
    }

  private:
    static QString nameOf(QObject* o) {
        QString name = QString::fromLatin1(o->metaObject()->className());
        if (!o->objectName().isEmpty()) name += u'/' + o->objectName();
        if (QObject* p = o->parent()) name += QStringLiteral(" in ") + p->metaObject()->className();
        return name;
    }
    struct Slow {
        int count = 0;
        double totalMs = 0;
        double worstMs = 0;
    };
    int depth_ = 0;
    QHash<QString, Slow> slowest_;
};

struct Result {
    double freshPercent = 0;  // of the background chambers' answering seconds
    double focusedCycleMs = 0;
    double busyRatio = 0;
    int excessMedianUs = 0;  // an answered exchange's time beyond its wire time
    int excessP99Us = 0;
    double uiGapMs = 0;
    double uiGapCpuMs = 0;  // the UI thread's CPU time within its longest gap
    double uiBurstMs = 0;   // the most CPU time it used between two runs of its event loop
    QString slowEvents;     // the UI thread's slowest events
};

Result run(int baud, int chambers, int silentAddress, int seconds) {
    sim::ServerOptions o;
    o.baud = baud;
    o.wireTiming = true;
    for (int a = 1; a <= chambers; ++a)
        o.addresses.push_back(a);
    if (silentAddress) o.silentAddresses = {silentAddress};
    const auto server = bench::startSimulator(o);
    const comm::PortMap ports = bench::simulatorPorts(*server);
    comm::LineRegistry lines(
        ports, [ports, baud](const QString&) { return std::make_unique<TimedBus>(ports, baud); });
    QTemporaryDir dir;
    store::SystemClock clock;
    std::vector<std::unique_ptr<chamber::Chamber>> all;
    QList<overview::OverviewWindow::Entry> entries;
    for (int a = 1; a <= chambers; ++a) {
        const overview::ChamberConf conf{QStringLiteral("C%1").arg(a), 1, a, baud, u'N'};
        chamber::Setup setup;
        setup.name = conf.name;
        setup.dbPath = dir.filePath(QStringLiteral("Rdatabj-%1.db").arg(conf.name));
        setup.ports = ports;
        setup.lines = &lines;
        setup.linePort = 1;
        setup.clock = &clock;
        const QString ini = dir.filePath(QStringLiteral("velmars-%1.ini").arg(conf.name));
        setup.settings = [ini] { return std::make_unique<QSettings>(ini, QSettings::IniFormat); };
        all.push_back(std::make_unique<chamber::Chamber>(std::move(setup)));
        all.back()->open();
        all.back()->start();
        entries << overview::OverviewWindow::Entry{conf, all.back().get()};
    }
    overview::OverviewWindow window;
    window.setChambers(entries);
    window.show();
    std::vector<comm::Link*> links;
    for (auto& c : all)
        links.push_back(&c->link());
    links.front()->setFocused(true);
    std::vector<double> cycles;
    QObject::connect(links.front(), &comm::Link::cycleFinished,
                     [&](double ms) { cycles.push_back(ms); });
    for (size_t i = 0; i < links.size(); ++i)
        links[i]->open(entries[static_cast<int>(i)].conf.portSettings());
    // Settle: every chamber answered once.
    bench::spin(5000);
    cycles.clear();
    TimedBus::busyNs = 0;
    TimedBus::wireNs = 0;
    {
        std::lock_guard<std::mutex> lock(TimedBus::excessMutex);
        TimedBus::excessUs.clear();
    }

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
    auto* app = static_cast<TimedApp*>(QCoreApplication::instance());
    app->takeSlowest(0);
    bench::GapProbe probe;
    bench::spin(seconds * 1000LL);
    second.stop();
    Result r;
    r.freshPercent = samples ? 100.0 * fresh / samples : 0;
    if (!cycles.empty()) {
        std::sort(cycles.begin(), cycles.end());
        r.focusedCycleMs = cycles[cycles.size() / 2];
    }
    {
        std::lock_guard<std::mutex> lock(TimedBus::excessMutex);
        std::vector<int32_t>& ex = TimedBus::excessUs;
        std::sort(ex.begin(), ex.end());
        if (!ex.empty()) {
            r.excessMedianUs = ex[ex.size() / 2];
            r.excessP99Us = ex[ex.size() * 99 / 100];
        }
    }
    r.busyRatio = TimedBus::wireNs ? double(TimedBus::busyNs) / double(TimedBus::wireNs) : 0;
    r.uiGapMs = probe.worstMs();
    r.uiGapCpuMs = probe.cpuInWorstMs();
    r.uiBurstMs = probe.worstCpuMs();
    r.slowEvents = app->takeSlowest(5);
    for (comm::Link* l : links)
        l->close();
    return r;
}

void print(const char* what, const Result& r) {
    std::printf(
        "%s: fresh %.2f %%, focused cycle %.0f ms, busy %.3f x wire (beyond it per exchange: "
        "median %d us, p99 %d us), UI gap %.1f ms (%.1f ms of it CPU; longest CPU burst %.1f "
        "ms)\n  the UI thread's costliest events (in all, then at once):\n    %s\n",
        what, r.freshPercent, r.focusedCycleMs, r.busyRatio, r.excessMedianUs, r.excessP99Us,
        r.uiGapMs, r.uiGapCpuMs, r.uiBurstMs, qUtf8Printable(r.slowEvents));
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApp app(argc, argv);
    int seconds = 600;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(10, std::atoi(argv[i + 1]));
    const Result a = run(9600, 8, 0, seconds);
    print("9600 baud, 1+7", a);
    const Result s = run(9600, 8, 5, seconds);
    std::printf("9600 baud, 1+7, address 5 silent: fresh %.2f %%, focused cycle %.0f ms\n",
                s.freshPercent, s.focusedCycleMs);
    const Result b = run(19200, 16, 0, seconds);
    print("19200 baud, 1+15", b);
    std::printf(
        "bench_bus: 9600 baud 1+7 chambers fresh %.1f %% focused cycle %.0f ms wire %.2f x; one "
        "silent fresh %.1f %%; 19200 baud 1+15 chambers fresh %.1f %% focused cycle %.0f ms\n",
        a.freshPercent, a.focusedCycleMs, a.busyRatio, s.freshPercent, b.freshPercent,
        b.focusedCycleMs);
    return 0;
}
