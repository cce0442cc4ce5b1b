// The report's figures from samples fed one by one: what the end-to-end report test does not
// reach (no sample at all, a clock set back, fixed limits, gaps at both ends, the causes).

#include <gtest/gtest.h>

#include "report/analysis.h"

namespace {

store::ArchivedSample at(int64_t t, float pv1, float sv1 = 30) {
    store::ArchivedSample s;
    s.at = t;
    s.values = {pv1, 50, sv1, 50, 0, 0, 0, 0, 0, 0};
    return s;
}

events::EventEntry event(int64_t t, const QString& kind, const QString& text) {
    return {0, QDateTime::fromSecsSinceEpoch(t), kind, text, {}, {}, {}};
}

// The same as a row with a code, its stored text left out: the cause comes from the code.
events::EventEntry coded(int64_t t, const QString& kind, const char* code, QStringList args = {}) {
    events::EventEntry e = events::codedEntry(kind, QString::fromLatin1(code), std::move(args));
    e.at = QDateTime::fromSecsSinceEpoch(t);
    e.text.clear();
    return e;
}

}  // namespace

TEST(ReportFigures, EdgesOfASpan) {
    const int64_t t0 = 1'800'000'000;
    struct Case {
        const char* name;
        std::vector<store::ArchivedSample> samples;
        instrument::ToleranceBand band;
        int64_t recorded, samplesSeen, inside, excursion;
        std::vector<std::pair<int64_t, int64_t>> gaps;  // offsets from t0
    } cases[] = {
        {"nothing stored", {}, {}, 0, 0, 0, 0, {{0, 99}}},
        // Seconds 50 and 51 stored twice (the clock was set back), in the archive's time order:
        // two samples, one second each.
        {"clock set back",
         {at(t0, 30), at(t0 + 50, 30), at(t0 + 50, 30), at(t0 + 51, 30), at(t0 + 51, 40)},
         {},
         3,
         5,
         4,
         1,
         {{1, 49}, {52, 99}}},
        // Fixed limits 31..35: 30 is outside, 33 inside; the longest stretch outside is 20..40.
        {"fixed limits",
         [&] {
             std::vector<store::ArchivedSample> v;
             for (int n = 0; n < 100; ++n)
                 v.push_back(at(t0 + n, n < 10 || (n >= 20 && n <= 40) ? 30 : 33));
             return v;
         }(),
         {true, 0, 31, 35},
         100,
         100,
         69,
         21,
         {}},
        // Seconds 20..49 stored stale: no readings, so missing, and left out of the figures.
        {"stale seconds",
         [&] {
             std::vector<store::ArchivedSample> v;
             for (int n = 0; n < 100; ++n) {
                 v.push_back(at(t0 + n, n >= 20 && n < 50 ? 99 : 30));
                 v.back().stale = n >= 20 && n < 50;
             }
             return v;
         }(),
         {},
         70,
         70,
         70,
         0,
         {{20, 49}}},
    };
    for (const Case& c : cases) {
        report::Analyzer a(t0, t0 + 99, c.band, {});
        for (const auto& s : c.samples)
            a.add(s);
        const report::Figures f = a.finish({});
        EXPECT_EQ(f.expected, 100) << c.name;
        EXPECT_EQ(f.recorded, c.recorded) << c.name;
        EXPECT_EQ(f.samples, c.samplesSeen) << c.name;
        EXPECT_EQ(f.channels[0].inside, c.inside) << c.name;
        EXPECT_EQ(f.channels[0].excursionSeconds(), c.excursion) << c.name;
        ASSERT_EQ(f.gaps.size(), c.gaps.size()) << c.name;
        for (size_t i = 0; i < c.gaps.size(); ++i) {
            EXPECT_EQ(f.gaps[i].first - t0, c.gaps[i].first) << c.name;
            EXPECT_EQ(f.gaps[i].last - t0, c.gaps[i].second) << c.name;
        }
    }
}

