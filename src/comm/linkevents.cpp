#include "comm/linkevents.h"

namespace comm {

namespace {

struct LinkEventWords {
    const char* code;
    const char* text;  // %1 is the device or reason
};

// In LinkEvent order.
constexpr LinkEventWords kWords[] = {
    {"link.opened", QT_TRANSLATE_NOOP("velmars", "端口已打开：%1")},
    {"link.closed", QT_TRANSLATE_NOOP("velmars", "端口已关闭：%1")},
    {"link.openFailed", QT_TRANSLATE_NOOP("velmars", "端口无法打开：%1")},
    {"link.silent", QT_TRANSLATE_NOOP("velmars", "仪表停止应答")},
    {"link.answering", QT_TRANSLATE_NOOP("velmars", "仪表恢复应答")},
    {"link.deviceLost", QT_TRANSLATE_NOOP("velmars", "设备已断开：%1")},
    {"link.deviceBack", QT_TRANSLATE_NOOP("velmars", "设备已恢复：%1")},
};

}  // namespace

QString linkEventCode(LinkEvent event) {
    return QString::fromLatin1(kWords[static_cast<int>(event)].code);
}

std::optional<LinkEvent> linkEventOfCode(const QString& code) {
    for (size_t i = 0; i < std::size(kWords); ++i)
        if (code == QLatin1String(kWords[i].code)) return static_cast<LinkEvent>(i);
    return std::nullopt;
}

QStringList linkEventValues(const QString& detail, const LineError& error) {
    if (!error.isEmpty()) return QStringList{error.text(base::Lang::Stored)} + error.values();
    if (!detail.trimmed().isEmpty()) return {detail.trimmed()};
    return {};
}

QString linkEventText(LinkEvent event, const QStringList& values, base::Lang lang) {
    const char* source = kWords[static_cast<int>(event)].text;
    const QString d = values.value(0).trimmed();
    // Events without a device or reason read without the trailing colon.
    if (d.isEmpty() && QByteArray(source).endsWith("：%1")) {
        QByteArray bare(source);
        bare.chop(static_cast<int>(qstrlen("：%1")));
        return base::wording(bare.constData(), lang);
    }
    QString text = base::wording(source, lang);
    // A reason kept as values reads from them; rows of older versions hold its words alone.
    const LineError error = LineError::fromValues(values.mid(1));
    const QString shown = error.isEmpty() ? base::wording(d, lang) : error.text(lang);
    return text.contains(u"%1") ? text.arg(shown) : text;
}

}  // namespace comm
