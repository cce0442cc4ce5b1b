#include "instrument/statetexts.h"

#include "base/text.h"
#include "instrument/programstate.h"

namespace instrument {

namespace {

struct StateWords {
    const char* on;
    const char* off;
};
// Trailing blanks are part of the captions.
const StateWords kStateWords[6] = {
    {QT_TRANSLATE_NOOP("velmars", "控制1 ON"), QT_TRANSLATE_NOOP("velmars", "控制1 OFF")},
    {QT_TRANSLATE_NOOP("velmars", "控制2 ON"), QT_TRANSLATE_NOOP("velmars", "控制2 OFF ")},
    {QT_TRANSLATE_NOOP("velmars", "ALM1报警"), "ALM1 OFF"},
    {QT_TRANSLATE_NOOP("velmars", "ALM2 报警"), "ALM2 OFF"},
    {QT_TRANSLATE_NOOP("velmars", "传感器1开路"), QT_TRANSLATE_NOOP("velmars", "传感器正常 ")},
    {QT_TRANSLATE_NOOP("velmars", "传感器2开路"), QT_TRANSLATE_NOOP("velmars", "传感器正常 ")},
};

const char* const kAlarmTypeWords[6] = {nullptr,
                                        QT_TRANSLATE_NOOP("velmars", "上限报警"),
                                        QT_TRANSLATE_NOOP("velmars", "下限报警"),
                                        QT_TRANSLATE_NOOP("velmars", "上偏差报警"),
                                        QT_TRANSLATE_NOOP("velmars", "下偏差报警"),
                                        QT_TRANSLATE_NOOP("velmars", "偏差带报警")};

}  // namespace

StateText stateText(int k, int32_t flag) {
    if (k < 0 || k >= 6) return {};
    const bool on = flag != 0;
    return {QString::fromUtf8(on ? kStateWords[k].on : kStateWords[k].off), on};
}

QString alarmTypeText(int alarm, float code) {
    for (int c = 0; c <= 5; ++c) {
        if (code != static_cast<float>(c)) continue;
        if (c == 0) return alarm == 0 ? QStringLiteral("NONE  ") : QStringLiteral("NONE ");
        return QString::fromUtf8(kAlarmTypeWords[c]);
    }
    return base::floatText(code);
}

QString programStateText(int32_t code) {
    const std::optional<ProgramState> state = programStateOf(code);
    if (!state) return base::intText(code);
    switch (*state) {
        case ProgramState::Stopped:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "停止  "));
        case ProgramState::Running:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "运行"));
        case ProgramState::Paused:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "暂停"));
        case ProgramState::Ended:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "结束"));
    }
    return base::intText(code);
}

std::array<QString, 9> programStatusTexts(const std::array<int32_t, 21>& regs) {
    std::array<QString, 9> out;
    for (int k = 0; k < 9; ++k)
        out[k] = base::intText(regs[k]);
    out[0] = programStateText(regs[0]);
    return out;
}

}  // namespace instrument
