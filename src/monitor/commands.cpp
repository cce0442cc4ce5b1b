#include "monitor/commands.h"

#include "base/listpick.h"
#include "base/numberrule.h"
#include "base/tr.h"

namespace monitor {

base::RegisterReading entryValue(const QString& text) {
    const base::NumberReading n = base::wholeNumber(text, true);
    if (!n.value) return {std::nullopt, n.reason};
    // The range applies to the number as typed; inside it the rounded value stays inside too.
    if (!(*n.value >= kEntryMin && *n.value <= kEntryMax))
        return {std::nullopt, base::Tr::tr("超出范围 %1~%2").arg(kEntryMin).arg(kEntryMax)};
    return {base::roundToInt32(*n.value), {}};
}

QStringList programCommandEntries() {
    return {base::Tr::tr("0:停止 "), base::Tr::tr("1:运行 "), base::Tr::tr("2:暂停 "),
            base::Tr::tr("4:结束 ")};
}

std::optional<int32_t> programCommand(const QStringList& entries, const QString& shown) {
    return base::listPosition(entries, shown);
}

}  // namespace monitor
