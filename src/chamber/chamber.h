#pragma once
// One chamber: the instrument on a port and slave address, and everything the program keeps of it
// — the link to it, its database with the lock that makes this program its recorder, the event
// log, the recorder with its retention, the test runs, the alerts, the forwarding to a central
// server and the settings file they keep their settings in — made, started and ended here.

#include <QHash>
#include <QList>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

#include "alert/alertsetup.h"
#include "alert/message.h"
#include "alert/rules.h"
#include "auth/actor.h"
#include "chamber/commands.h"
#include "chamber/settings.h"
#include "chamber/state.h"
#include "comm/link.h"
#include "comm/ports.h"
#include "store/clock.h"
#include "store/databaselock.h"
#include "store/exportfile.h"

namespace alert {
class Alerter;
}
namespace events {
class EventLog;
}
namespace forward {
class Forwarder;
}
namespace store {
class Recorder;
}
namespace runs {
class RunControl;
}
namespace runs {
struct Run;
}
namespace report {
struct ReportRequest;
}

namespace chamber {

// Opens the settings file a chamber keeps its settings in (the program's, one per profile).
using SettingsFile = std::function<std::unique_ptr<QSettings>()>;

// What the command line gives; each value given replaces the settings file's and is kept there
// when the chamber is made.
struct Given {
    std::optional<QString> forwardUrl;
    std::optional<QString> station;
    alert::NotifyOptions notify;
    std::optional<int> keepDays;
    std::optional<double> keepFreeGb;
};

struct Setup {
    // The chamber's name among several served by one program, its station name unless the
    // settings file keeps another; empty for the one chamber of a program.
    QString name;
    QString dbPath;
    comm::PortMap ports;
    // The Modbus implementation; null: libmodbus over the ports (tests bring their own).
    std::unique_ptr<comm::ModbusRTU> bus;
    // When set, the chamber is a client of the line of port number linePort's device, shared
    // with the other chambers on it (bus is then unused); else it is alone on a line of its own.
    comm::LineRegistry* lines = nullptr;  // outlives the chamber
    int linePort = 0;
    const store::Clock* clock = nullptr;  // outlives the chamber
    SettingsFile settings;
    Given given;
};

class Chamber : public QObject {
    Q_OBJECT
  public:
    explicit Chamber(Setup setup, QObject* parent = nullptr);
    ~Chamber() override;

    // Takes the database lock and makes the parts. The event log runs from here on, so that the
    // first write or line event lands in it; the rest waits for start(). When another program
    // records into the file, this one only views it (recording() false, refusal() says why).
    void open();
    // Starts the runs, the recorder, the forwarding and the alerts; once, after open().
    void start();

    bool recording() const { return recording_; }
    base::Phrase refusal() const { return lock_ ? lock_->refusal() : base::Phrase{}; }

    // Whether this chamber's main window is shown: on a line it shares it then gets the whole
    // poll cycle, else a short poll once a second for its sample, alerts and tile.
    void setFocused(bool focused) { link_.setFocused(focused); }

    // The chamber's port now names port's device: its link goes to that device's line (a chamber
    // alone on a line of its own stays there).
    void moveToPort(int port);

    comm::Link& link() { return link_; }
    const comm::Link& link() const { return link_; }
    const comm::PortMap& ports() const { return ports_; }
    const store::Clock& clock() const { return clock_; }
    QString databasePath() const { return dbPath_; }
    QString name() const { return name_; }
    const SettingsFile& settingsFile() const { return settings_; }
    // What the command line's values changed in the settings file when the chamber was made.
    const QList<SettingChange>& settingChanges() const { return settingChanges_; }

    // Null before open().
    events::EventLog* eventLog() const { return eventLog_.get(); }
    store::Recorder* recorder() const { return recorder_.get(); }
    runs::RunControl* runs() const { return runs_.get(); }
    alert::Alerter* alerter() const { return alerter_.get(); }
    // Null unless this program records and forwards to a server it can use.
    forward::Forwarder* forwarder() const { return forwarder_.get(); }
    // The settings name a server to forward to whose address cannot be used.
    bool forwardAddressInvalid() const { return forwardAddressInvalid_; }

    // Hands the database lock to whoever ends the chamber: it is then held until the chamber's
    // threads wrote their last, not only until the chamber is deleted. For ending it only.
    std::unique_ptr<store::DatabaseLock> releaseLock() { return std::move(lock_); }

