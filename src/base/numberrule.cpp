#include "base/numberrule.h"

#include "base/tr.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace base {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Value of a decimal text made of an optional minus, digits, an optional point and an optional
// exponent. from_chars ignores the C library's locale, so "12.5" reads as 12.5 on a comma-decimal
// system too. Too large a value gives +/- infinity, too small a value 0.
double decimalValue(std::string_view num) {
    double v = 0.0;
    const auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    if (r.ec != std::errc::result_out_of_range) return v;
    // Out of range: the decimal exponent of the first significant digit tells overflow from
    // underflow.
    const bool neg = !num.empty() && num.front() == '-';
    long magnitude = 0;
    bool seenPoint = false;
    bool significant = false;
    size_t i = neg ? 1 : 0;
    for (; i < num.size() && num[i] != 'e' && num[i] != 'E'; ++i) {
        if (num[i] == '.') {
            seenPoint = true;
        } else if (!significant && num[i] == '0') {
            if (seenPoint) --magnitude;
        } else if (!significant) {
            significant = true;
            if (seenPoint) --magnitude;
        } else if (!seenPoint) {
            ++magnitude;
        }
    }
    if (i < num.size())
        magnitude += std::strtol(std::string(num.substr(i + 1)).c_str(), nullptr, 10);
    if (magnitude < 0) return neg ? -0.0 : 0.0;
    return neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
}

}  // namespace

QString asciiForms(const QString& text) {
    QString s = text;
    for (QChar& c : s) {
        const char16_t u = c.unicode();
        if (u >= 0xFF10 && u <= 0xFF19)
            c = QChar(u'0' + (u - 0xFF10));
        else if (u == 0xFF0B)
            c = u'+';
        else if (u == 0xFF0D)
            c = u'-';
        else if (u == 0xFF0E)
            c = u'.';
        else if (u == 0x3000)
            c = u' ';
    }
    return s;
}

NumberReading wholeNumber(const QString& text, bool allowPoint) {
    const QString s = asciiForms(text).trimmed();
    if (s.isEmpty()) return {std::nullopt, QString::fromUtf8(kReasonEmpty)};
    std::string num;
    qsizetype i = 0;
    if (s[0] == u'+' || s[0] == u'-') {
        if (s[0] == u'-') num.push_back('-');
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (; i < s.size(); ++i) {
        const QChar c = s[i];
        if (isDigit(c)) {
            num.push_back(char(c.unicode()));
            digits = true;
        } else if (c == u'.' && !point) {
            num.push_back('.');
            point = true;
        } else {
            return {std::nullopt, QString::fromUtf8(kReasonNotANumber)};
        }
    }
    if (!digits) return {std::nullopt, QString::fromUtf8(kReasonNotANumber)};
    if (point && !allowPoint) return {std::nullopt, QString::fromUtf8(kReasonNotWhole)};
    return {decimalValue(num), {}};
}

RegisterReading registerValue(const QString& text, bool allowPoint, int64_t low, int64_t high) {
    const NumberReading n = wholeNumber(text, allowPoint);
    if (!n.value) return {std::nullopt, n.reason};
    const std::optional<int32_t> v = roundToInt32(*n.value);
    if (!v || *v < low || *v > high) {
        const bool wholeRegister = low == -32768 && high == 65535;
        return {std::nullopt, wholeRegister ? QString::fromUtf8(kReasonOutOfRegister)
                                            : Tr::tr("超出范围 %1~%2").arg(low).arg(high)};
    }
    return {*v, {}};
}

QString refusedText(const QString& caption, const QString& text, const QString& reason) {
    if (asciiForms(text).trimmed().isEmpty()) return Tr::tr("%1：空，未发送").arg(shown(caption));
    return Tr::tr("%1：“%2” %3，未发送").arg(shown(caption), text.trimmed(), shown(reason));
}

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
    if (num.front() == '+') num.erase(0, 1);
    return decimalValue(num);
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
