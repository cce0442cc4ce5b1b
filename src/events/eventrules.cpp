#include "events/eventrules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "base/text.h"
#include "base/tr.h"
#include "instrument/readings.h"
#include "instrument/statetexts.h"
#include "store/databaselock.h"
#include "store/retention.h"

namespace events {

namespace {

EventEntry entry(const QString& kind, const QString& text) {
    EventEntry e;
    e.kind = kind;
    e.text = text;
    return e;
}

}  // namespace

const std::vector<QString>& eventKinds() {
    static const std::vector<QString> kinds{eventkind::kWrite,   eventkind::kAlarm,
                                            eventkind::kProgram, eventkind::kRun,
                                            eventkind::kLink,    eventkind::kRecorder};
    return kinds;
}

QString eventKindCaption(const QString& kind) {
    if (kind == eventkind::kWrite) return base::Tr::tr("写入");
    if (kind == eventkind::kAlarm || kind == eventkind::kAlert) return base::Tr::tr("报警");
    if (kind == eventkind::kProgram) return base::Tr::tr("程序");
    if (kind == eventkind::kRun) return base::Tr::tr("试验");
    if (kind == eventkind::kLink) return base::Tr::tr("通讯");
    if (kind == eventkind::kRecorder) return base::Tr::tr("记录");
    if (kind == eventkind::kAudit) return base::Tr::tr("审计");
    return kind;
}

QStringList storedKinds(const QString& kind) {
    if (kind == eventkind::kAlarm) return {eventkind::kAlarm, eventkind::kAlert};
    return {kind};
}

const std::vector<QString>& runTextHeads() {
    static const std::vector<QString> heads{QStringLiteral("试验开始："),
                                            QStringLiteral("试验结束：")};
    return heads;
}

QString kindOnRead(const QString& kind, const QString& text) {
    if (kind == eventkind::kProgram)
        for (const QString& head : runTextHeads())
            if (text.startsWith(head)) return eventkind::kRun;
    return kind;
}

namespace {

std::mutex& textsLock() {
    static std::mutex m;
    return m;
}
std::vector<EventTexts>& registered() {
    static std::vector<EventTexts> texts;
    return texts;
}

// Value i of a stored row, empty where a row holds fewer (a file written by something else).
QString at(const QStringList& args, qsizetype i) {
    return i < args.size() ? args[i] : QString();
}
int intAt(const QStringList& args, qsizetype i) {
    return at(args, i).toInt();
}

QString changeText(const QString& before, const QString& after, base::Lang lang) {
    return base::wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2"), lang)
        .arg(base::wording(before.trimmed(), lang), base::wording(after.trimmed(), lang));
}

struct ProgramField {
    int k;
    const char* caption;
};
constexpr ProgramField kProgramFields[] = {
    {int(instrument::program::kState), QT_TRANSLATE_NOOP("velmars", "曲线状态")},
    {int(instrument::program::kSegment), QT_TRANSLATE_NOOP("velmars", "当前段号")},
    {int(instrument::program::kCycles), QT_TRANSLATE_NOOP("velmars", "循环次数")}};

QString programValueText(int k, int32_t v) {
    return k == 0 ? instrument::programStateText(v) : base::intText(v);
}

// Where a write's address stands among its row's values: after caption and value; after the
// refusal; after the reason's words and its five values.
constexpr qsizetype kWriteAddressAt = 2, kRefusedWriteAddressAt = 3, kFailedWriteAddressAt = 8;

const char* const kRecordingAgain = QT_TRANSLATE_NOOP("velmars", "开始记录");

// The lines of the codes this layer and the ones below it know.
std::optional<QString> ownText(const QString& code, const QStringList& a, base::Lang lang) {
    using base::wording;
    if (const auto link = comm::linkEventOfCode(code)) return comm::linkEventText(*link, a, lang);
    // A write's row names the address it went to after its other values (rows of older versions
    // have none).
    if (code == QLatin1String("write")) {
        if (a.size() > kWriteAddressAt)
            return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2（地址 %3）"), lang)
                .arg(wording(at(a, 0), lang), at(a, 1), at(a, kWriteAddressAt));
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2"), lang)
            .arg(wording(at(a, 0), lang), at(a, 1));
    }
    if (code == QLatin1String("write.failed")) {
        // The reason's values follow its Chinese words; rows of older versions hold the words.
        const comm::LineError error = comm::LineError::fromValues(a.mid(3));
        const QString why = !error.isEmpty() ? error.text(lang)
                            : at(a, 2).isEmpty()
                                ? wording(QT_TRANSLATE_NOOP("velmars", "仪表无应答"), lang)
                                : wording(at(a, 2), lang);
        if (a.size() > kFailedWriteAddressAt)
            return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2（地址 %4，失败：%3）"), lang)
                .arg(wording(at(a, 0), lang), at(a, 1), why, at(a, kFailedWriteAddressAt));
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2（失败：%3）"), lang)
            .arg(wording(at(a, 0), lang), at(a, 1), why);
    }
    if (code == QLatin1String("write.refused")) {
        if (a.size() > kRefusedWriteAddressAt)
            return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2（地址 %4，未发送：%3）"), lang)
                .arg(wording(at(a, 0), lang), at(a, 1), wording(at(a, 2), lang),
                     at(a, kRefusedWriteAddressAt));
        return wording(QT_TRANSLATE_NOOP("velmars", "%1 → %2（未发送：%3）"), lang)
            .arg(wording(at(a, 0), lang), at(a, 1), wording(at(a, 2), lang));
    }
    if (code == QLatin1String("alarm.state")) {
        const int k = intAt(a, 0);
        return changeText(instrument::stateText(k, intAt(a, 1)).text,
                          instrument::stateText(k, intAt(a, 2)).text, lang);
    }
    if (code == QLatin1String("program.state")) {
        const int k = intAt(a, 0);
        for (const ProgramField& f : kProgramFields)
            if (f.k == k)
                return wording(f.caption, lang) + u' ' +
                       changeText(programValueText(k, intAt(a, 1)),
                                  programValueText(k, intAt(a, 2)), lang);
        return std::nullopt;
    }
    if (code == QLatin1String("run.started"))
        return wording(QT_TRANSLATE_NOOP("velmars", "试验开始：%1"), lang)
            .arg(wording(at(a, 0), lang));
    if (code == QLatin1String("run.ended"))
        return wording(QT_TRANSLATE_NOOP("velmars", "试验结束：%1"), lang)
            .arg(wording(at(a, 0), lang));
    if (code == QLatin1String("recorder.recording")) return wording(kRecordingAgain, lang);
    if (code == QLatin1String("recorder.stopped"))
        return store::recorderStatusText({store::RecorderStatus::State::Stopped, 0, 0, {}}, lang);
    if (code == QLatin1String("recorder.failed"))
        return store::recorderStatusText({store::RecorderStatus::State::Failed, 0, 0, {at(a, 0)}},
                                         lang);
    if (code == QLatin1String("recorder.refused")) {
        // The reason's values follow its words; rows of older versions hold the words alone.
        const base::Phrase why = a.size() > 3 ? store::lockRefusal(at(a, 1), at(a, 2), at(a, 3))
                                              : base::Phrase{at(a, 0)};
        return store::recorderStatusText({store::RecorderStatus::State::Refused, 0, 0, why}, lang);
    }
    if (code == kChainShortCode)
        return wording(
            QT_TRANSLATE_NOOP(
                "velmars",
                "完整性校验失败：文件短于服务保存的记录（最新记录或表被删除，或换回了旧副本）"),
            lang);
    if (code == kChainBrokenCode) {
        if (at(a, 0) == QLatin1String("runs"))
            return wording(QT_TRANSLATE_NOOP("velmars", "完整性校验失败：试验记录已被更改"), lang);
        if (at(a, 0) == QLatin1String("events"))
            return wording(QT_TRANSLATE_NOOP("velmars", "完整性校验失败：事件记录第 %1 行已被更改"),
                           lang)
                .arg(at(a, 1));
        const QString hour = QDateTime::fromSecsSinceEpoch(at(a, 1).toLongLong())
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        return wording(
                   QT_TRANSLATE_NOOP("velmars", "完整性校验失败：%1 起一小时的存档样本已被更改"),
                   lang)
            .arg(hour);
    }
    return store::archiveNoteText(code, a, lang);
}

}  // namespace

void addEventTexts(EventTexts texts) {
    std::lock_guard lock(textsLock());
    auto& all = registered();
    if (std::find(all.begin(), all.end(), texts) == all.end()) all.push_back(texts);
}

EventEntry chainBrokenEntry(const store::ChainReport& report) {
    return codedEntry(eventkind::kRecorder, report.behindHeads ? kChainShortCode : kChainBrokenCode,
                      {report.chain, QString::number(report.at)});
}

EventEntry codedEntry(const QString& kind, const QString& code, QStringList args) {
    EventEntry e = entry(kind, QString());
    e.code = code;
    e.args = std::move(args);
    e.text = eventText(e, base::Lang::Stored);
    return e;
}

EventEntry codedEntry(const QString& kind, const QString& code, QStringList args,
                      const base::Audit& by) {
    EventEntry e = codedEntry(kind, code, std::move(args));
    e.user = by.user;
    e.oldValue = by.oldValue;
    e.newValue = by.newValue;
    e.reason = by.reason;
    return e;
}

QString eventText(const EventEntry& e, base::Lang lang) {
    if (!e.code.isEmpty()) {
        if (auto own = ownText(e.code, e.args, lang)) return *own;
        std::vector<EventTexts> others;
        {
            std::lock_guard lock(textsLock());
            others = registered();
        }
        for (EventTexts texts : others)
            if (auto t = texts(e.code, e.args, lang)) return *t;
    }
    return lang == base::Lang::Stored ? e.text : base::shown(e.text);
}

QString eventArgsText(const QStringList& args) {
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(args)).toJson(QJsonDocument::Compact));
}

