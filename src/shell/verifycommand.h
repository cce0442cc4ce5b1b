#pragma once
// The command-line check of the hash chains (--verify), without a window.

#include "service/cmdline.h"

namespace shell {

// Verifies the chains of --db, else of every configured chamber's database, else of the default
// database. Prints one line per database on standard output: "intact, N rows, M hours", or the
// first changed row or hour; the file is only read. Needs a QCoreApplication. Returns 0 when every
// chain is intact, 1 when one was changed, 2 when a database cannot be read or is not ours.
int runVerify(const Options& options);

}  // namespace shell
