#include "alert/rules.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"

namespace alert {

namespace {

int index(Kind k) {
    return static_cast<int>(k);
}

QString number(double v) {
    return QString::number(v, 'g', 6);
}

}  // namespace

QString kindKey(Kind kind) {
    static const char* const keys[] = {"alarm1",     "alarm2",       "sensor1",     "sensor2",
                                       "silent",     "band1",        "band2",       "recording",
                                       "forwarding", "login_failed", "chain_broken"};
    return QString::fromLatin1(keys[index(kind)]);
}

std::optional<Kind> kindOfKey(const QString& key) {
    for (const auto& kinds : {std::vector<Kind>(kAllKinds.begin(), kAllKinds.end()),
                              std::vector<Kind>(kRaisedKinds.begin(), kRaisedKinds.end())})
        for (Kind k : kinds)
            if (kindKey(k) == key) return k;
    return std::nullopt;
}

base::Phrase kindValue(Kind kind, const QStringList& values) {
    switch (kind) {
        case Kind::Silent:
            if (values.size() > 1)
                return {
                    QStringLiteral(QT_TRANSLATE_NOOP("velmars", "设备已断开（%2），%1 秒无应答")),
                    values.mid(0, 2)};
            return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "%1 秒无应答")), values};
        case Kind::Band1:
        case Kind::Band2:
            return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "PV%1 %2（范围 %3 … %4）")),
                    values};
        case Kind::Forwarding:
            return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "滞后 %1 分钟")), values};
        case Kind::LoginFailed:
            // The account named; an unknown user id is not kept (it may be a password).
            if (values.value(0).isEmpty())
                return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "未知用户"))};
            return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "账户 %1")), values};
        case Kind::ChainBroken:
            // The chain and its first changed row: an event's number or an hour's first second.
            if (values.value(0) == QLatin1String("runs"))
                return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "试验记录"))};
            if (values.value(0) == QLatin1String("events"))
                return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "事件记录第 %1 行")),
                        values.mid(1)};
            if (values.size() > 1)
                return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "%1 起一小时的存档样本")),
                        {QDateTime::fromSecsSinceEpoch(values[1].toLongLong())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm"))}};
            return {};
        default:
            return {};
    }
}

QString kindTitle(Kind kind) {
    static const char* const titles[] = {
        QT_TRANSLATE_NOOP("velmars", "仪表报警1"),     QT_TRANSLATE_NOOP("velmars", "仪表报警2"),
        QT_TRANSLATE_NOOP("velmars", "传感器1开路"),   QT_TRANSLATE_NOOP("velmars", "传感器2开路"),
        QT_TRANSLATE_NOOP("velmars", "仪表无应答"),    QT_TRANSLATE_NOOP("velmars", "PV1超出范围"),
        QT_TRANSLATE_NOOP("velmars", "PV2超出范围"),   QT_TRANSLATE_NOOP("velmars", "记录停止"),
        QT_TRANSLATE_NOOP("velmars", "转发滞后"),      QT_TRANSLATE_NOOP("velmars", "登录失败"),
        QT_TRANSLATE_NOOP("velmars", "完整性校验失败")};
    return QString::fromUtf8(titles[index(kind)]);
}

QString kindAdvice(Kind kind) {
    switch (kind) {
        case Kind::Alarm1:
        case Kind::Alarm2:
            return QStringLiteral(
                QT_TRANSLATE_NOOP("velmars", "请到现场查看试验箱和仪表的报警原因。"));
        case Kind::Sensor1:
        case Kind::Sensor2:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "请检查传感器及其接线。"));
        case Kind::Silent:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "请检查仪表电源、通讯线和串口。"));
        case Kind::Band1:
        case Kind::Band2:
            return QStringLiteral(
                QT_TRANSLATE_NOOP("velmars", "请检查试验箱的加热、制冷、加湿和箱门。"));
        case Kind::Recording:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "请检查磁盘空间和数据库文件。"));
        case Kind::Forwarding:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "请检查网络和中心服务器。"));
        case Kind::LoginFailed:
            return QStringLiteral(
                QT_TRANSLATE_NOOP("velmars", "请确认是否有人试图使用他人的账户登录。"));
        case Kind::ChainBroken:
            return QStringLiteral(QT_TRANSLATE_NOOP(
                "velmars", "记录在程序之外被更改：请用 velmars --verify 核对并通知质量负责人。"));
    }
    return QString();
}

