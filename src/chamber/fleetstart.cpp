#include "chamber/fleetstart.h"

#include <QDir>
#include <QFileInfo>
#include <iostream>

#include "auth/sessionkeeper.h"
#include "auth/userstore.h"
#include "chamber/userrows.h"
#include "sim/server.h"

namespace chamber {

FleetStart::FleetStart() = default;
FleetStart::FleetStart(FleetStart&&) noexcept = default;
FleetStart& FleetStart::operator=(FleetStart&&) noexcept = default;
FleetStart::~FleetStart() = default;

QString databasePath(const QString& folder, const QString& name) {
    return QDir(folder).filePath(name.isEmpty() ? QStringLiteral("Rdatabj.db")
                                                : QStringLiteral("Rdatabj-%1.db").arg(name));
}

QString userStorePath(const QString& folder) {
    return QDir(folder).filePath(QString::fromLatin1(auth::kUserStoreFileName));
}

std::optional<SettingChange> chamberListChange(const QList<ChamberConf>& given,
                                               QSettings& mainFile) {
    if (given.isEmpty()) return std::nullopt;
    const QList<ChamberConf> kept = readChambers(mainFile);
    if (kept == given) return std::nullopt;
    const auto text = [](const QList<ChamberConf>& list) {
        QStringList out;
        for (const ChamberConf& c : list)
            out << QStringLiteral("%1=%2,%3,%4,%5")
                       .arg(c.name)
                       .arg(c.port)
                       .arg(c.address)
                       .arg(c.baud)
                       .arg(c.parity);
        return out.join(u' ');
    };
    return SettingChange{QStringLiteral("--chamber"), text(kept), text(given)};
}

QList<ChamberConf> chambersOfRun(const FleetOptions& o, std::optional<SettingChange>* change) {
    const std::unique_ptr<QSettings> file = settingsFileFor(QString());
    if (!o.chambers.isEmpty()) {
        if (change) *change = chamberListChange(o.chambers, *file);
        writeChambers(*file, o.chambers);
        return o.chambers;
    }
    if (o.profile.isEmpty() && o.db.isEmpty()) return readChambers(*file);
    return {};
}

std::optional<FleetStart> makeFleetSetup(const FleetOptions& o, const QList<ChamberConf>& chambers,
                                         QList<SettingChange> programChanges, QString* error) {
    FleetStart start;
    comm::PortMap ports;
    for (auto it = o.ports.cbegin(); it != o.ports.cend(); ++it)
        ports.setExplicit(it.key(), it.value());
    if (o.simulate) {
        sim::ServerOptions simOptions;
        simOptions.demoStart = true;
        for (const ChamberConf& conf : chambers)
            if (conf.port == 1) simOptions.addresses.push_back(conf.address);
        if (o.logWrites)  // the server's thread writes whole lines
            simOptions.writeLog = [](const std::string& line) { std::cout << line << std::endl; };
        start.sim = std::make_unique<sim::SimServer>(simOptions);
        std::string why;
        if (!start.sim->start(&why)) {
            if (error)
                *error =
                    QStringLiteral("simulated instrument: %1").arg(QString::fromStdString(why));
            return std::nullopt;
        }
        if (!ports.hasExplicit(1))
            ports.setExplicit(1, QString::fromStdString(start.sim->device()));
    }
    // The user store's rows (logins, failures, locks, accounts, switching, from this program or
    // any other, while it ran or not) go into every chamber's log, each at its own time among the
    // log's rows; a log takes them from its first batch on.
    const QString users = userStorePath(o.dataFolder);
    copyUserStoreRows(users);
    if (o.accountsAlways || QFileInfo::exists(users)) {
        start.accounts = std::make_unique<auth::SessionKeeper>(users, o.monoMs);
        start.accounts->open();
    }
    FleetSetup& setup = start.setup;
    setup.chambers = chambers;
    setup.ports = ports;
    // The one chamber keeps the profile's settings file and database (or the one given); a
    // chamber of the list is what a profile of its name is: the same settings file and database.
    setup.settingsFor = [profile = o.profile](const QString& name) {
        return settingsFileFor(name.isEmpty() ? profile : name);
    };
    setup.databaseFor = [folder = o.dataFolder, db = o.db,
                         profile = o.profile](const QString& name) {
        if (!name.isEmpty()) return databasePath(folder, name);
        return db.isEmpty() ? databasePath(folder, profile) : db;
    };
    setup.given = o.given;
    setup.programChanges = std::move(programChanges);
    setup.user = o.user;
    setup.reason = o.reason;
    return start;
}

}  // namespace chamber
