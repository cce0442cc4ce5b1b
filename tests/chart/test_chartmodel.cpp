// The chart model: geometry of a redraw, window loads across the ring, paging, zoom, ruler and
// value axis, the live append.

#include <gtest/gtest.h>

#include "base/oledate.h"
#include "chart/chartmodel.h"
#include "fakesource.h"

using chart::ChartLine;
using chart::ChartModel;
using chart::ChartQuery;
using chart_test::FakeSource;

namespace {

const QDateTime kEnd(QDate(2026, 3, 1), QTime(12, 0, 0));

std::vector<ChartLine> linesWithColour(const ChartModel& m, uint32_t colour) {
    std::vector<ChartLine> out;
    for (const auto& l : m.surface())
        if (l.pen.colour == colour) out.push_back(l);
    return out;
}

// Channel 0 (PV1) is the first curve line of every step and is alone in its colour.
std::vector<ChartLine> pv1(const ChartModel& m) {
    return linesWithColour(m, chart::chartcolour::kChannel0);
}

struct Loaded {
    FakeSource src;
    ChartModel m;
    explicit Loaded(int newest, bool wrapped = false, const QDateTime& end = kEnd) {
        src.fill(newest, wrapped, end);
        m.load(src);
    }
    // Record `id` of an unwrapped ring, one a second up to the newest at kEnd, given new values.
    void change(int id, float v0, float v1 = 0) {
        src.put(id, kEnd.addSecs(id - *src.counter), v0, v1);
        m.load(src);
    }
    float slotValue(int s) const { return m.samples()[0][s]; }
};

}  // namespace

TEST(ChartGeometry, ValueAxisScaleAndOffset) {
    FakeSource src;
    ChartModel m;
    m.load(src);
    EXPECT_EQ(m.chartSpan(), 60);
    EXPECT_EQ(m.chartLow(), 0);
    EXPECT_EQ(m.scaledY(30), 3758);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(m.valueLabels()[i], QString::number(10 * i));

    ASSERT_TRUE(m.applyValueAxis("100", "300"));
    m.redrawChart();
    EXPECT_FLOAT_EQ(m.scaleK(), 37.5f);
    EXPECT_EQ(m.chartYOffset(), 3750);
    EXPECT_EQ(m.scaledY(100), 7508);
    EXPECT_EQ(m.scaledY(300), 8);

    EXPECT_EQ(ChartModel::fixedY(100), 633);
    EXPECT_EQ(ChartModel::fixedY(0), 6883);
    // The labels follow the axis on the next display tick.
    m.displayTick(src, false, {}, kEnd);
    EXPECT_EQ(m.valueLabels()[0], "100");
    EXPECT_EQ(m.valueLabels()[6], "300");
}

