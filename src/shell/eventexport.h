#pragma once
// velmars --export-events FILE: the event log written out as CSV without a window.

#include "shell/cmdline.h"

namespace shell {

// Reads the database (--db, or the default file) without creating or changing it and writes the
// rows between --from and --to to FILE, or standard output for "-". Prints the number of rows to
// stderr and returns 0; an unreadable database or file prints one line and returns 2.
int runEventExport(const Options& options);

}  // namespace shell
