#pragma once
// Geometry of the program preview: the eight segments as SV1 and SV2 ramps over time, the segment
// boundaries, the dotted grid and the axis numbers, in chart units (15008 wide, 9008 high, y grows
// downwards). Pure: the window takes the entries and live values, this computes what to draw.
//
// Unlike the instrument maker's own preview, everything one drawing shows comes from the same
// inputs (no scales left over from the previous redraw), the value axis spans both curves, and a
// zero value range or a zero time total still gives a drawable chart.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

namespace program {

inline constexpr int kChartWidth = 15008;
inline constexpr int kChartHeight = 9008;
inline constexpr int kTimeLabels = 16;
inline constexpr int kValueLabels = 10;

// The program as the preview draws it. Index 0 of sv1/sv2 is the start point; 1..8 the segments.
inline constexpr int kCurvePoints = 9;
struct ProgramCurve {
    std::array<int16_t, kCurvePoints> sv1{};
    std::array<int16_t, kCurvePoints> sv2{};
    std::array<int32_t, kCurvePoints> time{};
};

// Takes segments 1..8 from the TxtB entry texts (indexed as TxtB: segment k SV1 at 4k-4, SV2 at
// 4k-3, time at 4k-2). SV values must fit 16 bits and times 32 bits; a text that does not keeps
// the previous value, as does a missing index.
void takeSegmentEntries(ProgramCurve& curve, const QStringList& entries);

// Start point of both ramps: the set values SV1/SV2 when the start-value setting (4X 8197) is not
// 0, the measured values PV1/PV2 otherwise. A value that does not fit 16 bits keeps the previous
// start point.
void takeStartPoints(ProgramCurve& curve, int32_t startSetting, float pv1, float pv2, float sv1,
                     float sv2);

struct ChartLine {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool operator==(const ChartLine&) const = default;
};

struct PreviewGeometry {
    std::vector<ChartLine> grid;  // 46 horizontal, then 16 vertical lines
    std::array<ChartLine, 8> boundaries{};
    std::array<ChartLine, 8> sv1Ramps{};
    std::array<ChartLine, 8> sv2Ramps{};

    int64_t timeStep = 1;    // time between two time-axis numbers
    float timeScale = 1000;  // chart units per time unit
    int32_t valueMax = 0, valueMin = 0, valueRange = 0;
    float valueStep = 0;   // value between two value-axis numbers
    float valueScale = 0;  // chart units per value unit; 0 for a zero range (all on the bottom)
    int64_t valueOffset = 0;

    std::array<QString, kTimeLabels> timeLabels;    // Label8(0..15)
    std::array<QString, kValueLabels> valueLabels;  // Label6(0..9), bottom up
    QString maxText, minText, stepText;             // Label5, Label10, Label11
};

PreviewGeometry previewGeometry(const ProgramCurve& curve);

// A value-axis number: rounded half to even, at least five digits with leading zeros ("00100",
// "-00050").
QString axisNumberText(double v);

}  // namespace program
