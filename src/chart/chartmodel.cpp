#include "chart/chartmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/numberrule.h"
#include "base/oledate.h"
#include "base/text.h"
#include "base/tr.h"

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

}  // namespace

ChartModel::ChartModel() {
    surface_.reserve(2400);
    applyZoomLevel();
    updateValueLabels();
}

int32_t ChartModel::ringRecord(int64_t newest, int64_t back) {
    return store::ringStep(newest, -back);
}

void ChartModel::addLine(double x1, double y1, double x2, double y2, const ChartPen& pen) {
    surface_.push_back(ChartLine{x1, y1, x2, y2, pen});
}

std::optional<std::pair<double, double>> ChartModel::shownSpan() const {
    // The slots drawn: from the left edge to the newest, as far as the surface reaches.
    const int count = std::min(zoomLevel_ * kOlderSlotsPerZoom + newestSlot_ - kLiveCount,
                               zoomLevel_ * kShownSlotsPerZoom);
    std::optional<std::pair<double, double>> span;
    for (int s = firstSlot_; s <= firstSlot_ + count; ++s) {
        if (!hasSample(s)) continue;
        const double at = dates_[s] + times_[s];
        if (!span)
            span = std::pair{at, at};
        else
            span = std::pair{std::min(span->first, at), std::max(span->second, at)};
    }
    return span;
}

bool ChartModel::hasSample(int s) const {
    return slotOk(s) && dates_[s] != 0;
}

bool ChartModel::hasReading(int s) const {
    return hasSample(s) && !noReading_[s];
}

QString ChartModel::slotDateText(int s) const {
    return hasSample(s) ? base::oleDateText(dates_[s]) : QString();
}

QString ChartModel::slotTimeText(int s) const {
    return hasSample(s) ? base::oleTimeText(times_[s]) : QString();
}

void ChartModel::clearSurface() {
    surface_.clear();
    gridPrefix_ = 0;
    touchSurface();
}

const std::vector<ChartLine>& ChartModel::gridLines() {
    static const std::vector<ChartLine> grid = [] {
        const ChartPen pen{1, 2, chartcolour::kGrid};
        const double w = kWidth, h = kHeight;
        std::vector<ChartLine> g;
        g.push_back({0, 0, w, 0, pen});
        g.push_back({0, 7500, w, 7500, pen});
        for (int i = 0; i <= 24; ++i) {
            const double y = base::roundHalfEven(i * 312.5);
            g.push_back({0, y, w, y, pen});
        }
        g.push_back({8, 0, 8, h, pen});
        g.push_back({kLiveEdge, 0, kLiveEdge, h, pen});
        for (int i = 0; i <= 32; ++i) {
            const double x = base::roundHalfEven(i * 375.0);
            g.push_back({x, 0, x, h, pen});
        }
        return g;
    }();
    return grid;
}

void ChartModel::drawChartGrid() {
    const bool onClearSurface = surface_.empty();
    const std::vector<ChartLine>& grid = gridLines();
    surface_.insert(surface_.end(), grid.begin(), grid.end());
    if (onClearSurface) gridPrefix_ = static_cast<int>(surface_.size());
    touchSurface();
}

void ChartModel::applyZoomLevel() {
    // The 60 z slots up to slot kLiveCount - 1 span the surface from its left edge to kLiveEdge;
    // the slot step is exact in a float at every level (150, 75, 50, 37.5).
    if (zoomLevel_ < kMinZoom || zoomLevel_ > kMaxZoom) return;
    const int olderSlots = kOlderSlotsPerZoom * zoomLevel_;
    slotStep_ = static_cast<float>(kLiveEdge / olderSlots);
    firstSlot_ = static_cast<int16_t>(kLiveCount - 1 - olderSlots);
}

float ChartModel::scaleFor(int32_t span) {
    return span != 0 ? static_cast<float>(7500.0 / span) : 0.0f;
}

int32_t ChartModel::offsetFor(float k, int32_t low) {
    // 32 bits hold the offset of any 16-bit bound at any scale (|k x low| <= 7500 x 32768).
    return low != 0 ? static_cast<int32_t>(base::roundHalfEven(static_cast<double>(k) * low)) : 0;
}

double ChartModel::axisY(float v, float k, int32_t offset) {
    const double kd = k;
    return sane(kHeight + offset - base::roundHalfEven(kd * static_cast<double>(v)), kHeight);
}

float ChartModel::scaleK() const {
    return scaleFor(chartSpan_);
}

double ChartModel::scaledY(float v) const {
    return axisY(v, scaleK(), chartYOffset_);  // chartYOffset_ is that of the last curve drawing
}

double ChartModel::fixedY(float v) {
    return sane((kHeight - 625) - base::roundHalfEven(62.5 * static_cast<double>(v)), kHeight);
}

