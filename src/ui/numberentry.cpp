#include "ui/numberentry.h"

#include "base/numberrule.h"

namespace ui {

DigitsValidator::DigitsValidator(int maxDigits, bool allowMinus, QObject* parent)
    : QValidator(parent), maxDigits_(maxDigits), allowMinus_(allowMinus) {}

QValidator::State DigitsValidator::validate(QString& input, int&) const {
    input = base::asciiForms(input);  // one character for one: the cursor stays where it was
    qsizetype i = 0;
    if (i < input.size() && (input[i] == u'+' || (allowMinus_ && input[i] == u'-'))) ++i;
    const qsizetype digits = input.size() - i;
    if (digits > maxDigits_) return Invalid;
    for (; i < input.size(); ++i)
        if (input[i] < u'0' || input[i] > u'9') return Invalid;
    // An empty box or a lone sign is on its way to a number; the writer refuses it if left so.
    return digits == 0 ? Intermediate : Acceptable;
}

}  // namespace ui
