#pragma once
// What the live panel shows, as a pure function of the instrument image: every caption of the
// program status, live values, alarm and sensor states, parameters and alarm settings, and the
// background of the state labels. The panel widgets only copy these out.

#include <QColor>
#include <QString>
#include <array>
#include <cstdint>

#include "comm/image.h"
#include "instrument/statetexts.h"

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
    const char* caption;
};
inline constexpr int kParamColumnCount = 2;
const std::array<ParamField, 20>& paramColumn0();
const std::array<ParamField, 18>& paramColumn1();
bool hasParamField(int k);
QString paramCaption(int k);  // empty when k has no field

// Captions of the alarm-setting rows, registers 4X 257..262.
QString alarmSettingCaption(int k);

struct LiveTexts {
    std::array<QString, 9> programStatus;
    std::array<QString, 8> liveValues;
    std::array<QString, 2> outputs;
    std::array<instrument::StateText, 6> states;  // from the discrete input flags
    std::array<QString, 48> params;               // empty where k has no field
    std::array<QString, 6> alarmSettings;
};

LiveTexts liveTexts(const comm::InstrumentImage& image);

}  // namespace monitor