QStringList eventArgs(const QString& stored) {
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(stored.toUtf8()).array())
        out << (v.isString() ? v.toString() : v.toVariant().toString());
    return out;
}

EventEntry writeEntry(const comm::WriteReport& report) {
    const QString caption = report.caption.trimmed().isEmpty()
                                ? QStringLiteral("4X %1").arg(report.reg)
                                : report.caption.trimmed();
    QStringList args{caption, base::intText(report.value)};
    const bool refused = !report.audit.refusal.isEmpty();
    if (refused) {
        args << report.audit.refusal;
    } else if (report.status != 0) {
        args << report.error.text(base::Lang::Stored).trimmed() << report.error.values();
        while (args.size() < kFailedWriteAddressAt)
            args << QString();  // no reason's values: the address keeps its place
    }
    if (report.address > 0) args << QString::number(report.address);
    EventEntry e = codedEntry(eventkind::kWrite,
                              refused              ? QStringLiteral("write.refused")
                              : report.status != 0 ? QStringLiteral("write.failed")
                                                   : QStringLiteral("write"),
                              args);
    e.reg = report.reg;
    e.value = report.value;
    e.status = report.status;
    e.user = report.audit.user;
    e.oldValue = report.audit.oldValue;
    e.newValue = report.audit.newValue;
    e.reason = report.audit.reason;
    return e;
}

