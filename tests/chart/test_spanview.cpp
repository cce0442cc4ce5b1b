// The span envelope against a brute-force grouping of random archives (seconds and rollups, with
// pauses short and long and a one-second spike), the drawing's breaks and band, and span lengths.

#include <gtest/gtest.h>

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <random>

#include "chart/chartprint.h"
#include "fakesource.h"

using chart::SpanColumn;
using store::SpanRow;

namespace {

struct Case {
    const char* name;
    int64_t length;  // seconds of the span
    int64_t rollup;  // 1: seconds, else the rollup width the rows come in
    int columns;
    int every;  // a sample every `every` seconds
};

// An archive of random values over from..to with a pause of 200 s (no gap), pauses of 301 s and
// of an hour (gaps), and a spike of 900 on PV1 for one second.
struct Archive {
    std::vector<SpanRow> seconds;
    int64_t spikeAt = 0;
    std::vector<std::pair<int64_t, int64_t>> gaps;  // last sample before, first after
};

Archive makeArchive(int64_t from, int64_t to, int every, std::mt19937& rng) {
    Archive a;
    std::uniform_real_distribution<float> value(10, 40);
    const int64_t length = to - from + 1;
    const std::array<std::pair<int64_t, int64_t>, 3> pauses{
        {{from + length / 5, 200}, {from + length / 2, 301}, {from + 3 * length / 4, 3600}}};
    a.spikeAt = from + length / 3 + 7;
    int64_t t = from + 3;
    while (t <= to) {
        chart_test::FakeSpanSource one;
        one.add(t, t == a.spikeAt ? 900.0f : value(rng), value(rng));
        a.seconds.push_back(one.seconds[0]);
        int64_t next = t + every;
        if (t < a.spikeAt && next > a.spikeAt) next = a.spikeAt;
        for (const auto& [at, pause] : pauses)
            if (t < at && next >= at) {
                next = t + pause + 1;
                if (pause > chart::kSpanGapSeconds && next <= to) a.gaps.push_back({t, next});
            }
        t = next;
    }
    return a;
}

// Every column from every row that overlaps it, the hard way.
std::vector<SpanColumn> bruteForce(const std::vector<SpanRow>& rows, int64_t from, int64_t to,
                                   int columns) {
    std::vector<SpanColumn> out(columns);
    const SpanColumn* previous = nullptr;
    for (int c = 0; c < columns; ++c) {
        const int64_t start = chart::spanColumnStart(from, to, columns, c);
        const int64_t end = chart::spanColumnStart(from, to, columns, c + 1) - 1;
        SpanColumn& col = out[c];
        std::array<double, 10> sums{};
        col.min.fill(INFINITY);
        col.max.fill(-INFINITY);
        for (const SpanRow& r : rows) {
            if (r.last < std::max(start, from) || r.first > std::min(end, to)) continue;
            if (!col.count) col.first = r.first;
            col.last = std::max(col.last, r.last);
            col.count += r.count;
            for (int v = 0; v < 10; ++v) {
                col.min[v] = std::min(col.min[v], r.min[v]);
                col.max[v] = std::max(col.max[v], r.max[v]);
                sums[v] += double(r.mean[v]) * r.count;
            }
        }
        if (!col.count) continue;
        for (int v = 0; v < 10; ++v)
            col.mean[v] = float(sums[v] / col.count);
        col.breakBefore = previous && col.first - previous->last > chart::kSpanGapSeconds;
        previous = &col;
    }
    return out;
}

}  // namespace

