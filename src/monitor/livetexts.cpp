#include "monitor/livetexts.h"

#include "base/text.h"

namespace monitor {

namespace {

constexpr std::array<ParamField, 20> kColumn0 = {{
    {0, u"曲线使能"},       {1, u"上电报警免除"},   {2, u"数字滤波"},       {3, u"温度单位切换"},
    {8, u"输入1类型"},      {9, u"小数点位置"},     {10, u"输入1上限"},     {11, u"输入1下限"},
    {12, u"输入1偏移"},     {16, u"输入2类型"},     {17, u"小数点位置"},    {18, u"输入2上限"},
    {19, u"输入2下限"},     {20, u"输入2偏移"},     {24, u"输出1动作回差"}, {25, u"输出1延迟时间"},
    {26, u"输出1保护时间"}, {27, u"输人1开路状态"}, {28, u"输出2动作回差"}, {29, u"输出2延迟时间"},
}};

constexpr std::array<ParamField, 18> kColumn1 = {{
    {30, u"输出2保护时间"},
    {31, u"输入2开路状态"},
    {32, u"报警1类型"},
    {33, u"报警2类型"},
    {34, u"报警1作用通道"},
    {35, u"报警2作用通道"},
    {36, u"通讯地址"},
    {37, u"波特率"},
    {38, u"校验方式"},
    {39, u"通讯延迟"},
    {40, u"变送1量程"},
    {41, u"变送1参数选择"},
    {42, u"变送1上限"},
    {43, u"变送1下限"},
    {44, u"变送2量程"},
    {45, u"变送2参数选择"},
    {46, u"变送2上限"},
    {47, u"变送2下限"},
}};

const char16_t* const kAlarmSettingCaptions[6] = {u"报警1设定值",   u"报警1动作回差",
                                                  u"报警1延迟时间", u"报警2设定值",
                                                  u"报警2动作回差", u"报警2延迟时间"};

}  // namespace

const std::array<ParamField, 20>& paramColumn0() {
    return kColumn0;
}

const std::array<ParamField, 18>& paramColumn1() {
    return kColumn1;
}

QString paramCaption(int k) {
    for (const auto& f : kColumn0)
        if (f.k == k) return QString::fromUtf16(f.caption);
    for (const auto& f : kColumn1)
        if (f.k == k) return QString::fromUtf16(f.caption);
    return {};
}

bool hasParamField(int k) {
    return !paramCaption(k).isEmpty();
}

QString alarmSettingCaption(int k) {
    if (k < 0 || k >= 6) return {};
    return QString::fromUtf16(kAlarmSettingCaptions[k]);
}

LiveTexts liveTexts(const comm::InstrumentImage& img) {
    LiveTexts t;
    t.programStatus = instrument::programStatusTexts(img.InputRegsHigh);
    for (int k = 0; k < 8; ++k) {
        const float v = (k == 4 || k == 5) ? img.LiveValues[k] / 10.0f : img.LiveValues[k];
        t.liveValues[k] = base::floatText(v);
    }
    for (int k = 0; k < 2; ++k)
        t.outputs[k] = base::floatText(img.HoldingValues[k]);
    for (int k = 0; k < 6; ++k)
        t.states[k] = instrument::stateText(k, img.DiscreteBits[k]);
    t.liveValues[6] = instrument::alarmTypeText(0, img.LiveValues[6]);
    t.liveValues[7] = instrument::alarmTypeText(1, img.LiveValues[7]);
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