EventEntry linkEntry(comm::LinkEvent event, const QString& detail, const comm::LineError& error) {
    return codedEntry(eventkind::kLink, comm::linkEventCode(event),
                      comm::linkEventValues(detail, error));
}

bool linkWentDown(const EventEntry& e) {
    using E = comm::LinkEvent;
    if (e.kind != eventkind::kLink) return false;
    const auto down = [](E event) {
        return event == E::Closed || event == E::OpenFailed || event == E::Silent ||
               event == E::DeviceLost;
    };
    if (!e.code.isEmpty()) {
        const auto event = comm::linkEventOfCode(e.code);
        return event && down(*event);
    }
    // Rows stored before codes: by the words they begin with.
    for (int i = 0; i <= static_cast<int>(E::DeviceBack); ++i) {
        const E event = static_cast<E>(i);
        if (!down(event)) continue;
        const QString head =
            comm::linkEventText(event, {}, base::Lang::Stored).section(u'：', 0, 0);
        if (e.text.startsWith(head)) return true;
    }
    return false;
}

bool recorderResumed(const EventEntry& e) {
    if (e.kind != eventkind::kRecorder) return false;
    if (!e.code.isEmpty()) return e.code == QLatin1String("recorder.recording");
    return e.text == QString::fromUtf8(kRecordingAgain);
}

