#include "alert/alerter.h"

#include <QFileInfo>

#include "comm/link.h"
#include "events/eventlog.h"
#include "forward/forwarder.h"
#include "instrument/readings.h"
#include "store/recorder.h"

namespace alert {

namespace {

constexpr int kTickMs = 500;
const QString kListGroup = QStringLiteral("alertList");
const QString kListDatabaseKey = QStringLiteral("alertListDatabase");

std::vector<ListedAlert> readList(QSettings& settings) {
    std::vector<ListedAlert> out;
    const int n = settings.beginReadArray(kListGroup);
    for (int i = 0; i < n; ++i) {
        settings.setArrayIndex(i);
        const auto kind = kindOfKey(settings.value(QStringLiteral("kind")).toString());
        const QString id = settings.value(QStringLiteral("id")).toString();
        bool ok = false;
        const qint64 firedMs = settings.value(QStringLiteral("firedAt")).toLongLong(&ok);
        if (!kind || id.isEmpty() || !ok) continue;  // spoiled by a hand edit
        ListedAlert a;
        a.id = id;
        a.kind = *kind;
        a.firedAt = QDateTime::fromMSecsSinceEpoch(firedMs);
        a.valueText.words = settings.value(QStringLiteral("words")).toString();
        a.valueText.values = settings.value(QStringLiteral("values")).toStringList();
        const QVariant value = settings.value(QStringLiteral("value"));
        if (value.isValid() && value.canConvert<double>()) a.value = value.toDouble();
        a.active = settings.value(QStringLiteral("active")).toBool();
        a.acknowledged = settings.value(QStringLiteral("acknowledged")).toBool();
        const qint64 clearedMs = settings.value(QStringLiteral("clearedAt"), -1).toLongLong();
        if (clearedMs >= 0) a.clearedAt = QDateTime::fromMSecsSinceEpoch(clearedMs);
        a.lastNotifiedMs = settings.value(QStringLiteral("lastNotified"), firedMs).toLongLong();
        a.escalated = settings.value(QStringLiteral("escalated")).toBool();
        a.raised = settings.value(QStringLiteral("raised")).toBool();
        out.push_back(a);
    }
    settings.endArray();
    return out;
}

void writeList(QSettings& settings, const std::vector<ListedAlert>& list) {
    settings.remove(kListGroup);
    settings.beginWriteArray(kListGroup, static_cast<int>(list.size()));
    for (int i = 0; i < static_cast<int>(list.size()); ++i) {
        const ListedAlert& a = list[size_t(i)];
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("id"), a.id);
        settings.setValue(QStringLiteral("kind"), kindKey(a.kind));
        settings.setValue(QStringLiteral("firedAt"), a.firedAt.toMSecsSinceEpoch());
        settings.setValue(QStringLiteral("words"), a.valueText.words);
        settings.setValue(QStringLiteral("values"), a.valueText.values);
        if (a.value) settings.setValue(QStringLiteral("value"), *a.value);
        settings.setValue(QStringLiteral("active"), a.active);
        settings.setValue(QStringLiteral("acknowledged"), a.acknowledged);
        if (a.clearedAt.isValid())
            settings.setValue(QStringLiteral("clearedAt"), a.clearedAt.toMSecsSinceEpoch());
        settings.setValue(QStringLiteral("lastNotified"), a.lastNotifiedMs);
        settings.setValue(QStringLiteral("escalated"), a.escalated);
        settings.setValue(QStringLiteral("raised"), a.raised);
    }
    settings.endArray();
    settings.sync();
}
// Without a good block for this long the image no longer tells the instrument's state.
constexpr int kStaleImageMs = 1500;

}  // namespace

Alerter::Alerter(AlerterContext ctx, RuleConfig rules, NotifySettings notify, QObject* parent)
    : QObject(parent),
      ctx_(std::move(ctx)),
      engine_(std::move(rules)),
      notify_(std::move(notify)),
      delivery_(ctx_.dbPath) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &Alerter::tick);
    events::addEventTexts(&eventText);
    connect(&delivery_, &Delivery::attempted, this,
            [this](bool ok, const QString& code, const QStringList& args) {
                log(code, args, ok ? 1 : 0);
            });
    connect(&delivery_, &Delivery::testDone, this, &Alerter::testDone);
    // A broken hash chain, found at the start or by the daily check.
    if (ctx_.log)
        connect(ctx_.log, &events::EventLog::chainsChecked, this,
                [this](const store::ChainReport& r) {
                    if (!r.intact) raise(Kind::ChainBroken, {r.chain, QString::number(r.at)});
                });
}

