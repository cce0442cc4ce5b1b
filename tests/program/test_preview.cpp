#include <gtest/gtest.h>

#include <cmath>

#include "program/preview.h"
#include "program/programrules.h"

using namespace program;

namespace {

// TxtB texts for up to eight segments of {SV1, SV2, time}.
QStringList entries(std::initializer_list<std::array<const char*, 3>> segments) {
    QStringList t;
    for (int i = 0; i < kSegmentEntryCount; ++i)
        t << QString();
    int k = 1;
    for (const auto& s : segments) {
        for (int f = 0; f < 3; ++f)
            t[segmentEntryIndex(k, f)] = QString::fromUtf8(s[f]);
        ++k;
    }
    return t;
}

ProgramCurve curveOf(const QStringList& texts) {
    ProgramCurve c;
    takeSegmentEntries(c, texts);
    return c;
}

}  // namespace

TEST(Preview, AllTimesZero) {
    const PreviewGeometry g = previewGeometry(curveOf(entries({{"100", "50", "0"}})));
    EXPECT_EQ(g.timeStep, 1);
    EXPECT_FLOAT_EQ(g.timeScale, 1000.0f);
    for (int i = 0; i < kTimeLabels; ++i)
        EXPECT_EQ(g.timeLabels[i], QString::number(i));
    for (const ChartLine& b : g.boundaries)
        EXPECT_EQ(b, (ChartLine{0, 0, 0, 9000}));
}

TEST(Preview, TimesSummingTo150) {
    const PreviewGeometry g = previewGeometry(
        curveOf(entries({{"0", "0", "20"}, {"0", "0", "30"}, {"0", "0", "40"}, {"0", "0", "60"}})));
    EXPECT_EQ(g.timeStep, 11);
    EXPECT_FLOAT_EQ(g.timeScale, 15000.0f / 165.0f);
    EXPECT_EQ(g.timeLabels[0], QStringLiteral("0"));
    EXPECT_EQ(g.timeLabels[1], QStringLiteral("11"));
    EXPECT_EQ(g.timeLabels[15], QStringLiteral("165"));
    // Boundaries at the cumulative times; the last ones stay at the end of segment 4.
    EXPECT_DOUBLE_EQ(g.boundaries[0].x1, 1818);  // 20 * 90.909
    EXPECT_DOUBLE_EQ(g.boundaries[3].x1, 13636);
    EXPECT_DOUBLE_EQ(g.boundaries[7].x1, 13636);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[1].x1, 1818);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[1].x2, 4545);
}

TEST(Preview, ValueAxisSpansBothCurves) {
    // SV1 between 100 and 800, SV2 between 50 and 300: the axis takes 50..800, so no point of
    // either curve falls below the bottom edge.
    ProgramCurve c = curveOf(entries({{"100", "50", "10"},
                                      {"800", "300", "10"},
                                      {"400", "200", "10"},
                                      {"100", "50", "10"},
                                      {"100", "50", "10"},
                                      {"100", "50", "10"},
                                      {"100", "50", "10"},
                                      {"100", "50", "10"}}));
    const PreviewGeometry g = previewGeometry(c);
    EXPECT_EQ(g.valueMin, 50);
    EXPECT_EQ(g.valueMax, 800);
    EXPECT_EQ(g.valueRange, 750);
    EXPECT_EQ(g.minText, QStringLiteral("50"));
    EXPECT_EQ(g.maxText, QStringLiteral("800"));
    EXPECT_FLOAT_EQ(g.valueStep, 100.0f);
    EXPECT_EQ(g.stepText, QStringLiteral("100"));
    EXPECT_EQ(g.valueLabels[0], QStringLiteral("00050"));
    EXPECT_EQ(g.valueLabels[9], QStringLiteral("00950"));
    EXPECT_FLOAT_EQ(g.valueScale, 10.0f);
    for (int k = 1; k < 8; ++k) {
        for (const ChartLine& l : {g.sv1Ramps[k], g.sv2Ramps[k]}) {
            EXPECT_LE(l.y1, kChartHeight);
            EXPECT_GE(l.y1, kChartHeight - 7500);
        }
    }
    // The minimum lies on the bottom edge, the maximum 7500 units above it.
    EXPECT_DOUBLE_EQ(g.sv2Ramps[0].y2, kChartHeight);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[1].y2, kChartHeight - 7500);
}

