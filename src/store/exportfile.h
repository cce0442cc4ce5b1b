#pragma once
// Where every export goes: a file that appears whole or not at all, or standard output.

#include <QString>
#include <functional>
#include <optional>

class QIODevice;

namespace record {

// How an export came out.
struct ExportOutcome {
    std::optional<qint64> rows;  // set when everything was written
    QString readError;           // the source could not be read (or the export was stopped)
    QString writeError;          // the target could not be written: the system's reason
};

// Runs write(out) into the file at path, or into standard output when path is "-". A file is
// written beside its target and renamed over it only once complete and flushed, so a failed,
// full or stopped export leaves no partial or empty file and keeps the file it was to replace.
// write returns the number of rows, or nullopt with *error saying why.
ExportOutcome exportTo(const QString& path,
                       const std::function<std::optional<qint64>(QIODevice&, QString*)>& write);

// The windows tell of every file they exported (what: "csv", "events", "pdf", "png"), on the UI
// thread, to whoever watches (the audit trail); nothing while nobody does.
using ExportWatcher = std::function<void(const QString& what, const QString& path)>;
void setExportWatcher(ExportWatcher watcher);
void exportWritten(const QString& what, const QString& path);

}  // namespace record
