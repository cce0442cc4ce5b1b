#include "store/retention.h"

namespace record {

std::optional<DayToDrop> dayToDrop(const RetentionPolicy& policy, const QDate& today,
                                   const QDate& oldestDay, int64_t freeBytes) {
    if (!today.isValid() || !oldestDay.isValid() || oldestDay >= today) return std::nullopt;
    if (policy.keepDays > 0 && oldestDay <= today.addDays(-policy.keepDays))
        return DayToDrop{oldestDay, true};
    if (policy.minFreeBytes > 0 && freeBytes < policy.minFreeBytes) return DayToDrop{oldestDay};
    return std::nullopt;
}

QString droppedDayText(const DayToDrop& drop, int64_t seconds, const RetentionPolicy& policy) {
    const QString why =
        drop.forAge
            ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "保留 %1 天")).arg(policy.keepDays)
            : QStringLiteral(QT_TRANSLATE_NOOP("velmars", "磁盘可用空间不足 %1 GB"))
                  .arg(static_cast<double>(policy.minFreeBytes) / (1 << 30), 0, 'g', 3);
    return QStringLiteral(
               QT_TRANSLATE_NOOP("velmars", "存档：已删除 %1 及以前的样本（%2 条）和事件（%3）"))
        .arg(drop.day.toString(QStringLiteral("yyyy-MM-dd")))
        .arg(seconds)
        .arg(why);
}

}  // namespace record
