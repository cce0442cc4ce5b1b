#pragma once
// Where every export goes: a file that appears whole or not at all, or standard output.

#include <QString>
#include <functional>
#include <optional>

class QIODevice;

namespace store {

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

// An exported file made by whoever writes it: done(written) is called on the UI thread once the
// file is written (true) or has failed or been stopped (false).
using ExportDone = std::function<void(bool written)>;
using ExportWrite = std::function<void(const ExportDone& done)>;
// How a window asks for an export (what: "csv", "events", "pdf", "png", "report", "review"): the
// chamber's command, which decides with the one who asks, calls write before it returns when they
// may, and keeps the audit row naming them once done is called (whatever became of the window by
// then). Answers why it was refused, as shown; empty when write was called.
using ExportAsk =
    std::function<QString(const QString& what, const QString& path, const ExportWrite& write)>;

}  // namespace store
