#pragma once
// The running program: the simulated instrument when asked for, the chambers it serves, the
// start-up window and the main window, put together in the order the program starts.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "auth/adminwindow.h"
#include "auth/audit.h"
#include "chamber/chamber.h"
#include "chamber/fleet.h"
#include "chamber/fleetstart.h"
#include "comm/modbusrtu.h"
#include "overview/chamberlist.h"
#include "service/cmdline.h"
#include "shell/accesscommand.h"
#include "store/clock.h"

namespace sim {
class SimServer;
}
namespace mqtt {
class Publisher;
class FleetFeed;
}  // namespace mqtt
namespace overview {
class OverviewWindow;
}
namespace chamber {
class Teardown;
}
namespace web {
class Host;
}
namespace auth {
class Doorman;
class Guard;
class SessionKeeper;
}  // namespace auth

namespace shell {

class SplashWindow;
class MainWindow;

// Lets the event log's readers make the lines of the alerts' and the forwarding's codes.
void addEventTexts();

class Application : public QObject {
    Q_OBJECT
  public:
    // bus: the Modbus implementation (libmodbus over the mapped ports when null); clock: the wall
    // clock (the system's when null). Both are for tests.
    explicit Application(Options options, std::unique_ptr<comm::ModbusRTU> bus = nullptr,
                         const store::Clock* clock = nullptr, QObject* parent = nullptr);
    ~Application() override;

    // Starts the program: the simulator if asked, then the start-up window. False (with a reason in
    // error()) only when the simulated instrument could not be started.
    bool start();
    QString error() const { return error_; }

    // The same without the start-up window's wait (tests).
    bool startWithoutSplash();

    // The main window of the one chamber, or of the chamber last opened from the overview.
    MainWindow* mainWindow() const;
    // The overview when chambers are configured; null otherwise.
    overview::OverviewWindow* overviewWindow() const { return overview_.get(); }
    // The chambers configured (command line or settings file); empty: one chamber as always.
    const QList<overview::ChamberConf>& chamberSpecs() const {
        return fleet_ ? fleet_->confs() : confs_;
    }
    // Opens the main window of chamber i (from the overview).
    void showChamberWindow(int i);
    sim::SimServer* simulator() const { return sim_.get(); }
    // The chambers the program serves, ports, lines and all; made by start().
    chamber::Fleet* fleet() const { return fleet_.get(); }
    // The fleet's chambers in the order of the list; made by start().
    const std::vector<std::unique_ptr<chamber::Chamber>>& chambers() const {
        return fleet_->owned();
    }
    // Chambers deleted whose threads are still ending (their databases still locked).
    QList<chamber::Teardown*> teardowns() const { return fleet_->teardowns(); }
    // The first (or the only) chamber; start() made it.
    chamber::Chamber& chamber() const { return *fleet_->owned().front(); }

    // The monotonic clock of the session's idle time (tests); before start().
    void setMonotonicClock(std::function<qint64()> monoMs) { monoMs_ = std::move(monoMs); }
    // The session and the login's windows; made by start().
    // Whoever is at the PC as the session stands: what the windows' commands to the fleet carry.
    auth::Actor atThePc() const;
    auth::SessionKeeper* sessionKeeper() const { return keeper_.get(); }
    auth::Doorman* doorman() const { return doorman_.get(); }
    // The administration window ("访问控制"), opened over the window in front; null until then.
    void openAdmin();
    auth::AdminWindow* adminWindow() const { return admin_.data(); }

    // The default database file: Rdatabj.db, or Rdatabj-PROFILE.db for a profile, in the
    // platform's application-data folder.
    static QString defaultDatabasePath(const QString& profile = QString());

    // The web server when --http (or the settings file) switched it on and it serves; else null.
    web::Host* webHost() const { return web_.get(); }

  signals:
    void mainWindowShown();
    void overviewShown();
    void exited();

  private:
    // What the command line gives the fleet.
    chamber::FleetOptions fleetOptions() const;
    // The simulated instrument when asked for, then the fleet of chambers on the mapped ports.
    bool makeChambers();
    void showMainWindow();
    // Opens the user store off the UI thread and puts the guard over the windows' controls.
    void startAccess();
    // With access control on: an audit row in every chamber's event log.
    bool auditing() const;
    void audit(const QString& code, const QStringList& args, const base::Audit& by = {});
    // The program's start, once both the user store and the chambers' logs are open.
    void noteStart();
    // Compares the wall clock with the monotonic one (every ClockWatch::kCheckMs).
    void checkClock();
    void showOverview();
    void updateOverview();
    // Closes the window of a chamber the fleet ends.
    void closeChamberWindow(const QString& name);
    // The web server, once the chambers run, when switched on; a window's status bar says where.
    void startWeb();
    void showServing(QMainWindow* w);
    // The MQTT publisher, when the settings or the command line name a broker, fed from the
    // fleet once its chambers started; its label on a main window's status bar.
    void startMqtt();
    void showMqttStatus(MainWindow& w);
    // Ends every chamber's recording and link, then leaves.
    void leaveAll();
    void leave();

    Options options_;
    QString error_;
    std::unique_ptr<comm::ModbusRTU> pendingBus_;
    store::SystemClock systemClock_;
    std::unique_ptr<store::Clock> fastClock_;
    const store::Clock* clock_;
    QPointer<SplashWindow> splash_;
    // The session outlives every window: the guard and the doorman watch their controls.
    std::function<qint64()> monoMs_;
    std::unique_ptr<auth::Guard> guard_;
    std::unique_ptr<auth::SessionKeeper> keeper_;
    std::unique_ptr<auth::Doorman> doorman_;
    QPointer<auth::AdminWindow> admin_;
    bool startNoted_ = false;
    auth::ClockWatch clockWatch_;
    QElapsedTimer clockMono_;
    QTimer clockTimer_;
    // Each is declared before what uses it, so that it ends after.
    std::unique_ptr<sim::SimServer> sim_;
    // The chambers with their ports and lines.
    std::unique_ptr<chamber::Fleet> fleet_;
#ifdef VELMARS_HAVE_MQTT
    // Ends before the fleet: "offline" goes out at a clean stop.
    std::unique_ptr<mqtt::Publisher> mqtt_;
    std::unique_ptr<mqtt::FleetFeed> mqttFeed_;
#endif
    // The chamber list the fleet is made with.
    QList<overview::ChamberConf> confs_;
    // --chamber's and the hosted clients' changes, into every chamber's log.
    QList<SettingChange> programChanges_;
    std::unique_ptr<MainWindow> main_;
    // With chambers: a main window per chamber once opened, by name; the overview before them.
    std::map<QString, std::unique_ptr<MainWindow>> windows_;
    QPointer<MainWindow> lastShown_;
    std::unique_ptr<overview::OverviewWindow> overview_;
    std::unique_ptr<web::Host> web_;  // reads the chambers: ends before them
};

}  // namespace shell
