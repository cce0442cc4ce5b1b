#pragma once
// The command-line exports: the stored records (--export-csv FILE) or the event log
// (--export-events FILE) as CSV to FILE or standard output ("-"), without a window.

#include "shell/cmdline.h"

namespace shell {

// Runs the export the options ask for, with its --from, --to and --db. Needs a
// QCoreApplication. Reads the database without creating or changing it; FILE appears whole or
// not at all. Prints the number of rows written to stderr, or one line saying why nothing was.
// Returns the exit status: 0 done, 2 a database that cannot be read, 1 output that cannot be
// written.
int runExport(const Options& options);

}  // namespace shell