TEST(ChartGeometry, ValueLabelsRoundHalfEven) {
    FakeSource src;
    ChartModel m;
    m.load(src);
    ASSERT_TRUE(m.applyValueAxis("10.5", "20.5"));
    m.displayTick(src, false, {}, kEnd);
    const std::array<const char*, 7> want{"10", "12", "13", "15", "17", "18", "20"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(m.valueLabels()[i], want[i]) << i;
}

TEST(ChartGeometry, ZoomTable) {
    struct Row {
        int zoom;
        float step;
        int first;
    };
    ChartModel m;
    m.zoomIn();  // already the closest
    for (Row r : {Row{1, 150, 180}, Row{2, 75, 120}, Row{3, 50, 60}, Row{4, 37.5f, 0}}) {
        if (r.zoom > 1) m.zoomOut();
        ASSERT_EQ(m.zoomLevel(), r.zoom);
        EXPECT_EQ(m.slotStep(), r.step);
        EXPECT_EQ(m.firstSlot(), r.first);
        // Slot 240 always lies at x = 9000.
        EXPECT_EQ((240 - m.firstSlot()) * m.slotStep(), 9000);
    }
    m.zoomOut();  // already the widest
    EXPECT_EQ(m.zoomLevel(), 4);
    EXPECT_EQ(m.slotStep(), 37.5f);
    EXPECT_EQ(m.firstSlot(), 0);
}

TEST(ChartGeometry, GridLines) {
    ChartModel m;
    m.clearSurface();
    m.drawChartGrid();
    const auto& g = m.surface();
    ASSERT_EQ(g.size(), 62u);
    for (const auto& l : g)
        EXPECT_EQ(l.pen, (chart::ChartPen{1, 2, chart::chartcolour::kGrid}));
    EXPECT_EQ(g[1].y1, 7500);
    EXPECT_EQ(g[2 + 1].y1, 312);  // 312.5 to even
    EXPECT_EQ(g[2 + 3].y1, 938);  // 937.5 to even
    EXPECT_EQ(g[2 + 24].y1, 7500);
    EXPECT_EQ(g[27].x1, 8);
    EXPECT_EQ(g[27].y2, 7508);
    EXPECT_EQ(g[28].x1, 9000);
    EXPECT_EQ(g[29 + 32].x1, 12000);
    EXPECT_EQ(g[0].x2, 12008);
}

TEST(ChartGeometry, LiveCurvesAtLevelOneRunFromSlot180ToSlot240) {
    Loaded w(5000);
    const auto p = pv1(w.m);
    ASSERT_EQ(p.size(), 60u);
    EXPECT_EQ(p.front().x1, 0);
    EXPECT_EQ(p.front().y1, w.m.scaledY(w.slotValue(180)));
    EXPECT_EQ(p.back().x2, 9000);
    EXPECT_EQ(p.back().y2, w.m.scaledY(w.slotValue(240)));
    // The six curves of one step, in order, with their pens.
    const auto& s = w.m.surface();
    const size_t firstCurve = s.size() - 60 * 6;
    const std::array<chart::ChartPen, 6> pens{{{2, 0, chart::chartcolour::kChannel0},
                                               {2, 0, chart::chartcolour::kChannel1},
                                               {1, 0, chart::chartcolour::kChannel2},
                                               {1, 0, chart::chartcolour::kChannel3},
                                               {1, 0, chart::chartcolour::kChannel8},
                                               {1, 0, chart::chartcolour::kChannel9}}};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(s[firstCurve + k].pen, pens[k]) << k;
    EXPECT_EQ(s[firstCurve + 4].y1, 633);  // channel 8 stored at 100
}

TEST(ChartGeometry, LevelFourStartsAtSlotOne) {
    Loaded w(5000);
    for (int i = 0; i < 3; ++i)
        w.m.zoomOut();
    ASSERT_EQ(w.m.zoomLevel(), 4);
    const auto p = pv1(w.m);
    // Slots 1..240: no segment from the never-loaded slot 0.
    ASSERT_EQ(p.size(), 239u);
    EXPECT_EQ(p.front().x1, 38);  // 37.5 to even
    EXPECT_EQ(p.front().y1, w.m.scaledY(w.slotValue(1)));
    EXPECT_EQ(p.back().x2, 9000);
}

TEST(ChartGeometry, GapMarkLines) {
    Loaded w(5000);
    // Slot 200 holds record 4959: the records from there on come six minutes late.
    for (int id = 4959; id <= 5000; ++id)
        w.src.put(id, kEnd.addSecs(id - 5000 + 360), float(id));
    w.m.load(w.src);
    ASSERT_EQ(w.m.gapMarks()[200], 200);
    const auto gaps = linesWithColour(w.m, chart::chartcolour::kGapMark);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].pen.style, 1);
    EXPECT_EQ(gaps[0].x1, 20 * 150);
    EXPECT_EQ(gaps[0].y2, 9000);  // the painter clips it at the surface's edge
}

TEST(ChartGeometry, ForecastLabelsCrossMidnight) {
    Loaded w(5000, false, QDateTime(QDate(2026, 3, 1), QTime(23, 59, 55)));
    EXPECT_EQ(w.m.dateLabels()[7], "2026/03/02");
    EXPECT_EQ(w.m.timeLabels()[7], "00:00:05");
    for (int i = 0; i < 3; ++i)
        w.m.zoomOut();
    EXPECT_EQ(w.m.timeLabels()[8], "00:01:15");  // 80 s after slot 241
    EXPECT_EQ(w.m.timeLabels()[0], base::oleTimeText(w.m.times()[1]));
}

