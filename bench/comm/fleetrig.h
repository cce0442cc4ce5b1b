#pragma once
// The program's fleet on simulated instruments for the benchmarks of what it hosts (the MQTT
// publisher, the web server): one line of chambers at one address each, on the simulator with wire
// timing, made and run as the program makes them (chamber list, databases and settings files in a
// temporary folder), the first chamber focused (the whole cycle), the others on the short poll.
// measure() runs the event loop for a while and tells how the line and the UI thread did.

#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <vector>

#include "chamber/fleet.h"
#include "simrig.h"
#include "store/clock.h"
#include "timedbus.h"

namespace bench {

class FleetRig {
  public:
    FleetRig(int baud, int chambers) {
        sim::ServerOptions o;
        o.baud = baud;
        o.wireTiming = true;
        for (int a = 1; a <= chambers; ++a)
            o.addresses.push_back(a);
        server_ = startSimulator(o);
        const comm::PortMap ports = simulatorPorts(*server_);
        chamber::FleetSetup s;
        for (int a = 1; a <= chambers; ++a)
            s.chambers << chamber::ChamberConf{QStringLiteral("C%1").arg(a), 1, a, baud, u'N'};
        s.ports = ports;
        s.clock = &clock_;
        s.settingsFor = [this](const QString& name) {
            return std::make_unique<QSettings>(
                dir_.filePath(QStringLiteral("velmars-%1.ini").arg(name)), QSettings::IniFormat);
        };
        s.databaseFor = [this](const QString& name) {
            return dir_.filePath(QStringLiteral("Rdatabj-%1.db").arg(name));
        };
        s.lineBus = [ports, baud](const QString&) {
            return std::make_unique<TimedBus>(ports, baud);
        };
        fleet_ = std::make_unique<chamber::Fleet>(std::move(s));
        fleet_->open();
        fleet_->start(/*connect=*/true);
        chamber::Chamber* focused = fleet_->chambers().front();
        focused->setFocused(true);
        QObject::connect(&focused->link(), &comm::Link::cycleFinished,
                         [this](double ms) { cycles_.push_back(ms); });
        // Every chamber answered once.
        spin(5000);
    }
    ~FleetRig() { fleet_->stop(); }

    chamber::Fleet& fleet() { return *fleet_; }
    QString folder() const { return dir_.path(); }

    struct Poll {
        double busyRatio = 0;       // the line's time per answered exchange beside its wire time
        double focusedCycleMs = 0;  // median
        double uiGapMs = 0;         // the UI thread's longest event-loop gap
    };
    // Runs the event loop for ms milliseconds (what is hosted works meanwhile) and measures.
    Poll measure(qint64 ms) {
        cycles_.clear();
        TimedBus::busyNs = 0;
        TimedBus::wireNs = 0;
        GapProbe probe;
        spin(ms);
        Poll p;
        p.busyRatio = TimedBus::wireNs ? double(TimedBus::busyNs) / double(TimedBus::wireNs) : 0;
        if (!cycles_.empty()) {
            std::sort(cycles_.begin(), cycles_.end());
            p.focusedCycleMs = cycles_[cycles_.size() / 2];
        }
        p.uiGapMs = probe.worstMs();
        return p;
    }

  private:
    QTemporaryDir dir_;
    store::SystemClock clock_;
    std::unique_ptr<sim::SimServer> server_;
    std::unique_ptr<chamber::Fleet> fleet_;
    std::vector<double> cycles_;
};

}  // namespace bench
