#include "shell/exportcommand.h"

#include <cstdio>

#include "base/tr.h"
#include "record/csvexport.h"
#include "record/eventstore.h"
#include "record/exportfile.h"
#include "shell/application.h"

namespace shell {

namespace {

int failWith(int status, const QString& line) {
    std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(line));
    return status;
}

}  // namespace

int runExport(const Options& options) {
    const QString db =
        options.db.isEmpty() ? Application::defaultDatabasePath(options.profile) : options.db;
    const bool records = !options.exportCsv.isEmpty();
    const QString target = records ? options.exportCsv : options.exportEvents;

    record::CsvExport samples(db, QStringLiteral("velmars-export"));
    record::EventStore events(db, QStringLiteral("events-export"));
    if (records && !samples.open()) return failWith(2, samples.error());
    if (!records && !events.open(/*readOnly=*/true))
        return failWith(2, QStringLiteral("%1: %2").arg(db, events.lastError()));

    const record::ExportOutcome done =
        record::exportTo(target, [&](QIODevice& out, QString* error) -> std::optional<qint64> {
            if (records) {
                const auto rows = samples.write(out, {options.from, options.to});
                if (!rows) *error = samples.error();
                return rows;
            }
            record::EventFilter filter;
            filter.from = options.from;
            filter.to = options.to;
            const qint64 rows = record::writeEventsCsv(events, filter, out);
            if (rows < 0) *error = events.lastError();
            return rows < 0 ? std::nullopt : std::optional<qint64>(rows);
        });
    if (!done.writeError.isEmpty())
        return failWith(1, base::Tr::tr("无法写入 %1：%2").arg(target, done.writeError));
    if (!done.rows) return failWith(2, done.readError);
    std::fprintf(stderr, "%lld\n", static_cast<long long>(*done.rows));
    return 0;
}

}  // namespace shell
