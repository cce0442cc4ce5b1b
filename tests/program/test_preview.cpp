#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <optional>

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

// Eight segments {SV1, SV2, time}: the first ones as given, the others as `rest`.
ProgramCurve curve(std::initializer_list<std::array<int32_t, 3>> first,
                   std::array<int32_t, 3> rest = {}, std::array<int16_t, 2> start = {}) {
    ProgramCurve c;
    c.sv1[0] = start[0];
    c.sv2[0] = start[1];
    for (int k = 1; k < kCurvePoints; ++k) {
        const auto& s = k <= int(first.size()) ? first.begin()[k - 1] : rest;
        c.sv1[k] = int16_t(s[0]);
        c.sv2[k] = int16_t(s[1]);
        c.time[k] = s[2];
    }
    return c;
}

struct GeometryCase {
    const char* name;
    ProgramCurve curve;
    int64_t timeStep;
    std::optional<std::array<double, 2>> boundaries;  // the first and the last one's x
    int32_t valueMin, valueMax;
    const char* topLabel;  // the value axis's highest number
};

}  // namespace

// What every drawing keeps, whatever the inputs: sixteen time numbers that fit the total, ramps
// that join at the segment boundaries, the lowest segment value on the bottom edge and the highest
// 7500 units above it (all on the bottom edge for a zero range), the start point on the same scale,
// and no coordinate that is not a number.
TEST(Preview, Geometry) {
    // clang-format off
    const GeometryCase cases[] = {
        {"all times zero", curve({{100, 50, 0}}), 1, {{0, 0}}, 0, 100, "00120"},
        {"times summing to 150", curve({{0, 0, 20}, {0, 0, 30}, {0, 0, 40}, {0, 0, 60}}),
         11, {{1818, 13636}}, 0, 0, "00000"},
        // The axis spans both curves: SV1 100..800, SV2 50..300.
        {"both curves", curve({{100, 50, 10}, {800, 300, 10}, {400, 200, 10}}, {100, 50, 10},
         {250, 70}), 6, {{1667, 13333}}, 50, 800, "00950"},
        {"zero range", curve({}, {500, 500, 0}, {25, 0}), 1, {{0, 0}}, 500, 500, "00500"},
        // Minimum 1000 with a range of 50: the offset (1000 * 150) does not fit 16 bits.
        {"narrow range far from zero", curve({{1000, 1000, 0}, {1050, 1000, 0}}, {1000, 1000, 0}),
         1, {{0, 0}}, 1000, 1050, "01060"},
        {"negative time", curve({{0, 0, -100}}), 1, std::nullopt, 0, 0, "00000"},
        {"huge times", curve({}, {0, 0, INT32_MAX}), int64_t(INT32_MAX) * 8 / 15 + 1,
         {{1875, 15000}}, 0, 0, "00000"},
    };
    // clang-format on
    for (const GeometryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PreviewGeometry g = previewGeometry(c.curve);
        EXPECT_EQ(g.timeStep, c.timeStep);
        EXPECT_FLOAT_EQ(g.timeScale, float(1000.0 / double(c.timeStep)));
        for (int i = 0; i < kTimeLabels; ++i)
            EXPECT_EQ(g.timeLabels[i], QString::number(i * c.timeStep)) << i;
        if (c.boundaries) {
            EXPECT_NEAR(g.boundaries[0].x1, (*c.boundaries)[0], 1);
            EXPECT_NEAR(g.boundaries[7].x1, (*c.boundaries)[1], 1);
        }

        EXPECT_EQ(g.valueMin, c.valueMin);
        EXPECT_EQ(g.valueMax, c.valueMax);
        EXPECT_EQ(g.valueRange, c.valueMax - c.valueMin);
        EXPECT_EQ(g.minText, QString::number(c.valueMin));
        EXPECT_EQ(g.maxText, QString::number(c.valueMax));
        EXPECT_EQ(g.valueLabels[0], axisNumberText(c.valueMin));
        EXPECT_EQ(g.valueLabels[9], QString::fromUtf8(c.topLabel));
        const double range = c.valueMax - c.valueMin;
        auto level = [&](int v) {
            return range > 0 ? kChartHeight - (v - c.valueMin) * 7500.0 / range : kChartHeight;
        };
        for (int k = 0; k < 8; ++k) {
            SCOPED_TRACE(k);
            const ChartLine& b = g.boundaries[k];
            EXPECT_TRUE(b.x1 == b.x2 && b.y1 == 0 && b.y2 == 9000);
            for (const auto& [ramp, sv] :
                 {std::pair{g.sv1Ramps[k], c.curve.sv1}, std::pair{g.sv2Ramps[k], c.curve.sv2}}) {
                EXPECT_TRUE(std::isfinite(ramp.x1) && std::isfinite(ramp.y1) &&
                            std::isfinite(ramp.x2) && std::isfinite(ramp.y2));
                EXPECT_EQ(ramp.x1, k ? g.boundaries[k - 1].x1 : 0);
                EXPECT_EQ(ramp.x2, b.x1);
                EXPECT_NEAR(ramp.y1, level(sv[k]), 1);
                EXPECT_NEAR(ramp.y2, level(sv[k + 1]), 1);
            }
        }
    }
}

// The entries and live values the drawing is made from: a text or value that does not fit keeps
// what was there before.
TEST(Preview, TakingEntriesAndStartPoints) {
    struct Case {
        const char* name;
        std::function<void(ProgramCurve&)> take;
        std::array<int, 5> expected;  // start SV1 and SV2; segment 1's SV1, SV2 and time
    };
    // clang-format off
    const Case cases[] = {
        {"start from the measured values, half to even",
         [](ProgramCurve& c) { takeStartPoints(c, 0, 21.4f, 45.5f, 250.0f, 70.0f); },
         {21, 46, 300, 60, 10}},
        {"start from the set values",
         [](ProgramCurve& c) { takeStartPoints(c, 1, 21.4f, 45.5f, 250.0f, 70.0f); },
         {250, 70, 300, 60, 10}},
        {"any setting but 0 takes the set values; beyond 16 bits keeps the last",
         [](ProgramCurve& c) { takeStartPoints(c, 7, 0, 0, 1e9f, 12.0f); }, {5, 12, 300, 60, 10}},
        {"entries that do not fit",
         [](ProgramCurve& c) { takeSegmentEntries(c, entries({{"40000", "-70000", "1e10"}})); },
         {5, 6, 300, 60, 10}},
        {"no entries at all", [](ProgramCurve& c) { takeSegmentEntries(c, {}); },
         {5, 6, 300, 60, 10}},
        {"the leading number of each entry",
         [](ProgramCurve& c) { takeSegmentEntries(c, entries({{"12__", "____", "0005"}})); },
         {5, 6, 12, 0, 5}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramCurve curve;
        curve.sv1[0] = 5;
        curve.sv2[0] = 6;
        takeSegmentEntries(curve, entries({{"300", "60", "10"}}));
        c.take(curve);
        EXPECT_EQ((std::array<int, 5>{curve.sv1[0], curve.sv2[0], curve.sv1[1], curve.sv2[1],
                                      curve.time[1]}),
                  c.expected);
    }
}
