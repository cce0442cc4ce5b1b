#include "base/text.h"

#include <QDateTime>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace base {

QString intText(int64_t v) {
    return QString::number(static_cast<qlonglong>(v));
}

QString floatText(float v) {
    if (std::isnan(v)) return QStringLiteral("NaN");
    if (std::isinf(v)) return v > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (v == 0.0f) return QStringLiteral("0");
    // Find the fewest significant digits (1..7) that read back as the same float; a float needs up
    // to 9 to be exact, so values that need more are shown rounded to 7. to_chars/from_chars never
    // consult the C library's locale, so a comma-decimal system cannot change the text.
    char buf[64];
    const auto scientific = [&](int precision) {
        const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v),
                                     std::chars_format::scientific, precision);
        return std::string_view(buf, static_cast<size_t>(r.ptr - buf));
    };
    int digits = 7;
    for (int p = 1; p <= 7; ++p) {
        const std::string_view t = scientific(p - 1);
        float back = 0;
        std::from_chars(t.data(), t.data() + t.size(), back);
        if (back == v) {
            digits = p;
            break;
        }
    }
    // The text is d.ddddde+XX; decide between plain and exponent form from the decimal exponent.
    const std::string_view sciText = scientific(digits - 1);
    const QString sci = QString::fromLatin1(sciText.data(), static_cast<qsizetype>(sciText.size()));
    const qsizetype ePos = sci.indexOf(u'e');
    const int exp10 = sci.mid(ePos + 1).toInt();
    QString mantissa = sci.left(ePos);
    const bool neg = mantissa.startsWith(u'-');
    if (neg) mantissa.remove(0, 1);
    QString digitsOnly = mantissa;
    digitsOnly.remove(u'.');
    while (digitsOnly.size() > 1 && digitsOnly.endsWith(u'0'))
        digitsOnly.chop(1);

    QString out;
    if (exp10 >= 7 || exp10 < -5) {
        // Exponent form: d.ddE+XX
        out = digitsOnly.left(1);
        if (digitsOnly.size() > 1) out += u'.' + digitsOnly.mid(1);
        out += QStringLiteral("E%1%2")
                   .arg(exp10 < 0 ? QStringLiteral("-") : QStringLiteral("+"))
                   .arg(std::abs(exp10), 2, 10, QChar(u'0'));
    } else if (exp10 >= 0) {
        const int intLen = exp10 + 1;
        if (digitsOnly.size() <= intLen) {
            out = digitsOnly + QString(intLen - digitsOnly.size(), u'0');
        } else {
            out = digitsOnly.left(intLen) + u'.' + digitsOnly.mid(intLen);
        }
    } else {
        out = QStringLiteral("0.") + QString(-exp10 - 1, u'0') + digitsOnly;
    }
    return neg ? u'-' + out : out;
}

QString utcOffsetText(int seconds) {
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString timeWithOffset(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + utcOffsetText(t.offsetFromUtc());
}

}  // namespace base
