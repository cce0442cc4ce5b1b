#pragma once
// Puts the process under a comma-decimal locale (de_DE.UTF-8) for tests of number text. When the
// system has no compiled de_DE.UTF-8, it is compiled with localedef into a private folder named by
// LOCPATH, so the test never has to skip. Returns false (with the reason in *why) only when even
// that fails.

#include <QString>

namespace testsupport {

// Sets LC_ALL and LANG to de_DE.UTF-8 in the environment and the C library's locale, and Qt's
// default QLocale to German (Germany). Call before the QApplication exists so QLocale::system()
// also reads German (on POSIX systems; on Windows it keeps the user's regional settings).
bool useCommaDecimalLocale(QString* why = nullptr);

}  // namespace testsupport
