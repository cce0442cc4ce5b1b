#pragma once
// The program's one rule for turning operator text into numbers, and the rounding every writer
// uses.

#include <QString>
#include <cstdint>
#include <optional>

namespace base {

// Leading-number value of a text: blanks (spaces, tabs, line feeds) anywhere are ignored; an
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
