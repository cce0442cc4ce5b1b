#pragma once
// The program's one rule for turning operator text into numbers, and the rounding every writer
// uses.

#include <QString>
#include <cstdint>
#include <optional>

namespace base {

// Reasons a text is not sent, shown to the operator.
inline constexpr const char* kReasonEmpty = QT_TRANSLATE_NOOP("velmars", "空");
inline constexpr const char* kReasonNotANumber = QT_TRANSLATE_NOOP("velmars", "不是数字");
inline constexpr const char* kReasonNotWhole = QT_TRANSLATE_NOOP("velmars", "不是整数");
inline constexpr const char* kReasonOutOfRegister = QT_TRANSLATE_NOOP("velmars", "超出寄存器范围");

// The text with full-width digits, sign, point and the ideographic space (what a Chinese input
// method types) replaced by their ASCII forms; everything else unchanged.
QString asciiForms(const QString& text);

// A number read from operator text, or the reason there is none.
struct NumberReading {
    std::optional<double> value;
    QString reason;  // empty when value holds a number
};

// The whole-number rule for every entry that writes to the instrument. After full-width forms are
// read as ASCII and blanks are trimmed at both ends, the text must be an optional sign, digits and,
// when allowPoint, one decimal point ("12.5", "-5", ".5", "5."); nothing else may follow or stand
// between. "" gives kReasonEmpty; "abc", "0x10", "1,000", "12abc", "1e3" give kReasonNotANumber; a
// point where none is allowed gives kReasonNotWhole. The decimal point is always ".", whatever the
// locale.
NumberReading wholeNumber(const QString& text, bool allowPoint = true);

// A register value read by the whole-number rule and rounded half-to-even, or the reason it is not
// sent: the reasons above, or outside low..high ("超出寄存器范围" for the full 16-bit range,
// "超出范围 low~high" otherwise).
struct RegisterReading {
    std::optional<int32_t> value;
    QString reason;
};
RegisterReading registerValue(const QString& text, bool allowPoint = true, int64_t low = -32768,
                              int64_t high = 65535);

// The operator's line for a value not sent: "<caption>：“abc” 不是数字，未发送", or
// "<caption>：空，未发送" for an empty box.
QString refusedText(const QString& caption, const QString& text, const QString& reason);

// Leading-number value of a text, for display and the port settings only (never for a value to
// write): blanks (spaces, tabs, line feeds) anywhere are ignored; an
// optional sign, digits with at most one decimal point and an optional exponent (E and a signed
// integer) are read from the start; reading stops at the first character that cannot continue the
// number. A text without a number gives 0. Values too large for a double give +/- infinity.
double leadingNumber(const QString& text);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4). NaN and infinities pass
// through.
double roundHalfEven(double v);

// Half-even rounding into a 16-bit or 32-bit signed integer; nullopt when the rounded value does
// not fit (or the input is NaN or infinite).
std::optional<int16_t> roundToInt16(double v);
std::optional<int32_t> roundToInt32(double v);

// True when a value fits one Modbus register, read either as signed or as unsigned 16 bits.
constexpr bool fitsRegister(int64_t v) {
    return v >= -32768 && v <= 65535;
}

}  // namespace base
