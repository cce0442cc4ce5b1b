#pragma once
// The service: the chambers of the machine's settings (or of the command line, kept there)
// recording with nobody logged in, each with its line, database, event log, runs, alerts and
// forwarding, and the local channel through which the windows on this computer read them. It
// tells the service manager when every chamber records, how many do, that its
// main loop and every line's thread are alive, and when it ends.

#include <QElapsedTimer>
#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "chamber/fleet.h"
#include "service/channel.h"
#include "service/cmdline.h"
#include "service/hosted.h"
#include "service/linewatch.h"
#include "store/chainheads.h"
#include "store/clock.h"

namespace sim {
class SimServer;
}
namespace auth {
class SessionKeeper;
class UserStore;
}  // namespace auth
namespace web {
class Host;
}
namespace mqtt {
struct Status;
}

namespace service {

// A line's thread whose probe waited this long is stuck: far beyond its longest exchange with
// all its time-outs (a gateway's connect, a block's response and its one retry, a drain).
inline constexpr qint64 kLineStuckMs = 10000;

// The options of the program's command line that the service takes; the rest are the desktop
// program's. The first one given that it does not take, empty when none.
QString optionNotTaken(const shell::Options& o);
QString serviceUsageText();

// The line the service manager shows: "3 chambers recording", "1 of 3 chambers recording",
// then where the web server serves and how the broker is, when they are on, the broker in the
// status bar's words (mqtt::statusText, in Chinese as the service keeps its texts): "3 chambers
// recording; serving https://0.0.0.0:8443; MQTT: 已连接 mqtt://host:1883".
QString statusLine(int recording, int chambers, const QString& serving = {},
                   const mqtt::Status* broker = nullptr);

class Service : public QObject {
    Q_OBJECT
  public:
    // The folder of the settings, the databases and the local channel is base::givenDataFolder().
    explicit Service(shell::Options options, QObject* parent = nullptr);
    ~Service() override;

    // Takes the data folder, makes the chambers and starts them. False with error() and the exit
    // code for it (2: another service records into the folder) when it cannot.
    bool start();
    QString error() const { return error_; }
    int exitCode() const { return exitCode_; }

    // Ends the recording: every recorder and event log write their last, the lines close, the
    // databases are let go; then the event loop ends. Safe to call twice.
    void stop();

    // The chambers, for the clients the service hosts; null before start().
    chamber::Fleet* fleet() const { return fleet_.get(); }
    int recordingCount() const;
    bool ready() const { return ready_; }
    // The web server when it serves; else null.
    web::Host* webHost() const { return web_.get(); }

    // The database of a chamber ("" for the one chamber of a service without a chamber list).
    static QString databasePath(const QString& name);

  signals:
    void readyChanged();
    void stopped();

  private:
    bool makeFleet();
    // What is known of whoever asks through the channel: access control as the user store says.
    auth::Standing standing();
    void recordingChanged();
    void watchdogTick();
    // The web server and the MQTT publisher, when the command line or the settings switch them on.
    void startHosted();
    // Access control and the idle lock as the user store says, for the web server's readers.
    void followStanding();

    shell::Options options_;
    QString error_;
    int exitCode_ = 1;
    bool ready_ = false;
    bool stopping_ = false;
    QString lastStatus_;
    int startEntries_ = 0;  // the service's own entries logged at the start in every chamber
    store::SystemClock clock_;
    std::unique_ptr<QLockFile> folderLock_;
    // The service's record of every chain's head (the chains' key is the process's: chainkey.h).
    std::unique_ptr<store::chain::HeadStore> heads_;
    std::unique_ptr<auth::UserStore> users_;
    // Publishes the accounts as the store holds them, for every command's check of its actor:
    // an account disabled, locked or given another role elsewhere counts as such at once.
    std::unique_ptr<auth::SessionKeeper> accounts_;
    QElapsedTimer mono_;
    LineWatch lineWatch_;
    QTimer watchdog_;
    // Each is declared before what uses it, so that it ends after.
    std::unique_ptr<sim::SimServer> sim_;
    std::unique_ptr<chamber::Fleet> fleet_;
    std::unique_ptr<Channel> channel_;
    // The hosted clients read the chambers: they end before them.
    std::unique_ptr<web::Host> web_;
    Publishing publishing_;
    QTimer standingTimer_;
};

}  // namespace service
