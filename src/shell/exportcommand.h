#pragma once
// The command-line exports: the stored records (--export-csv FILE) or the event log
// (--export-events FILE) as CSV to FILE or standard output ("-"), without a window.

#include "service/cmdline.h"

namespace shell {

// Runs the export the options ask for, with its --from, --to and --db. Needs a
// QCoreApplication. Reads the database without creating or changing it; FILE appears whole or
// not at all. Prints the number of rows written to stderr, or one line saying why nothing was.
// Returns the exit status: 0 done, 2 a database that cannot be read, 1 output that cannot be
// written.
int runExport(const Options& options);

// Writes the test report --report asks for: of the run --run names (its start to its end, or to
// now while it is open), else of --from..--to (default: every archived second), with the CSV
// export of the span at --report-csv. Needs a QGuiApplication (fonts). Reads the database only.
// Returns 0 done, 2 a database or run that cannot be read or found, 1 a file not written.
int runReport(const Options& options);

// --release-signed: an administrator (--user, the password on standard input) lets retention drop
// the signed seconds of the run --run names or the span --from/--to, for the reason --reason; the
// decision is a row of the audit trail. Returns 0 released, 1 refused, 2 not possible.
int runRelease(const Options& options);

}  // namespace shell
