#pragma once
// The running program: the link, the simulated instrument when asked for, the recorder, the
// start-up window and the main window, put together in the order the program starts.

#include <QObject>
#include <QPointer>
#include <memory>

#include "link/link.h"
#include "link/ports.h"
#include "shell/cmdline.h"
#include "store/clock.h"

namespace sim {
class SimServer;
}
namespace alert {
class Alerter;
}
namespace record {
class DatabaseLock;
class EventLog;
class Recorder;
class Forwarder;
}  // namespace record

namespace shell {

class SplashWindow;
class MainWindow;
class RunControl;

// Lets the event log's readers make the lines of the alerts' and the forwarding's codes.
void addEventTexts();

class Application : public QObject {
    Q_OBJECT
  public:
    // bus: the Modbus implementation (libmodbus over the mapped ports when null); clock: the wall
    // clock (the system's when null). Both are for tests.
    explicit Application(Options options, std::unique_ptr<comm::ModbusRTU> bus = nullptr,
                         const record::Clock* clock = nullptr, QObject* parent = nullptr);
    ~Application() override;

    // Starts the program: the simulator if asked, then the start-up window. False (with a reason in
    // error()) only when the simulated instrument could not be started.
    bool start();
    QString error() const { return error_; }

    // The same without the start-up window's wait (tests).
    bool startWithoutSplash();

    MainWindow* mainWindow() const { return main_; }
    comm::Link& link() { return *link_; }
    record::Recorder* recorder() const { return recorder_.get(); }
    record::EventLog* eventLog() const { return eventLog_.get(); }
    sim::SimServer* simulator() const { return sim_.get(); }
    QString databasePath() const { return dbPath_; }
    // Null unless a server to forward to is configured.
    record::Forwarder* forwarder() const { return forwarder_.get(); }
    alert::Alerter* alerter() const { return alerter_.get(); }
    RunControl* runs() const { return runs_.get(); }

    // The default database file: Rdatabj.db, or Rdatabj-PROFILE.db for a profile, in the
    // platform's application-data folder.
    static QString defaultDatabasePath(const QString& profile = QString());

  signals:
    void mainWindowShown();
    void exited();

  private:
    // The simulated instrument when asked for, then the link over the mapped ports.
    bool startLink();
    void showMainWindow();
    // Forwarding to a central server when the command line or the settings file names one.
    void startForwarding();
    // The alert rules, their notifications and the alert bar. viewing: another program records
    // into the file and sends the notifications; this one lists and rings what its own link shows.
    void startAlerts(bool viewing);
    // The test runs, read-only while another program records into the file.
    void startRuns(bool readOnly);
    // The station's name on the server when the settings file has none yet.
    QString stationName() const;
    void logSkippedRecords(const record::Forwarder& forwarder);
    void leave();

    Options options_;
    QString error_;
    QString dbPath_;
    comm::PortMap ports_;
    std::unique_ptr<comm::ModbusRTU> pendingBus_;
    record::SystemClock systemClock_;
    std::unique_ptr<record::Clock> fastClock_;
    const record::Clock* clock_;
    QPointer<SplashWindow> splash_;
    // Held while this program records into dbPath_; released after everything that writes it.
    std::unique_ptr<record::DatabaseLock> dbLock_;
    // Members end in the reverse of this order, each after what it feeds: the runs, then the
    // alerts, the recorder, the event log, the forwarder (after the last sample), then the link
    // (before the simulator it talks to).
    std::unique_ptr<sim::SimServer> sim_;
    std::unique_ptr<comm::Link> link_;
    std::unique_ptr<record::Forwarder> forwarder_;
    std::unique_ptr<record::EventLog> eventLog_;
    std::unique_ptr<record::Recorder> recorder_;
    std::unique_ptr<alert::Alerter> alerter_;
    std::unique_ptr<RunControl> runs_;
    MainWindow* main_ = nullptr;  // deleted first: its chart and panels hold what is above
};

}  // namespace shell
