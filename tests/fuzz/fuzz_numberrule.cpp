// The leading-number rule, the whole-number rule and the rounding on arbitrary operator text.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/numberrule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double v = base::leadingNumber(text);
    if (std::isnan(v)) std::abort();  // the rule yields a number, an infinity at worst
    if (auto i16 = base::roundToInt16(v)) {
        if (std::fabs(v - *i16) > 0.5) std::abort();
    }
    if (auto i32 = base::roundToInt32(v)) {
        if (std::fabs(v - *i32) > 0.5) std::abort();
        if (base::roundToInt16(v) && *base::roundToInt16(v) != *i32) std::abort();
    } else if (std::isfinite(v) && std::fabs(v) < 2147483647.0) {
        std::abort();  // a value that fits must round
    }
    // The whole-number rule accepts only a sign, digits and a point, and agrees with the
    // leading number on what it accepts; a register value it yields fits a register.
    const base::NumberReading whole = base::wholeNumber(text);
    if (whole.value) {
        const QString ascii = base::asciiForms(text).trimmed();
        for (QChar c : ascii)
            if (!(c.isDigit() && c.unicode() < 128) && c != u'.' && c != u'+' && c != u'-')
                std::abort();
        if (*whole.value != base::leadingNumber(ascii)) std::abort();
    } else if (whole.reason.isEmpty()) {
        std::abort();  // every refusal has a reason
    }
    if (const auto r = base::registerValue(text).value; r && !base::fitsRegister(*r)) std::abort();
    return 0;
}
