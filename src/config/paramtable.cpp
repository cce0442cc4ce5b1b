#include "config/paramtable.h"

#include <cmath>

#include "base/listpick.h"
#include "base/numberrule.h"
#include "base/text.h"

namespace config {

namespace {

struct Lists {
    OptionList enable{
        {QT_TRANSLATE_NOOP("velmars", "0:禁止 "), QT_TRANSLATE_NOOP("velmars", "1:允许 ")},
        {QT_TRANSLATE_NOOP("velmars", "禁止"), QT_TRANSLATE_NOOP("velmars", "使能")}};
    OptionList unit{
        {QT_TRANSLATE_NOOP("velmars", "0:摄氏度 "), QT_TRANSLATE_NOOP("velmars", "1:华氏度 "),
         QT_TRANSLATE_NOOP("velmars", "2:绝对温度K ")},
        {QT_TRANSLATE_NOOP("velmars", "摄氏度"), QT_TRANSLATE_NOOP("velmars", "华氏度"),
         QT_TRANSLATE_NOOP("velmars", "绝对温度")}};
    OptionList sensor{
        {"0:0V5", "1:1V5 ", "2:0V1 ", "3:0V2 ", "4:0MA10 ", "5:0MA20 ", "6:2MA10 ", "7:4MA20",
         "8:0MV20", "9:0MV100 ", QT_TRANSLATE_NOOP("velmars", "10:正负20毫伏 "),
         QT_TRANSLATE_NOOP("velmars", "11:正负100毫伏 "),
         QT_TRANSLATE_NOOP("velmars", "12:温湿度专用SHT10")},
        {"0V5", "1V5", "0V1", "0V2", "0MA10)", "0MA20", "2MA10", "4MA20", "0MV20", "0MV100",
         QT_TRANSLATE_NOOP("velmars", "正负20毫伏"), QT_TRANSLATE_NOOP("velmars", "正负100毫伏"),
         QT_TRANSLATE_NOOP("velmars", "温湿度专用SHT10")}};
    OptionList point{{"0:XXXX ", "1:XXX.X ", "2:XX.XX ", "3:X.XXX "},
                     {"8888", "888.8", "88.88", "8.888"}};
    OptionList openInput{
        {QT_TRANSLATE_NOOP("velmars", "0:断开 "), QT_TRANSLATE_NOOP("velmars", "1:闭合 ")},
        {QT_TRANSLATE_NOOP("velmars", "断开"), QT_TRANSLATE_NOOP("velmars", "闭合")}};
    OptionList alarmMode{
        {QT_TRANSLATE_NOOP("velmars", "0:禁止 "), QT_TRANSLATE_NOOP("velmars", "1:上限 "),
         QT_TRANSLATE_NOOP("velmars", "2:下限 "), QT_TRANSLATE_NOOP("velmars", "3:上偏差 "),
         QT_TRANSLATE_NOOP("velmars", "4:下偏差 "), QT_TRANSLATE_NOOP("velmars", "5:偏差带 ")},
        {QT_TRANSLATE_NOOP("velmars", "禁止"), QT_TRANSLATE_NOOP("velmars", "上限"),
         QT_TRANSLATE_NOOP("velmars", "下限"), QT_TRANSLATE_NOOP("velmars", "上偏差"),
         QT_TRANSLATE_NOOP("velmars", "下偏差"), QT_TRANSLATE_NOOP("velmars", "偏差带")}};
    OptionList alarmChannel{
        {QT_TRANSLATE_NOOP("velmars", "0:通道一 "), QT_TRANSLATE_NOOP("velmars", "1:通道二 ")},
        {QT_TRANSLATE_NOOP("velmars", "通道一报警"), QT_TRANSLATE_NOOP("velmars", "通道二报警")}};
    OptionList baud{{"0:4800BPS ", "1:9600BPS ", "2:19200BPS "}, {"4800", "9600", "19200"}};
    OptionList parity{
        {QT_TRANSLATE_NOOP("velmars", "0:无校验 "), QT_TRANSLATE_NOOP("velmars", "1:奇校验 "),
         QT_TRANSLATE_NOOP("velmars", "2:偶校验 ")},
        {QT_TRANSLATE_NOOP("velmars", "无校验"), QT_TRANSLATE_NOOP("velmars", "奇校验"),
         QT_TRANSLATE_NOOP("velmars", "偶校验")}};
    OptionList range{{"0:4MA20 ", "1:0MA10 ", "2:0MA20 "}, {"4MA20", "0MA10", "0MA20"}};
    OptionList source{
        {"0:NONE ", QT_TRANSLATE_NOOP("velmars", "1:通道一变送 "),
         QT_TRANSLATE_NOOP("velmars", "2:通道二变送 ")},
        {QT_TRANSLATE_NOOP("velmars", "不变送"), QT_TRANSLATE_NOOP("velmars", "通道一变送"),
         QT_TRANSLATE_NOOP("velmars", "通道二变送")}};
};

const Lists& lists() {
    static const Lists l;
    return l;
}

enum Tab { INST, IN1, IN2, OUT1, OUT2, ALARM, COMM, RET1, RET2 };

std::vector<Param> buildTable() {
    const Lists& l = lists();
    const QString in1Hint = QStringLiteral(QT_TRANSLATE_NOOP(
        "velmars", "小数点位置，0-8888，1-888.8，2-88.88，3-8.888，默认值：无小数点"));
    const QString upper = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "-1999~ 9999。默认值：5000"));
    const QString lower = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "-1999~ 9999。默认值：0"));
    const QString offset = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "-500~ 500。默认值：0"));
    const QString hyst = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "0~ 2000。默认值：0"));
    const QString delay = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "0~ 600。默认值：0"));
    const QString protect = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "1~ 1000。默认值：1"));
    const QString openHint =
        QStringLiteral(QT_TRANSLATE_NOOP("velmars", "0-断开，1-闭合，默认：断开"));
    const QString modeHint = QStringLiteral(QT_TRANSLATE_NOOP(
        "velmars", "0-5，0：无,1:上限，2：下限，3：上偏差，4：下偏差，5：偏差带。默认值：0"));
    const QString rangeHint =
        QStringLiteral(QT_TRANSLATE_NOOP("velmars", "0-(4-20MA),1-(0-10MA),2-(0-20MA). 默认值：0"));
    const QString sourceHint =
        QStringLiteral(QT_TRANSLATE_NOOP("velmars", "0-NONE，1-通道一，2-通道二 。Default=通道一"));
    const Kind L = Kind::List, N = Kind::Number;
    const QString none;
    // clang-format off
    return {
        {INST, QT_TRANSLATE_NOOP("velmars", "程序曲线使能"), 0, L, "Combo14", &l.enable, QT_TRANSLATE_NOOP("velmars", "0-无曲线，1-8段程序曲线，默认：无")},
        {INST, QT_TRANSLATE_NOOP("velmars", "上电报警免除"), 1, L, "Combo15", &l.enable,
         QT_TRANSLATE_NOOP("velmars", "0-上电报警免除禁止，1-上电报警免除使能，默认上电报警免除禁止")},
        {INST, QT_TRANSLATE_NOOP("velmars", "数字滤波"), 2, Kind::Filter, none, nullptr, QT_TRANSLATE_NOOP("velmars", "0.1-100秒，默认1秒")},
        {INST, QT_TRANSLATE_NOOP("velmars", "温度单位"), 3, L, "Combo4", &l.unit, QT_TRANSLATE_NOOP("velmars", "0-摄氏度C，1-华氏度F， 2-绝对温度K。默认值：0")},
        {IN1, QT_TRANSLATE_NOOP("velmars", "输入传感器类型"), 8, L, "Combo3", &l.sensor,
         QT_TRANSLATE_NOOP("velmars", "模拟线性输入12种，IIC温湿度传感器一种。默认值:0V5")},
        {IN1, QT_TRANSLATE_NOOP("velmars", "小数点位置"), 9, L, "Combo10", &l.point, in1Hint},
        {IN1, QT_TRANSLATE_NOOP("velmars", "输入上限"), 10, N, none, nullptr, upper},
        {IN1, QT_TRANSLATE_NOOP("velmars", "输入下限"), 11, N, none, nullptr, lower},
        {IN1, QT_TRANSLATE_NOOP("velmars", "平移修正"), 12, N, none, nullptr, offset},
        {IN2, QT_TRANSLATE_NOOP("velmars", "输入传感器类型"), 16, L, "Combo1", &l.sensor,
         QT_TRANSLATE_NOOP("velmars", "模拟线性输入11种，IIC温湿度传感器一种。默认值:0V5")},
        {IN2, QT_TRANSLATE_NOOP("velmars", "小数点位置"), 17, L, "Combo2", &l.point, in1Hint},
        {IN2, QT_TRANSLATE_NOOP("velmars", "输入上限"), 18, N, none, nullptr, upper},
        {IN2, QT_TRANSLATE_NOOP("velmars", "输入下限"), 19, N, none, nullptr, lower},
        {IN2, QT_TRANSLATE_NOOP("velmars", "平移修正"), 20, N, none, nullptr, offset},
        {OUT1, QT_TRANSLATE_NOOP("velmars", "输出1动作回差"), 24, N, none, nullptr, hyst},
        {OUT1, QT_TRANSLATE_NOOP("velmars", "输出1动作延迟"), 25, N, none, nullptr, delay},
        {OUT1, QT_TRANSLATE_NOOP("velmars", "再动作保护时间"), 26, N, none, nullptr, protect},
        {OUT1, QT_TRANSLATE_NOOP("velmars", "输入开路状态"), 27, L, "Combo5", &l.openInput, openHint},
        {OUT2, QT_TRANSLATE_NOOP("velmars", "输出2动作回差"), 28, N, none, nullptr, hyst},
        {OUT2, QT_TRANSLATE_NOOP("velmars", "输出2动作延迟"), 29, N, none, nullptr, delay},
        {OUT2, QT_TRANSLATE_NOOP("velmars", "再动作保护时间"), 30, N, none, nullptr, protect},
        {OUT2, QT_TRANSLATE_NOOP("velmars", "输入开路状态"), 31, L, "Combo6", &l.openInput, openHint},
        {ALARM, QT_TRANSLATE_NOOP("velmars", "报警1方式"), 32, L, "Combo27", &l.alarmMode, modeHint},
        {ALARM, QT_TRANSLATE_NOOP("velmars", "报警2方式"), 33, L, "Combo28", &l.alarmMode, modeHint},
        {ALARM, QT_TRANSLATE_NOOP("velmars", "报警1作用通道"), 34, L, "Combo29", &l.alarmChannel, QT_TRANSLATE_NOOP("velmars", "0-通道1报警，1-通道2报警。默认值：0")},
        {ALARM, QT_TRANSLATE_NOOP("velmars", "报警2作用通道"), 35, L, "Combo7", &l.alarmChannel, QT_TRANSLATE_NOOP("velmars", "0-通道1报警，1-通道2报警。默认值：1")},
        {COMM, QT_TRANSLATE_NOOP("velmars", "通讯地址"), 36, N, none, nullptr, QT_TRANSLATE_NOOP("velmars", "1-247。默认值：1")},
        {COMM, QT_TRANSLATE_NOOP("velmars", "通讯波特率"), 37, L, "Combo8", &l.baud, QT_TRANSLATE_NOOP("velmars", "0-4800，1-9600，2-19200 。Default=1")},
        {COMM, QT_TRANSLATE_NOOP("velmars", "校验方式"), 38, L, "Combo9", &l.parity, QT_TRANSLATE_NOOP("velmars", "0-无校验，1-奇校验，2-偶校验，Default=0")},
        {COMM, QT_TRANSLATE_NOOP("velmars", "通讯延迟时间"), 39, N, none, nullptr, QT_TRANSLATE_NOOP("velmars", "0-60MS。默认值：0")},
        {RET1, QT_TRANSLATE_NOOP("velmars", "变送量程选择"), 40, L, "Combo11", &l.range, rangeHint},
        {RET1, QT_TRANSLATE_NOOP("velmars", "变送参数选择"), 41, L, "Combo12", &l.source, sourceHint},
        {RET1, QT_TRANSLATE_NOOP("velmars", "变送上限选择"), 42, N, none, nullptr, upper},
        {RET1, QT_TRANSLATE_NOOP("velmars", "变送下限选择"), 43, N, none, nullptr, lower},
        {RET2, QT_TRANSLATE_NOOP("velmars", "变送量程选择"), 44, L, "Combo13", &l.range, rangeHint},
        {RET2, QT_TRANSLATE_NOOP("velmars", "变送参数选择"), 45, L, "Combo16", &l.source, sourceHint},
        {RET2, QT_TRANSLATE_NOOP("velmars", "变送上限选择"), 46, N, none, nullptr, upper},
        {RET2, QT_TRANSLATE_NOOP("velmars", "变送下限选择"), 47, N, none, nullptr, lower},
    };
    // clang-format on
}

}  // namespace

