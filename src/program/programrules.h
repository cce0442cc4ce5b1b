#pragma once
// The program block of the instrument as this window sees it: which register each control writes,
// the list entries and the codes they send, the readback texts, and the value an entry box writes.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

#include "base/numberrule.h"

namespace program {

// 4X 8193..8240 is read in three blocks of 16; element i of the readback array holds 4X 8193+i.
// Elements 48..60 are never read and stay 0.
inline constexpr int32_t kBlockStart = 8193;
inline constexpr int kBlockCount = 3;
inline constexpr int kBlockSize = 16;
inline constexpr int kReadbackSize = 61;
using Readback = std::array<int32_t, kReadbackSize>;

inline constexpr int kSegments = 8;
inline constexpr int kSegmentEntryCount = 31;  // indices 0..30; those with i % 4 == 3 do not exist

// Registers of the function settings, in readback order.
inline constexpr int32_t kTimeUnitRegister = 8193;      // Combo2
inline constexpr int32_t kSegmentCountRegister = 8194;  // Combo4
inline constexpr int32_t kPowerFailRegister = 8196;     // Combo1
inline constexpr int32_t kStartValueRegister = 8197;    // Combo8
inline constexpr int32_t kEndOutputRegister = 8198;     // Combo3

// The cycle-count entry (objectName TextA_2) writes 4X 8195; segment entry i (TxtB_i) writes
// 4X 8201+i.
inline constexpr int32_t kCycleCountRegister = 8195;
constexpr int32_t segmentEntryRegister(int i) {
    return 8201 + i;
}
// Entry index of segment k (1..8), field f (0 SV1, 1 SV2, 2 time).
constexpr int segmentEntryIndex(int k, int f) {
    return 4 * k - 4 + f;
}
constexpr bool segmentEntryExists(int i) {
    return i >= 0 && i < kSegmentEntryCount && i % 4 != 3;
}
// Readback field i (objectName Label3_i) shows readback element i: 0..5 are the function settings,
// 4k+4..4k+6 segment k.
constexpr bool readbackFieldExists(int i) {
    return (i >= 0 && i <= 5) || (i >= 8 && i <= 38 && i % 4 != 3);
}

// Entries of the five lists, in the order they are filled.
QStringList timeUnitEntries();      // curve time unit
QStringList segmentCountEntries();  // number of segments
QStringList powerFailEntries();     // power-failure handling
QStringList startValueEntries();    // start value
QStringList endOutputEntries();     // end output

// The code a list writes: the position of the entry its text matches (Combo4's "1:1段 " is 0),
// or nothing when the typed text matches no entry.
std::optional<int32_t> listCode(const QStringList& entries, const QString& shown);

// The value the cycle-count box writes: its number by the whole-number rule rounded half to even,
// or the reason nothing is sent (empty, not a number, does not fit a register).
base::RegisterReading entryValue(const QString& text);

// Segment entry i: an SV entry takes -1999..9999, a time entry 0..9999, both whole numbers.
constexpr bool isTimeEntry(int i) {
    return i % 4 == 2;
}
inline constexpr int kSegmentDigits = 4;
// The value segment entry i writes, or the reason nothing is sent.
base::RegisterReading segmentValue(int i, const QString& text);

// Text of readback field Label3(index) for a register value: the decoded word for the time unit
// (0), cycle count (2), power-failure handling (3), start value (4) and end output (5), the
// integer text otherwise (and for any code those fields do not know).
QString readbackText(int index, int32_t value);

// The chart's time-unit caption Label7(1) for 4X 8193; nothing for an unknown code (the caption
// stays as it was).
std::optional<QString> timeUnitCaption(int32_t value);

}  // namespace program