TEST(Preview, ZeroRangeStaysDrawable) {
    ProgramCurve c;
    for (int k = 1; k <= 8; ++k)
        c.sv1[k] = c.sv2[k] = 500;
    c.sv1[0] = 25;
    const PreviewGeometry g = previewGeometry(c);
    EXPECT_EQ(g.valueRange, 0);
    EXPECT_EQ(g.valueScale, 0.0f);
    EXPECT_EQ(g.valueLabels[9], QStringLiteral("00500"));
    for (const ChartLine& l : g.sv1Ramps) {
        EXPECT_TRUE(std::isfinite(l.y1) && std::isfinite(l.y2) && std::isfinite(l.x2));
        EXPECT_DOUBLE_EQ(l.y2, kChartHeight);
    }
}

TEST(Preview, NarrowRangeFarFromZeroKeepsItsOffset) {
    // Minimum 1000 with a range of 50: the offset (1000 * 150) is larger than 16 bits and must
    // still place the minimum on the bottom edge.
    ProgramCurve c;
    for (int k = 1; k <= 8; ++k)
        c.sv1[k] = c.sv2[k] = 1000;
    c.sv1[2] = 1050;
    const PreviewGeometry g = previewGeometry(c);
    EXPECT_EQ(g.valueOffset, 150000);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[0].y2, kChartHeight);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[1].y2, kChartHeight - 7500);
}

TEST(Preview, StartPointsFromPvOrSv) {
    ProgramCurve c = curveOf(entries({{"300", "60", "10"}, {"300", "60", "10"}}));
    takeStartPoints(c, 0, 21.4f, 45.5f, 250.0f, 70.0f);
    EXPECT_EQ(c.sv1[0], 21);
    EXPECT_EQ(c.sv2[0], 46);  // half to even: 45.5 -> 46
    takeStartPoints(c, 1, 21.4f, 45.5f, 250.0f, 70.0f);
    EXPECT_EQ(c.sv1[0], 250);
    EXPECT_EQ(c.sv2[0], 70);
    // The first ramp starts at the start point in the same drawing.
    const PreviewGeometry g = previewGeometry(c);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[0].x1, 0);
    const double y250 = kChartHeight + double(g.valueOffset) - std::round(250 * g.valueScale);
    EXPECT_DOUBLE_EQ(g.sv1Ramps[0].y1, y250);
    // Any other non-zero setting counts as the set value; a value out of 16 bits keeps the last.
    takeStartPoints(c, 7, 0, 0, 1e9f, 12.0f);
    EXPECT_EQ(c.sv1[0], 250);
    EXPECT_EQ(c.sv2[0], 12);
}

TEST(Preview, EntriesThatDoNotFitKeepThePreviousValue) {
    ProgramCurve c = curveOf(entries({{"300", "60", "10"}}));
    takeSegmentEntries(c, entries({{"40000", "-70000", "1e10"}}));
    EXPECT_EQ(c.sv1[1], 300);
    EXPECT_EQ(c.sv2[1], 60);
    EXPECT_EQ(c.time[1], 10);
    takeSegmentEntries(c, QStringList{});  // no boxes at all
    EXPECT_EQ(c.sv1[1], 300);
    takeSegmentEntries(c, entries({{"12__", "____", "0005"}}));
    EXPECT_EQ(c.sv1[1], 12);
    EXPECT_EQ(c.sv2[1], 0);
    EXPECT_EQ(c.time[1], 5);
}

TEST(Preview, NegativeOrHugeTimesStayDrawable) {
    ProgramCurve c;
    c.time[1] = -100;
    PreviewGeometry g = previewGeometry(c);
    EXPECT_EQ(g.timeStep, 1);
    for (int k = 1; k <= 8; ++k)
        c.time[k] = INT32_MAX;
    g = previewGeometry(c);
    EXPECT_EQ(g.timeStep, int64_t(INT32_MAX) * 8 / 15 + 1);
    EXPECT_NEAR(g.boundaries[7].x1, 15000, 1);
}
