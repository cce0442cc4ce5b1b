#pragma once
// What the server is sent: its tables, the statements a batch is written with, and the rows as
// the array literals those statements take, with the samples' and events' moments in the zone's
// offset.

#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace forward {

QString createSamplesTableSql();
QString createEventsTableSql();
// The number (0..2) of the events table's code and args columns, which tables made before events
// had codes lack; and the statement that adds them, which leaves the rows there as they are.
QString countEventCodeColumnsSql();
QString addEventCodeColumnsSql();
// Bound values: station, then one array literal per column (see the builders below).
// withCodes: the events' code and args go too (a table that has the columns).
QString insertSamplesSql();
QString insertEventsSql(bool withCodes = true);
// The newest head of each chain of each station's file, as the service records it: a copy away
// from the PC, which only moves forward (a file put back older does not take it back). Bound:
// station, chain, last, n, hash (hex), keyed_from (NULL where the chain has no keyed links).
QString createChainHeadsTableSql();
QString upsertChainHeadSql();

// Timestamps with the zone's offset at that moment, e.g. "2026-03-01T08:00:05.000+08:00".
// Empty when the date is not valid.
QString sampleAt(double oleDate, double oleTime, const QTimeZone& zone);
// An archived sample's moment (UTC seconds) the same way.
QString sampleAtUtc(int64_t utcSeconds, const QTimeZone& zone);
// An event's local time "YYYY-MM-DD HH:MM:SS.mmm" the same way; empty when not understood.
QString eventAt(const QString& localText, const QTimeZone& zone);

// One sample row as the server takes it.
struct SampleRow {
    QString at;
    std::array<float, 10> values{};
};
// One event row; reg, value and status may be missing, code and args (JSON) empty for rows
// written before events had codes.
struct EventRow {
    QString at;
    QString kind;
    QString text;
    std::optional<int> reg, value, status;
    QString code, args;
};

// The bound values of insertSamplesSql() / insertEventsSql() for these rows (after the station).
QStringList sampleArrays(const std::vector<SampleRow>& rows);
QStringList eventArrays(const std::vector<EventRow>& rows, bool withCodes = true);

}  // namespace forward