    // The station's name when none is kept: the chamber's name, else the host, the device and the
    // slave address the link starts with.
    QString stationName() const;

    // What the chamber is and does now, assembled from its parts (the station and the parts'
    // values as they are once opened).
    State state() const;

    // Commands. Each decides with the actor's role whether it is done, stamps its audit row with
    // the actor (a refusal as well, where the part keeps refused ones), and says what came of it;
    // the asynchronous ones end with commandFinished(ticket id, outcome).

    // A holding register written: Invalid for a register outside what, or an entry value outside
    // -1999..9999 (a set value or an alarm setting) or a program command other than 0..3. Sent
    // while the port is closed, it fails as LinkClosed.
    Ticket write(Write what, int32_t reg, int32_t value, const auth::Actor& by,
                 const QString& reason = {}, const QString& caption = {});
    Ticket writeSetValue(int loop, int32_t value, const auth::Actor& by,
                         const QString& reason = {});
    Ticket writeProgramCommand(int32_t code, const auth::Actor& by, const QString& reason = {});
    // A new run from the form, or the open one ended (NotFound when none is open).
    // The event log's row keeps the reason given, where one was asked for.
    Ticket startRun(const runs::Run& form, const auth::Actor& by, const QString& reason = {});
    Ticket endRun(const auth::Actor& by, const QString& reason = {});
    // The listed alert acknowledged with the comment; done at once.
    Outcome acknowledgeAlert(const QString& id, const QString& comment, const auth::Actor& by);
    // The alerts' sound stops until a new alert rings (anyone at the chamber may).
    void silenceAlerts();
    // The alert rules and the notification settings taken and kept in the chamber's settings
    // file, with the reason they need under access control (Invalid without); a refusal is
    // recorded too. before: the notification settings as they were (a test may have changed them
    // for the moment). NotFound before open().
    Outcome changeAlertSettings(const alert::NotifySettings& before, const alert::RuleConfig& rules,
                                const alert::NotifySettings& notify, const auth::Actor& by,
                                const QString& reason = {});
    // Holding registers read from the instrument, for a window that shows what it holds: a range
    // within the configuration block (4X 4097..4144) or the program block (4X 8193..8240), asked
    // by whoever may look. Invalid for another range, Refused, LinkClosed while the port is
    // closed, else Pending: the values come with holdingRead and the ticket's id, then
    // commandFinished.
    Ticket readHolding(int32_t first, int32_t count, const auth::Actor& by);
    // Whether the actor may do the action: what a window shows its controls enabled by.
    static bool allows(const auth::Actor& by, auth::Action action) {
        return auth::denial(by, action) == auth::Denial::None;
    }
    // The chamber's port: the settings of the last open (requests go out with them), open with
    // them or with others (kept), closed. The poll cycle runs while it is open.
    const comm::PortSettings& portSettings() const { return link_.settings(); }
    // Opening and closing the port, and its settings, are the chamber's configuration: Refused
    // when the actor may not change it (nothing changes). New settings under access control are
    // recorded with the actor's user and the reason, which they need (Invalid without one).
    Outcome openPort(const comm::PortSettings& settings, const auth::Actor& by,
                     const QString& reason = {});
    Outcome openPort(const auth::Actor& by);
    Outcome closePort(const auth::Actor& by);
    // The instrument's registers as last read (what the live panel and the chart show).
    const comm::InstrumentImage& image() const { return link_.image(); }
    bool portOpen() const { return link_.polling(); }
    // The link's figures for a status line: exchanges and failures, the last cycle's length, the
    // milliseconds since a block was read (exact, unlike the state's whole seconds).
    const comm::LinkStats& linkStats() const { return link_.stats(); }
    double lastCycleMs() const { return link_.lastCycleMs(); }
    int silentMs() const { return link_.silentMs(); }
    // The program is leaving: the recorder stops once the samples taken are written, and the port
    // closes.
    void halt();

    // Whether open() has made the parts.
    bool opened() const { return eventLog_ != nullptr; }

    // Exports, reports and the form of the next run. An export is decided with the actor who
    // asks, captured when asked: refused, with a refused row in the audit trail and nothing
    // written, when the actor may not take records out; else its row ("audit.exported") names
    // that actor once the file is written, whoever is logged in by then and whatever became of
    // the window that asked.

