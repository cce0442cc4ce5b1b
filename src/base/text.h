#pragma once
// The text forms in which register values become captions.

#include <QString>
#include <cstdint>

class QDateTime;

namespace base {

// Decimal form of an integer: a minus sign for negatives, no leading zeros, blanks or separators.
QString intText(int64_t v);

// Shortest decimal form of a 32-bit float with at most 7 significant digits, no trailing zeros, no
// decimal point for whole values, "." as the decimal point: 45.6 -> "45.6", 45 -> "45", -3.5 ->
// "-3.5". Large or tiny magnitudes use an exponent ("1E+08"). NaN and infinities get fixed words.
QString floatText(float v);

// An offset from UTC in seconds as "+08:00", "-05:30", "+00:00".
QString utcOffsetText(int seconds);
// A moment as written into files: local date and time with its offset from UTC,
// "2026-12-10 11:04:05 +08:00". The offset is the one the moment carries (a time read back with the
// offset it was stored with keeps it).
QString timeWithOffset(const QDateTime& t);

}  // namespace base
