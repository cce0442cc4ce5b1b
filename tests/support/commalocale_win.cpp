// Windows: the C runtime names the locale German_Germany.1252 and has it always. QLocale::system()
// follows the user's regional settings, which a process cannot change for itself, so only the
// C library and Qt's default locale turn to the comma here.
#include <QLocale>
#include <clocale>

#include "commalocale.h"

namespace testsupport {

bool useCommaDecimalLocale(QString* why) {
    if (!std::setlocale(LC_ALL, "German_Germany.1252")) {
        if (why) *why = QStringLiteral("the C runtime has no German_Germany.1252");
        return false;
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    return true;
}

}  // namespace testsupport
