#include "program/programrules.h"

#include "base/tr.h"

#include "base/listpick.h"
#include "base/numberrule.h"
#include "base/text.h"

namespace program {

QStringList timeUnitEntries() {
    return {base::Tr::tr("0:小时 "), base::Tr::tr("1:分钟 "), base::Tr::tr("2:秒 ")};
}

QStringList segmentCountEntries() {
    QStringList l;
    for (int n = 1; n <= kSegments; ++n)
        l << base::Tr::tr("%1:%1段 ").arg(n);
    return l;
}

QStringList powerFailEntries() {
    return {base::Tr::tr("0:来电继续 "), base::Tr::tr("1:来电停止 "),
            base::Tr::tr("2:来电从第一段运行 "), base::Tr::tr("3:无偏差继续运行，有偏差停 "),
            base::Tr::tr("4:来电进入暂停 ")};
}

QStringList startValueEntries() {
    return {base::Tr::tr("0:测量值 "), base::Tr::tr("1:设定值 ")};
}

QStringList endOutputEntries() {
    return {base::Tr::tr("0:输出控制为0 "), base::Tr::tr("1:保持最后SV控制 ")};
}

std::optional<int32_t> listCode(const QStringList& entries, const QString& shown) {
    return base::listPosition(entries, shown);
}

base::RegisterReading entryValue(const QString& text) {
    return base::registerValue(text, true);
}

base::RegisterReading segmentValue(int i, const QString& text) {
    return isTimeEntry(i) ? base::registerValue(text, false, 0, 9999)
                          : base::registerValue(text, false, -1999, 9999);
}

namespace {

QString pick(int32_t value, std::initializer_list<const char*> words) {
    if (value >= 0 && value < static_cast<int32_t>(words.size()))
        return base::Tr::tr(*(words.begin() + value));
    return base::intText(value);
}

}  // namespace

QString readbackText(int index, int32_t value) {
    switch (index) {
        case 0:
            return pick(value, {"H", "M", "S"});
        case 1:
            // Counted from 0, as the list's positions are: 2 is the list's "3:3段".
            if (value >= 0 && value < kSegments) return base::Tr::tr("%1段").arg(value + 1);
            return base::intText(value);
        case 2:
            return value == 0 ? base::Tr::tr("无限") : base::intText(value);
        case 3:
            return pick(value, {QT_TRANSLATE_NOOP("velmars", "来电继续"),
                                QT_TRANSLATE_NOOP("velmars", "来电停止"),
                                QT_TRANSLATE_NOOP("velmars", "第一段运行"),
                                QT_TRANSLATE_NOOP("velmars", "有偏差停"),
                                QT_TRANSLATE_NOOP("velmars", "进入暂停 ")});
        case 4:
            return pick(value, {QT_TRANSLATE_NOOP("velmars", "测量值"),
                                QT_TRANSLATE_NOOP("velmars", "设定值")});
        case 5:
            return pick(value, {QT_TRANSLATE_NOOP("velmars", "输出为零"),
                                QT_TRANSLATE_NOOP("velmars", "最后SV控制")});
        default:
            return base::intText(value);
    }
}

std::optional<QString> timeUnitCaption(int32_t value) {
    switch (value) {
        case 0:
            return base::Tr::tr("时间单位：小时");
        case 1:
            return base::Tr::tr("时间单位：分钟");
        case 2:
            return base::Tr::tr("时间单位：秒");
        default:
            return std::nullopt;
    }
}

}  // namespace program