TEST(SpanView, EnvelopeMatchesBruteForceAndKeepsSpikesAndGaps) {
    const Case cases[] = {
        {"hour of seconds, 1200 columns", 3600, 1, 1200, 1},
        {"hour of sparse seconds, more columns than samples", 3600, 1, 1200, 7},
        {"day of minutes, rows straddling columns", 86400, 60, 1100, 5},
        {"week of ten minutes", 7 * 86400, 600, 1200, 30},
        {"month of hours, rows wider than columns", 30 * 86400, 3600, 1200, 60},
        {"few columns", 86400, 1, 7, 13},
    };
    std::mt19937 rng(20261208);
    const int64_t to = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const int64_t from = to - k.length + 1;
        const Archive a = makeArchive(from, to, k.every, rng);
        const std::vector<SpanRow> rows =
            k.rollup == 1 ? a.seconds : chart_test::rollUp(a.seconds, k.rollup);
        const std::vector<SpanColumn> got = chart::spanEnvelope(rows, from, to, k.columns);
        const std::vector<SpanColumn> want = bruteForce(rows, from, to, k.columns);
        ASSERT_EQ(got.size(), want.size());
        int spikes = 0, breaks = 0;
        for (size_t c = 0; c < got.size(); ++c) {
            SCOPED_TRACE(c);
            ASSERT_EQ(got[c].count, want[c].count);
            if (!want[c].count) continue;
            EXPECT_EQ(got[c].breakBefore, want[c].breakBefore);
            breaks += got[c].breakBefore;
            for (int v : {0, 1, 8}) {
                EXPECT_EQ(got[c].min[v], want[c].min[v]);
                EXPECT_EQ(got[c].max[v], want[c].max[v]);
                EXPECT_NEAR(got[c].mean[v], want[c].mean[v], 1e-3);
            }
            spikes += got[c].max[0] == 900.0f;
        }
        // The spike survives in one column (in each a rollup row holding it covers). Each pause
        // longer than five minutes is one break where its two samples lie in different rows and
        // columns (a rollup or a column wider than the pause hides it); the 200 s pause is none.
        EXPECT_GE(spikes, 1);
        EXPECT_LE(spikes, k.rollup > 1 ? 3 : 1);
        auto column = [&](int64_t t) { return (t - from) * k.columns / k.length; };
        std::vector<std::pair<int64_t, int64_t>> shown;
        for (const auto& gap : a.gaps)
            if (gap.first / k.rollup != gap.second / k.rollup &&
                column(gap.first) != column(gap.second))
                shown.push_back(gap);
        EXPECT_EQ(breaks, int(shown.size()));
        if (k.rollup == 1 && k.columns > 100) {
            EXPECT_EQ(shown.size(), a.gaps.size());
        }

        // The drawing: the spike's band reaches its height, and no PV1 mean line crosses a gap.
        const auto lines = chart::spanLines(got, 0, 1000);
        const double spikeY = chart::ChartModel::axisY(900, chart::ChartModel::scaleFor(1000), 0);
        bool spikeDrawn = false;
        for (const chart::ChartLine& l : lines) {
            if (std::min(l.y1, l.y2) == spikeY) spikeDrawn = true;
            if (l.pen.colour != chart::chartcolour::kChannel0) continue;
            for (const auto& [before, after] : shown) {
                const double x =
                    double((before + after) / 2 - from) / k.length * chart::ChartModel::kWidth;
                EXPECT_FALSE(std::min(l.x1, l.x2) < x && std::max(l.x1, l.x2) > x)
                    << "mean line across the gap at " << x;
            }
        }
        EXPECT_TRUE(spikeDrawn);
    }
}