RuleConfig::RuleConfig() {
    rule(Kind::Silent).delaySec = 30;
    rule(Kind::Band1).delaySec = 300;
    rule(Kind::Band2).delaySec = 300;
    rule(Kind::Recording).delaySec = 60;
    bands[0].plusMinus = 2;
    bands[0].hysteresis = 0.4;
    bands[1].plusMinus = 5;
    bands[1].hysteresis = 1;
}

Engine::Engine(RuleConfig config) : config_(std::move(config)) {}

void Engine::setConfig(const RuleConfig& config) {
    config_ = config;
}

void Engine::setRunBand(int loop, std::optional<instrument::ToleranceBand> band) {
    if (loop == 0 || loop == 1) runBands_[loop] = band;
}

instrument::ToleranceBand Engine::bandOf(int loop) const {
    return runBands_[loop] ? *runBands_[loop] : config_.bands[loop];
}

std::optional<bool> Engine::condition(Kind k, const Observation& o, bool active,
                                      base::Phrase* valueText, std::optional<double>* value) const {
    switch (k) {
        case Kind::Alarm1:
        case Kind::Alarm2:
        case Kind::Sensor1:
        case Kind::Sensor2: {
            if (!o.imageFresh) return std::nullopt;
            const bool on = o.bits[index(k) - index(Kind::Alarm1)];
            *value = on ? 1 : 0;
            *valueText = {on ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "报警"))
                             : QStringLiteral(QT_TRANSLATE_NOOP("velmars", "正常"))};
            return on;
        }
        case Kind::Silent: {
            // Nobody waits for an answer: as it stands. Only an answer says the instrument is
            // back; a closed or re-opened port does not.
            if (!o.polling && !o.recording) return std::nullopt;
            *value = o.silentMs / 1000.0;
            QStringList values{QString::number(o.silentMs / 1000)};
            if (!o.lostDevice.isEmpty()) values << o.lostDevice;
            *valueText = kindValue(k, values);
            return o.silentMs >= config_.rule(k).delaySec * 1000;
        }
        case Kind::Band1:
        case Kind::Band2: {
            if (!o.imageFresh) return std::nullopt;
            const int loop = k == Kind::Band1 ? 0 : 1;
            const instrument::ToleranceBand b = bandOf(loop);
            const double pv = o.pv[loop];
            const double sv = o.sv[loop];
            *value = pv;
            *valueText = kindValue(k, {QString::number(loop + 1), number(pv), number(b.lowAt(sv)),
                                       number(b.highAt(sv))});
            return b.outside(pv, sv, active);
        }
        case Kind::Recording:
            *valueText = {o.recordingStopped
                              ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "记录已停止"))
                              : QString()};
            return o.recordingStopped;
        case Kind::LoginFailed:
        case Kind::ChainBroken:
            return std::nullopt;  // raised, never observed
        case Kind::Forwarding: {
            if (!o.forwardBehindMin) return std::nullopt;
            const double behind = *o.forwardBehindMin;
            *value = behind;
            *valueText = kindValue(k, {base::intText(std::lround(behind))});
            const double limit = config_.forwardBehindMin;
            return active ? behind > limit * 0.9 : behind > limit;
        }
    }
    return std::nullopt;
}

