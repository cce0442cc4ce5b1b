#include "monitor/livetexts.h"

#include "base/text.h"
#include "base/tr.h"
#include "instrument/readings.h"

namespace monitor {

namespace {

constexpr std::array<ParamField, 20> kColumn0 = {{
    {0, QT_TRANSLATE_NOOP("velmars", "曲线使能")},
    {1, QT_TRANSLATE_NOOP("velmars", "上电报警免除")},
    {2, QT_TRANSLATE_NOOP("velmars", "数字滤波")},
    {3, QT_TRANSLATE_NOOP("velmars", "温度单位切换")},
    {8, QT_TRANSLATE_NOOP("velmars", "输入1类型")},
    {9, QT_TRANSLATE_NOOP("velmars", "小数点位置")},
    {10, QT_TRANSLATE_NOOP("velmars", "输入1上限")},
    {11, QT_TRANSLATE_NOOP("velmars", "输入1下限")},
    {12, QT_TRANSLATE_NOOP("velmars", "输入1偏移")},
    {16, QT_TRANSLATE_NOOP("velmars", "输入2类型")},
    {17, QT_TRANSLATE_NOOP("velmars", "小数点位置")},
    {18, QT_TRANSLATE_NOOP("velmars", "输入2上限")},
    {19, QT_TRANSLATE_NOOP("velmars", "输入2下限")},
    {20, QT_TRANSLATE_NOOP("velmars", "输入2偏移")},
    {24, QT_TRANSLATE_NOOP("velmars", "输出1动作回差")},
    {25, QT_TRANSLATE_NOOP("velmars", "输出1延迟时间")},
    {26, QT_TRANSLATE_NOOP("velmars", "输出1保护时间")},
    {27, QT_TRANSLATE_NOOP("velmars", "输人1开路状态")},
    {28, QT_TRANSLATE_NOOP("velmars", "输出2动作回差")},
    {29, QT_TRANSLATE_NOOP("velmars", "输出2延迟时间")},
}};

constexpr std::array<ParamField, 18> kColumn1 = {{
    {30, QT_TRANSLATE_NOOP("velmars", "输出2保护时间")},
    {31, QT_TRANSLATE_NOOP("velmars", "输入2开路状态")},
    {32, QT_TRANSLATE_NOOP("velmars", "报警1类型")},
    {33, QT_TRANSLATE_NOOP("velmars", "报警2类型")},
    {34, QT_TRANSLATE_NOOP("velmars", "报警1作用通道")},
    {35, QT_TRANSLATE_NOOP("velmars", "报警2作用通道")},
    {36, QT_TRANSLATE_NOOP("velmars", "通讯地址")},
    {37, QT_TRANSLATE_NOOP("velmars", "波特率")},
    {38, QT_TRANSLATE_NOOP("velmars", "校验方式")},
    {39, QT_TRANSLATE_NOOP("velmars", "通讯延迟")},
    {40, QT_TRANSLATE_NOOP("velmars", "变送1量程")},
    {41, QT_TRANSLATE_NOOP("velmars", "变送1参数选择")},
    {42, QT_TRANSLATE_NOOP("velmars", "变送1上限")},
    {43, QT_TRANSLATE_NOOP("velmars", "变送1下限")},
    {44, QT_TRANSLATE_NOOP("velmars", "变送2量程")},
    {45, QT_TRANSLATE_NOOP("velmars", "变送2参数选择")},
    {46, QT_TRANSLATE_NOOP("velmars", "变送2上限")},
    {47, QT_TRANSLATE_NOOP("velmars", "变送2下限")},
}};

const char* const kAlarmSettingCaptions[6] = {
    QT_TRANSLATE_NOOP("velmars", "报警1设定值"),   QT_TRANSLATE_NOOP("velmars", "报警1动作回差"),
    QT_TRANSLATE_NOOP("velmars", "报警1延迟时间"), QT_TRANSLATE_NOOP("velmars", "报警2设定值"),
    QT_TRANSLATE_NOOP("velmars", "报警2动作回差"), QT_TRANSLATE_NOOP("velmars", "报警2延迟时间")};

}  // namespace

const std::array<ParamField, 20>& paramColumn0() {
    return kColumn0;
}

const std::array<ParamField, 18>& paramColumn1() {
    return kColumn1;
}

QString paramCaption(int k) {
    for (const auto& f : kColumn0)
        if (f.k == k) return QString::fromUtf8(f.caption);
    for (const auto& f : kColumn1)
        if (f.k == k) return QString::fromUtf8(f.caption);
    return {};
}

bool hasParamField(int k) {
    return !paramCaption(k).isEmpty();
}

QString alarmSettingCaption(int k) {
    if (k < 0 || k >= 6) return {};
    return QString::fromUtf8(kAlarmSettingCaptions[k]);
}

LiveTexts liveTexts(const comm::InstrumentImage& img) {
    LiveTexts t;
    // The instrument's words are kept in Chinese (the event log stores them so); the panel shows
    // them in the chosen language.
    t.programStatus = instrument::programStatusTexts(img.InputRegsHigh);
    t.programStatus[0] = base::shown(t.programStatus[0]);
    for (int k = 0; k < 8; ++k)
        t.liveValues[k] = base::floatText(img.LiveValues[k]);
    for (int loop = 0; loop < 2; ++loop)
        t.liveValues[instrument::live::kRetransmit[loop]] =
            base::floatText(instrument::retransmitPct(img, loop));
    for (int k = 0; k < 2; ++k)
        t.outputs[k] = base::floatText(img.HoldingValues[k]);
    for (int k = 0; k < int(instrument::bits::kStates); ++k) {
        t.states[k] = instrument::stateText(k, img.DiscreteBits[k]);
        t.states[k].text = base::shown(t.states[k].text);
    }
    for (int alarm = 0; alarm < 2; ++alarm)
        t.liveValues[instrument::live::kAlarmType[alarm]] =
            base::shown(instrument::alarmTypeText(alarm, instrument::alarmTypeCode(img, alarm)));
    for (int k = 0; k < 48; ++k) {
        if (!hasParamField(k)) continue;
        const float v = k == 2 ? img.ParamValues[k] / 10.0f : img.ParamValues[k];
        t.params[k] = base::floatText(v);
    }
    for (int k = 0; k < 6; ++k)
        t.alarmSettings[k] = base::intText(img.HoldingRegs257[k]);
    return t;
}

}  // namespace monitor
