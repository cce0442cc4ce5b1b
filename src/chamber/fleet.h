#pragma once
// The chambers one program serves, by name, with the ports they are on and the lines they share:
// made, opened and started here, added, changed and removed here — each change checked with the
// whole list, kept in the settings file, recorded in every chamber's log and then given to the
// links — and ended here. A program without a chamber list serves one chamber, named "".

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "auth/actor.h"
#include "base/audit.h"
#include "chamber/chamber.h"
#include "chamber/chamberlist.h"
#include "comm/ports.h"
#include "events/eventrules.h"
#include "store/clock.h"

namespace comm {
class LineRegistry;
class ModbusRTU;
}  // namespace comm

namespace chamber {

class Teardown;

struct FleetSetup {
    // The chamber list; empty: the one chamber of a program, named "".
    QList<ChamberConf> chambers;
    comm::PortMap ports;
    const store::Clock* clock = nullptr;  // outlives the fleet
    // The settings file of the chamber of that name; of the program for "" (where the chamber
    // list, the lines' turnarounds and the open lines are kept).
    std::function<std::unique_ptr<QSettings>(const QString& name)> settingsFor;
    // The database file of the chamber of that name.
    std::function<QString(const QString& name)> databaseFor;
    // The one chamber's Modbus implementation (tests); null: libmodbus over the ports.
    std::unique_ptr<comm::ModbusRTU> bus;
    // Makes each line's Modbus implementation for a chamber list (benchmarks time it); empty:
    // libmodbus over the ports.
    std::function<std::unique_ptr<comm::ModbusRTU>(const QString& device)> lineBus;
    // What the command line gives every chamber, kept in its settings file when it is made (for a
    // chamber added later too) and recorded in its log once it is open; its station names only
    // the one chamber of a run.
    Given given;
    // The changes the command line made to the program's own settings (the chamber list, the
    // clients it hosts: the web server, the MQTT publisher), recorded in every chamber's log at
    // the start after the chamber's own.
    QList<SettingChange> programChanges;
    // Who the command line's changes are by, and why.
    QString user;
    QString reason;
};

class Fleet : public QObject {
    Q_OBJECT
  public:
    explicit Fleet(FleetSetup setup, QObject* parent = nullptr);
    // Ends every chamber; the threads of those ending write their last first.
    ~Fleet() override;

    // In the order of the chamber list.
    QList<Chamber*> chambers() const;
    const std::vector<std::unique_ptr<Chamber>>& owned() const { return chambers_; }
    // Null when there is none of that name.
    Chamber* chamber(const QString& name) const;
    // A program without a chamber list: one chamber, named "".
    bool single() const { return single_; }
    // The chamber list as kept (empty for the one chamber).
    const QList<ChamberConf>& confs() const { return confs_; }
    std::optional<ChamberConf> conf(const QString& name) const;
    const comm::PortMap& ports() const { return ports_; }
    // Each port's turnaround delay (ms) as kept.
    const QMap<int, int>& turnarounds() const { return turnarounds_; }

    // Takes each chamber's database lock and opens its event log (Chamber::open); once.
    void open();
    // Starts every chamber opened (Chamber::start) and, with a chamber list, opens the lines
    // open when the program last ended, or every line when connect is set; once, after open().
    void start(bool connect = false);
    bool started() const { return started_; }

    // Whether changes go into the chambers' logs (access control on); nothing is audited unless
    // set.
    void setAuditing(std::function<bool()> auditing) { auditing_ = std::move(auditing); }
    bool auditing() const { return auditing_ && auditing_(); }
    // A row of the program's audit trail into every chamber's log.
    void audit(const QString& code, const QStringList& args, const base::Audit& by = {});
    // The command line's changes into every chamber's log, by the user it named; once, when the
    // program's start is recorded.
    void auditStart();

    // Changes of the chamber list and its lines are the PC's configuration. Each is decided with
    // the actor's role (refused as NotAllowed, nothing changed or recorded), then checked with the
    // whole list, kept, and recorded in the chambers' logs with the actor's user, the reason and
    // the values before and after.

    // A new chamber at the end of the list: opened and started (once a namesake removed a moment
    // ago let go of its database), and polled at once when its line is open. A fleet of one takes
    // no other chamber: refused as a name taken.
    std::optional<Refusal> add(const ChamberConf& conf, const auth::Actor& by,
                               const QString& reason = {});
    // A chamber's new port, address, baud rate and parity (its name stays): the baud rate and
    // parity become its line's; a chamber whose port now names another device moves to that
    // device's line, and a line left without chambers closes.
    std::optional<Refusal> change(const QString& name, ChamberConf conf, const auth::Actor& by,
                                  const QString& reason = {});
    // Ends the chamber of that name (its database stays); BadName when there is none.
    std::optional<Refusal> remove(const QString& name, const auth::Actor& by,
                                  const QString& reason = {});
    // Opens or closes the line of a port for every chamber on it; kept for the next start.
    std::optional<Refusal> setLineOpen(int port, bool open, const auth::Actor& by);
    // A port's turnaround delay (0..1000 ms), kept and given to its line; BadPort outside 1..20.
    std::optional<Refusal> setTurnaround(int port, int ms, const auth::Actor& by,
                                         const QString& reason = {});
    // Stops every chamber's recording and closes its link (the program leaves); the lines open
    // are kept for the next start.
    void stop();

    // Chambers removed whose threads are still ending (their databases still locked).
    QList<Teardown*> teardowns() const;
    // The lines, by device; null for the one chamber.
    comm::LineRegistry* lines() const { return lines_.get(); }

  signals:
    // A chamber opened (its log is there), before it starts.
    void chamberOpened(chamber::Chamber* c);
    // After it is opened and started.
    void chamberAdded(chamber::Chamber* c);
    // A chamber's port settings changed (also for the others of its line).
    void chamberChanged(chamber::Chamber* c, const chamber::ChamberConf& conf);
    // Before it is ended.
    void chamberRemoved(const QString& name);
    // A line opened or closed, or the list changed.
    void linesChanged();

  private:
    // NotAllowed when the actor may not change the configuration; else nullopt, with *audit the
    // row's user and reason.
    std::optional<Refusal> decide(const auth::Actor& by, const QString& reason,
                                  base::Audit* audit) const;
    std::unique_ptr<Chamber> make(const ChamberConf& conf);
    void openWhenFree(Chamber* c);
    void openAndStart(Chamber* c);
    void save();
    void keepOpenLines();
    // The rows of the command line's changes to a chamber's settings file.
    QList<events::EventEntry> settingRows(const QList<SettingChange>& changes) const;
    int indexOf(const QString& name) const;

    FleetSetup setup_;
    bool single_ = false;
    bool opened_ = false;
    bool started_ = false;
    bool startAudited_ = false;
    std::function<bool()> auditing_;
    comm::PortMap ports_;
    QMap<int, int> turnarounds_;
    QList<ChamberConf> confs_;
    // Rows for a chamber added but not yet open (its namesake still lets go of the database).
    QHash<const Chamber*, QList<events::EventEntry>> pending_;
    // Each is declared before what uses it, so that it ends after.
    std::unique_ptr<comm::LineRegistry> lines_;
    std::vector<std::unique_ptr<Chamber>> chambers_;
    QList<QPointer<Teardown>> teardowns_;
};

}  // namespace chamber