TEST(ChartGeometry, NonFiniteValuesStayDrawable) {
    Loaded w(500);
    w.change(459, std::numeric_limits<float>::quiet_NaN(),  // slot 200
             std::numeric_limits<float>::infinity());
    ASSERT_TRUE(std::isnan(w.slotValue(200)));
    for (const auto& l : w.m.surface())
        EXPECT_TRUE(std::isfinite(l.y1) && std::isfinite(l.y2));
}

TEST(ChartWindow, LiveWindowWithoutWrap) {
    Loaded w(5000);
    EXPECT_EQ(w.m.lastQuery(), (ChartQuery{false, 4760, 5000}));
    EXPECT_EQ(w.slotValue(1), 4760);
    EXPECT_EQ(w.slotValue(241), 5000);
    EXPECT_EQ(w.m.times()[241], base::oleTime(QTime(12, 0, 0)));
}

TEST(ChartWindow, LiveWindowAcrossTheWrapIsInTimeOrder) {
    Loaded w(100, true);
    EXPECT_EQ(w.m.lastQuery(), (ChartQuery{true, 101, 65359}));
    EXPECT_EQ(w.slotValue(1), 65360);
    EXPECT_EQ(w.slotValue(141), 65500);
    EXPECT_EQ(w.slotValue(142), 1);
    EXPECT_EQ(w.slotValue(241), 100);
}

// A young ring: its records end in the newest slot; the slots before the first record hold
// nothing, have empty labels and no curve runs through them, so a curve starts at its first real
// sample. A ring with no record at all shows no curve and no time at all.
TEST(ChartWindow, YoungRingEndsInTheNewestSlotAndEmptySlotsStayBlank) {
    for (int records : {0, 50}) {
        Loaded w(records);
        const int first = 241 - records + 1;
        for (int s = 1; s < first; ++s) {
            EXPECT_FALSE(w.m.hasSample(s)) << s;
            EXPECT_EQ(w.m.gapMarks()[s], 0);
        }
        if (records > 0) {
            EXPECT_EQ(w.slotValue(first), 1);
            EXPECT_EQ(w.slotValue(241), records);
        }
        for (int zoom = 1; zoom <= 4; ++zoom) {
            if (zoom > 1) w.m.zoomOut();
            // Labels over empty slots are empty; those over records show them.
            for (int i = 0; i <= 6; ++i) {
                const int s = i * zoom * 10 + w.m.firstSlot() + 1;
                EXPECT_EQ(w.m.timeLabels()[i].isEmpty(), s < first) << zoom << " " << i;
                EXPECT_EQ(w.m.dateLabels()[i].isEmpty(), s < first) << zoom << " " << i;
            }
            // The forecast labels count on from the newest record only when there is one.
            EXPECT_EQ(w.m.timeLabels()[8].isEmpty(), records == 0);
            const auto p = pv1(w.m);
            const int drawnFrom = std::max(first, int(w.m.firstSlot()));
            ASSERT_EQ(int(p.size()), std::max(0, 240 - drawnFrom)) << zoom;
            if (!p.empty()) {
                EXPECT_EQ(p.front().x1, std::round((drawnFrom - w.m.firstSlot()) * w.m.slotStep()));
            }
        }
    }
}

