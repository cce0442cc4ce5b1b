#pragma once
// The words that name the instrument's states, as the operator reads them in every window and in
// the event log: control outputs, alarms and sensors, the alarm types, and the program state with
// its status group. Pure functions of the codes the instrument reports.

#include <QString>
#include <array>
#include <cstdint>

namespace instrument {

// A state and whether it is on (shown in the active colour).
struct StateText {
    QString text;
    bool active = false;
};
// State k, k = 0..5 (control outputs 1 and 2, alarms 1 and 2, sensors 1 and 2), from the discrete
// input flag k: any non-zero value counts as on. Outside 0..5: an empty text.
StateText stateText(int k, int32_t flag);

// Alarm type caption of alarm 0 or 1: the codes 0..5, compared exactly, have words (code 0 reads
// "NONE  " for alarm 1 and "NONE " for alarm 2); anything else its float text.
QString alarmTypeText(int alarm, float code);

// 0 "停止  ", 1 "运行", 2 "暂停", 3 "结束"; any other code its integer text.
QString programStateText(int32_t code);

// The program status group from 3X 4097..4105 (InputRegsHigh 0..8): the state text for the
// program state, the integer text for segment, remaining times and cycle count.
std::array<QString, 9> programStatusTexts(const std::array<int32_t, 21>& inputRegsHigh);

}  // namespace instrument