const QStringList& tabCaptions() {
    static const QStringList tabs{"INST",
                                  QT_TRANSLATE_NOOP("velmars", "输入1"),
                                  QT_TRANSLATE_NOOP("velmars", "输入2"),
                                  QT_TRANSLATE_NOOP("velmars", "输出1"),
                                  QT_TRANSLATE_NOOP("velmars", "输出2"),
                                  QT_TRANSLATE_NOOP("velmars", "报警"),
                                  QT_TRANSLATE_NOOP("velmars", "通讯"),
                                  QT_TRANSLATE_NOOP("velmars", "变送1"),
                                  QT_TRANSLATE_NOOP("velmars", "变送2")};
    return tabs;
}

const std::vector<Param>& parameterTable() {
    static const std::vector<Param> table = buildTable();
    return table;
}

const Param* paramAt(int k) {
    for (const Param& p : parameterTable())
        if (p.k == k) return &p;
    return nullptr;
}

QString instExtraHint() {
    return QStringLiteral(
        QT_TRANSLATE_NOOP("velmars", "0.1-100.0S。 数值越大响应越慢。默认值：1S"));
}

QString editorName(const Param& p) {
    return p.kind == Kind::List ? p.listName : QStringLiteral("T_3RW_%1").arg(p.k);
}