TEST(ChartWindow, GapMarksCompareDateAndTime) {
    struct Case {
        QDateTime prev, next;
        bool gap;
    };
    const QDate d(2026, 3, 1);
    const Case cases[] = {
        {QDateTime(d, QTime(10, 0, 0)), QDateTime(d, QTime(10, 6, 0)), true},
        {QDateTime(d, QTime(10, 0, 0)), QDateTime(d, QTime(10, 4, 59)), false},
        {QDateTime(d, QTime(23, 59, 59)), QDateTime(d.addDays(1), QTime(0, 0, 0)), false},
        {QDateTime(d, QTime(10, 0, 0)), QDateTime(d.addDays(1), QTime(10, 0, 0)), true},
    };
    for (const Case& c : cases) {
        FakeSource src;
        src.fill(5000, false, kEnd);
        src.put(4760, c.prev.addSecs(-1), 1);  // slot 1 precedes the pair
        src.put(4761, c.prev, 2);
        src.put(4762, c.next, 3);
        for (int id = 4763; id <= 5000; ++id)
            src.put(id, c.next.addSecs(id - 4762), float(id));
        ChartModel m;
        m.load(src);
        EXPECT_EQ(m.gapMarks()[3] > 0, c.gap)
            << c.prev.toString().toStdString() << " -> " << c.next.toString().toStdString();
        EXPECT_EQ(m.gapMarks()[1], 0);
        EXPECT_EQ(m.gapMarks()[2], 0);
    }
}

TEST(ChartPaging, BackTwoPagesAndForwardToLive) {
    Loaded w(5000);
    w.m.pageOlder(w.src);
    EXPECT_EQ(w.m.historyPage(), 1);
    EXPECT_EQ(w.m.lastQuery(), (ChartQuery{false, 4620, 4940}));
    EXPECT_EQ(w.slotValue(321), 4940);
    EXPECT_FALSE(w.m.controls().displayRunning);
    EXPECT_TRUE(w.m.controls().newerEnabled);
    w.m.pageOlder(w.src);
    EXPECT_EQ(w.m.windowEnd(), 4880);
    w.m.pageNewer(w.src);
    EXPECT_EQ(w.m.windowEnd(), 4940);
    w.src.counter = 5003;  // recorded meanwhile
    w.m.pageNewer(w.src);
    EXPECT_EQ(w.m.historyPage(), 0);
    EXPECT_EQ(w.m.windowCount(), 241);
    EXPECT_EQ(w.m.newestSlot(), 241);
    EXPECT_EQ(w.m.lastQuery(), (ChartQuery{false, 4763, 5003}));
    EXPECT_TRUE(w.m.controls().displayRunning);
    EXPECT_FALSE(w.m.controls().newerEnabled);
    // Already live: a further page newer changes nothing.
    const int loads = w.src.loads;
    w.m.pageNewer(w.src);
    EXPECT_EQ(w.m.historyPage(), 0);
    EXPECT_EQ(w.src.loads, loads);
}

TEST(ChartPaging, RefusedOnlyBeforeTheOldestStoredRecord) {
    struct Case {
        int newest;
        bool wrapped;
        int pagesAccepted;
        int firstEnd;
    };
    const Case cases[] = {
        {300, false, 0, 0},    // 381 records needed for the first page
        {381, false, 1, 321},  // exactly enough
        {441, false, 2, 381},      {50, true, 1087 - 1, 65490},
        {100, true, 1087 - 1, 40}, {120, true, 1087 - 1, 60},
    };
    for (const Case& c : cases) {
        Loaded w(c.newest, c.wrapped);
        int accepted = 0;
        while (!w.m.oldestPageReached() && accepted < 2000) {
            const int loads = w.src.loads;
            w.m.pageOlder(w.src);
            if (w.m.oldestPageReached()) {
                EXPECT_EQ(w.src.loads, loads);  // nothing loaded on a refusal
                break;
            }
            if (accepted == 0) {
                EXPECT_EQ(w.m.windowEnd(), c.firstEnd) << c.newest;
            }
            ++accepted;
            // The page's newest and oldest records are the ones asked for, all present.
            EXPECT_EQ(w.slotValue(321), ChartModel::ringRecord(c.newest, 60 * accepted));
            ASSERT_EQ(w.slotValue(1), ChartModel::ringRecord(c.newest, 60 * accepted + 320))
                << c.newest << " page " << accepted;
        }
        EXPECT_EQ(accepted, c.pagesAccepted) << c.newest;
        EXPECT_FALSE(w.m.controls().olderEnabled);
        EXPECT_EQ(w.m.historyPage(), accepted + 1);
    }
}

