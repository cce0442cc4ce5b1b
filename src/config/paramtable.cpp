#include "config/paramtable.h"

#include <cmath>

#include "base/listpick.h"
#include "base/numberrule.h"
#include "base/text.h"

namespace config {

namespace {

struct Lists {
    OptionList enable{{"0:禁止 ", "1:允许 "}, {"禁止", "使能"}};
    OptionList unit{{"0:摄氏度 ", "1:华氏度 ", "2:绝对温度K "}, {"摄氏度", "华氏度", "绝对温度"}};
    OptionList sensor{
        {"0:0V5", "1:1V5 ", "2:0V1 ", "3:0V2 ", "4:0MA10 ", "5:0MA20 ", "6:2MA10 ", "7:4MA20",
         "8:0MV20", "9:0MV100 ", "10:正负20毫伏 ", "11:正负100毫伏 ", "12:温湿度专用SHT10"},
        {"0V5", "1V5", "0V1", "0V2", "0MA10)", "0MA20", "2MA10", "4MA20", "0MV20", "0MV100",
         "正负20毫伏", "正负100毫伏", "温湿度专用SHT10"}};
    OptionList point{{"0:XXXX ", "1:XXX.X ", "2:XX.XX ", "3:X.XXX "},
                     {"8888", "888.8", "88.88", "8.888"}};
    OptionList openInput{{"0:断开 ", "1:闭合 "}, {"断开", "闭合"}};
    OptionList alarmMode{{"0:禁止 ", "1:上限 ", "2:下限 ", "3:上偏差 ", "4:下偏差 ", "5:偏差带 "},
                         {"禁止", "上限", "下限", "上偏差", "下偏差", "偏差带"}};
    OptionList alarmChannel{{"0:通道一 ", "1:通道二 "}, {"通道一报警", "通道二报警"}};
    OptionList baud{{"0:4800BPS ", "1:9600BPS ", "2:19200BPS "}, {"4800", "9600", "19200"}};
    OptionList parity{{"0:无校验 ", "1:奇校验 ", "2:偶校验 "}, {"无校验", "奇校验", "偶校验"}};
    OptionList range{{"0:4MA20 ", "1:0MA10 ", "2:0MA20 "}, {"4MA20", "0MA10", "0MA20"}};
    OptionList source{{"0:NONE ", "1:通道一变送 ", "2:通道二变送 "},
                      {"不变送", "通道一变送", "通道二变送"}};
};

const Lists& lists() {
    static const Lists l;
    return l;
}

enum Tab { INST, IN1, IN2, OUT1, OUT2, ALARM, COMM, RET1, RET2 };

std::vector<Param> buildTable() {
    const Lists& l = lists();
    const QString in1Hint =
        QStringLiteral("小数点位置，0-8888，1-888.8，2-88.88，3-8.888，默认值：无小数点");
    const QString upper = QStringLiteral("-1999~ 9999。默认值：5000");
    const QString lower = QStringLiteral("-1999~ 9999。默认值：0");
    const QString offset = QStringLiteral("-500~ 500。默认值：0");
    const QString hyst = QStringLiteral("0~ 2000。默认值：0");
    const QString delay = QStringLiteral("0~ 600。默认值：0");
    const QString protect = QStringLiteral("1~ 1000。默认值：1");
    const QString openHint = QStringLiteral("0-断开，1-闭合，默认：断开");
    const QString modeHint =
        QStringLiteral("0-5，0：无,1:上限，2：下限，3：上偏差，4：下偏差，5：偏差带。默认值：0");
    const QString rangeHint = QStringLiteral("0-(4-20MA),1-(0-10MA),2-(0-20MA). 默认值：0");
    const QString sourceHint = QStringLiteral("0-NONE，1-通道一，2-通道二 。Default=通道一");
    const Kind L = Kind::List, N = Kind::Number;
    const QString none;
    // clang-format off
    return {
        {INST, "程序曲线使能", 0, L, "Combo14", &l.enable, "0-无曲线，1-8段程序曲线，默认：无"},
        {INST, "上电报警免除", 1, L, "Combo15", &l.enable,
         "0-上电报警免除禁止，1-上电报警免除使能，默认上电报警免除禁止"},
        {INST, "数字滤波", 2, Kind::Filter, none, nullptr, "0.1-100秒，默认1秒"},
        {INST, "温度单位", 3, L, "Combo4", &l.unit, "0-摄氏度C，1-华氏度F， 2-绝对温度K。默认值：0"},
        {IN1, "输入传感器类型", 8, L, "Combo3", &l.sensor,
         "模拟线性输入12种，IIC温湿度传感器一种。默认值:0V5"},
        {IN1, "小数点位置", 9, L, "Combo10", &l.point, in1Hint},
        {IN1, "输入上限", 10, N, none, nullptr, upper},
        {IN1, "输入下限", 11, N, none, nullptr, lower},
        {IN1, "平移修正", 12, N, none, nullptr, offset},
        {IN2, "输入传感器类型", 16, L, "Combo1", &l.sensor,
         "模拟线性输入11种，IIC温湿度传感器一种。默认值:0V5"},
        {IN2, "小数点位置", 17, L, "Combo2", &l.point, in1Hint},
        {IN2, "输入上限", 18, N, none, nullptr, upper},
        {IN2, "输入下限", 19, N, none, nullptr, lower},
        {IN2, "平移修正", 20, N, none, nullptr, offset},
        {OUT1, "输出1动作回差", 24, N, none, nullptr, hyst},
        {OUT1, "输出1动作延迟", 25, N, none, nullptr, delay},
        {OUT1, "再动作保护时间", 26, N, none, nullptr, protect},
        {OUT1, "输入开路状态", 27, L, "Combo5", &l.openInput, openHint},
        {OUT2, "输出2动作回差", 28, N, none, nullptr, hyst},
        {OUT2, "输出2动作延迟", 29, N, none, nullptr, delay},
        {OUT2, "再动作保护时间", 30, N, none, nullptr, protect},
        {OUT2, "输入开路状态", 31, L, "Combo6", &l.openInput, openHint},
        {ALARM, "报警1方式", 32, L, "Combo27", &l.alarmMode, modeHint},
        {ALARM, "报警2方式", 33, L, "Combo28", &l.alarmMode, modeHint},
        {ALARM, "报警1作用通道", 34, L, "Combo29", &l.alarmChannel, "0-通道1报警，1-通道2报警。默认值：0"},
        {ALARM, "报警2作用通道", 35, L, "Combo7", &l.alarmChannel, "0-通道1报警，1-通道2报警。默认值：1"},
        {COMM, "通讯地址", 36, N, none, nullptr, "1-247。默认值：1"},
        {COMM, "通讯波特率", 37, L, "Combo8", &l.baud, "0-4800，1-9600，2-19200 。Default=1"},
        {COMM, "校验方式", 38, L, "Combo9", &l.parity, "0-无校验，1-奇校验，2-偶校验，Default=0"},
        {COMM, "通讯延迟时间", 39, N, none, nullptr, "0-60MS。默认值：0"},
        {RET1, "变送量程选择", 40, L, "Combo11", &l.range, rangeHint},
        {RET1, "变送参数选择", 41, L, "Combo12", &l.source, sourceHint},
        {RET1, "变送上限选择", 42, N, none, nullptr, upper},
        {RET1, "变送下限选择", 43, N, none, nullptr, lower},
        {RET2, "变送量程选择", 44, L, "Combo13", &l.range, rangeHint},
        {RET2, "变送参数选择", 45, L, "Combo16", &l.source, sourceHint},
        {RET2, "变送上限选择", 46, N, none, nullptr, upper},
        {RET2, "变送下限选择", 47, N, none, nullptr, lower},
    };
    // clang-format on
}

}  // namespace

const QStringList& tabCaptions() {
    static const QStringList tabs{"INST", "输入1", "输入2", "输出1", "输出2",
                                  "报警", "通讯",  "变送1", "变送2"};
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
    return QStringLiteral("0.1-100.0S。 数值越大响应越慢。默认值：1S");
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
