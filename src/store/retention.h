#pragma once
// How long the archive keeps its samples: the operator's limit in days, and the free space the
// disk must keep. What goes, goes by whole local days, oldest first, one day per decision, never
// the current day.

#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "base/tr.h"

namespace store {

struct RetentionPolicy {
    int keepDays = 0;                         // days kept, today included; 0: no limit in days
    int64_t minFreeBytes = int64_t(1) << 30;  // below this much free space the oldest day goes
    int keepAuditDays = 0;  // days the event log keeps its rows, at least those of the samples;
                            // 0: as long as the samples
    bool operator==(const RetentionPolicy&) const = default;
};

struct DayToDrop {
    QDate day;            // this day's samples go, with every older one
    bool forAge = false;  // past the days kept; otherwise for want of space
};

// The day that goes next, or nullopt when nothing has to.
// freeBytes: what the disk has free plus the pages the file holds free for reuse, so that a day
// already given up is not counted twice while the file refills it.
std::optional<DayToDrop> dayToDrop(const RetentionPolicy& policy, const QDate& today,
                                   const QDate& oldestDay, int64_t freeBytes);

// What the event log keeps of a dropped day: its code and values.
QStringList droppedDayArgs(const DayToDrop& drop, int64_t seconds, const RetentionPolicy& policy);
inline const QString kDayDroppedCode = QStringLiteral("recorder.dayDropped");
// Samples held through a long disk fault beyond the limit were let go: [count].
inline const QString kSamplesDroppedCode = QStringLiteral("recorder.samplesDropped");

// The policy as the file keeps it beside the archive ("days/GB/audit days"), and back.
QString retentionText(const RetentionPolicy& policy);
// A retention policy other than the one the file last kept: [before, now] as retentionText().
inline const QString kRetentionChangedCode = QStringLiteral("archive.retentionChanged");
// The event log's rows of this many days before today stay (keepAuditDays), as UTC seconds of
// the first moment kept; the largest value where the policy sets none.
int64_t auditKeptFrom(const RetentionPolicy& policy, const QDate& today);

// The event log's line for a note of the archive, in the language; nullopt for another code.
std::optional<QString> archiveNoteText(const QString& code, const QStringList& args,
                                       base::Lang lang);

}  // namespace store
