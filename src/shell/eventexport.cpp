#include "shell/eventexport.h"

#include <QFile>
#include <QSaveFile>
#include <cstdio>

#include "record/eventstore.h"
#include "shell/application.h"

namespace shell {

int runEventExport(const Options& options) {
    const QString db = options.db.isEmpty() ? Application::defaultDatabasePath() : options.db;
    record::EventStore store(db, QStringLiteral("events-export"));
    if (!store.open(/*readOnly=*/true)) {
        std::fprintf(stderr, "velmars: %s: %s\n", qUtf8Printable(db),
                     qUtf8Printable(store.lastError()));
        return 2;
    }
    record::EventFilter filter;
    filter.from = options.from;
    filter.to = options.to;

    qint64 count = -1;
    QString error;
    if (options.exportEvents == QStringLiteral("-")) {
        QFile out;
        if (out.open(stdout, QIODevice::WriteOnly))
            count = record::writeEventsCsv(store, filter, out);
        if (count < 0)
            error = store.lastError().isEmpty() ? QStringLiteral("无法写入标准输出")
                                                : store.lastError();
    } else {
        // The file appears whole or not at all.
        QSaveFile out(options.exportEvents);
        if (!out.open(QIODevice::WriteOnly)) {
            error = QStringLiteral("无法写入文件 %1").arg(options.exportEvents);
        } else {
            count = record::writeEventsCsv(store, filter, out);
            if (count < 0) {
                out.cancelWriting();
                error = store.lastError().isEmpty()
                            ? QStringLiteral("无法写入文件 %1").arg(options.exportEvents)
                            : store.lastError();
            } else if (!out.commit()) {
                count = -1;
                error = QStringLiteral("无法写入文件 %1").arg(options.exportEvents);
            }
        }
    }
    if (count < 0) {
        std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(error));
        return 2;
    }
    std::fprintf(stderr, "%lld\n", static_cast<long long>(count));
    return 0;
}

}  // namespace shell