Alerter::~Alerter() = default;

void Alerter::keepListIn(std::function<std::unique_ptr<QSettings>()> file, const QString& dbPath) {
    listFile_ = std::move(file);
    listOf_ = QFileInfo(dbPath).absoluteFilePath();
    if (!listFile_) return;
    auto settings = listFile_();
    // A settings file used with another database (--db) keeps that one's list.
    if (settings->value(kListDatabaseKey).toString() != listOf_) return;
    std::vector<ListedAlert> kept = readList(*settings);
    if (kept.empty()) return;
    const bool open =
        std::any_of(kept.begin(), kept.end(), [](const ListedAlert& a) { return !a.acknowledged; });
    engine_.restore(std::move(kept));
    if (open) ringing_ = true;
    emit listChanged();
    emit ringingChanged();
}

void Alerter::saveList() {
    // A viewer's list is the recording program's to keep.
    if (!listFile_ || !ctx_.log) return;
    listWriter_.start();
    listWriter_.post([file = listFile_, of = listOf_, list = engine_.listed()](QObject&) {
        auto settings = file();
        settings->setValue(kListDatabaseKey, of);
        writeList(*settings, list);
    });
}

void Alerter::start() {
    delivery_.configure(notify_);
    delivery_.start();
    timer_.start();
}

Observation Alerter::observe() const {
    Observation o;
    o.at = ctx_.clock.now();
    const comm::Link& link = ctx_.link;
    o.polling = link.polling();
    o.silentMs = link.unansweredMs();
    if (link.stats().deviceLost) o.lostDevice = link.stats().device;
    o.imageFresh = o.polling && link.silentMs() < kStaleImageMs && link.stats().exchanges > 0;
    const comm::InstrumentImage& im = link.image();
    for (int k = 0; k < 2; ++k) {
        o.bits[size_t(k)] = instrument::alarmOn(im, k);
        o.bits[size_t(2 + k)] = instrument::sensorOpen(im, k);
        o.pv[size_t(k)] = instrument::pv(im, k);
        o.sv[size_t(k)] = instrument::sv(im, k);
    }
    o.recording = recorder_ && recorder_->running();
    if (recorder_)
        o.recordingStopped = recorder_->status().state == store::RecorderStatus::State::Failed;
    // One sample a second: what waits for the server, in minutes of recording.
    if (forwarder_) o.forwardBehindMin = forwarder_->status().pending / 60.0;
    return o;
}

Notice Alerter::noticeFor(const ListedAlert& a, Event e, const QDateTime& at) const {
    Notice n;
    n.event = e;
    n.station = ctx_.station;
    n.address = ctx_.link.settings().address > 0 ? ctx_.link.settings().address : 1;
    n.alertId = a.id;
    n.kind = a.kind;
    n.valueText = a.valueText;
    n.value = a.value;
    n.at = at;
    n.acknowledged = a.acknowledged;
    return n;
}

void Alerter::tick() {
    const Observation o = observe();
    const std::vector<Transition> changes = engine_.observe(o);
    for (const Transition& t : changes)
        announce(t, o.at);
    const qint64 now = o.at.toMSecsSinceEpoch();
    for (const Reminder& r : engine_.dueReminders(now, qint64(notify_.repeatMin) * 60000,
                                                  qint64(notify_.escalateMin) * 60000)) {
        const ListedAlert* a = engine_.find(r.id);
        if (!a) continue;
        const Event e = r.escalation ? Event::Escalated : Event::Repeated;
        Notice n = noticeFor(*a, e, o.at);
        n.at = a->firedAt;
        if (r.escalation) {
            log(QStringLiteral("alert.escalated"), {kindKey(a->kind)});
            notifyAll(n, notify_.escalateTo);
        } else {
            log(QStringLiteral("alert.repeated"), {kindKey(a->kind)});
            notifyAll(n, notify_.to);
        }
    }
    if (!changes.empty()) {
        saveList();
        emit listChanged();
        emit ringingChanged();
    }
}

