#include "base/numberlocale.h"

#include <QLocale>
#include <clocale>

namespace base {

void useDotDecimalNumbers() {
    std::setlocale(LC_NUMERIC, "C");
    const QLocale system = QLocale::system();
    const bool plainNumbers = system.decimalPoint() == QLatin1String(".") &&
                              system.zeroDigit() == QLatin1String("0") &&
                              system.negativeSign() == QLatin1String("-");
    QLocale chosen = plainNumbers ? QLocale(system.language(), system.script(), system.territory())
                                  : QLocale::c();
    chosen.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    QLocale::setDefault(chosen);
}

}  // namespace base