    // A file that write makes (what: "csv", "events", "pdf", "png", "report", "review"). Done
    // or Failed when write called its done before this returned (a file painted at once), else
    // Pending with the final outcome in commandFinished.
    Ticket exportFile(const QString& what, const QString& path, const auth::Actor& by,
                      const store::ExportWrite& write);
    // A run's report (its PDF and the data beside it as CSV), made off this thread and kept by
    // the chamber until it ends, so that closing the window that asked does not stop it. Its
    // progress and end come with reportProgress and reportFinished, then commandFinished.
    Ticket makeReport(const report::ReportRequest& request, const auth::Actor& by);
    void cancelReport(quint64 id);
    // The form of the next run, kept for the runs started by the program too (and in the settings
    // file when save), and whether runs follow the instrument's program (the actor's to choose,
    // as starting and ending runs is).
    void keepRunForm(const runs::Run& form, bool save);
    Outcome setAutomaticRuns(bool on, const auth::Actor& by);

  signals:
    void reportProgress(quint64 id, int percent);
    // why is empty when the report was written; cancelled when cancelReport stopped it.
    void reportFinished(quint64 id, const base::Phrase& why, bool cancelled);
    // The link's figures changed (a cycle ended, an exchange failed or went through).
    void linkFiguresChanged();
    // The recorder's status changed (at once, unlike stateChanged).
    void recorderStatusChanged();
    // A sample the recorder stored, once committed: what a live curve appends.
    void sampleStored(const store::Sample& sample);
    // recording() changed after open(): another program took the file.
    void recordingChanged(bool recording);
    // The link's report of a write command, with its ticket's id: what the window that asked
    // says of it.
    void writeReported(const comm::WriteReport& report);
    // What the read of the ticket id brought: Done with the values, or Failed with none.
    void holdingRead(quint64 id, chamber::Outcome outcome, int32_t first,
                     const QVector<int32_t>& values);
    // The final outcome of the command of the ticket id.
    void commandFinished(quint64 id, chamber::Outcome outcome);
    // The state differs from the one last published: driven by the parts' signals and a
    // once-a-second look (time alone makes values stale), at most five times a second.
    void stateChanged(const chamber::State& state);

  private:
    void watchState();
    void watchCommands();
    quint64 nextTicket() { return nextTicket_++; }
    void runAnswered(quint64 request, bool done);
    void publishState();

    void takeLock();
    // Another program records into the file after all: this one stops and only views it.
    void stopRecording();
    void makeForwarder();
    void makeRuns();
    void makeAlerts();
    // The audit row of an export by the actor: written, or refused with audit's refusal. Only
    // under access control, as every row that names a user.
    void auditExport(const auth::Actor& by, const QString& what, const QString& path,
                     const base::Audit& audit);

    QString name_;
    QString dbPath_;
    comm::PortMap ports_;
    const store::Clock& clock_;
    SettingsFile settings_;
    QList<SettingChange> settingChanges_;
    comm::LineRegistry* lines_ = nullptr;
    bool recording_ = false;
    bool forwardAddressInvalid_ = false;
    QString station_;      // the station the alerts and the forwarding name the chamber by
    QTimer publishDelay_;  // gathers the changes of one moment into one publication
    QTimer stateLook_;     // the once-a-second look
    State published_;
    quint64 nextTicket_ = 1;
    struct WriteCommand {
        quint64 ticket = 0;
        bool portClosed = false;  // sent while the port was closed: it fails as LinkClosed
    };
    QHash<quint64, WriteCommand> writes_;  // the link's request id -> the command
    QHash<quint64, quint64> runCommands_;  // the runs' request number -> the ticket
    QHash<quint64, quint64> reads_;        // the link's request id -> the read's ticket
    void holdingAnswered(quint64 request, int32_t first, const QVector<int32_t>& values,
                         int32_t status);
    QHash<quint64, QObject*> reports_;  // the reports under way (children), by ticket

    // Each part is declared after what it uses, so that it ends first.
    // Held while this program records into the file; handed over when the chamber ends
    // elsewhere (releaseLock).
    std::unique_ptr<store::DatabaseLock> lock_;
    QTimer lockRetry_;
    comm::Link link_;
    std::unique_ptr<forward::Forwarder> forwarder_;
    std::unique_ptr<events::EventLog> eventLog_;
    std::unique_ptr<store::Recorder> recorder_;
    std::unique_ptr<alert::Alerter> alerter_;
    std::unique_ptr<runs::RunControl> runs_;
};

}  // namespace chamber
