#include "service/hosted.h"

#include <QSysInfo>

#include "web/host.h"
#ifdef VELMARS_HAVE_MQTT
#include "mqtt/fleetfeed.h"
#include "mqtt/publisher.h"
#include "mqtt/setup.h"
#endif

namespace service {

chamber::FleetOptions fleetOptions(const shell::Options& o, const QString& dataFolder) {
    chamber::FleetOptions f;
    f.dataFolder = dataFolder;
    f.profile = o.profile;
    f.db = o.db;
    f.ports = o.ports;
    f.chambers = o.chambers;
    f.simulate = o.simulate;
    f.logWrites = o.logWrites;
    f.given = {o.forward,
               o.station,
               {o.notifyMail, o.notifyFrom, o.notifyTo, o.notifyWebhook, o.notifySilentAfter},
               o.keepDays,
               o.keepFreeGb};
    f.user = o.user;
    f.reason = o.reason;
    return f;
}

QList<chamber::ChamberConf> chambersOfRun(const shell::Options& o,
                                          const chamber::FleetOptions& fleet,
                                          QList<chamber::SettingChange>* changes) {
    QList<chamber::SettingChange> own = hostedChanges(o, *chamber::settingsFileFor(QString()));
    std::optional<chamber::SettingChange> listChange;
    const QList<chamber::ChamberConf> confs = chamber::chambersOfRun(fleet, &listChange);
    if (listChange) own.prepend(*listChange);
    if (changes) *changes << own;
    return confs;
}

QList<chamber::SettingChange> hostedChanges(const shell::Options& o, QSettings& kept) {
    QList<chamber::SettingChange> out;
    if (o.http) {
        const auto text = [](const web::Listen& l) {
            return l.port <= 0 ? QString() : web::urlOf(l, l.port);
        };
        out << chamber::SettingChange{QStringLiteral("--http"), text(web::readListen(kept)),
                                      text(*o.http)};
    }
#ifdef VELMARS_HAVE_MQTT
    const auto change = [&](const char* option, const auto& given, const QString& key,
                            const QString& after) {
        if (given)
            out << chamber::SettingChange{QString::fromLatin1(option), kept.value(key).toString(),
                                          after};
    };
    change("--mqtt", o.mqtt, mqtt::key::kUrl, o.mqtt.value_or(QString()));
    change("--mqtt-prefix", o.mqttPrefix, mqtt::key::kPrefix, o.mqttPrefix.value_or(QString()));
    change("--mqtt-discovery", o.mqttDiscovery, mqtt::key::kDiscovery,
           o.mqttDiscovery.value_or(false) ? QStringLiteral("true") : QStringLiteral("false"));
    change("--mqtt-login", o.mqttUser, mqtt::key::kUser, o.mqttUser.value_or(QString()));
#endif
    return out;
}

std::unique_ptr<web::Host> startWebHost(chamber::Fleet& fleet, const shell::Options& o,
                                        std::function<std::unique_ptr<QSettings>()> settings,
                                        const QString& userStore, QString* error) {
    // Off unless switched on; --http's choice is kept for the next start.
    const std::unique_ptr<QSettings> kept = settings();
    if (o.http) web::writeListen(*kept, *o.http);
    const web::Listen listen = web::readListen(*kept);
    if (listen.port <= 0) return nullptr;
    auto host = std::make_unique<web::Host>(
        fleet, web::HostSetup{listen, QString(), std::move(settings), userStore});
    if (!host->start(error)) return nullptr;
    return host;
}

Publishing::Publishing() = default;
Publishing::Publishing(Publishing&&) noexcept = default;
Publishing& Publishing::operator=(Publishing&&) noexcept = default;
Publishing::~Publishing() {
    reset();
}

void Publishing::reset() {
#ifdef VELMARS_HAVE_MQTT
    feed.reset();
    publisher.reset();
#endif
}

Publishing startPublishing([[maybe_unused]] chamber::Fleet& fleet,
                           [[maybe_unused]] const shell::Options& o,
                           [[maybe_unused]] QSettings& kept) {
    Publishing p;
#ifdef VELMARS_HAVE_MQTT
    const mqtt::Given given{o.mqtt, o.mqttPrefix, o.mqttDiscovery, o.mqttUser, o.mqttPassword};
    const auto config = mqtt::configure(kept, given, QSysInfo::machineHostName());
    if (!config) return p;
    p.publisher = std::make_unique<mqtt::Publisher>(*config);
    p.feed = std::make_unique<mqtt::FleetFeed>(fleet, *p.publisher);
    p.publisher->start();
#endif
    return p;
}

}  // namespace service
