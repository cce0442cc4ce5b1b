#pragma once
// The running program: the simulated instrument when asked for, the chambers it serves, the
// start-up window and the main window, put together in the order the program starts.

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "chamber/chamber.h"
#include "link/modbusrtu.h"
#include "shell/cmdline.h"
#include "store/clock.h"

namespace sim {
class SimServer;
}

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
                         const record::Clock* clock = nullptr, QObject* parent = nullptr);
    ~Application() override;

    // Starts the program: the simulator if asked, then the start-up window. False (with a reason in
    // error()) only when the simulated instrument could not be started.
    bool start();
    QString error() const { return error_; }

    // The same without the start-up window's wait (tests).
    bool startWithoutSplash();

    MainWindow* mainWindow() const { return main_.get(); }
    sim::SimServer* simulator() const { return sim_.get(); }
    // The chambers the program serves, one today; made by start().
    const std::vector<std::unique_ptr<chamber::Chamber>>& chambers() const { return chambers_; }
    // The first (today the only) chamber; start() made it.
    chamber::Chamber& chamber() const { return *chambers_.front(); }

    // The default database file: Rdatabj.db, or Rdatabj-PROFILE.db for a profile, in the
    // platform's application-data folder.
    static QString defaultDatabasePath(const QString& profile = QString());

  signals:
    void mainWindowShown();
    void exited();

  private:
    // The simulated instrument when asked for, then the chamber on the mapped ports.
    bool makeChambers();
    void showMainWindow();
    void leave();

    Options options_;
    QString error_;
    std::unique_ptr<comm::ModbusRTU> pendingBus_;
    record::SystemClock systemClock_;
    std::unique_ptr<record::Clock> fastClock_;
    const record::Clock* clock_;
    QPointer<SplashWindow> splash_;
    // Each is declared before what uses it, so that it ends after.
    std::unique_ptr<sim::SimServer> sim_;
    std::vector<std::unique_ptr<chamber::Chamber>> chambers_;
    std::unique_ptr<MainWindow> main_;
};

}  // namespace shell