TEST(ChartPaging, RingRecordCountsBackAcrossTheWrap) {
    EXPECT_EQ(ChartModel::ringRecord(5000, 60), 4940);
    EXPECT_EQ(ChartModel::ringRecord(100, 60), 40);
    EXPECT_EQ(ChartModel::ringRecord(60, 60), 65500);
    EXPECT_EQ(ChartModel::ringRecord(50, 60), 65490);
    EXPECT_EQ(ChartModel::ringRecord(0, 0), 65500);
    EXPECT_EQ(ChartModel::ringRecord(-5, 0), 65495);
}

TEST(ChartPaging, NewerPagesAndLiveAllowPagingBackAgain) {
    {
        Loaded w(300);
        w.m.pageOlder(w.src);
        ASSERT_TRUE(w.m.oldestPageReached());
        EXPECT_TRUE(w.m.controls().newerEnabled);
        w.m.pageNewer(w.src);  // back to live
        EXPECT_FALSE(w.m.oldestPageReached());
        EXPECT_TRUE(w.m.controls().olderEnabled);
        EXPECT_TRUE(w.m.controls().displayRunning);
    }
    {
        Loaded w(441);
        w.m.pageOlder(w.src);
        w.m.pageOlder(w.src);
        w.m.pageOlder(w.src);
        ASSERT_TRUE(w.m.oldestPageReached());
        w.m.pageNewer(w.src);
        EXPECT_EQ(w.m.historyPage(), 2);
        EXPECT_FALSE(w.m.oldestPageReached());
        EXPECT_TRUE(w.m.controls().olderEnabled);
    }
}

TEST(ChartTools, ZoomButtonsAndSliderSteps) {
    Loaded w(5000);
    EXPECT_FALSE(w.m.controls().zoomInEnabled);
    const int steps[] = {75, 50, 38};
    for (int i = 0; i < 3; ++i) {
        w.m.zoomOut();
        EXPECT_EQ(w.m.controls().sliderStep, steps[i]);
        EXPECT_TRUE(w.m.controls().zoomInEnabled);
    }
    EXPECT_EQ(w.m.zoomLevel(), 4);
    EXPECT_FALSE(w.m.controls().zoomOutEnabled);
    for (int i = 0; i < 3; ++i)
        w.m.zoomIn();
    EXPECT_EQ(w.m.zoomLevel(), 1);
    EXPECT_EQ(w.m.controls().sliderStep, 150);
    EXPECT_FALSE(w.m.controls().zoomInEnabled);
    EXPECT_TRUE(w.m.controls().zoomOutEnabled);
    EXPECT_EQ(w.m.windowEnd(), 5000);  // zoom never reloads
}

TEST(ChartTools, RulerReadoutAndSliderEnds) {
    Loaded w(5000);
    w.change(4899, 12.5f);  // slot 140
    w.m.zoomOut();
    w.m.toggleRuler(w.src);
    EXPECT_TRUE(w.m.rulerMode());
    EXPECT_FALSE(w.m.controls().displayRunning);
    EXPECT_TRUE(w.m.controls().sliderEnabled);
    EXPECT_EQ(w.m.controls().rulerCaption, "F4 复原");
    w.m.setSliderValue(1500, w.src);
    EXPECT_EQ(w.m.readoutTexts()[0], "12.5");
    EXPECT_EQ(w.m.headerTime(), base::oleTimeText(w.m.times()[140]));
    EXPECT_EQ(w.m.ruler().x1, 1500);
    EXPECT_EQ(w.m.ruler().y2, 7500);
    EXPECT_EQ(w.m.ruler().colour, chart::chartcolour::kRulerLine);

    // Right end on the live view: only the ruler moves.
    w.m.setSliderValue(12001, w.src);
    EXPECT_EQ(w.m.historyPage(), 0);
    // Left end pages back, right end forward again.
    w.m.setSliderValue(-1, w.src);
    EXPECT_EQ(w.m.historyPage(), 1);
    EXPECT_EQ(w.m.windowEnd(), 4940);
    w.m.setSliderValue(12001, w.src);
    EXPECT_EQ(w.m.historyPage(), 0);

    // Off while a page is shown: the live window returns, the page counter stays.
    w.m.setSliderValue(-1, w.src);
    ASSERT_EQ(w.m.historyPage(), 1);
    w.m.toggleRuler(w.src);
    EXPECT_FALSE(w.m.rulerMode());
    EXPECT_EQ(w.m.historyPage(), 1);
    EXPECT_TRUE(w.m.controls().newerEnabled);
    EXPECT_TRUE(w.m.controls().displayRunning);
    EXPECT_EQ(w.m.controls().sliderValue, 0);
    EXPECT_EQ(w.m.windowCount(), 241);
    EXPECT_EQ(w.m.lastQuery(), (ChartQuery{false, 4760, 5000}));
    EXPECT_EQ(w.m.ruler().colour, chart::chartcolour::kRulerOff);
    EXPECT_EQ(w.m.controls().rulerCaption, "F4 标尺");
}

