#include "base/numberrule.h"

#include <cmath>
#include <limits>
#include <string>

namespace base {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

double leadingNumber(const QString& text) {
    // Drop the blanks first: they are ignored wherever they stand.
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!isBlank(c)) s.append(c);

    std::string num;
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (i < n && (s[i] == u'+' || s[i] == u'-')) num.push_back(char(s[i++].unicode()));
    bool digits = false;
    while (i < n && isDigit(s[i])) {
        num.push_back(char(s[i++].unicode()));
        digits = true;
    }
    if (i < n && s[i] == u'.') {
        num.push_back('.');
        ++i;
        while (i < n && isDigit(s[i])) {
            num.push_back(char(s[i++].unicode()));
            digits = true;
        }
    }
    if (!digits) return 0.0;
    // An exponent counts only when a digit follows its optional sign; "3e" reads as 3.
    if (i < n && (s[i] == u'e' || s[i] == u'E')) {
        qsizetype j = i + 1;
        std::string exp = "e";
        if (j < n && (s[j] == u'+' || s[j] == u'-')) exp.push_back(char(s[j++].unicode()));
        bool expDigits = false;
        while (j < n && isDigit(s[j])) {
            // Long exponents saturate; the value is then 0 or infinite anyway.
            if (exp.size() < 8) exp.push_back(char(s[j].unicode()));
            ++j;
            expDigits = true;
        }
        if (expDigits) num += exp;
    }
    // strtod handles overflow (HUGE_VAL) and underflow (0) for us.
    return std::strtod(num.c_str(), nullptr);
}

double roundHalfEven(double v) {
    if (!std::isfinite(v)) return v;
    double r = std::round(v);  // halves away from zero
    if (std::fabs(v - std::trunc(v)) == 0.5) r = 2.0 * std::round(v / 2.0);
    return r;
}

std::optional<int16_t> roundToInt16(double v) {
    const double r = roundHalfEven(v);
    if (!std::isfinite(r) || r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<int16_t>(r);
}

std::optional<int32_t> roundToInt32(double v) {
    const double r = roundHalfEven(v);
    if (!std::isfinite(r) || r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return static_cast<int32_t>(r);
}

}  // namespace base
