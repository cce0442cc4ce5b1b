#include "chamber/statejson.h"

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

QString recorderStateWord(record::RecorderStatus::State s) {
    using S = record::RecorderStatus::State;
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
        {QStringLiteral("alerts"), alerts},
    };
    o.insert(QStringLiteral("run"),
             s.run ? QJsonValue(QJsonObject{{QStringLiteral("id"), s.run->id},
                                            {QStringLiteral("name"), s.run->name},
                                            {QStringLiteral("startedAt"), time(s.run->startedAt)}})
                   : QJsonValue(QJsonValue::Null));
    return o;
}

}  // namespace chamber
