#include "instrument/statetexts.h"

#include "base/text.h"

namespace instrument {

namespace {

struct StateWords {
    const char16_t* on;
    const char16_t* off;
};
// Trailing blanks are part of the captions.
const StateWords kStateWords[6] = {
    {u"控制1 ON", u"控制1 OFF"}, {u"控制2 ON", u"控制2 OFF "},     {u"ALM1报警", u"ALM1 OFF"},
    {u"ALM2 报警", u"ALM2 OFF"}, {u"传感器1开路", u"传感器正常 "}, {u"传感器2开路", u"传感器正常 "},
};

const char16_t* const kAlarmTypeWords[6] = {nullptr,       u"上限报警",   u"下限报警",
                                            u"上偏差报警", u"下偏差报警", u"偏差带报警"};

}  // namespace

StateText stateText(int k, int32_t flag) {
    if (k < 0 || k >= 6) return {};
    const bool on = flag != 0;
    return {QString::fromUtf16(on ? kStateWords[k].on : kStateWords[k].off), on};
}

QString alarmTypeText(int alarm, float code) {
    for (int c = 0; c <= 5; ++c) {
        if (code != static_cast<float>(c)) continue;
        if (c == 0) return alarm == 0 ? QStringLiteral("NONE  ") : QStringLiteral("NONE ");
        return QString::fromUtf16(kAlarmTypeWords[c]);
    }
    return base::floatText(code);
}

QString programStateText(int32_t code) {
    switch (code) {
        case 0:
            return QStringLiteral("停止  ");
        case 1:
            return QStringLiteral("运行");
        case 2:
            return QStringLiteral("暂停");
        case 3:
            return QStringLiteral("结束");
        default:
            return base::intText(code);
    }
}

std::array<QString, 9> programStatusTexts(const std::array<int32_t, 21>& regs) {
    std::array<QString, 9> out;
    for (int k = 0; k < 9; ++k)
        out[k] = base::intText(regs[k]);
    out[0] = programStateText(regs[0]);
    return out;
}

}  // namespace instrument
