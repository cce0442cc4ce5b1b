#include "store/exportfile.h"

#include <QFile>
#include <QSaveFile>
#include <cstdio>

namespace store {

namespace {

// After write() ran: a device error, or a flush or commit that fails, is the target's fault.
ExportOutcome settle(QFileDevice& out, std::optional<qint64> rows, const QString& readError,
                     const std::function<bool()>& finish) {
    ExportOutcome r;
    if (out.error() == QFileDevice::NoError && (!rows || finish())) {
        r.rows = rows;
        if (!rows) r.readError = readError;
    }
    if (!r.rows && r.readError.isEmpty()) r.writeError = out.errorString();
    return r;
}

}  // namespace

ExportOutcome exportTo(const QString& path,
                       const std::function<std::optional<qint64>(QIODevice&, QString*)>& write) {
    QString readError;
    if (path == u"-") {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) return {std::nullopt, {}, out.errorString()};
        const std::optional<qint64> rows = write(out, &readError);
        return settle(out, rows, readError,
                      [&] { return out.flush() && out.error() == QFileDevice::NoError; });
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return {std::nullopt, {}, out.errorString()};
    const std::optional<qint64> rows = write(out, &readError);
    // commit() alone does not tell a failed flush of the last buffered bytes: it would link a
    // short or empty file in place of the target.
    ExportOutcome r = settle(out, rows, readError, [&] {
        return out.flush() && out.error() == QFileDevice::NoError && out.commit();
    });
    if (!r.rows) out.cancelWriting();
    return r;
}

}  // namespace store
