#pragma once
// What the API reads from a chamber's database file on the server's thread, each request through
// connections of its own, opened read-only (the recorder's writes never wait for them): the
// samples of a span reduced to at most N points from the archive's rollups, with the gaps said,
// or as the CSV export writes them; the events; the runs and a run's report.

#include <QString>
#include <QUrlQuery>
#include <optional>

#include "web/api.h"

namespace web {

// A time given as ISO 8601 (with a zone or Z; local time without) or as epoch milliseconds: its
// epoch milliseconds; nullopt when it is neither or lies outside the years 1970..9999.
std::optional<qint64> parseTime(const QString& text);

inline constexpr qint64 kMaxSpanMs = 20LL * 366 * 86400 * 1000;  // twenty years
inline constexpr qint64 kMaxCsvRows = 200000;

// GET .../samples?from=&to=&points=N (default: the last hour, 1000 points); csv: the rows as the
// export writes them.
Response samples(const QString& dbPath, const QUrlQuery& query, bool csv, qint64 nowMs);
// GET .../events?from=&to=&after=ID&limit=N (default 100, newest first; oldest first after ID).
Response events(const QString& dbPath, const QUrlQuery& query);
// GET .../runs: every run, newest first.
Response runs(const QString& chamberId, const QString& dbPath);
// GET /api/v1/runs/{chamber}:{id}/report.pdf: the run's report.
Response report(const QString& dbPath, qint64 runId, const QString& usersPath);

}  // namespace web