void ChartModel::drawChartCurves() {
    const int z = zoomLevel_;
    // Time and date labels under the chart: label i sits over slot i*z*10 + firstSlot_ + 1. A
    // slot that holds no record has empty labels.
    for (int i = 0; i <= 8; ++i) {
        const int s = i * z * kLabelSlotsPerZoom + firstSlot_ + 1;
        timeLabels_[i] = slotTimeText(s);
        dateLabels_[i] = slotDateText(s);
    }
    // In the live window the two rightmost labels lie beyond the newest loaded slot: they show
    // the time the chart will have reached there, one slot a second, counted from the newest
    // record (and only when there is one).
    if (windowCount_ == kLiveCount && hasSample(kLiveCount)) {
        for (int n = 1; n <= 2; ++n) {
            // kLabelSlotsPerZoom z seconds, written as the gap's fraction it always was.
            const float inc = static_cast<float>(n * z * kGapDays / 30);
            double t = times_[kLiveCount] + inc;
            double d = dates_[kLiveCount];
            if (t >= 1) {
                d = dates_[kLiveCount] + 1;
                t = t - 1;
            }
            timeLabels_[6 + n] = base::oleTimeText(t);
            dateLabels_[6 + n] = base::oleDateText(d);
        }
    }

    const int count = z * kOlderSlotsPerZoom + newestSlot_ - kLiveCount;
    const ChartPen gapPen{1, 1, chartcolour::kGapMark};
    for (int i = 1; i <= count; ++i) {
        const int s = firstSlot_ + i;
        if (!slotOk(s)) break;
        if (gapMarks_[s] > 0) {
            const double x = i * static_cast<double>(slotStep_);
            addLine(x, 0, x, 9000, gapPen);
        }
    }

    chartYOffset_ = offsetFor(scaleK(), chartLow_);

    for (int i = 1; i <= count; ++i) {
        const int s0 = firstSlot_ + i - 1;
        const int s1 = firstSlot_ + i;
        if (!slotOk(s1)) break;
        // A segment joins two records: slots without one (never loaded, or before the first
        // record of a young ring) are not drawn, so a curve starts at its first real sample.
        if (!hasSample(s0) || !hasSample(s1)) continue;
        // Seconds without a reading (stale, port closed, nothing stored) are a gap, not zeros.
        if (noReading_[s0] || noReading_[s1]) continue;
        const double x1 = base::roundHalfEven((i - 1) * static_cast<double>(slotStep_));
        const double x2 = base::roundHalfEven(i * static_cast<double>(slotStep_));
        for (const ChartCurve& c : kChartCurves) {
            const float v0 = samples_[c.channel][s0];
            const float v1 = samples_[c.channel][s1];
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
    for (int s = 0; s <= kHistoryCount; ++s) {
        dates_[s] = 0;
        times_[s] = 0;
        noReading_[s] = false;
        for (int c = 0; c < kStoredChannels; ++c)
            samples_[c][s] = 0;
    }
}

bool ChartModel::readNewestRecord(ChartSource& src) {
    const std::optional<int> n = src.readCounter();
    if (!n) return false;
    newestRecord_ = *n;
    return true;
}

void ChartModel::loadChartWindow(ChartSource& src) {
    clearChartBuffers();
    for (int s = 0; s <= kHistoryCount; ++s)
        gapMarks_[s] = 0;

    // The record just before the window, counted back across the ring's wrap when needed.
    const int64_t end = windowEnd_;
    const int64_t count = windowCount_;
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

    // The newest record of the window lies in its last slot (kLiveCount live, kHistoryCount
    // history), where the live append continues; a short answer (a young ring) leaves the oldest
    // slots empty.
    const int n = std::min<int64_t>(count, std::min<int64_t>(rows.size(), kSlots - 1));
    if (count == kLiveCount && n > 0) {
        placeByTime(rows, n);
    } else {
        const int first = static_cast<int>(count) - n + 1;
        for (int i = first; i < first + n; ++i) {
            const Sample& r = rows[rows.size() - n + (i - first)];
            dates_[i] = r.date;
            times_[i] = r.time;
            noReading_[i] = r.stale;
            for (int c = 0; c < kStoredChannels; ++c)
                samples_[c][i] = r.values[c];
            // A gap is measured on the full date and time, so midnight is no gap and a day's
            // pause at the same time of day is one. Only loaded records are compared.
            if (i > first) {
                const double dd = (dates_[i] - dates_[i - 1]) + (times_[i] - times_[i - 1]);
                if (std::fabs(dd) > kGapDays) gapMarks_[i] = static_cast<int16_t>(i);
            }
        }
    }

    const int f = firstSlot_ + 1;
    headerDate_ = slotDateText(f);
    headerTime_ = slotTimeText(f);
}

void ChartModel::placeByTime(const std::vector<Sample>& rows, int n) {
    constexpr double kDaySeconds = 86400.0;
    const auto secondOf = [](const Sample& r) {
        return static_cast<int64_t>(std::llround((r.date + r.time) * kDaySeconds));
    };
    const Sample& newest = rows.back();
    const int64_t newestAt = secondOf(newest);
    int oldest = kLiveCount + 1;  // the oldest slot a record went to
    int previous = -1;            // the slot of the record placed before (a newer one)
    bool beyond = false;          // a record older than the window's first slot was left out
    for (size_t k = rows.size(); k-- > rows.size() - static_cast<size_t>(n);) {
        const Sample& r = rows[k];
        const int64_t back = newestAt - secondOf(r);
        if (back < 0) continue;  // a clock set back: no place by time
        if (back > kLiveCount - 1) {
            beyond = true;
            // The records resume after a pause longer than the gap mark's (a restart): marked.
            if (previous > 0 &&
                (newestAt - (kLiveCount - previous)) - secondOf(r) > kGapDays * kDaySeconds)
                gapMarks_[previous] = static_cast<int16_t>(previous);
            break;
        }
        const int i = kLiveCount - static_cast<int>(back);
        if (i >= oldest) continue;  // a second stored twice: the newer record keeps it
        dates_[i] = r.date;
        times_[i] = r.time;
        noReading_[i] = r.stale;
        for (int c = 0; c < kStoredChannels; ++c)
            samples_[c][i] = r.values[c];
        // A pause longer than the gap mark's is marked where the records resume.
        if (previous > 0 && (previous - i) * (1.0 / kDaySeconds) > kGapDays)
            gapMarks_[previous] = static_cast<int16_t>(previous);
        previous = i;
        oldest = i;
    }
    // The seconds between the records shown keep their times on the axis, without a reading; so
    // do the ones before, when older records exist.
    const int from = beyond ? 1 : oldest;
    const QDateTime newestTime = base::dateTimeFromOle(newest.date + newest.time);
    for (int i = from; i <= kLiveCount; ++i) {
        if (dates_[i] != 0) continue;
        const QDateTime at = newestTime.addSecs(i - kLiveCount);
        dates_[i] = base::oleDate(at.date());
        times_[i] = base::oleTime(at.time());
        noReading_[i] = true;
    }
}

void ChartModel::loadLiveWindow(ChartSource& src) {
    liveWindowPending_ = !readNewestRecord(src);
    windowEnd_ = newestRecord_;
    windowCount_ = kLiveCount;
    newestSlot_ = kLiveCount;
    loadChartWindow(src);
}

void ChartModel::showLiveWindow(ChartSource& src) {
    loadLiveWindow(src);
    redrawChart();
}

void ChartModel::returnToLive(ChartSource& src) {
    rulerMode_ = false;
    ruler_ = Ruler{0, 0, 0, 330, chartcolour::kRulerOff, 2};
    sliderValue_ = 0;
    readoutShown_ = false;
    historyPage_ = 0;
    oldestPageReached_ = false;
    displayRunning_ = true;
    clearSurface();
    showLiveWindow(src);
}

// The page historyPage_ pages older than the newest record, loaded and drawn.
void ChartModel::loadHistoryPage(ChartSource& src) {
    windowEnd_ = ringRecord(newestRecord_, int64_t{kPageRecords} * historyPage_);
    newestSlot_ = kHistoryCount;
    loadChartWindow(src);
    redrawChart();
}

void ChartModel::load(ChartSource& src) {
    oldestPageReached_ = false;
    historyPage_ = 0;
    displayRunning_ = true;
    sliderStep_ = 50;
    for (int s = 1; s <= kHistoryCount; ++s)
        gapMarks_[s] = 0;
    zoomLevel_ = kMinZoom;
    chartSpan_ = 60;
    rulerMode_ = false;
    sliderValue_ = 0;
    showLiveWindow(src);
    updateValueLabels();
}

ChartModel::Controls ChartModel::controls() const {
    Controls c;
    c.zoomInEnabled = zoomLevel_ > kMinZoom;
    c.zoomOutEnabled = zoomLevel_ < kMaxZoom;
    c.newerEnabled = historyPage_ > 0;
    c.olderEnabled = !oldestPageReached_;
    c.displayRunning = displayRunning_;
    c.sliderEnabled = rulerMode_;
    c.sliderValue = sliderValue_;
    c.sliderStep = sliderStep_;
    c.rulerCaption = rulerMode_ ? base::Tr::tr("F4 复原") : base::Tr::tr("F4 标尺");
    return c;
}

void ChartModel::updateValueLabels() {
    const float f = static_cast<float>(chartSpan_ / 6.0);
    for (int i = 0; i <= 6; ++i) {
        const double v = base::roundHalfEven(i * static_cast<double>(f)) + chartLow_;
        valueLabels_[i] = base::intText(static_cast<int64_t>(v));
    }
}

void ChartModel::displayTick(ChartSource& src, bool recordAdded, const std::array<float, 10>& live,
                             const QDateTime& now, bool stale) {
    if (!rulerMode_) readoutShown_ = false;
    updateValueLabels();
    if (!recordAdded) return;
    ++newestSlot_;
    // The newer area is full: the window moves on to end at the record just stored.
    if (newestSlot_ >= kNewerSlotsPerZoom * zoomLevel_ + kLiveCount || !slotOk(newestSlot_))
        showLiveWindow(src);
    if (slotOk(newestSlot_)) {
        for (int c = 0; c < kStoredChannels; ++c)
            samples_[c][newestSlot_] = live[c];
        dates_[newestSlot_] = base::oleDate(now.date());
        times_[newestSlot_] = base::oleTime(now.time());
        noReading_[newestSlot_] = stale;
    }
    redrawChart();
}

void ChartModel::headerTick(const QDateTime& now) {
    if (rulerMode_) return;
    headerDate_ = now.date().toString(QStringLiteral("MM-dd-yyyy"));
    headerTime_ = now.time().toString(QStringLiteral("HH:mm:ss"));
}

void ChartModel::pageOlder(ChartSource& src) {
    ++historyPage_;
    const int64_t n = historyPage_;
    windowCount_ = kHistoryCount;
    displayRunning_ = false;
    // A page of 321 records ending 60 x n before the newest needs 60 x n + 321 stored records: a
    // ring that has gone round holds all 65500, a younger one as many as the newest number.
    const int64_t stored =
        src.ringWrapped() ? kRingSize : std::clamp<int64_t>(newestRecord_, 0, kRingSize);
    if (kPageRecords * n + kHistoryCount > stored) {
        oldestPageReached_ = true;
        return;
    }
    loadHistoryPage(src);
}

void ChartModel::pageNewer(ChartSource& src) {
    if (historyPage_ <= 0) return;  // already live: there is no newer page
    clearSurface();
    --historyPage_;
    windowCount_ = kHistoryCount;
    if (historyPage_ != 0) {
        loadHistoryPage(src);
    } else {
        showLiveWindow(src);
        displayRunning_ = true;
    }
    // Newer records may exist by now, so paging back is possible again.
    oldestPageReached_ = false;
}

void ChartModel::zoomBy(int delta) {
    clearSurface();
    drawChartGrid();
    zoomLevel_ = static_cast<int16_t>(zoomLevel_ + delta);
    applyZoomLevel();
    sliderStep_ = static_cast<int>(base::roundHalfEven(slotStep_));
    drawChartCurves();
}

void ChartModel::zoomIn() {
    if (controls().zoomInEnabled) zoomBy(-1);
}

void ChartModel::zoomOut() {
    if (controls().zoomOutEnabled) zoomBy(+1);
}

void ChartModel::toggleRuler(ChartSource& src) {
    setSliderValue(0, src);
    rulerMode_ = !rulerMode_;
    if (rulerMode_) {
        ruler_ = Ruler{1, 0, 1, 330, chartcolour::kRulerOn, 2};
        focusRequest_ = Focus::Slider;
        displayRunning_ = false;
        touchSurface();
    } else {
        ruler_ = Ruler{0, 0, 0, 330, chartcolour::kRulerOff, 2};
        focusRequest_ = Focus::RulerButton;
        displayRunning_ = true;
        showLiveWindow(src);
    }
}

void ChartModel::setSliderValue(int v, ChartSource& src) {
    v = std::clamp(v, kSliderMin, kSliderMax);
    if (v == sliderValue_) return;
    sliderValue_ = v;
    sliderChanged(src);
}

void ChartModel::sliderChanged(ChartSource& src) {
    const int v = sliderValue_;
    if (v == kSliderMin && !oldestPageReached_) pageOlder(src);
    if (v == kSliderMax && historyPage_ > 0) pageNewer(src);
    ruler_ = Ruler{double(v), 0, double(v), 7500, chartcolour::kRulerLine, 2};
    touchSurface();
    int s = static_cast<int>(base::roundHalfEven(v / static_cast<double>(slotStep_))) + firstSlot_;
    s = std::clamp(s, 0, kSlots - 1);
    headerDate_ = slotDateText(s);
    headerTime_ = slotTimeText(s);
    for (int c = 0; c < kStoredChannels; ++c)
        readoutTexts_[c] = hasReading(s) ? base::floatText(samples_[c][s]) : QString();
    readoutShown_ = true;
    ++readoutSerial_;
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
    chartLow_ = static_cast<int32_t>(base::roundHalfEven(lo));
    chartSpan_ = static_cast<int32_t>(span);
    return true;
}

}  // namespace chart
