#pragma once
// How a program puts its fleet together, the desktop program and the service alike: the chamber
// list of the run, the settings files and databases of its chambers, the simulated instrument,
// the command line's values, the user store's rows in every chamber's log and the keeper of its
// accounts.

#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "chamber/fleet.h"
#include "chamber/settings.h"

namespace sim {
class SimServer;
}
namespace auth {
class SessionKeeper;
}

namespace chamber {

// What the program was given for its chambers.
struct FleetOptions {
    QString dataFolder;           // where the databases and the user store are
    QString profile;              // --profile: a settings file and database of its own
    QString db;                   // --db: the one chamber's database instead of the default
    QMap<int, QString> ports;     // --port N=DEVICE
    QList<ChamberConf> chambers;  // --chamber, kept for the next start; empty: as kept
    bool simulate = false;        // --simulate: the simulated instrument on port 1
    bool logWrites = false;       // the simulated instrument prints each write it takes
    Given given;                  // what the command line gives every chamber
    QString user;                 // who the command line's changes are by, and why
    QString reason;
    // The keeper of the accounts: made only where the user store is (a program without
    // windows), or always (the windows' logins make the store).
    bool accountsAlways = false;
    std::function<qint64()> monoMs;  // the keeper's clock (tests); a steady timer when empty
};

// Rdatabj.db, or Rdatabj-NAME.db for a profile or chamber, in the folder.
QString databasePath(const QString& folder, const QString& name = QString());
// The user store's file in the folder.
QString userStorePath(const QString& folder);

// The change a chamber list given on the command line makes to the list kept in the program's
// settings file; none when it is the same.
std::optional<SettingChange> chamberListChange(const QList<ChamberConf>& given,
                                               QSettings& mainFile);

// The chamber list of the run: the command line's, kept for the next start; else the one kept
// (none for a profile or a database of its own: one chamber). *change: the command line's
// change of the list kept, when it makes one.
QList<ChamberConf> chambersOfRun(const FleetOptions& o,
                                 std::optional<SettingChange>* change = nullptr);

// The setup of a fleet and what it needs beside it, made in the order a program starts.
struct FleetStart {
    FleetStart();
    FleetStart(FleetStart&&) noexcept;
    FleetStart& operator=(FleetStart&&) noexcept;
    ~FleetStart();

    FleetSetup setup;
    std::unique_ptr<sim::SimServer> sim;  // with --simulate
    // Publishes the accounts as the store holds them, for every command's check of its actor.
    std::unique_ptr<auth::SessionKeeper> accounts;
};

// Starts the simulated instrument when asked for (each chamber of the list on port 1 an
// instrument of its own at its address; port 1 names it unless --port gave one), has every
// event log made from now on copy the user store's rows, makes and opens the keeper of the
// accounts, and puts together the fleet's setup: ports, settings files, databases, the command
// line's values and programChanges (the changes it made to the program's own settings). The
// clock and a Modbus implementation of the tests are the caller's to add. Nullopt with *error
// when the simulated instrument cannot start.
std::optional<FleetStart> makeFleetSetup(const FleetOptions& o, const QList<ChamberConf>& chambers,
                                         QList<SettingChange> programChanges, QString* error);

}  // namespace chamber
