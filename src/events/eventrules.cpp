#include "events/eventrules.h"

#include "base/text.h"
#include "base/tr.h"
#include "instrument/statetexts.h"

namespace record {

namespace {

EventEntry entry(const QString& kind, const QString& text) {
    EventEntry e;
    e.kind = kind;
    e.text = text;
    return e;
}

QString change(const QString& before, const QString& after) {
    return QStringLiteral("%1 → %2").arg(before.trimmed(), after.trimmed());
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

EventEntry writeEntry(const comm::WriteReport& report) {
    const QString caption = report.caption.trimmed().isEmpty()
                                ? QStringLiteral("4X %1").arg(report.reg)
                                : report.caption.trimmed();
    QString text = QStringLiteral("%1 → %2").arg(caption, base::intText(report.value));
    if (report.status != 0) {
        const QString why = report.error.isEmpty()
                                ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "仪表无应答"))
                                : report.error.trimmed();
        text += QStringLiteral(QT_TRANSLATE_NOOP("velmars", "（失败：%1）")).arg(why);
    }
    EventEntry e = entry(eventkind::kWrite, text);
    e.reg = report.reg;
    e.value = report.value;
    e.status = report.status;
    return e;
}

namespace {

// The stored text of each event of the line, in LinkEvent order; %1 is the device or reason.
constexpr const char* kLinkTexts[] = {QT_TRANSLATE_NOOP("velmars", "端口已打开：%1"),
                                      QT_TRANSLATE_NOOP("velmars", "端口已关闭：%1"),
                                      QT_TRANSLATE_NOOP("velmars", "端口无法打开：%1"),
                                      QT_TRANSLATE_NOOP("velmars", "仪表停止应答"),
                                      QT_TRANSLATE_NOOP("velmars", "仪表恢复应答"),
                                      QT_TRANSLATE_NOOP("velmars", "设备已断开：%1"),
                                      QT_TRANSLATE_NOOP("velmars", "设备已恢复：%1")};

QString linkText(comm::LinkEvent event) {
    return QString::fromUtf8(kLinkTexts[static_cast<int>(event)]);
}

const QString kRecordingAgain = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "开始记录"));

}  // namespace

EventEntry linkEntry(comm::LinkEvent event, const QString& detail) {
    QString text = linkText(event);
    if (text.contains(u"%1")) text = text.arg(detail.trimmed());
    // Events without a device or reason read without the trailing colon.
    if (text.endsWith(u'：')) text.chop(1);
    return entry(eventkind::kLink, text);
}

bool linkWentDown(const EventEntry& e) {
    using E = comm::LinkEvent;
    if (e.kind != eventkind::kLink) return false;
    for (E event : {E::Closed, E::OpenFailed, E::Silent, E::DeviceLost}) {
        const QString head = linkText(event).section(u'：', 0, 0);
        if (e.text.startsWith(head)) return true;
    }
    return false;
}

bool recorderResumed(const EventEntry& e) {
    return e.kind == eventkind::kRecorder && e.text == kRecordingAgain;
}

std::vector<EventEntry> imageEntries(const comm::InstrumentImage& before,
                                     const comm::InstrumentImage& after) {
    std::vector<EventEntry> out;
    // The control outputs (states 0 and 1) switch as often as once a second under time-
    // proportional control: they are kept second by second in the samples, and are no alarm.
    for (int k = 2; k < 6; ++k) {
        const instrument::StateText was = instrument::stateText(k, before.DiscreteBits[k]);
        const instrument::StateText now = instrument::stateText(k, after.DiscreteBits[k]);
        if (was.active == now.active) continue;
        // Both texts go in: the sensors' normal text names no sensor, their open text does.
        EventEntry e = entry(eventkind::kAlarm, change(was.text, now.text));
        e.value = now.active ? 1 : 0;
        out.push_back(e);
    }
    struct ProgramField {
        int k;
        const char* caption;
    };
    static constexpr ProgramField kFields[] = {{0, QT_TRANSLATE_NOOP("velmars", "曲线状态")},
                                               {5, QT_TRANSLATE_NOOP("velmars", "当前段号")},
                                               {8, QT_TRANSLATE_NOOP("velmars", "循环次数")}};
    for (const ProgramField& f : kFields) {
        const int32_t was = before.InputRegsHigh[f.k];
        const int32_t now = after.InputRegsHigh[f.k];
        if (was == now) continue;
        const auto text = [&](int32_t v) {
            return f.k == 0 ? instrument::programStateText(v) : base::intText(v);
        };
        EventEntry e = entry(eventkind::kProgram,
                             QString::fromUtf8(f.caption) + u' ' + change(text(was), text(now)));
        e.value = now;
        out.push_back(e);
    }
    return out;
}

std::optional<EventEntry> recorderEntry(const QString& before, const QString& after) {
    // "记录中：第 N 条" only counts on; it is the same state as "记录中".
    // What follows "；" counts samples waiting in memory: the same state too.
    const auto state = [](const QString& line) {
        const QString s = line.section(u'；', 0, 0);
        const qsizetype colon = s.indexOf(u'：');
        const QString head = colon < 0 ? s : s.left(colon);
        return head == QStringLiteral(QT_TRANSLATE_NOOP("velmars", "记录中")) ? head : s;
    };
    // Not started yet is where every recorder begins, no change of state; and a recorder that
    // never began has not stopped when the program leaves.
    const QString notStarted = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "记录未启动"));
    if (state(before) == state(after) || after.isEmpty() || after == notStarted ||
        (before == notStarted &&
         after == QStringLiteral(QT_TRANSLATE_NOOP("velmars", "记录已停止"))))
        return std::nullopt;
    QString text = state(after);
    if (text == QStringLiteral(QT_TRANSLATE_NOOP("velmars", "记录中"))) text = kRecordingAgain;
    return entry(eventkind::kRecorder, text);
}

QString eventTimeText(const QDateTime& at) {
    return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

}  // namespace record