QString accessibleName(const Param& p) {
    int sameCaption = 0;
    for (const Param& q : parameterTable())
        if (q.caption == p.caption) ++sameCaption;
    if (sameCaption > 1) return tabCaptions().at(p.tab) + u' ' + p.caption;
    return p.caption;
}

std::optional<QString> readbackText(const Param& p, float value) {
    switch (p.kind) {
        case Kind::List: {
            // Exact comparison with each code in turn; anything else (NaN included) matches none.
            const QStringList& texts = p.options->readback;
            for (qsizetype code = 0; code < texts.size(); ++code)
                if (value == static_cast<float>(code)) return texts.at(code);
            return std::nullopt;
        }
        case Kind::Number:
            return base::floatText(value);
        case Kind::Filter:
            return base::floatText(value / 10.0f);
    }
    return std::nullopt;
}

std::optional<int> listEntryFor(const Param& p, float value) {
    if (p.kind != Kind::List) return std::nullopt;
    for (qsizetype code = 0; code < p.options->entries.size(); ++code)
        if (value == static_cast<float>(code)) return static_cast<int>(code);
    return std::nullopt;
}

std::optional<int32_t> listCode(const Param& p, const QString& shown) {
    if (p.kind != Kind::List) return std::nullopt;
    const std::optional<int> pos = base::listPosition(p.options->entries, shown);
    if (!pos) return std::nullopt;
    return *pos;
}

base::RegisterReading textValue(int k, const QString& text) {
    const base::NumberReading n = base::wholeNumber(text, true);
    if (!n.value) return {std::nullopt, n.reason};
    double v = *n.value;
    if (k == 2) v *= 10.0;
    // Kept as a single-precision number, as the instrument's own software does, then rounded.
    const std::optional<int32_t> rounded = base::roundToInt32(static_cast<float>(v));
    if (!rounded || !base::fitsRegister(*rounded))
        return {std::nullopt, QString::fromUtf8(base::kReasonOutOfRegister)};
    return {rounded, {}};
}

}  // namespace config
