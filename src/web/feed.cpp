#include "web/feed.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "chamber/statejson.h"
#include "events/eventlog.h"
#include "web/api.h"

namespace web {

namespace {

QByteArray compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

}  // namespace

Gauges gaugesOf(const chamber::State& s, const std::optional<Gauges>& previous, qint64 nowSecs) {
    Gauges g;
    g.chamber = s.name;
    for (int i = 0; i < 2; ++i) {
        g.pv[i] = s.loops[i].pv;
        g.sv[i] = s.loops[i].sv;
        g.retransmitPct[i] = s.loops[i].retransmitPct;
        g.outputOn[i] = s.loops[i].outputOn;
        g.sensorBroken[i] = s.loops[i].sensorBroken;
        g.alarm[i] = s.alarms[i].on;
    }
    g.stale = s.stale;
    g.link = QLatin1String(kLinkStates[static_cast<int>(s.link.state)]);
    g.silentSeconds = s.link.silentMs / 1000.0;
    g.recorder = QLatin1String(kRecorderStates[static_cast<int>(s.recorder.state)]);
    g.samplesRecorded = previous ? previous->samplesRecorded : 0;
    g.lastSampleSeconds = previous ? previous->lastSampleSeconds : std::nullopt;
    // The ring's record number comes round after its last record: the steps taken are counted.
    const int before = previous ? previous->recordNo : 0;
    g.recordNo = s.recorder.recordNo;
    if (previous && g.recordNo > 0 && g.recordNo != before) {
        const int step = before > 0 && g.recordNo < before ? g.recordNo + (Gauges::kRing - before)
                         : before > 0                      ? g.recordNo - before
                                                           : 1;
        g.samplesRecorded += std::min(step, Gauges::kRing);
        g.lastSampleSeconds = static_cast<double>(nowSecs);
    }
    for (const chamber::AlertInfo& a : s.alerts)
        if (a.active || !a.acknowledged) ++g.alertsOpen;
    g.runOpen = s.run.has_value();
    return g;
}

QJsonObject eventJson(const events::EventEntry& e) {
    QJsonObject o{{QStringLiteral("id"), e.id},
                  {QStringLiteral("at"), e.at.toUTC().toString(Qt::ISODateWithMs)},
                  {QStringLiteral("atMs"), e.at.toMSecsSinceEpoch()},
                  {QStringLiteral("kind"), e.kind},
                  {QStringLiteral("code"), e.code},
                  {QStringLiteral("args"), QJsonArray::fromStringList(e.args)},
                  {QStringLiteral("text"), events::eventText(e, base::Lang::Stored)},
                  {QStringLiteral("textShown"), events::eventText(e, base::Lang::Shown)}};
    if (!e.user.isEmpty()) o.insert(QStringLiteral("user"), e.user);
    if (!e.oldValue.isEmpty()) o.insert(QStringLiteral("oldValue"), e.oldValue);
    if (!e.newValue.isEmpty()) o.insert(QStringLiteral("newValue"), e.newValue);
    if (!e.reason.isEmpty()) o.insert(QStringLiteral("reason"), e.reason);
    return o;
}

Feed::Feed(chamber::Fleet& fleet, Hub& hub, QObject* parent)
    : QObject(parent), fleet_(fleet), hub_(hub) {
    for (chamber::Chamber* c : fleet.chambers())
        follow(c);
    connect(&fleet, &chamber::Fleet::chamberAdded, this, &Feed::follow);
    connect(&fleet, &chamber::Fleet::chamberRemoved, this, &Feed::drop);
}

void Feed::follow(chamber::Chamber* c) {
    if (!c || last_.contains(c->name())) return;
    connect(c, &chamber::Chamber::stateChanged, this,
            [this, c](const chamber::State& s) { take(c, s); });
    take(c, c->state());
    if (events::EventLog* log = c->eventLog())
        connect(log, &events::EventLog::logged, this,
                [this, name = c->name()](const events::EventEntry& e) {
                    QJsonObject o = eventJson(e);
                    o.insert(QStringLiteral("chamber"), Api::idOf(name));
                    hub_.publish("event", compact(o));
                });
}

void Feed::drop(const QString& name) {
    last_.remove(name);
    gauges_.remove(name);
    hub_.removeChamber(name);
    hub_.publish("removed", compact({{QStringLiteral("id"), Api::idOf(name)}}));
}

void Feed::take(chamber::Chamber* c, const chamber::State& s) {
    const QString name = c->name();
    const auto previous = last_.constFind(name);
    const auto prevGauges = gauges_.constFind(name);
    ChamberEntry e;
    e.name = name;
    e.state = chamber::stateJson(s);
    e.gauges = gaugesOf(
        s, prevGauges == gauges_.cend() ? std::nullopt : std::optional<Gauges>(*prevGauges),
        QDateTime::currentSecsSinceEpoch());
    e.dbPath = c->databasePath();
    // Alerts new or changed since the last state go out on their own as well.
    if (previous != last_.cend())
        for (const chamber::AlertInfo& a : s.alerts)
            if (!previous->alerts.contains(a)) {
                QJsonObject o = e.state.value(QStringLiteral("alerts"))
                                    .toArray()
                                    .at(s.alerts.indexOf(a))
                                    .toObject();
                o.insert(QStringLiteral("chamber"), Api::idOf(name));
                hub_.publish("alert", compact(o));
            }
    last_.insert(name, s);
    gauges_.insert(name, e.gauges);
    QJsonObject shown = e.state;
    shown.insert(QStringLiteral("id"), Api::idOf(name));
    hub_.setChamber(std::move(e));
    hub_.publish("state", compact(shown));
}

}  // namespace web
