#include "store/retention.h"

#include "store/chain.h"

#include <QDateTime>
#include <limits>

namespace store {

std::optional<DayToDrop> dayToDrop(const RetentionPolicy& policy, const QDate& today,
                                   const QDate& oldestDay, int64_t freeBytes) {
    if (!today.isValid() || !oldestDay.isValid() || oldestDay >= today) return std::nullopt;
    if (policy.keepDays > 0 && oldestDay <= today.addDays(-policy.keepDays))
        return DayToDrop{oldestDay, true};
    if (policy.minFreeBytes > 0 && freeBytes < policy.minFreeBytes) return DayToDrop{oldestDay};
    return std::nullopt;
}

QStringList droppedDayArgs(const DayToDrop& drop, int64_t seconds, const RetentionPolicy& policy) {
    return {drop.day.toString(QStringLiteral("yyyy-MM-dd")), QString::number(seconds),
            drop.forAge ? QStringLiteral("age") : QStringLiteral("space"),
            drop.forAge
                ? QString::number(policy.keepDays)
                : QString::number(static_cast<double>(policy.minFreeBytes) / (1 << 30), 'g', 3)};
}

QString retentionText(const RetentionPolicy& p) {
    return QStringLiteral("%1/%2/%3")
        .arg(p.keepDays)
        .arg(static_cast<double>(p.minFreeBytes) / (1 << 30), 0, 'g', 3)
        .arg(p.keepAuditDays);
}

int64_t auditKeptFrom(const RetentionPolicy& policy, const QDate& today) {
    if (policy.keepAuditDays <= 0 || !today.isValid()) return std::numeric_limits<int64_t>::max();
    return QDateTime(today.addDays(1 - policy.keepAuditDays), QTime(0, 0)).toSecsSinceEpoch();
}

std::optional<QString> archiveNoteText(const QString& code, const QStringList& a, base::Lang lang) {
    const auto at = [&](qsizetype i) { return i < a.size() ? a[i] : QString(); };
    if (code == kSamplesDroppedCode)
        return base::wording(
                   QT_TRANSLATE_NOOP("velmars",
                                     "磁盘长时间不可写：内存中超出上限的最早 %1 个样本已丢弃"),
                   lang)
            .arg(at(0));
    if (code == kRetentionChangedCode) {
        const auto policy = [&](const QString& text) {
            const QStringList v = text.split(u'/');
            return base::wording(
                       QT_TRANSLATE_NOOP("velmars",
                                         "样本保留 %1 天、最少可用空间 %2 GB、事件记录保留 %3 天"),
                       lang)
                .arg(v.value(0), v.value(1), v.value(2));
        };
        return base::wording(
                   QT_TRANSLATE_NOOP("velmars", "存档保留设置已更改：%1 → %2（0 天：不限）"), lang)
            .arg(policy(at(0)), policy(at(1)));
    }
    if (code == chain::kAnchorsCode)
        return base::wording(QT_TRANSLATE_NOOP("velmars", "完整性链在已删除的记录之后接续：%1"),
                             lang)
            .arg(a.join(QStringLiteral("; ")));
    if (code != kDayDroppedCode) return std::nullopt;
    const QString why = base::wording(at(2) == QLatin1String("age")
                                          ? QT_TRANSLATE_NOOP("velmars", "保留 %1 天")
                                          : QT_TRANSLATE_NOOP("velmars", "磁盘可用空间不足 %1 GB"),
                                      lang)
                            .arg(at(3));
    return base::wording(
               QT_TRANSLATE_NOOP("velmars", "存档：已删除 %1 及以前的样本（%2 条）和事件（%3）"),
               lang)
        .arg(at(0), at(1), why);
}

}  // namespace store