TEST(ChartTools, ValueAxisBounds) {
    struct Case {
        const char* lo;
        const char* hi;
        bool accepted;
        int low, span;
    };
    // Each case starts from chartLow 7, chartSpan 33. Any accepted pair is held whole: the
    // span of -12000..36000 and the offset of 30000..36000 need more than 16 bits.
    const Case cases[] = {
        {"0", "60", true, 0, 60},
        {"50", "40", false, 7, 33},
        {"0", "36001", false, 7, 33},
        {"0", "-12001", false, 7, 33},
        {"10.5", "20.5", true, 10, 10},
        {"abc", "60", true, 0, 60},
        {"0", "36000", true, 0, 36000},
        {"5", "5", false, 7, 33},
        {"10.4", "10.6", false, 7, 33},
        {"-12000", "36000", true, -12000, 48000},
        {"30000", "36000", true, 30000, 6000},
        {"35001", "36000", false, 7, 33},
        {"-12001", "0", false, 7, 33},
        {" -3e1x", "1E2", true, -30, 130},
    };
    for (const Case& c : cases) {
        ChartModel m;
        ASSERT_TRUE(m.applyValueAxis("7", "40"));
        EXPECT_EQ(m.applyValueAxis(c.lo, c.hi), c.accepted) << c.lo << " " << c.hi;
        EXPECT_EQ(m.chartLow(), c.low) << c.lo << " " << c.hi;
        EXPECT_EQ(m.chartSpan(), c.span) << c.lo << " " << c.hi;
        // The axis' own bounds lie on the bottom and top edges.
        m.redrawChart();
        EXPECT_EQ(m.scaledY(float(m.chartLow())), ChartModel::kHeight);
        EXPECT_NEAR(m.scaledY(float(m.chartLow() + m.chartSpan())), ChartModel::kHeight - 7500, 1);
    }
}

TEST(ChartLive, AppendsOneSlotPerRecordAndReloadsWhenFull) {
    Loaded w(5000);
    QDateTime now = kEnd;
    std::array<float, 10> live{};
    for (int n = 1; n <= 19; ++n) {
        now = now.addSecs(1);
        w.src.put(5000 + n, now, float(5000 + n));
        w.src.counter = 5000 + n;
        live[0] = float(n);
        w.m.displayTick(w.src, true, live, now);
        EXPECT_EQ(w.m.newestSlot(), 241 + n);
        EXPECT_EQ(w.slotValue(241 + n), float(n));
        EXPECT_EQ(w.m.times()[241 + n], base::oleTime(now.time()));
        EXPECT_EQ(pv1(w.m).size(), size_t(60 + n));
    }
    EXPECT_EQ(w.m.windowEnd(), 5000);
    // The 20th record fills the newer area: the window moves on and ends at it, in slot 241,
    // overwritten at once by the live values.
    now = now.addSecs(1);
    w.src.put(5020, now, 5020);
    w.src.counter = 5020;
    live[0] = 77;
    w.m.displayTick(w.src, true, live, now);
    EXPECT_EQ(w.m.newestSlot(), 241);
    EXPECT_EQ(w.m.windowEnd(), 5020);
    EXPECT_EQ(w.slotValue(240), 5019);
    EXPECT_EQ(w.slotValue(241), 77);
    EXPECT_EQ(pv1(w.m).size(), 60u);

    // No record: nothing moves.
    w.m.displayTick(w.src, false, live, now);
    EXPECT_EQ(w.m.newestSlot(), 241);
}

