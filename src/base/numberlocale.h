#pragma once
// Numbers look the same on every system: "." as the decimal point and no group separator.

namespace base {

// Sets the C library's numeric locale to "C" and Qt's default QLocale to one that writes and reads
// numbers with "." and no group separator: the system's own language when its numbers already look
// so, the C locale otherwise. Dates and times shown in the regional form ask QLocale::system(),
// which this leaves alone. Call it once on the UI thread after the QApplication exists (Qt sets
// the C library's locale from the environment when it starts) and before other threads start.
void useDotDecimalNumbers();

}  // namespace base
