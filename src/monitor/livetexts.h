#pragma once
// What the live panel shows, as a pure function of the instrument image: every caption of the
// program status, live values, alarm and sensor states, parameters and alarm settings, and the
// background of the state labels. The panel widgets only copy these out.

#include <QColor>
#include <QString>
#include <array>
#include <cstdint>

#include "link/image.h"

namespace monitor {

// Backgrounds of the panel's value labels: active for the live values and for a state that is on,
// inactive for the program status, parameters, alarm settings and a state that is off.
inline QColor activeColour() {
    return QColor(255, 192, 255);
}
inline QColor inactiveColour() {
    return QColor(192, 255, 255);
}

// Parameter fields: index k of ParamValues (register 4X 4097+k) that has a field and its caption.
// Elements 4..7, 13..15 and 21..23 have none. Column 0 holds k = 0..29, column 1 k = 30..47.
struct ParamField {
    int k;
    const char16_t* caption;
};
inline constexpr int kParamColumnCount = 2;
const std::array<ParamField, 20>& paramColumn0();
const std::array<ParamField, 18>& paramColumn1();
bool hasParamField(int k);
QString paramCaption(int k);  // empty when k has no field

// Captions of the alarm-setting rows, registers 4X 257..262.
QString alarmSettingCaption(int k);

// A state label: its text and whether it shows the active colour.
struct StateText {
    QString text;
    bool active = false;
};
// D_1W(k), k = 0..5, from the discrete input flag k: any non-zero value counts as on.
StateText stateText(int k, int32_t flag);

// Alarm type caption of alarm 0 or 1 (D_3W 6 / 7): the codes 0..5, compared exactly, have words
// (code 0 reads "NONE  " for alarm 1 and "NONE " for alarm 2); anything else its float text.
QString alarmTypeText(int alarm, float code);

// Pro_S(0..8) from InputRegsHigh(0..8): state text for the program state, integer text for the
// rest. The program window shows the same group.
std::array<QString, 9> programStatusTexts(const std::array<int32_t, 21>& inputRegsHigh);

struct LiveTexts {
    std::array<QString, 9> programStatus;
    std::array<QString, 8> liveValues;
    std::array<QString, 2> outputs;
    std::array<StateText, 6> states;
    std::array<QString, 48> params;  // empty where k has no field
    std::array<QString, 6> alarmSettings;
};

LiveTexts liveTexts(const comm::InstrumentImage& image);

}  // namespace monitor