void Alerter::announce(const Transition& t, const QDateTime& at) {
    ListedAlert a;
    a.id = t.id;
    a.kind = t.kind;
    a.valueText = t.valueText;
    a.value = t.value;
    a.acknowledged = t.acknowledged;
    if (t.fired) {
        ringing_ = true;
        // The value in words first, as rows of older versions hold it, then its numbers.
        log(QStringLiteral("alert.fired"),
            QStringList{kindKey(t.kind), t.valueText.text(base::Lang::Stored)} + t.valueText.values,
            1);
    } else {
        log(QStringLiteral("alert.cleared"), {kindKey(t.kind)}, 0);
    }
    notifyAll(noticeFor(a, t.fired ? Event::Fired : Event::Cleared, at), notify_.to);
}

void Alerter::raise(Kind kind, const QStringList& values) {
    const QDateTime at = ctx_.clock.now();
    const Transition t = engine_.raise(kind, at, kindValue(kind, values));
    if (!t.repeated) announce(t, at);
    saveList();
    emit listChanged();
    emit ringingChanged();
}

bool Alerter::acknowledge(const QString& id, const QString& comment, const base::Audit& by) {
    const QString why = comment.simplified();
    if (why.isEmpty() || !by.refusal.isEmpty()) return false;
    const ListedAlert* a = engine_.find(id);
    if (!a || a->acknowledged) return false;
    const ListedAlert copy = *a;
    engine_.acknowledge(id);
    log(QStringLiteral("alert.acknowledged"), {kindKey(copy.kind), why}, std::nullopt, by.user);
    Notice n = noticeFor(copy, Event::Acknowledged, ctx_.clock.now());
    n.comment = why;
    n.acknowledged = true;
    // The webhook hears every acknowledgement; mail recipients hear it from the bar's people.
    notifyAll(n, {});
    const bool anyOpen = std::any_of(engine_.listed().begin(), engine_.listed().end(),
                                     [](const ListedAlert& l) { return !l.acknowledged; });
    if (!anyOpen && ringing_) {
        ringing_ = false;
        emit ringingChanged();
    }
    saveList();
    emit listChanged();
    return true;
}

void Alerter::silence() {
    if (!ringing_) return;
    ringing_ = false;
    emit ringingChanged();
}

void Alerter::setRules(const RuleConfig& rules) {
    engine_.setConfig(rules);
}

void Alerter::setNotify(const NotifySettings& notify) {
    notify_ = notify;
    delivery_.configure(notify_);
}

void Alerter::sendTest() {
    Notice n;
    n.event = Event::Test;
    n.station = ctx_.station;
    n.address = ctx_.link.settings().address > 0 ? ctx_.link.settings().address : 1;
    n.alertId = QStringLiteral("test");
    n.at = ctx_.clock.now();
    delivery_.sendTest(n);
}

void Alerter::notifyAll(const Notice& notice, const QStringList& mailTo) {
    if (!ctx_.deliver) return;
    QVector<Letter> letters;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!notify_.mailServer.isEmpty() && !mailTo.isEmpty()) {
        Letter l;
        l.channel = Channel::Mail;
        l.target = mailTo.join(u',');
        l.subject = mailSubject(notice);
        l.payload = mailBody(notice).toUtf8();
        l.nextTryMs = now;
        letters << l;
    }
    if (!notify_.webhook.isEmpty()) {
        Letter l;
        l.channel = Channel::Webhook;
        l.target = notify_.webhook;
        l.subject = logLine(notice);
        l.payload = webhookJson(notice);
        l.nextTryMs = now;
        letters << l;
    }
    if (!letters.isEmpty()) delivery_.enqueue(letters);
}

void Alerter::log(const QString& code, const QStringList& args, std::optional<int> value,
                  const QString& user) {
    if (!ctx_.log) return;
    events::EventEntry e = events::codedEntry(events::eventkind::kAlert, code, args);
    e.value = value;
    e.user = user;
    ctx_.log->log(e);
}

