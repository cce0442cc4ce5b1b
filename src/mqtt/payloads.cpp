#include "mqtt/payloads.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "mqtt/topics.h"

namespace mqtt {

QJsonObject eventJson(const events::EventEntry& e, base::Lang lang) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), e.id);
    o.insert(QStringLiteral("at"),
             e.at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")));
    o.insert(QStringLiteral("kind"), e.kind);
    o.insert(QStringLiteral("code"), e.code);
    o.insert(QStringLiteral("args"), QJsonArray::fromStringList(e.args));
    o.insert(QStringLiteral("text"), events::eventText(e, lang));
    if (e.reg) o.insert(QStringLiteral("reg"), *e.reg);
    if (e.value) o.insert(QStringLiteral("value"), *e.value);
    if (e.status) o.insert(QStringLiteral("status"), *e.status);
    const auto optional = [&o](const char* key, const QString& v) {
        if (!v.isEmpty()) o.insert(QLatin1String(key), v);
    };
    optional("user", e.user);
    optional("oldValue", e.oldValue);
    optional("newValue", e.newValue);
    optional("reason", e.reason);
    return o;
}

bool isAlert(const events::EventEntry& e) {
    if (e.kind != events::eventkind::kAlert) return false;
    static const QStringList codes{QStringLiteral("alert.fired"), QStringLiteral("alert.cleared"),
                                   QStringLiteral("alert.acknowledged"),
                                   QStringLiteral("alert.escalated"),
                                   QStringLiteral("alert.repeated")};
    return codes.contains(e.code);
}

namespace {

struct Entity {
    const char* component;  // sensor or binary_sensor
    const char* key;        // the object id within the chamber
    const char* name;
    const char* template_;  // over the state's JSON
    const char* deviceClass;
    const char* unit;  // sensors only
};

// The state's JSON: loops[0] temperature, loops[1] humidity; alarms[0..1]; link.state with
// "polling" while the instrument answers.
constexpr Entity kEntities[] = {
    {"sensor", "pv1", "Temperature", "{{ value_json.loops[0].pv }}", "temperature", "°C"},
    {"sensor", "sv1", "Temperature set value", "{{ value_json.loops[0].sv }}", "temperature", "°C"},
    {"sensor", "pv2", "Humidity", "{{ value_json.loops[1].pv }}", "humidity", "%"},
    {"sensor", "sv2", "Humidity set value", "{{ value_json.loops[1].sv }}", "humidity", "%"},
    {"binary_sensor", "alarm1", "Alarm 1", "{{ 'ON' if value_json.alarms[0].on else 'OFF' }}",
     "problem", nullptr},
    {"binary_sensor", "alarm2", "Alarm 2", "{{ 'ON' if value_json.alarms[1].on else 'OFF' }}",
     "problem", nullptr},
    {"binary_sensor", "link", "Link",
     "{{ 'ON' if value_json.link.state == 'polling' and not value_json.stale else 'OFF' }}",
     "connectivity", nullptr},
};

}  // namespace

QList<Message> discoveryMessages(const QString& discoveryPrefix, const QString& prefix,
                                 const QString& station, const QString& chamber) {
    const QString node =
        QStringLiteral("velmars_%1_%2").arg(discoveryId(station), discoveryId(chamber));
    QJsonObject device;
    device.insert(QStringLiteral("identifiers"), QJsonArray{node});
    device.insert(QStringLiteral("name"),
                  chamber.isEmpty() ? station : QStringLiteral("%1 %2").arg(station, chamber));
    device.insert(QStringLiteral("model"), QStringLiteral("velmars"));
    const QString stateTopic = chamberTopic(prefix, station, chamber, QStringLiteral("state"));
    QList<Message> out;
    for (const Entity& e : kEntities) {
        QJsonObject c;
        const QString id = node + u'_' + QLatin1String(e.key);
        c.insert(QStringLiteral("name"), QLatin1String(e.name));
        c.insert(QStringLiteral("unique_id"), id);
        c.insert(QStringLiteral("object_id"), id);
        c.insert(QStringLiteral("state_topic"), stateTopic);
        c.insert(QStringLiteral("value_template"), QLatin1String(e.template_));
        c.insert(QStringLiteral("device_class"), QLatin1String(e.deviceClass));
        if (e.unit) {
            c.insert(QStringLiteral("unit_of_measurement"), QString::fromUtf8(e.unit));
            c.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
        }
        c.insert(QStringLiteral("availability_topic"), statusTopic(prefix, station));
        c.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        c.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
        c.insert(QStringLiteral("device"), device);
        out.append(
            {QStringLiteral("%1/%2/%3/%4/config")
                 .arg(discoveryPrefix, QLatin1String(e.component), node, QLatin1String(e.key)),
             QJsonDocument(c).toJson(QJsonDocument::Compact)});
    }
    return out;
}

}  // namespace mqtt
