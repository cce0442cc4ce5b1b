#include "shell/exportcommand.h"

#include <QFile>
#include <cstdio>

#include "record/csvexport.h"
#include "shell/application.h"

namespace shell {

int runCsvExport(const Options& options) {
    const QString db = options.db.isEmpty() ? Application::defaultDatabasePath() : options.db;
    record::ExportRange range;
    if (!options.exportFrom.isEmpty()) range.from = record::parseExportTime(options.exportFrom);
    if (!options.exportTo.isEmpty()) range.to = record::parseExportTime(options.exportTo);

    record::CsvExport exporter(db, QStringLiteral("velmars-export"));
    if (!exporter.open()) {
        std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(exporter.error()));
        return 2;
    }
    QFile out;
    const bool toStdout = options.exportCsv == u"-";
    const bool opened = toStdout ? out.open(stdout, QIODevice::WriteOnly)
                                 : (out.setFileName(options.exportCsv),
                                    out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) {
        std::fprintf(stderr, "velmars: 无法写入 %s：%s\n", qUtf8Printable(options.exportCsv),
                     qUtf8Printable(out.errorString()));
        return 1;
    }
    const std::optional<qint64> rows = exporter.write(out, range);
    out.close();
    if (!rows) {
        std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(exporter.error()));
        return 1;
    }
    std::fprintf(stderr, "velmars: 已导出 %lld 条记录\n", static_cast<long long>(*rows));
    return 0;
}

}  // namespace shell