// Seconds without a reading are a gap in the live curves, not zeros: the ones stored stale (or
// with the port closed), and the ones nothing was stored in (the program was not running), which
// keep their place and their times on the axis instead of the curve jumping by record number.
TEST(ChartLive, SecondsWithoutAReadingAreGapsInTime) {
    FakeSource src;
    src.fill(5000, false, kEnd);
    // A restart: records up to 4900 were stored 60 s earlier than one a second would put them.
    for (int id = 4600; id <= 4900; ++id)
        src.put(id, kEnd.addSecs(id - 5000 - 60), float(id));
    src.markStale(4990);
    ChartModel m;
    m.load(src);
    for (int z = 1; z < ChartModel::kMaxZoom; ++z)
        m.zoomOut();  // every slot of the live window on the surface
    // 5000 in slot 241 and 4901 in slot 142, one a second; 4900 sixty seconds before 4901.
    EXPECT_EQ(m.samples()[0][142], 4901.0f);
    EXPECT_EQ(m.samples()[0][81], 4900.0f);
    for (int s = 82; s < 142; ++s) {
        ASSERT_TRUE(m.hasSample(s)) << s;
        EXPECT_FALSE(m.hasReading(s)) << s;
        EXPECT_EQ(m.times()[s], base::oleTime(kEnd.addSecs(s - 241).time())) << s;
    }
    EXPECT_FALSE(m.hasReading(231));  // record 4990
    // Segments join two readings only.
    const auto endSlot = [&](const ChartLine& l) {
        return int(std::lround(l.x2 / m.slotStep())) + m.firstSlot();
    };
    const auto drawnTo = [&](int slot) {
        const auto p = pv1(m);
        return std::count_if(p.begin(), p.end(),
                             [&](const ChartLine& l) { return endSlot(l) == slot; });
    };
    for (const ChartLine& l : pv1(m)) {
        const int s = endSlot(l);
        EXPECT_TRUE(m.hasReading(s) && m.hasReading(s - 1)) << s;
    }
    EXPECT_EQ(drawnTo(81), 1);
    EXPECT_EQ(drawnTo(82), 0);
    EXPECT_EQ(drawnTo(142), 0);
    EXPECT_EQ(drawnTo(143), 1);
    EXPECT_LT(pv1(m).size(), size_t(240 - 60));

    // Live: a stale second appended is no reading either; the curve goes on after it.
    QDateTime now = kEnd;
    std::array<float, 10> live{};
    const auto append = [&](bool stale) {
        now = now.addSecs(1);
        const int id = *src.counter + 1;
        src.put(id, now, 0);
        src.counter = id;
        m.displayTick(src, true, live, now, stale);
    };
    // The curve reaches the slot before the newest.
    append(true);
    EXPECT_FALSE(m.hasReading(m.newestSlot()));
    append(false);
    append(false);
    EXPECT_EQ(drawnTo(m.newestSlot() - 1), 0);  // from the stale second
    append(false);
    EXPECT_EQ(drawnTo(m.newestSlot() - 1), 1);
}

TEST(ChartLive, HeaderShowsTheClockOutsideRulerMode) {
    Loaded w(5000);
    w.m.headerTick(QDateTime(QDate(2001, 3, 12), QTime(18, 42, 0)));
    EXPECT_EQ(w.m.headerDate(), "03-12-2001");
    EXPECT_EQ(w.m.headerTime(), "18:42:00");
    w.m.toggleRuler(w.src);
    w.m.headerTick(QDateTime(QDate(2001, 3, 13), QTime(1, 0, 0)));
    EXPECT_EQ(w.m.headerDate(), "03-12-2001");
}