namespace {

// The settings as the audit trail keeps them: every field but the password.
QString notifySummary(const NotifySettings& n) {
    return QStringLiteral(
               "server=%1; from=%2; to=%3; escalate to=%4; webhook=%5; repeat=%6; "
               "escalate=%7; sound=%8")
        .arg(n.mailServer, n.from, n.to.join(u','), n.escalateTo.join(u','), n.webhook)
        .arg(n.repeatMin)
        .arg(n.escalateMin)
        .arg(n.sound ? 1 : 0);
}

}  // namespace

void Alerter::settingsChanged(const NotifySettings& before, const NotifySettings& after,
                              const base::Audit& audit) {
    if (!ctx_.log) return;
    const bool refused = !audit.refusal.isEmpty();
    events::EventEntry e = events::codedEntry(
        events::eventkind::kAlert,
        refused ? QStringLiteral("alert.settings.refused") : QStringLiteral("alert.settings"),
        refused ? QStringList{audit.refusal} : QStringList{});
    e.user = audit.user;
    e.reason = audit.reason;
    e.oldValue = notifySummary(before);
    if (!refused) e.newValue = notifySummary(after);
    ctx_.log->log(e);
}

std::optional<QString> eventText(const QString& code, const QStringList& a, base::Lang lang) {
    using base::wording;
    const auto at = [&](qsizetype i) { return i < a.size() ? a[i] : QString(); };
    // The kind's title; a kind this version does not know reads as its key.
    const auto title = [&](qsizetype i) {
        for (Kind k : kAllKinds)
            if (kindKey(k) == at(i)) return wording(kindTitle(k), lang);
        for (Kind k : kRaisedKinds)
            if (kindKey(k) == at(i)) return wording(kindTitle(k), lang);
        return at(i);
    };
    // The channel, the address or host, and what was said.
    const auto where = [&](qsizetype i) {
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2：%3"), lang)
            .arg(wording(at(i), lang), at(i + 1), wording(at(i + 2), lang));
    };
    if (code == QLatin1String("alert.fired")) {
        // The value from its numbers where the row holds them; else its words as stored.
        base::Phrase value;
        for (Kind k : kAllKinds)
            if (kindKey(k) == at(0) && a.size() > 2) value = kindValue(k, a.mid(2));
        for (Kind k : kRaisedKinds)
            if (kindKey(k) == at(0) && a.size() > 2) value = kindValue(k, a.mid(2));
        return wording(QT_TRANSLATE_NOOP("velmars", "触发：%1，%2"), lang)
            .arg(title(0), value.isEmpty() ? wording(at(1), lang) : value.text(lang));
    }
    if (code == QLatin1String("alert.cleared"))
        return wording(QT_TRANSLATE_NOOP("velmars", "恢复正常：%1"), lang).arg(title(0));
    if (code == QLatin1String("alert.escalated"))
        return wording(QT_TRANSLATE_NOOP("velmars", "升级通知：%1"), lang).arg(title(0));
    if (code == QLatin1String("alert.repeated"))
        return wording(QT_TRANSLATE_NOOP("velmars", "再次通知：%1"), lang).arg(title(0));
    if (code == QLatin1String("alert.acknowledged"))
        return wording(QT_TRANSLATE_NOOP("velmars", "已确认：%1，说明：%2"), lang)
            .arg(title(0), wording(at(1), lang));
    if (code == QLatin1String("alert.settings"))
        return wording(QT_TRANSLATE_NOOP("velmars", "报警通知设置已更改"), lang);
    if (code == QLatin1String("alert.settings.refused"))
        return wording(QT_TRANSLATE_NOOP("velmars", "报警通知设置未更改：%1"), lang)
            .arg(wording(at(0), lang));
    if (code == QLatin1String("alert.sent"))
        return wording(QT_TRANSLATE_NOOP("velmars", "已发送 %1"), lang).arg(where(0));
    if (code == QLatin1String("alert.sendFailed"))
        return wording(QT_TRANSLATE_NOOP("velmars", "发送失败（第 %1 次，%2 秒后重试）%3：%4"),
                       lang)
            .arg(at(0), at(1), where(2), wording(at(5), lang));
    return std::nullopt;
}

}  // namespace alert
