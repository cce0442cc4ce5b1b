#include "monitor/commands.h"

#include "base/listpick.h"
#include "base/numberrule.h"

namespace monitor {

std::optional<int32_t> entryValue(const QString& text) {
    const double v = base::leadingNumber(text);
    if (!(v >= kEntryMin && v <= kEntryMax)) return std::nullopt;
    // Inside the range the rounded value stays inside it too.
    return base::roundToInt32(v);
}

QStringList programCommandEntries() {
    return {QStringLiteral("0:停止 "), QStringLiteral("1:运行 "), QStringLiteral("2:暂停 "),
            QStringLiteral("4:结束 ")};
}

std::optional<int32_t> programCommand(const QStringList& entries, const QString& shown) {
    return base::listPosition(entries, shown);
}

}  // namespace monitor
