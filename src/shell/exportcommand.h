#pragma once
// The command-line export: the stored records to a CSV file or standard output, without a window.

#include "shell/cmdline.h"

namespace shell {

// Runs --export-csv with its --from, --to and --db. Needs a QCoreApplication. Prints the number
// of records written, or one line saying why nothing was, to stderr. Returns the exit status: 0
// done, 2 a database that cannot be read (nothing is created or changed), 1 output that cannot
// be written.
int runCsvExport(const Options& options);

}  // namespace shell
