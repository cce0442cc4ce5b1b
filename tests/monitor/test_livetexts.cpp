// The live panel's texts and colours as a function of the instrument image.
#include <gtest/gtest.h>

#include <functional>

#include "monitor/livetexts.h"

using comm::InstrumentImage;
using monitor::liveTexts;

TEST(LiveTexts, AllZeroShowsEveryZeroForm) {
    const auto t = liveTexts(InstrumentImage{});
    EXPECT_EQ(t.programStatus[0], QString("停止  "));
    for (int k = 1; k < 9; ++k)
        EXPECT_EQ(t.programStatus[k], QString("0")) << k;
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(t.liveValues[k], QString("0")) << k;
    EXPECT_EQ(t.liveValues[6], QString("NONE  "));
    EXPECT_EQ(t.liveValues[7], QString("NONE "));
    EXPECT_EQ(t.outputs[0], QString("0"));
    EXPECT_EQ(t.outputs[1], QString("0"));
    const char* off[6] = {"控制1 OFF", "控制2 OFF ",  "ALM1 OFF",
                          "ALM2 OFF",  "传感器正常 ", "传感器正常 "};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(t.states[k].text, QString::fromUtf8(off[k])) << k;
        EXPECT_FALSE(t.states[k].active) << k;
    }
    int fields = 0;
    for (int k = 0; k < 48; ++k) {
        if (!monitor::hasParamField(k)) {
            EXPECT_TRUE(t.params[k].isEmpty()) << k;
            continue;
        }
        ++fields;
        EXPECT_EQ(t.params[k], QString("0")) << k;
    }
    EXPECT_EQ(fields, 38);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(t.alarmSettings[k], QString("0")) << k;
}

// One image change and the one field it must show.
struct FieldCase {
    const char* what;
    std::function<void(InstrumentImage&)> set;
    std::function<QString(const monitor::LiveTexts&)> field;
    const char* expected;
};

TEST(LiveTexts, FieldsFollowTheirRules) {
    using T = monitor::LiveTexts;
    const FieldCase cases[] = {
        {"state 1", [](auto& i) { i.InputRegsHigh[0] = 1; },
         [](const T& t) { return t.programStatus[0]; }, "运行"},
        {"state 3", [](auto& i) { i.InputRegsHigh[0] = 3; },
         [](const T& t) { return t.programStatus[0]; }, "结束"},
        {"state 7", [](auto& i) { i.InputRegsHigh[0] = 7; },
         [](const T& t) { return t.programStatus[0]; }, "7"},
        {"state -1", [](auto& i) { i.InputRegsHigh[0] = -1; },
         [](const T& t) { return t.programStatus[0]; }, "-1"},
        {"segment", [](auto& i) { i.InputRegsHigh[5] = 3; },
         [](const T& t) { return t.programStatus[5]; }, "3"},
        {"cycles", [](auto& i) { i.InputRegsHigh[8] = -32768; },
         [](const T& t) { return t.programStatus[8]; }, "-32768"},
        {"PV1", [](auto& i) { i.LiveValues[0] = -5; }, [](const T& t) { return t.liveValues[0]; },
         "-5"},
        {"SV2", [](auto& i) { i.LiveValues[3] = 65535; },
         [](const T& t) { return t.liveValues[3]; }, "65535"},
        {"retrans 1 tenths", [](auto& i) { i.LiveValues[4] = 456; },
         [](const T& t) { return t.liveValues[4]; }, "45.6"},
        {"retrans 1 whole", [](auto& i) { i.LiveValues[4] = 450; },
         [](const T& t) { return t.liveValues[4]; }, "45"},
        {"retrans 2 negative", [](auto& i) { i.LiveValues[5] = -5; },
         [](const T& t) { return t.liveValues[5]; }, "-0.5"},
        {"alarm 1 type 3", [](auto& i) { i.LiveValues[6] = 3; },
         [](const T& t) { return t.liveValues[6]; }, "上偏差报警"},
        {"alarm 1 type 9", [](auto& i) { i.LiveValues[6] = 9; },
         [](const T& t) { return t.liveValues[6]; }, "9"},
        {"alarm 1 type -1", [](auto& i) { i.LiveValues[6] = -1; },
         [](const T& t) { return t.liveValues[6]; }, "-1"},
        {"alarm 2 type 1", [](auto& i) { i.LiveValues[7] = 1; },
         [](const T& t) { return t.liveValues[7]; }, "上限报警"},
        {"alarm 2 type 5", [](auto& i) { i.LiveValues[7] = 5; },
         [](const T& t) { return t.liveValues[7]; }, "偏差带报警"},
        {"alarm 2 type 6", [](auto& i) { i.LiveValues[7] = 6; },
         [](const T& t) { return t.liveValues[7]; }, "6"},
        {"alarm 2 type 2.5", [](auto& i) { i.LiveValues[7] = 2.5f; },
         [](const T& t) { return t.liveValues[7]; }, "2.5"},
        {"SV1 setting", [](auto& i) { i.HoldingValues[0] = 350; },
         [](const T& t) { return t.outputs[0]; }, "350"},
        {"SV2 setting", [](auto& i) { i.HoldingValues[1] = -1999; },
         [](const T& t) { return t.outputs[1]; }, "-1999"},
        {"filter tenths", [](auto& i) { i.ParamValues[2] = 5; },
         [](const T& t) { return t.params[2]; }, "0.5"},
        {"input 1 upper", [](auto& i) { i.ParamValues[10] = 456; },
         [](const T& t) { return t.params[10]; }, "456"},
        {"last parameter", [](auto& i) { i.ParamValues[47] = -1; },
         [](const T& t) { return t.params[47]; }, "-1"},
        {"no field for 5", [](auto& i) { i.ParamValues[5] = 7; },
         [](const T& t) { return t.params[5]; }, ""},
        {"alarm setting", [](auto& i) { i.HoldingRegs257[2] = -5; },
         [](const T& t) { return t.alarmSettings[2]; }, "-5"},
        {"alarm setting 6 not shown", [](auto& i) { i.HoldingRegs257[6] = 9; },
         [](const T& t) { return t.alarmSettings[5]; }, "0"},
    };
    for (const auto& c : cases) {
        InstrumentImage img;
        c.set(img);
        EXPECT_EQ(c.field(liveTexts(img)), QString::fromUtf8(c.expected)) << c.what;
    }
}