std::vector<EventEntry> imageEntries(const comm::InstrumentImage& before,
                                     const comm::InstrumentImage& after) {
    std::vector<EventEntry> out;
    // The control outputs (states 0 and 1) switch as often as once a second under time-
    // proportional control: they are kept second by second in the samples, and are no alarm.
    for (int k = int(instrument::bits::kAlarm[0]); k <= int(instrument::bits::kSensor[1]); ++k) {
        const int32_t was = before.DiscreteBits[k];
        const int32_t now = after.DiscreteBits[k];
        const bool active = instrument::stateText(k, now).active;
        if (instrument::stateText(k, was).active == active) continue;
        // Both texts go in: the sensors' normal text names no sensor, their open text does.
        EventEntry e = codedEntry(eventkind::kAlarm, QStringLiteral("alarm.state"),
                                  {QString::number(k), QString::number(was), QString::number(now)});
        e.value = active ? 1 : 0;
        out.push_back(e);
    }
    for (const ProgramField& f : kProgramFields) {
        const int32_t was = before.InputRegsHigh[f.k];
        const int32_t now = after.InputRegsHigh[f.k];
        if (was == now) continue;
        EventEntry e =
            codedEntry(eventkind::kProgram, QStringLiteral("program.state"),
                       {QString::number(f.k), QString::number(was), QString::number(now)});
        e.value = now;
        out.push_back(e);
    }
    return out;
}

std::optional<EventEntry> recorderEntry(const store::RecorderStatus& before,
                                        const store::RecorderStatus& after) {
    using State = store::RecorderStatus::State;
    // Counting records on, catching up and a slow disk are all one state: recording. A failure
    // is another state when its reason changes.
    const auto same = [](const store::RecorderStatus& a, const store::RecorderStatus& b) {
        if (a.recording() && b.recording()) return true;
        return a.state == b.state && a.reason == b.reason;
    };
    // Not started yet is where every recorder begins, no change of state; and a recorder that
    // never began has not stopped when the program leaves.
    if (same(before, after) || after.state == State::NotStarted ||
        (before.state == State::NotStarted && after.state == State::Stopped))
        return std::nullopt;
    switch (after.state) {
        case State::Recording:
        case State::SlowDisk:
            return codedEntry(eventkind::kRecorder, QStringLiteral("recorder.recording"));
        case State::Stopped:
            return codedEntry(eventkind::kRecorder, QStringLiteral("recorder.stopped"));
        case State::Failed:
            return codedEntry(eventkind::kRecorder, QStringLiteral("recorder.failed"),
                              {after.reason.text(base::Lang::Stored)});
        case State::Refused:
            return codedEntry(eventkind::kRecorder, QStringLiteral("recorder.refused"),
                              QStringList{after.reason.text(base::Lang::Stored)} +
                                  store::lockRefusalValues(after.reason));
        case State::NotStarted:
            break;
    }
    return std::nullopt;
}

QString eventTimeText(const QDateTime& at) {
    return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString auditTimeText(const EventEntry& e) {
    const QString local = e.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
    return local + base::utcOffsetText(e.utcOffset ? *e.utcOffset * 60
                                                   : e.at.toLocalTime().offsetFromUtc());
}

}  // namespace events