// Over every span length, the first label, the ruler at the left edge and the page's title
// read the span's first second, the last label, the ruler at the right edge and the title its
// last; the middle label reads the middle of the surface, and all carry the year.
TEST(SpanView, LabelsRulerAndTitleReadTheSpansEnds) {
    const int64_t end = QDateTime(QDate(2026, 3, 31), QTime(3, 51, 25)).toSecsSinceEpoch();
    chart_test::FakeSpanSource src;
    for (int64_t t = end - 40 * 86400; t <= end; t += 60)
        src.add(t, 20);
    const QString form = "yyyy-MM-dd HH:mm:ss";
    auto text = [&](int64_t t) { return QDateTime::fromSecsSinceEpoch(t).toString(form); };
    for (chart::SpanLength len : chart::kSpanLengths) {
        SCOPED_TRACE(chart::spanLengthText(len).toStdString());
        const int64_t start = chart::spanStart(end, len);
        // Moving back and forth returns to the end (a month ending on the 31st comes back on
        // the 28th of the next: calendar months).
        if (len != chart::SpanLength::Month) {
            EXPECT_EQ(chart::shiftSpanEnd(start - 1, len, 1), end);
        }
        chart::SpanView view;
        ASSERT_TRUE(view.load(src, start, end));
        EXPECT_EQ(src.lastMaxRows, 4 * chart::SpanView::kColumns);
        EXPECT_LE(view.rowCount(), size_t(4 * chart::SpanView::kColumns));
        EXPECT_EQ(view.note(), QString());

        auto label = [&](int i) { return view.dateLabels()[i] + " " + view.timeLabels()[i]; };
        EXPECT_EQ(label(0), text(start));
        EXPECT_EQ(label(8), text(end));
        EXPECT_EQ(label(4), text(view.timeAt(chart::ChartModel::kWidth / 2)));
        EXPECT_TRUE(view.readoutAt(chart::ChartModel::kSliderMin).startsWith(text(start) + " 至 "));
        EXPECT_TRUE(view.readoutAt(chart::ChartModel::kSliderMax)
                        .section('\n', 0, 0)
                        .endsWith(" 至 " + text(end).right(8)));
        EXPECT_TRUE(view.readoutAt(6000).contains("PV1  最小 20  最大 20  平均 20.00"));
        EXPECT_TRUE(chart::chartTitle(1, 1,
                                      std::pair{QDateTime::fromSecsSinceEpoch(view.from()),
                                                QDateTime::fromSecsSinceEpoch(view.to())})
                        .endsWith(text(start) + " 至 " + text(end)));
    }
    EXPECT_EQ(chart::spanStart(end, chart::SpanLength::Hour), end - 3599);
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(chart::spanStart(end, chart::SpanLength::Month) - 1)
                  .date()
                  .month(),
              2);

    // A month of a year without data says so, and its labels say which year.
    chart::SpanView empty;
    const int64_t yearAgo = QDateTime(QDate(2025, 3, 31), QTime(12, 0)).toSecsSinceEpoch();
    ASSERT_TRUE(empty.load(src, chart::spanStart(yearAgo, chart::SpanLength::Month), yearAgo));
    EXPECT_EQ(empty.note(), QString("无数据"));
    EXPECT_EQ(empty.dateLabels()[0], QString("2025-02-28"));
    EXPECT_EQ(empty.dateLabels()[8], QString("2025-03-31"));
}

// Seconds stored while the instrument's values were stale come as stale rows: they fill no
// column, and the mean line breaks across them however short they are (here 61 s and 2 s, well
// under the five minutes that break it for missing samples), unless they lie within one column.
TEST(SpanView, StaleSecondsBreakTheLine) {
    const int64_t from = 1'800'000'000, to = from + 599;
    chart_test::FakeSpanSource src;
    const std::vector<std::pair<int64_t, int64_t>> stale = {{from + 100, from + 160},
                                                            {from + 400, from + 401}};
    for (int64_t t = from; t <= to; ++t) {
        const bool inStale = std::any_of(stale.begin(), stale.end(), [t](const auto& s) {
            return t >= s.first && t <= s.second;
        });
        if (!inStale) src.add(t, 25);
    }
    std::vector<SpanRow> rows = src.seconds;
    for (const auto& [first, last] : stale) {
        SpanRow r;
        r.first = first;
        r.last = last;
        r.stale = true;
        rows.push_back(r);
    }
    for (const auto& [columns, expectedBreaks] : {std::pair{600, 2}, {200, 2}, {50, 1}}) {
        SCOPED_TRACE(columns);
        const auto cols = chart::spanEnvelope(rows, from, to, columns);
        int breaks = 0;
        for (const SpanColumn& c : cols) {
            breaks += c.breakBefore;
            EXPECT_EQ(c.min[0], c.empty() ? 0.0f : 25.0f);  // no stale row's values
        }
        EXPECT_EQ(breaks, expectedBreaks);
        const double x = double(stale[0].first + 30 - from) / 600 * chart::ChartModel::kWidth;
        for (const chart::ChartLine& l : chart::spanLines(cols, 0, 100)) {
            const bool across = std::min(l.x1, l.x2) < x && std::max(l.x1, l.x2) > x;
            EXPECT_FALSE(l.pen.colour == chart::chartcolour::kChannel0 && across) << x;
        }
    }
    // Without the stale rows the same seconds are one unbroken line.
    int breaks = 0;
    for (const SpanColumn& c : chart::spanEnvelope(src.seconds, from, to, 200))
        breaks += c.breakBefore;
    EXPECT_EQ(breaks, 0);
}