TEST(LiveTexts, AnyNonZeroFlagIsOnWithTheActiveColour) {
    const char* on[6] = {"控制1 ON",  "控制2 ON",    "ALM1报警",
                         "ALM2 报警", "传感器1开路", "传感器2开路"};
    for (int32_t flag : {1, 2, -1, 100}) {
        for (int k = 0; k < 6; ++k) {
            InstrumentImage img;
            img.DiscreteBits[k] = flag;
            const auto t = liveTexts(img);
            EXPECT_EQ(t.states[k].text, QString::fromUtf8(on[k])) << k << " " << flag;
            EXPECT_TRUE(t.states[k].active) << k << " " << flag;
            // Only that one state changes.
            for (int j = 0; j < 6; ++j)
                EXPECT_EQ(t.states[j].active, j == k) << k << " " << j;
        }
    }
    // The alarm type never colours anything; the flags alone do.
    InstrumentImage img;
    img.LiveValues[6] = 1;
    EXPECT_FALSE(liveTexts(img).states[2].active);
}

TEST(LiveTexts, ParameterColumns) {
    const auto& c0 = monitor::paramColumn0();
    const auto& c1 = monitor::paramColumn1();
    for (size_t i = 0; i < c0.size(); ++i) {
        EXPECT_LE(c0[i].k, 29);
        if (i) {
            EXPECT_LT(c0[i - 1].k, c0[i].k);
        }
    }
    for (size_t i = 0; i < c1.size(); ++i)
        EXPECT_EQ(c1[i].k, 30 + static_cast<int>(i));
    for (int k : {4, 5, 6, 7, 13, 14, 15, 21, 22, 23, -1, 48})
        EXPECT_FALSE(monitor::hasParamField(k)) << k;
    EXPECT_EQ(monitor::paramCaption(27), QString("输人1开路状态"));
    EXPECT_EQ(monitor::paramCaption(31), QString("输入2开路状态"));
    EXPECT_EQ(monitor::paramCaption(9), monitor::paramCaption(17));
}

TEST(LiveTexts, ProgramStatusForTheProgramWindow) {
    std::array<int32_t, 21> regs{};
    regs[0] = 2;
    regs[6] = 120;
    const auto t = instrument::programStatusTexts(regs);
    EXPECT_EQ(t[0], QString("暂停"));
    EXPECT_EQ(t[6], QString("120"));
    EXPECT_EQ(t[1], QString("0"));
}
