#include "chart/chartmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/numberrule.h"
#include "base/oledate.h"
#include "base/text.h"

namespace chart {

namespace {

bool slotOk(int s) {
    return s >= 0 && s < ChartModel::kSlots;
}

// Keeps drawing coordinates finite and within what a painter handles, whatever the stored values.
double sane(double v, double fallback) {
    if (std::isnan(v)) return fallback;
    return std::clamp(v, -1.0e9, 1.0e9);
}

struct CurvePen {
    int channel;
    ChartPen pen;
    bool scaled;
};

// Drawing order of the curves: where they cross, the later channel of a step lies on top.
constexpr std::array<CurvePen, 6> kCurves{{
    {0, {2, 0, chartcolour::kChannel0}, true},
    {1, {2, 0, chartcolour::kChannel1}, true},
    {2, {1, 0, chartcolour::kChannel2}, true},
    {3, {1, 0, chartcolour::kChannel3}, true},
    {8, {1, 0, chartcolour::kChannel8}, false},
    {9, {1, 0, chartcolour::kChannel9}, false},
}};

}  // namespace

ChartModel::ChartModel() {
    surface_.reserve(2400);
    applyZoomLevel();
    updateValueLabels();
    updateSlotStepText();
}

int32_t ChartModel::ringRecord(int64_t newest, int64_t back) {
    return record::ringStep(newest, -back);
}

void ChartModel::addLine(double x1, double y1, double x2, double y2, const ChartPen& pen) {
    surface_.push_back(ChartLine{x1, y1, x2, y2, pen});
}

std::optional<std::pair<double, double>> ChartModel::shownSpan() const {
    // The slots drawn: from the left edge to the newest, as far as the surface reaches.
    const int count = std::min(zoomLevel * 60 + newestSlot - 241, zoomLevel * 80);
    std::optional<std::pair<double, double>> span;
    for (int s = firstSlot; s <= firstSlot + count; ++s) {
        if (!hasSample(s)) continue;
        const double at = dates[s] + times[s];
        if (!span)
            span = std::pair{at, at};
        else
            span = std::pair{std::min(span->first, at), std::max(span->second, at)};
    }
    return span;
}

bool ChartModel::hasSample(int s) const {
    return slotOk(s) && dates[s] != 0;
}

QString ChartModel::slotDateText(int s) const {
    return hasSample(s) ? base::oleDateText(dates[s]) : QString();
}

QString ChartModel::slotTimeText(int s) const {
    return hasSample(s) ? base::oleTimeText(times[s]) : QString();
}

void ChartModel::clearSurface() {
    surface_.clear();
    gridPrefix_ = 0;
    touchSurface();
}

void ChartModel::drawChartGrid() {
    const ChartPen pen{1, 2, chartcolour::kGrid};
    const double w = kWidth, h = kHeight;
    const bool onClearSurface = surface_.empty();
    addLine(0, 0, w, 0, pen);
    addLine(0, 7500, w, 7500, pen);
    for (int i = 0; i <= 24; ++i) {
        const double y = base::roundHalfEven(i * 312.5);
        addLine(0, y, w, y, pen);
    }
    addLine(8, 0, 8, h, pen);
    addLine(9000, 0, 9000, h, pen);
    for (int i = 0; i <= 32; ++i) {
        const double x = base::roundHalfEven(i * 375.0);
        addLine(x, 0, x, h, pen);
    }
    if (onClearSurface) gridPrefix_ = static_cast<int>(surface_.size());
    touchSurface();
}

void ChartModel::applyZoomLevel() {
    switch (zoomLevel) {
        case 1:
            slotStep = 150;
            firstSlot = 180;
            break;
        case 2:
            slotStep = 75;
            firstSlot = 120;
            break;
        case 3:
            slotStep = 50;
            firstSlot = 60;
            break;
        case 4:
            slotStep = 37.5f;
            firstSlot = 0;
            break;
        default:
            break;
    }
}

float ChartModel::scaleK() const {
    return chartSpan != 0 ? static_cast<float>(7500.0 / chartSpan) : 0.0f;
}

double ChartModel::scaledY(float v) const {
    const double k = scaleK();  // chartYOffset is that of the last curve drawing
    return sane(kHeight + chartYOffset - base::roundHalfEven(k * static_cast<double>(v)), kHeight);
}

double ChartModel::fixedY(float v) {
    return sane((kHeight - 625) - base::roundHalfEven(62.5 * static_cast<double>(v)), kHeight);
}

void ChartModel::drawChartCurves() {
    const int z = zoomLevel;
    // Time and date labels under the chart: label i sits over slot i*z*10 + firstSlot + 1. A
    // slot that holds no record has empty labels.
    for (int i = 0; i <= 8; ++i) {
        const int s = i * z * 10 + firstSlot + 1;
        timeLabels[i] = slotTimeText(s);
        dateLabels[i] = slotDateText(s);
    }
    // In the live window the two rightmost labels lie beyond the newest loaded slot: they show
    // the time the chart will have reached there, one slot a second, counted from the newest
    // record (and only when there is one).
    if (windowCount < 320 && hasSample(kLiveCount)) {
        for (int n = 1; n <= 2; ++n) {
            const float inc = static_cast<float>(n * z * 0.00347222 / 30);
            double t = times[kLiveCount] + inc;
            double d = dates[kLiveCount];
            if (t >= 1) {
                d = dates[kLiveCount] + 1;
                t = t - 1;
            }
            timeLabels[6 + n] = base::oleTimeText(t);
            dateLabels[6 + n] = base::oleDateText(d);
        }
    }

    const int count = z * 60 + newestSlot - 241;
    const ChartPen gapPen{1, 1, chartcolour::kGapMark};
    for (int i = 1; i <= count; ++i) {
        const int s = firstSlot + i;
        if (!slotOk(s)) break;
        if (gapMarks[s] > 0) {
            const double x = i * static_cast<double>(slotStep);
            addLine(x, 0, x, 9000, gapPen);
        }
    }

    const float k = scaleK();
    // 32 bits hold the offset of any 16-bit bound at any scale (|k x low| <= 7500 x 32768).
    chartYOffset =
        chartLow != 0 ? static_cast<int32_t>(base::roundHalfEven(static_cast<double>(k) * chartLow))
                      : 0;

    for (int i = 1; i <= count; ++i) {
        const int s0 = firstSlot + i - 1;
        const int s1 = firstSlot + i;
        if (!slotOk(s1)) break;
        // A segment joins two records: slots without one (never loaded, or before the first
        // record of a young ring) are not drawn, so a curve starts at its first real sample.
        if (!hasSample(s0) || !hasSample(s1)) continue;
        const double x1 = base::roundHalfEven((i - 1) * static_cast<double>(slotStep));
        const double x2 = base::roundHalfEven(i * static_cast<double>(slotStep));
        for (const CurvePen& c : kCurves) {
            const float v0 = samples[c.channel][s0];
            const float v1 = samples[c.channel][s1];
            if (c.scaled)
                addLine(x1, scaledY(v0), x2, scaledY(v1), c.pen);
            else
                addLine(x1, fixedY(v0), x2, fixedY(v1), c.pen);
        }
    }
    touchSurface();
}

void ChartModel::redrawChart() {
    clearSurface();
    drawChartGrid();
    applyZoomLevel();
    drawChartCurves();
}

void ChartModel::clearChartBuffers() {
    for (int s = 0; s <= 321; ++s) {
        dates[s] = 0;
        times[s] = 0;
        for (int c = 0; c <= 9; ++c)
            samples[c][s] = 0;
    }
}

bool ChartModel::readNewestRecord(ChartSource& src) {
    const std::optional<int> n = src.readCounter();
    if (!n) return false;
    newestRecord = *n;
    return true;
}

void ChartModel::loadChartWindow(ChartSource& src) {
    clearChartBuffers();
    for (int s = 0; s <= 321; ++s)
        gapMarks[s] = 0;

    // The record just before the window, counted back across the ring's wrap when needed.
    const int64_t end = windowEnd;
    const int64_t count = windowCount;
    std::vector<Sample> rows;
    if (end >= count) {
        const int64_t before = end - count;
        lastQuery_ = ChartQuery{false, static_cast<int>(before + 1), static_cast<int>(end)};
        rows = src.loadBetween(lastQuery_.first, lastQuery_.last);
    } else {
        const int64_t before = kRingSize - (count - end);
        lastQuery_ = ChartQuery{true, static_cast<int>(end + 1), static_cast<int>(before)};
        rows = src.loadNotBetween(lastQuery_.first, lastQuery_.last);
    }
    ++queryCount_;

    // The newest record of the window lies in its last slot (241 live, 321 history), where the
    // live append continues; a short answer (a young ring) leaves the oldest slots empty.
    const int n = std::min<int64_t>(count, std::min<int64_t>(rows.size(), kSlots - 1));
    const int first = static_cast<int>(count) - n + 1;
    for (int i = first; i < first + n; ++i) {
        const Sample& r = rows[rows.size() - n + (i - first)];
        dates[i] = r.date;
        times[i] = r.time;
        for (int c = 0; c <= 9; ++c)
            samples[c][i] = r.values[c];
        // A gap is measured on the full date and time, so midnight is no gap and a day's pause
        // at the same time of day is one. Only loaded records are compared.
        if (i > first) {
            const double dd = (dates[i] - dates[i - 1]) + (times[i] - times[i - 1]);
            if (std::fabs(dd) > kGapDays) gapMarks[i] = static_cast<int16_t>(i);
        }
    }

    const int f = firstSlot + 1;
    headerDate = slotDateText(f);
    headerTime = slotTimeText(f);
}

void ChartModel::reloadLiveWindow(ChartSource& src) {
    liveWindowPending = !readNewestRecord(src);
    windowEnd = newestRecord;
    windowCount = kLiveCount;
    newestSlot = kLiveCount;
    loadChartWindow(src);
}

void ChartModel::load(ChartSource& src) {
    oldestPageReached = false;
    historyPage = 0;
    controls = Controls{};
    for (int s = 1; s <= 321; ++s)
        gapMarks[s] = 0;
    zoomLevel = 1;
    chartSpan = 60;
    liveWindowPending = !readNewestRecord(src);
    windowCount = kLiveCount;
    windowEnd = newestRecord;
    newestSlot = kLiveCount;
    rulerMode = false;
    controls.sliderValue = 0;
    loadChartWindow(src);
    redrawChart();
    updateValueLabels();
    updateSlotStepText();
}

void ChartModel::updateValueLabels() {
    const float f = static_cast<float>(chartSpan / 6.0);
    for (int i = 0; i <= 6; ++i) {
        const double v = base::roundHalfEven(i * static_cast<double>(f)) + chartLow;
        valueLabels[i] = base::intText(static_cast<int64_t>(v));
    }
}

void ChartModel::updateSlotStepText() {
    slotStepText = base::floatText(slotStep);
}

void ChartModel::displayTick(ChartSource& src, RecorderHandshake& hs,
                             const std::array<float, 10>& live, const QDateTime& now) {
    if (!rulerMode) readoutShown = false;
    updateValueLabels();
    if (hs.RecordAdded) {
        ++newestSlot;
        if (newestSlot >= 20 * zoomLevel + 241 || !slotOk(newestSlot)) {
            // The newer area is full: the window moves on to end at the record just stored.
            clearChartBuffers();
            clearSurface();
            reloadLiveWindow(src);
            redrawChart();
        }
        if (slotOk(newestSlot)) {
            for (int c = 0; c <= 9; ++c)
                samples[c][newestSlot] = live[c];
            dates[newestSlot] = base::oleDate(now.date());
            times[newestSlot] = base::oleTime(now.time());
        }
        hs.RecordAdded = false;
        redrawChart();
    }
}

void ChartModel::headerTick(const QDateTime& now) {
    if (rulerMode) return;
    headerDate = now.date().toString(QStringLiteral("MM-dd-yyyy"));
    headerTime = now.time().toString(QStringLiteral("HH:mm:ss"));
}

void ChartModel::pageOlder(ChartSource& src) {
    ++historyPage;
    const int64_t n = historyPage;
    windowCount = kHistoryCount;
    controls.displayRunning = false;
    controls.newerEnabled = true;
    // A page of 321 records ending 60 x n before the newest needs 60 x n + 321 stored records: a
    // ring that has gone round holds all 65500, a younger one as many as the newest number.
    const int64_t stored =
        src.ringWrapped() ? kRingSize : std::clamp<int64_t>(newestRecord, 0, kRingSize);
    if (kPageRecords * n + kHistoryCount > stored) {
        controls.olderEnabled = false;
        oldestPageReached = true;
        return;
    }
    windowEnd = ringRecord(newestRecord, kPageRecords * n);
    newestSlot = kHistoryCount;
    loadChartWindow(src);
    redrawChart();
}

void ChartModel::pageNewer(ChartSource& src) {
    if (historyPage <= 0) return;  // already live: there is no newer page
    clearSurface();
    --historyPage;
    const int64_t n = historyPage;
    windowCount = kHistoryCount;
    if (n != 0) {
        windowEnd = ringRecord(newestRecord, kPageRecords * n);
        newestSlot = kHistoryCount;
        loadChartWindow(src);
        redrawChart();
    } else {
        liveWindowPending = !readNewestRecord(src);
        windowCount = kLiveCount;
        windowEnd = newestRecord;
        newestSlot = kLiveCount;
        loadChartWindow(src);
        controls.newerEnabled = false;
        redrawChart();
        controls.displayRunning = true;
    }
    // Newer records may exist by now, so paging back is possible again.
    if (!controls.olderEnabled) {
        controls.olderEnabled = true;
        oldestPageReached = false;
    }
}

void ChartModel::zoomIn() {
    clearSurface();
    drawChartGrid();
    zoomLevel = static_cast<int16_t>(zoomLevel - 1);
    if (zoomLevel <= 1) controls.zoomInEnabled = false;
    if (zoomLevel < 4) controls.zoomOutEnabled = true;
    applyZoomLevel();
    controls.sliderStep = static_cast<int>(base::roundHalfEven(slotStep));
    drawChartCurves();
}

void ChartModel::zoomOut() {
    clearSurface();
    drawChartGrid();
    zoomLevel = static_cast<int16_t>(zoomLevel + 1);
    if (zoomLevel > 1) controls.zoomInEnabled = true;
    if (zoomLevel > 3) controls.zoomOutEnabled = false;
    applyZoomLevel();
    controls.sliderStep = static_cast<int>(base::roundHalfEven(slotStep));
    drawChartCurves();
}

void ChartModel::toggleRuler(ChartSource& src) {
    if (!rulerMode) {
        setSliderValue(0, src);
        ruler = Ruler{1, 0, 1, 330, chartcolour::kRulerOn, 2};
        touchSurface();
        controls.sliderEnabled = true;
        rulerMode = true;
        focusRequest = Focus::Slider;
        controls.displayRunning = false;
        controls.rulerCaption = QStringLiteral("F4 复原");
    } else {
        setSliderValue(0, src);
        ruler = Ruler{0, 0, 0, 330, chartcolour::kRulerOff, 2};
        touchSurface();
        rulerMode = false;
        controls.sliderEnabled = false;
        focusRequest = Focus::RulerButton;
        controls.rulerCaption = QStringLiteral("F4 标尺");
        controls.displayRunning = true;
        windowCount = kLiveCount;
        liveWindowPending = !readNewestRecord(src);
        windowEnd = newestRecord;
        loadChartWindow(src);
        newestSlot = kLiveCount;
        redrawChart();
    }
}

void ChartModel::setSliderValue(int v, ChartSource& src) {
    v = std::clamp(v, kSliderMin, kSliderMax);
    if (v == controls.sliderValue) return;
    controls.sliderValue = v;
    sliderChanged(src);
}

void ChartModel::sliderChanged(ChartSource& src) {
    const int v = controls.sliderValue;
    if (v == kSliderMin && !oldestPageReached) pageOlder(src);
    if (v == kSliderMax && historyPage > 0) pageNewer(src);
    ruler = Ruler{double(v), 0, double(v), 7500, chartcolour::kRulerLine, 2};
    touchSurface();
    int s = static_cast<int>(base::roundHalfEven(v / static_cast<double>(slotStep))) + firstSlot;
    s = std::clamp(s, 0, kSlots - 1);
    headerDate = slotDateText(s);
    headerTime = slotTimeText(s);
    for (int c = 0; c <= 9; ++c)
        readoutTexts[c] = hasSample(s) ? base::floatText(samples[c][s]) : QString();
    readoutShown = true;
    ++readoutSerial;
}

bool ChartModel::applyValueAxis(const QString& lowText, const QString& highText) {
    const double lo = base::leadingNumber(lowText);
    const double hi = base::leadingNumber(highText);
    if (!(hi <= 36000 && hi >= -12000)) return false;
    if (!(lo <= 35000 && lo >= -12000 && lo <= hi)) return false;
    // Both bounds lie within -12000..36000, so the span fits 32 bits; a span that rounds to
    // nothing cannot be shown and is refused.
    const double span = base::roundHalfEven(hi - lo);
    if (!(span >= 1)) return false;
    chartLow = static_cast<int32_t>(base::roundHalfEven(lo));
    chartSpan = static_cast<int32_t>(span);
    return true;
}

}  // namespace chart
