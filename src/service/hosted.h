#pragma once
// The clients a program hosts beside its chambers, whether the service or the desktop program
// without a service runs them: the web server and the MQTT publisher, switched on by the command
// line or the program's settings file, fed from the fleet.

#include <QList>
#include <QSettings>
#include <QString>
#include <functional>
#include <memory>

#include "chamber/fleet.h"
#include "chamber/fleetstart.h"
#include "service/cmdline.h"

namespace web {
class Host;
}
namespace mqtt {
class Publisher;
class FleetFeed;
}  // namespace mqtt

namespace service {

// What the command line gives the fleet, whose databases and user store are in dataFolder.
chamber::FleetOptions fleetOptions(const shell::Options& o, const QString& dataFolder);

// The chamber list of the run (chamber::chambersOfRun), with the changes the command line makes
// to the program's own settings (the chamber list, the hosted clients') added to *changes: read
// before the hosted clients keep what the command line gave them.
QList<chamber::ChamberConf> chambersOfRun(const shell::Options& o,
                                          const chamber::FleetOptions& fleet,
                                          QList<chamber::SettingChange>* changes);

// The settings of the hosted clients that the command line changes, with what the file kept
// before (the broker's user, never its password): rows of the audit trail.
QList<chamber::SettingChange> hostedChanges(const shell::Options& o, QSettings& kept);

// Keeps --http's choice in the settings file and serves what it then says: null when the web
// server is off, or when it cannot listen (the reason in *error).
std::unique_ptr<web::Host> startWebHost(chamber::Fleet& fleet, const shell::Options& o,
                                        std::function<std::unique_ptr<QSettings>()> settings,
                                        const QString& userStore, QString* error);

// The publisher and what feeds it from the fleet; both null while no broker is named.
struct Publishing {
    Publishing();
    Publishing(Publishing&&) noexcept;
    Publishing& operator=(Publishing&&) noexcept;
    // The feed ends first, then the publisher ("offline" published, bounded).
    ~Publishing();
    void reset();

#ifdef VELMARS_HAVE_MQTT
    std::unique_ptr<mqtt::Publisher> publisher;
    std::unique_ptr<mqtt::FleetFeed> feed;
#endif
};

// Keeps the --mqtt options in the settings file and starts the publisher the file then names;
// the station is the host's name unless the file names one.
Publishing startPublishing(chamber::Fleet& fleet, const shell::Options& o, QSettings& kept);

}  // namespace service
