#include "program/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/numberrule.h"
#include "base/text.h"

namespace program {

void takeSegmentEntries(ProgramCurve& curve, const QStringList& entries) {
    const auto text = [&](int i) -> const QString* {
        return i < entries.size() ? &entries[i] : nullptr;
    };
    for (int k = 1; k < kCurvePoints; ++k) {
        if (const QString* t = text(4 * k - 4))
            if (auto v = base::roundToInt16(base::leadingNumber(*t))) curve.sv1[k] = *v;
        if (const QString* t = text(4 * k - 3))
            if (auto v = base::roundToInt16(base::leadingNumber(*t))) curve.sv2[k] = *v;
        if (const QString* t = text(4 * k - 2))
            if (auto v = base::roundToInt32(base::leadingNumber(*t))) curve.time[k] = *v;
    }
}

void takeStartPoints(ProgramCurve& curve, int32_t startSetting, float pv1, float pv2, float sv1,
                     float sv2) {
    const bool fromSetValue = startSetting != 0;
    if (auto v = base::roundToInt16(fromSetValue ? sv1 : pv1)) curve.sv1[0] = *v;
    if (auto v = base::roundToInt16(fromSetValue ? sv2 : pv2)) curve.sv2[0] = *v;
}

QString axisNumberText(double v) {
    const double r = base::roundHalfEven(v);
    if (!std::isfinite(r)) return base::floatText(static_cast<float>(v));
    const int64_t n = static_cast<int64_t>(std::clamp(r, -9.0e18, 9.0e18));
    const QString digits = QString::number(n < 0 ? -n : n).rightJustified(5, QLatin1Char('0'));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

namespace {

double rounded(double v) {
    return base::roundHalfEven(v);
}

}  // namespace

PreviewGeometry previewGeometry(const ProgramCurve& curve) {
    PreviewGeometry g;

    // Grid: horizontal lines every 200 units, vertical ones every 1000 (the first at 2 so that it
    // shows at the left edge).
    g.grid.reserve(46 + 16);
    for (int i = 0; i <= 45; ++i)
        g.grid.push_back({0, 200.0 * i, double(kChartWidth), 200.0 * i});
    for (int i = 0; i <= 15; ++i) {
        const double x = i == 0 ? 2 : 1000.0 * i;
        g.grid.push_back({x, 0, x, double(kChartHeight)});
    }

    // Time axis: sixteen numbers from 0, the step chosen so that the total fits in fifteen steps.
    // The total is taken over all eight segments, whatever the segment count. A total of zero or
    // less still gives step 1.
    int64_t total = 0;
    for (int k = 1; k < kCurvePoints; ++k)
        total += curve.time[k];
    g.timeStep = total > 0 ? total / 15 + 1 : 1;
    for (int i = 0; i < kTimeLabels; ++i)
        g.timeLabels[i] = base::intText(i * g.timeStep);
    g.timeScale = static_cast<float>(15000.0 / (15.0 * double(g.timeStep)));

    // Value axis over both curves' segment values (the start point does not take part).
    int32_t lo = curve.sv1[1], hi = curve.sv1[1];
    for (int k = 1; k < kCurvePoints; ++k) {
        lo = std::min({lo, int32_t(curve.sv1[k]), int32_t(curve.sv2[k])});
        hi = std::max({hi, int32_t(curve.sv1[k]), int32_t(curve.sv2[k])});
    }
    g.valueMax = hi;
    g.valueMin = lo;
    g.valueRange = std::abs(hi - lo);
    g.maxText = base::intText(hi);
    g.minText = base::intText(lo);
    g.valueStep = static_cast<float>(g.valueRange * 1.2 / 9.0);
    g.stepText = base::floatText(g.valueStep);
    for (int i = 0; i < kValueLabels; ++i)
        g.valueLabels[i] = axisNumberText(lo + i * double(g.valueStep));

    // The maximum lies 7500 units above the bottom edge, leaving the top sixth free. With a zero
    // range every value equal to the minimum lies on the bottom edge.
    g.valueScale = g.valueRange > 0 ? static_cast<float>(9000.0 / (g.valueRange * 1.2)) : 0.0f;
    g.valueOffset = lo == 0 ? 0 : static_cast<int64_t>(rounded(lo * double(g.valueScale)));

    const double ts = g.timeScale, vs = g.valueScale;
    const auto y = [&](int16_t v) {
        return kChartHeight + double(g.valueOffset) - rounded(v * vs);
    };
    int64_t cumulative = 0;
    for (int k = 1; k < kCurvePoints; ++k) {
        const int64_t before = cumulative;
        cumulative += curve.time[k];
        const double x1 = rounded(ts * double(before)), x2 = rounded(ts * double(cumulative));
        g.boundaries[k - 1] = {x2, 0, x2, 9000};
        g.sv1Ramps[k - 1] = {x1, y(curve.sv1[k - 1]), x2, y(curve.sv1[k])};
        g.sv2Ramps[k - 1] = {x1, y(curve.sv2[k - 1]), x2, y(curve.sv2[k])};
    }
    return g;
}

}  // namespace program