TEST(ReportFigures, GapCausesOfOlderRowsAndOfCodes) {
    const int64_t t0 = 1'800'000'000;
    const QString dev = QStringLiteral("/dev/ttyUSB0");
    const std::vector<events::EventEntry> older = {
        event(t0 - 5, "link", "端口已打开：/dev/ttyUSB0"),
        event(t0 + 100, "link", "设备已断开：/dev/ttyUSB0"),
        event(t0 + 300, "link", "设备已恢复：/dev/ttyUSB0"),
        event(t0 + 500, "recorder", "记录已停止：磁盘已满，每秒重试"),
        event(t0 + 600, "recorder", "开始记录"),
    };
    const std::vector<events::EventEntry> codes = {
        coded(t0 - 5, "link", "link.opened", {dev}),
        coded(t0 + 100, "link", "link.deviceLost", {dev}),
        coded(t0 + 300, "link", "link.deviceBack", {dev}),
        coded(t0 + 500, "recorder", "recorder.failed", {QStringLiteral("磁盘已满")}),
        coded(t0 + 600, "recorder", "recorder.recording"),
    };
    for (const auto* events : {&older, &codes}) {
        EXPECT_EQ(report::gapCause(t0 + 101, t0 + 299, *events), "设备已断开：/dev/ttyUSB0");
        EXPECT_EQ(report::gapCause(t0 + 499, t0 + 599, *events), "记录已停止：磁盘已满，每秒重试");
        // The port open and nothing from the recorder: the program was not running.
        EXPECT_EQ(report::gapCause(t0 + 700, t0 + 800, *events), "程序未运行");
        EXPECT_EQ(report::gapCause(t0 + 10, t0 + 50, *events), "程序未运行");
        // Stale seconds were stored, so the program ran: the silence within the gap, or the
        // bare fact.
        EXPECT_EQ(report::gapCause(t0 + 90, t0 + 200, *events, true), "设备已断开：/dev/ttyUSB0");
        EXPECT_EQ(report::gapCause(t0 + 10, t0 + 50, *events, true), "未读到仪表数值，数值过期");
    }
    EXPECT_EQ(report::durationText(100 * 3600 + 61), "100:01:01");
}

// The service's stops and starts name the gaps around them: a stop as the gap begins, a start
// after a run that never said it stopped as the gap ends (its first sample may follow in the
// same second, so the word comes after the gap's last second). A plain start names nothing.
TEST(ReportFigures, GapsOfTheServicesStopsAndKills) {
    const int64_t t0 = 1'800'000'000;
    const auto row = [](int64_t t, const char* code, const char* text) {
        events::EventEntry e =
            events::codedEntry(QStringLiteral("recorder"), QString::fromLatin1(code), {});
        e.at = QDateTime::fromSecsSinceEpoch(t);
        e.text = QString::fromUtf8(text);
        return e;
    };
    const std::vector<events::EventEntry> events = {
        row(t0 + 100, "service.stopped", "服务已停止"),
        row(t0 + 130, "service.started", "服务已启动"),
        row(t0 + 300, "service.unclean", "上次运行未正常结束"),
        row(t0 + 300, "service.started", "服务已启动"),
        row(t0 + 502, "service.unclean", "上次运行未正常结束"),
        row(t0 + 502, "service.started", "服务已启动"),
        row(t0 + 703, "service.unclean", "上次运行未正常结束"),
        row(t0 + 900, "service.started", "服务已启动"),
        row(t0 + 1100, "service.started", "服务已启动"),
        row(t0 + 1101, "service.stopped", "服务已停止"),
    };
    const struct {
        const char* name;
        int64_t first, last;
        const char* cause;     // as the report names it
        const char* csvCause;  // as the CSV copy names it
    } cases[] = {
        {"stopped", 101, 129, "服务已停止", "服务已停止"},
        {"killed, first sample in the restart's second", 201, 299, "上次运行未正常结束",
         "上次运行未正常结束"},
        {"killed, first sample the restart's second", 401, 501, "上次运行未正常结束",
         "上次运行未正常结束"},
        {"killed, first sample two seconds after", 401, 500, "上次运行未正常结束",
         "上次运行未正常结束"},
        {"a start long after the gap", 601, 700, "程序未运行", "程序未运行"},
        {"a start without a marker", 801, 899, "程序未运行", "程序未运行"},
        {"a few seconds skipped while running", 1001, 1003, "程序未运行", ""},
        {"a few seconds stopped", 101, 103, "服务已停止", "服务已停止"},
        {"a run of a second, then stopped", 1102, 1200, "服务已停止", "服务已停止"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(report::gapCause(t0 + c.first, t0 + c.last, events), QString::fromUtf8(c.cause))
            << c.name;
        EXPECT_EQ(report::csvGapCause(t0 + c.first, t0 + c.last, events, base::Lang::Stored),
                  QString::fromUtf8(c.csvCause))
            << c.name;
    }
}

// Seconds counted by samples are shown on the span's clock: the part never longer than the whole.
TEST(ReportFigures, TimesOfPartsFitTheSpansDuration) {
    report::Figures f;
    f.from = 1'800'000'000;
    f.to = f.from + 93;  // 0:01:33, 94 seconds of samples
    f.expected = 94;
    const struct {
        int64_t seconds, shown;
    } cases[] = {{94, 93}, {95, 93}, {93, 93}, {47, 47}, {1, 1}, {0, 0}, {-3, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(report::clockSeconds(c.seconds, f), c.shown) << c.seconds;
    EXPECT_EQ(report::durationText(report::clockSeconds(94, f)),
              report::durationText(report::spanDuration(f.from, f.to)));
    // A span of one second lasts no time.
    f.to = f.from;
    f.expected = 1;
    EXPECT_EQ(report::clockSeconds(1, f), 0);
}
