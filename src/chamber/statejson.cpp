#include "chamber/statejson.h"

#include "base/jsonfields.h"

#include <QJsonArray>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

namespace chamber {

namespace {

// A value rounded to decimals; a value that is no number becomes null (JSON has no NaN).
QJsonValue number(double v, int decimals) {
    if (!std::isfinite(v)) return QJsonValue(QJsonValue::Null);
    const double scale = std::pow(10.0, std::clamp(decimals, 0, 6));
    return std::round(v * scale) / scale;
}

QJsonValue time(const QDateTime& t) {
    if (!t.isValid()) return QJsonValue(QJsonValue::Null);
    return t.toUTC().toString(Qt::ISODateWithMs);
}

QString linkStateWord(LinkState s) {
    switch (s) {
        case LinkState::Closed:
            return QStringLiteral("closed");
        case LinkState::Polling:
            return QStringLiteral("polling");
        case LinkState::Silent:
            return QStringLiteral("silent");
        case LinkState::DeviceLost:
            return QStringLiteral("deviceLost");
    }
    return QStringLiteral("closed");
}

QString programStateWord(const std::optional<instrument::ProgramState>& s) {
    if (!s) return QStringLiteral("unknown");
    switch (*s) {
        case instrument::ProgramState::Stopped:
            return QStringLiteral("stopped");
        case instrument::ProgramState::Running:
            return QStringLiteral("running");
        case instrument::ProgramState::Paused:
            return QStringLiteral("paused");
        case instrument::ProgramState::Ended:
            return QStringLiteral("ended");
    }
    return QStringLiteral("unknown");
}

QString recorderStateWord(store::RecorderStatus::State s) {
    using S = store::RecorderStatus::State;
    switch (s) {
        case S::NotStarted:
            return QStringLiteral("notStarted");
        case S::Recording:
            return QStringLiteral("recording");
        case S::SlowDisk:
            return QStringLiteral("slowDisk");
        case S::Stopped:
            return QStringLiteral("stopped");
        case S::Failed:
            return QStringLiteral("failed");
        case S::Refused:
            return QStringLiteral("refused");
    }
    return QStringLiteral("notStarted");
}

// The value of E whose word is word; fallback for a word none has.
template <class E, class WordOf>
E fromWord(const QString& word, std::initializer_list<E> values, WordOf wordOf, E fallback) {
    for (E v : values)
        if (wordOf(v) == word) return v;
    return fallback;
}

QDateTime timeFrom(const QJsonValue& v) {
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

}  // namespace

QJsonObject stateJson(const State& s) {
    QJsonArray loops;
    for (const LoopState& l : s.loops)
        loops.append(QJsonObject{
            {QStringLiteral("pv"), number(l.pv, l.decimals)},
            {QStringLiteral("sv"), number(l.sv, l.decimals)},
            {QStringLiteral("retransmitPct"), number(l.retransmitPct, 1)},
            {QStringLiteral("outputOn"), l.outputOn},
            {QStringLiteral("sensorBroken"), l.sensorBroken},
            {QStringLiteral("decimals"), l.decimals},
            {QStringLiteral("unit"), l.unit},
        });
    QJsonArray alarms;
    for (const AlarmState& a : s.alarms)
        alarms.append(QJsonObject{{QStringLiteral("on"), a.on}, {QStringLiteral("type"), a.type}});
    const QJsonObject program{
        {QStringLiteral("state"), programStateWord(s.program.state)},
        {QStringLiteral("code"), s.program.code},
        {QStringLiteral("segment"), s.program.segment},
        {QStringLiteral("segmentRemaining"), s.program.segmentRemaining},
        {QStringLiteral("totalRemaining"), s.program.totalRemaining},
        {QStringLiteral("cycles"), s.program.cycles},
    };
    const QJsonObject link{
        {QStringLiteral("state"), linkStateWord(s.link.state)},
        {QStringLiteral("silentMs"), s.link.silentMs},
        {QStringLiteral("device"), s.link.device},
        {QStringLiteral("address"), s.link.address},
        {QStringLiteral("baud"), s.link.baud},
        {QStringLiteral("parity"), QString(QChar::fromLatin1(s.link.parity))},
    };
    QJsonObject recorder{
        {QStringLiteral("state"), recorderStateWord(s.recorder.state)},
        {QStringLiteral("recording"), s.recorder.recording()},
        {QStringLiteral("recordNo"), s.recorder.recordNo},
        {QStringLiteral("waiting"), s.recorder.waiting},
    };
    if (!s.recorder.reason.isEmpty())
        recorder.insert(QStringLiteral("reason"), s.recorder.reason.text(base::Lang::Stored));
    QJsonArray alerts;
    for (const AlertInfo& a : s.alerts) {
        QJsonObject o{
            {QStringLiteral("id"), a.id},
            {QStringLiteral("kind"), a.kind},
            {QStringLiteral("firedAt"), time(a.firedAt)},
            {QStringLiteral("active"), a.active},
            {QStringLiteral("acknowledged"), a.acknowledged},
        };
        o.insert(QStringLiteral("value"), a.value ? number(*a.value, 3) : QJsonValue());
        alerts.append(o);
    }
    QJsonObject o{
        {QStringLiteral("name"), s.name},     {QStringLiteral("station"), s.station},
        {QStringLiteral("loops"), loops},     {QStringLiteral("alarms"), alarms},
        {QStringLiteral("program"), program}, {QStringLiteral("stale"), s.stale},
        {QStringLiteral("link"), link},       {QStringLiteral("recorder"), recorder},
        {QStringLiteral("alerts"), alerts},   {QStringLiteral("alertsRinging"), s.alertsRinging},
    };
    o.insert(QStringLiteral("run"),
             s.run ? QJsonValue(QJsonObject{{QStringLiteral("id"), s.run->id},
                                            {QStringLiteral("name"), s.run->name},
                                            {QStringLiteral("startedAt"), time(s.run->startedAt)}})
                   : QJsonValue(QJsonValue::Null));
    return o;
}

State stateFromJson(const QJsonObject& json) {
    const base::JsonFields o(json);
    State s;
    s.name = o.text("name");
    s.station = o.text("station");
    const QJsonArray loops = o.array("loops");
    for (qsizetype i = 0; i < loops.size() && i < qsizetype(s.loops.size()); ++i) {
        const base::JsonFields l(loops[i].toObject());
        LoopState& to = s.loops[std::size_t(i)];
        to.pv = l.number("pv");
        to.sv = l.number("sv");
        to.retransmitPct = l.number("retransmitPct");
        to.outputOn = l.flag("outputOn");
        to.sensorBroken = l.flag("sensorBroken");
        to.decimals = l.integer("decimals");
        to.unit = l.text("unit");
    }
    const QJsonArray alarms = o.array("alarms");
    for (qsizetype i = 0; i < alarms.size() && i < qsizetype(s.alarms.size()); ++i) {
        const base::JsonFields a(alarms[i].toObject());
        s.alarms[std::size_t(i)] = {a.flag("on"), a.integer("type")};
    }
    const base::JsonFields p = o.object("program");
    using instrument::ProgramState;
    s.program.code = p.integer("code");
    const QString programWord = p.text("state");
    for (ProgramState v :
         {ProgramState::Stopped, ProgramState::Running, ProgramState::Paused, ProgramState::Ended})
        if (programStateWord(v) == programWord) s.program.state = v;
    s.program.segment = p.integer("segment");
    s.program.segmentRemaining = p.integer("segmentRemaining");
    s.program.totalRemaining = p.integer("totalRemaining");
    s.program.cycles = p.integer("cycles");
    s.stale = o.flag("stale", true);
    const base::JsonFields link = o.object("link");
    s.link.state =
        fromWord(link.text("state"),
                 {LinkState::Closed, LinkState::Polling, LinkState::Silent, LinkState::DeviceLost},
                 linkStateWord, LinkState::Closed);
    s.link.silentMs = link.integer("silentMs");
    s.link.device = link.text("device");
    s.link.address = link.integer("address", 1);
    s.link.baud = link.integer("baud");
    const QString parity = link.text("parity");
    s.link.parity = parity.size() == 1 ? parity[0].toLatin1() : 'N';
    const base::JsonFields r = o.object("recorder");
    using RS = store::RecorderStatus::State;
    s.recorder.state = fromWord(
        r.text("state"),
        {RS::NotStarted, RS::Recording, RS::SlowDisk, RS::Stopped, RS::Failed, RS::Refused},
        recorderStateWord, RS::NotStarted);
    s.recorder.recordNo = r.integer("recordNo");
    s.recorder.waiting = r.integer("waiting");
    // Sent as stored (Chinese): shown in the language where it is shown.
    s.recorder.reason = base::Phrase{r.text("reason")};
    if (const base::JsonFields run = o.object("run"); !run.isEmpty())
        s.run = RunInfo{run.integer64("id"), run.text("name"), timeFrom(run.value("startedAt"))};
    for (const QJsonValue& v : o.array("alerts")) {
        const base::JsonFields a(v.toObject());
        AlertInfo info;
        info.id = a.text("id");
        info.kind = a.text("kind");
        info.firedAt = timeFrom(a.value("firedAt"));
        info.active = a.flag("active");
        info.acknowledged = a.flag("acknowledged");
        if (a.value("value").isDouble()) {
            info.value = a.number("value");
            info.valueText = base::Phrase{QString::number(*info.value)};
        }
        s.alerts << info;
    }
    s.alertsRinging = o.flag("alertsRinging");
    return s;
}

namespace {

const std::pair<const char*, Outcome> kOutcomeWords[] = {
    {"done", Outcome::Done},
    {"pending", Outcome::Pending},
    {"refused", Outcome::Refused},
    {"invalid", Outcome::Invalid},
    {"notRecording", Outcome::NotRecording},
    {"notFound", Outcome::NotFound},
    {"linkClosed", Outcome::LinkClosed},
    {"failed", Outcome::Failed},
    {"badRequest", Outcome::Invalid},
};

}  // namespace

QString outcomeWord(Outcome outcome) {
    for (const auto& [word, o] : kOutcomeWords)
        if (o == outcome) return QString::fromLatin1(word);
    return QStringLiteral("failed");
}

Outcome outcomeOfWord(const QString& word) {
    for (const auto& [w, o] : kOutcomeWords)
        if (word == QLatin1String(w)) return o;
    return Outcome::Failed;
}

}  // namespace chamber