std::vector<Transition> Engine::observe(const Observation& o) {
    std::vector<Transition> out;
    const qint64 now = o.at.toMSecsSinceEpoch();
    for (Kind k : kAllKinds) {
        State& s = states_[index(k)];
        const Rule& rule = config_.rule(k);
        base::Phrase valueText;
        std::optional<double> value;
        std::optional<bool> cond = rule.enabled || s.active
                                       ? condition(k, o, s.active, &valueText, &value)
                                       : std::optional<bool>(false);
        // A rule turned off while its alert is active lets it return to normal.
        if (!rule.enabled) cond = false;
        if (!cond) {
            s.pendingSinceMs = -1;
            s.clearingSinceMs = -1;
            continue;
        }
        if (!s.active) {
            if (!*cond) {
                s.pendingSinceMs = -1;
                continue;
            }
            if (s.pendingSinceMs < 0) s.pendingSinceMs = now;
            // The silence rule counts its delay in the link's own silent time.
            const qint64 delayMs = k == Kind::Silent ? 0 : qint64(rule.delaySec) * 1000;
            if (now - s.pendingSinceMs < delayMs) continue;
            s.active = true;
            s.pendingSinceMs = -1;
            s.clearingSinceMs = -1;
            // An earlier episode nobody acknowledged yet stays listed beside the new one.
            ListedAlert a;
            a.id = QStringLiteral("%1-%2").arg(kindKey(k), o.at.toString(u"yyyyMMddHHmmss"));
            a.kind = k;
            a.firedAt = o.at;
            a.valueText = valueText;
            a.value = value;
            a.lastNotifiedMs = now;
            listed_.push_back(a);
            out.push_back({k, true, valueText, value, a.id});
        } else {
            if (*cond) {
                s.clearingSinceMs = -1;
                continue;
            }
            if (s.clearingSinceMs < 0) s.clearingSinceMs = now;
            if (now - s.clearingSinceMs < kClearHoldMs && rule.enabled) continue;
            s.active = false;
            s.clearingSinceMs = -1;
            QString id;
            bool acknowledged = false;
            for (auto it = listed_.begin(); it != listed_.end(); ++it) {
                if (it->kind != k || !it->active) continue;
                it->active = false;
                it->clearedAt = o.at;
                id = it->id;
                acknowledged = it->acknowledged;
                if (acknowledged) listed_.erase(it);
                break;
            }
            out.push_back({k, false, valueText, value, id, acknowledged});
        }
    }
    return out;
}

Transition Engine::raise(Kind kind, const QDateTime& at, const base::Phrase& valueText) {
    // Failed logins while one alert of them is open add to its count: a guessing spree is one
    // alert, not one per try. The audit trail keeps each.
    if (kind == Kind::LoginFailed) {
        for (ListedAlert& a : listed_) {
            if (a.kind != kind || !a.raised || a.acknowledged) continue;
            ++a.count;
            a.valueText = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "%1 次，最近一次：%2")),
                           {QString::number(a.count)},
                           {valueText}};
            return {kind, true, a.valueText, std::nullopt, a.id, false, true};
        }
    }
    // Several in one second (failed logins) each get an id of their own.
    const QString base = QStringLiteral("%1-%2").arg(kindKey(kind), at.toString(u"yyyyMMddHHmmss"));
    QString id = base;
    for (int n = 2; find(id); ++n)
        id = QStringLiteral("%1-%2").arg(base).arg(n);
    ListedAlert a;
    a.id = id;
    a.kind = kind;
    a.firedAt = at;
    a.valueText = valueText;
    a.lastNotifiedMs = at.toMSecsSinceEpoch();
    a.raised = true;
    listed_.push_back(a);
    return {kind, true, valueText, std::nullopt, id};
}

void Engine::restore(std::vector<ListedAlert> alerts) {
    for (ListedAlert& a : alerts) {
        if (find(a.id)) continue;
        if (a.active && !a.raised) states_[index(a.kind)].active = true;
        listed_.push_back(std::move(a));
    }
}

const ListedAlert* Engine::find(const QString& id) const {
    for (const ListedAlert& a : listed_)
        if (a.id == id) return &a;
    return nullptr;
}

bool Engine::acknowledge(const QString& id) {
    for (auto it = listed_.begin(); it != listed_.end(); ++it) {
        if (it->id != id) continue;
        if (it->acknowledged) return false;
        it->acknowledged = true;
        if (!it->active || it->raised) listed_.erase(it);
        return true;
    }
    return false;
}

std::vector<Reminder> Engine::dueReminders(qint64 nowMs, qint64 repeatMs, qint64 escalateMs) {
    std::vector<Reminder> out;
    for (ListedAlert& a : listed_) {
        if (!a.active || a.acknowledged) continue;
        if (escalateMs > 0 && !a.escalated && nowMs - a.firedAt.toMSecsSinceEpoch() >= escalateMs) {
            a.escalated = true;
            out.push_back({a.id, true});
        }
        if (repeatMs > 0 && nowMs - a.lastNotifiedMs >= repeatMs) {
            a.lastNotifiedMs = nowMs;
            out.push_back({a.id, false});
        }
    }
    return out;
}

}  // namespace alert
