#pragma once
// The operator commands of the main window as rules: which register each button writes and which
// value, if any, its entry box or list gives.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "base/numberrule.h"

namespace monitor {

// Registers written: Command12(k) the set value of loop k+1 (4X 1, 2), Alm111(k) the alarm setting
// k (4X 257..262), Command14 the program command (4X 3).
constexpr int32_t setValueRegister(int k) {
    return k + 1;
}
constexpr int32_t alarmSettingRegister(int k) {
    return 257 + k;
}
inline constexpr int32_t kProgramCommandRegister = 3;

// Accepted range of an entry-box write.
inline constexpr int32_t kEntryMin = -1999;
inline constexpr int32_t kEntryMax = 9999;

// The value an entry box writes: its text read by the whole-number rule (a decimal point allowed)
// and rounded half to even, or the reason nothing is sent: empty, not a number, or the number as
// typed outside -1999..9999 (so 9999.4 writes nothing).
base::RegisterReading entryValue(const QString& text);

// The entries of the program-command list, in order: "0:停止 ", "1:运行 ", "2:暂停 ", "4:结束 ".
QStringList programCommandEntries();

// The program command the list sends: the position of the entry its text matches (the instrument's
// codes are the positions, so "4:结束 " sends 3), or nothing when the typed text matches no entry.
std::optional<int32_t> programCommand(const QStringList& entries, const QString& shown);

}  // namespace monitor
