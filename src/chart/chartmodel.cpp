#include "chart/chartmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/numberrule.h"
#include "base/oledate.h"
#include "base/text.h"

namespace record {

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
    ApplyZoomLevel();
    updateValueLabels();
    UpdateSlotStepText();
}

int32_t ChartModel::ringRecord(int64_t newest, int64_t back) {
    int64_t r = (newest - back - 1) % kRingSize;
    if (r < 0) r += kRingSize;
    return static_cast<int32_t>(r + 1);
}

void ChartModel::addLine(double x1, double y1, double x2, double y2, const ChartPen& pen) {
    surface_.push_back(ChartLine{x1, y1, x2, y2, pen});
}

void ChartModel::ClearSurface() {
    surface_.clear();
    gridPrefix_ = 0;
    touchSurface();
}

void ChartModel::DrawChartGrid() {
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

void ChartModel::ApplyZoomLevel() {
    switch (ZoomLevel) {
        case 1:
            SlotStep = 150;
            FirstSlot = 180;
            break;
        case 2:
            SlotStep = 75;
            FirstSlot = 120;
            break;
        case 3:
            SlotStep = 50;
            FirstSlot = 60;
            break;
        case 4:
            SlotStep = 37.5f;
            FirstSlot = 0;
            break;
        default:
            break;
    }
}

float ChartModel::scaleK() const {
    return ChartSpan != 0 ? static_cast<float>(7500.0 / ChartSpan) : 0.0f;
}

double ChartModel::scaledY(float v) const {
    const double k = scaleK();
    return sane(kHeight + ChartYOffset - base::roundHalfEven(k * static_cast<double>(v)), kHeight);
}

double ChartModel::fixedY(float v) {
    return sane((kHeight - 625) - base::roundHalfEven(62.5 * static_cast<double>(v)), kHeight);
}

void ChartModel::DrawChartCurves() {
    const int z = ZoomLevel;
    // Time and date labels under the chart: label i sits over slot i*z*10 + FirstSlot + 1.
    for (int i = 0; i <= 8; ++i) {
        const int s = i * z * 10 + FirstSlot + 1;
        if (!slotOk(s)) continue;
        timeLabels[i] = base::oleTimeText(ChartTimes[s]);
        dateLabels[i] = base::oleDateText(ChartDates[s]);
    }
    // In the live window the two rightmost labels lie beyond the newest loaded slot: they show
    // the time the chart will have reached there, one slot a second.
    if (WindowCount < 320) {
        for (int n = 1; n <= 2; ++n) {
            const float inc = static_cast<float>(n * z * 0.00347222 / 30);
            double t = ChartTimes[241] + inc;
            double d = ChartDates[241];
            if (t >= 1) {
                d = ChartDates[241] + 1;
                t = t - 1;
            }
            timeLabels[6 + n] = base::oleTimeText(t);
            dateLabels[6 + n] = base::oleDateText(d);
        }
    }

    const int count = z * 60 + NewestSlot - 241;
    const ChartPen gapPen{1, 1, chartcolour::kGapMark};
    for (int i = 1; i <= count; ++i) {
        const int s = FirstSlot + i;
        if (!slotOk(s)) break;
        if (GapMarks[s] > 0) {
            const double x = i * static_cast<double>(SlotStep);
            addLine(x, 0, x, 9000, gapPen);
        }
    }

    const float k = scaleK();
    if (ChartLow != 0) {
        if (auto off = base::roundToInt16(static_cast<double>(k) * ChartLow)) ChartYOffset = *off;
    } else {
        ChartYOffset = 0;
    }

    for (int i = 1; i <= count; ++i) {
        const int s0 = FirstSlot + i - 1;
        const int s1 = FirstSlot + i;
        if (!slotOk(s1)) break;
        // Slot 0 is never loaded: a segment from it would draw a false line from the value 0.
        if (s0 < 1) continue;
        const double x1 = base::roundHalfEven((i - 1) * static_cast<double>(SlotStep));
        const double x2 = base::roundHalfEven(i * static_cast<double>(SlotStep));
        for (const CurvePen& c : kCurves) {
            const float v0 = ChartSamples[c.channel][s0];
            const float v1 = ChartSamples[c.channel][s1];
            if (c.scaled)
                addLine(x1, scaledY(v0), x2, scaledY(v1), c.pen);
            else
                addLine(x1, fixedY(v0), x2, fixedY(v1), c.pen);
        }
    }
    touchSurface();
}

void ChartModel::RedrawChart() {
    ClearSurface();
    DrawChartGrid();
    ApplyZoomLevel();
    DrawChartCurves();
}

void ChartModel::ClearChartBuffers() {
    for (int s = 0; s <= 321; ++s) {
        ChartDates[s] = 0;
        ChartTimes[s] = 0;
        for (int c = 0; c <= 9; ++c)
            ChartSamples[c][s] = 0;
    }
}

bool ChartModel::ReadNewestRecord(ChartSource& src) {
    const std::optional<int> n = src.readCounter();
    if (!n) return false;
    NewestRecord = *n;
    return true;
}

void ChartModel::LoadChartWindow(ChartSource& src) {
    ClearChartBuffers();
    for (int s = 0; s <= 321; ++s)
        GapMarks[s] = 0;

    // The record just before the window, counted back across the ring's wrap when needed.
    const int64_t end = WindowEnd;
    const int64_t count = WindowCount;
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

    const int n = std::min<int64_t>(count, std::min<int64_t>(rows.size(), kSlots - 1));
    for (int i = 1; i <= n; ++i) {
        const Sample& r = rows[i - 1];
        ChartDates[i] = r.date;
        ChartTimes[i] = r.time;
        for (int c = 0; c <= 9; ++c)
            ChartSamples[c][i] = r.values[c];
        // A gap is measured on the full date and time, so midnight is no gap and a day's pause
        // at the same time of day is one. Only loaded records are compared.
        if (i >= 2) {
            const double dd =
                (ChartDates[i] - ChartDates[i - 1]) + (ChartTimes[i] - ChartTimes[i - 1]);
            if (std::fabs(dd) > kGapDays) GapMarks[i] = static_cast<int16_t>(i);
        }
    }

    const int f = FirstSlot + 1;
    if (slotOk(f)) {
        headerDate = base::oleDateText(ChartDates[f]);
        headerTime = base::oleTimeText(ChartTimes[f]);
    }
}

void ChartModel::ReloadLiveWindow(ChartSource& src) {
    ReadNewestRecord(src);
    WindowEnd = NewestRecord;
    WindowCount = kLiveCount;
    NewestSlot = kLiveCount;
    LoadChartWindow(src);
}

void ChartModel::Load(ChartSource& src) {
    OldestPageReached = false;
    HistoryPage = 0;
    controls = Controls{};
    for (int s = 1; s <= 321; ++s)
        GapMarks[s] = 0;
    ZoomLevel = 1;
    ChartSpan = 60;
    ReadNewestRecord(src);
    WindowCount = kLiveCount;
    WindowEnd = NewestRecord;
    NewestSlot = kLiveCount;
    RulerMode = false;
    controls.sliderValue = 0;
    LoadChartWindow(src);
    RedrawChart();
    updateValueLabels();
    UpdateSlotStepText();
}

void ChartModel::updateValueLabels() {
    const float f = static_cast<float>(ChartSpan / 6.0);
    for (int i = 0; i <= 6; ++i) {
        const double v = base::roundHalfEven(i * static_cast<double>(f)) + ChartLow;
        valueLabels[i] = base::intText(static_cast<int64_t>(v));
    }
}

void ChartModel::UpdateSlotStepText() {
    slotStepText = base::floatText(SlotStep);
}

void ChartModel::DisplayTick(ChartSource& src, RecorderHandshake& hs,
                             const std::array<float, 10>& live, const QDateTime& now) {
    if (!RulerMode) readoutShown = false;
    updateValueLabels();
    if (hs.RecordAdded) {
        ++NewestSlot;
        if (NewestSlot >= 20 * ZoomLevel + 241 || !slotOk(NewestSlot)) {
            // The newer area is full: the window moves on to end at the record just stored.
            ClearChartBuffers();
            ClearSurface();
            ReloadLiveWindow(src);
            RedrawChart();
        }
        if (slotOk(NewestSlot)) {
            for (int c = 0; c <= 9; ++c)
                ChartSamples[c][NewestSlot] = live[c];
            ChartDates[NewestSlot] = base::oleDate(now.date());
            ChartTimes[NewestSlot] = base::oleTime(now.time());
        }
        hs.RecordAdded = false;
        RedrawChart();
    }
}

void ChartModel::HeaderTick(const QDateTime& now) {
    if (RulerMode) return;
    headerDate = now.date().toString(QStringLiteral("MM-dd-yyyy"));
    headerTime = now.time().toString(QStringLiteral("HH:mm:ss"));
}

void ChartModel::PageOlder(ChartSource& src) {
    ++HistoryPage;
    const int64_t n = HistoryPage;
    WindowCount = kHistoryCount;
    controls.timer1 = false;
    controls.command7 = true;
    // A page of 321 records ending 60 x n before the newest needs 60 x n + 321 stored records: a
    // ring that has gone round holds all 65500, a younger one as many as the newest number.
    const int64_t stored =
        src.ringWrapped() ? kRingSize : std::clamp<int64_t>(NewestRecord, 0, kRingSize);
    if (kPageRecords * n + kHistoryCount > stored) {
        controls.command8 = false;
        OldestPageReached = true;
        return;
    }
    WindowEnd = ringRecord(NewestRecord, kPageRecords * n);
    NewestSlot = kHistoryCount;
    LoadChartWindow(src);
    RedrawChart();
}

void ChartModel::PageNewer(ChartSource& src) {
    if (HistoryPage <= 0) return;  // already live: there is no newer page
    ClearSurface();
    --HistoryPage;
    const int64_t n = HistoryPage;
    WindowCount = kHistoryCount;
    if (n != 0) {
        WindowEnd = ringRecord(NewestRecord, kPageRecords * n);
        NewestSlot = kHistoryCount;
        LoadChartWindow(src);
        RedrawChart();
    } else {
        ReadNewestRecord(src);
        WindowCount = kLiveCount;
        WindowEnd = NewestRecord;
        NewestSlot = kLiveCount;
        LoadChartWindow(src);
        controls.command7 = false;
        RedrawChart();
        controls.timer1 = true;
    }
    // Newer records may exist by now, so paging back is possible again.
    if (!controls.command8) {
        controls.command8 = true;
        OldestPageReached = false;
    }
}

void ChartModel::ZoomIn() {
    ClearSurface();
    DrawChartGrid();
    ZoomLevel = static_cast<int16_t>(ZoomLevel - 1);
    if (ZoomLevel <= 1) controls.command3 = false;
    if (ZoomLevel < 4) controls.command4 = true;
    ApplyZoomLevel();
    controls.sliderStep = static_cast<int>(base::roundHalfEven(SlotStep));
    DrawChartCurves();
}

void ChartModel::ZoomOut() {
    ClearSurface();
    DrawChartGrid();
    ZoomLevel = static_cast<int16_t>(ZoomLevel + 1);
    if (ZoomLevel > 1) controls.command3 = true;
    if (ZoomLevel > 3) controls.command4 = false;
    ApplyZoomLevel();
    controls.sliderStep = static_cast<int>(base::roundHalfEven(SlotStep));
    DrawChartCurves();
}

void ChartModel::ToggleRuler(ChartSource& src) {
    if (!RulerMode) {
        SetSliderValue(0, src);
        ruler = Ruler{1, 0, 1, 330, chartcolour::kRulerOn, 2};
        touchSurface();
        controls.sliderEnabled = true;
        RulerMode = true;
        focusRequest = Focus::Slider;
        controls.timer1 = false;
        controls.command5Caption = QStringLiteral("F4 复原");
    } else {
        SetSliderValue(0, src);
        ruler = Ruler{0, 0, 0, 330, chartcolour::kRulerOff, 2};
        touchSurface();
        RulerMode = false;
        controls.sliderEnabled = false;
        focusRequest = Focus::Command5;
        controls.command5Caption = QStringLiteral("F4 标尺");
        controls.timer1 = true;
        WindowCount = kLiveCount;
        ReadNewestRecord(src);
        WindowEnd = NewestRecord;
        LoadChartWindow(src);
        NewestSlot = kLiveCount;
        RedrawChart();
    }
}

void ChartModel::SetSliderValue(int v, ChartSource& src) {
    v = std::clamp(v, kSliderMin, kSliderMax);
    if (v == controls.sliderValue) return;
    controls.sliderValue = v;
    SliderChanged(src);
}

void ChartModel::SliderChanged(ChartSource& src) {
    const int v = controls.sliderValue;
    if (v == kSliderMin && !OldestPageReached) PageOlder(src);
    if (v == kSliderMax && HistoryPage > 0) PageNewer(src);
    ruler = Ruler{double(v), 0, double(v), 7500, chartcolour::kRulerLine, 2};
    touchSurface();
    int s = static_cast<int>(base::roundHalfEven(v / static_cast<double>(SlotStep))) + FirstSlot;
    s = std::clamp(s, 0, kSlots - 1);
    headerDate = base::oleDateText(ChartDates[s]);
    headerTime = base::oleTimeText(ChartTimes[s]);
    for (int c = 0; c <= 9; ++c)
        readoutTexts[c] = base::floatText(ChartSamples[c][s]);
    readoutShown = true;
    ++readoutSerial;
}

bool ChartModel::ApplyValueAxis(const QString& lowText, const QString& highText) {
    const double lo = base::leadingNumber(lowText);
    const double hi = base::leadingNumber(highText);
    if (!(hi <= 36000 && hi >= -12000)) return false;
    if (!(lo <= 35000 && lo >= -12000 && lo <= hi)) return false;
    // Each bound is stored only when it fits 16 bits; otherwise it keeps its value.
    if (auto low = base::roundToInt16(lo)) ChartLow = *low;
    if (auto span = base::roundToInt16(hi - lo)) ChartSpan = *span;
    return true;
}

}  // namespace record
