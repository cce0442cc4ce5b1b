#pragma once
// The chart over any span of the archive: an hour, a day, a week or a month ending at a chosen
// moment. The span's rows (seconds or rollups, as the store picks them for the column count) are
// grouped into columns of equal time; each column keeps per channel the minimum of the minimums,
// the maximum of the maximums and the mean weighted by samples. The drawing shows per column a
// band from minimum to maximum in a lighter colour and the mean line over it, so a one-second
// spike stays visible however long the span. Where no sample came for more than five minutes, or
// where the seconds were stored while the instrument's values were stale, the band and the line
// break. Lines are in chart units, as the live chart's.

#include <QSize>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "chart/chartmodel.h"
#include "chart/chartpainter.h"
#include "store/archive.h"

class QPainter;

namespace chart {

using store::SpanRow;

// Where a span is read from: the main window's store connection, or a fake.
class SpanSource {
  public:
    virtual ~SpanSource() = default;
    // The first and last archived second; nullopt when the archive is empty or unreadable.
    virtual std::optional<std::pair<int64_t, int64_t>> extent() = 0;
    // The rows of from..to (UTC seconds, both included) at the finest level with at most
    // maxRows buckets over the span, in time order; nullopt on a read error.
    virtual std::optional<std::vector<SpanRow>> loadSpan(int64_t from, int64_t to, int maxRows) = 0;
};

enum class SpanLength { Hour, Day, Week, Month };
inline constexpr std::array<SpanLength, 4> kSpanLengths{SpanLength::Hour, SpanLength::Day,
                                                        SpanLength::Week, SpanLength::Month};
QString spanLengthText(SpanLength len);  // "1 小时", "1 天", "1 周", "1 月"
// The end moved by n spans (negative: older), in local time, so that a day is a calendar day and
// a month a calendar month across a change of daylight saving time.
int64_t shiftSpanEnd(int64_t end, SpanLength len, int n);
// The first second of the span ending at end (both ends included).
int64_t spanStart(int64_t end, SpanLength len);

// No sample for longer than this (seconds) is a gap: the drawing breaks there.
inline constexpr int64_t kSpanGapSeconds = 300;

struct SpanColumn {
    int64_t count = 0;            // samples of the rows in the column; 0: none
    int64_t first = 0, last = 0;  // the earliest first and the latest last second of its rows
    std::array<float, store::schema::kValueCount> min{}, max{}, mean{};
    // No sample for more than kSpanGapSeconds between the previous column with samples and this
    // one: the mean line does not join them.
    bool breakBefore = false;
    bool empty() const { return count == 0; }
};

// The first second of column c of `columns` over from..to: second t lies in column
// floor((t - from) x columns / length).
int64_t spanColumnStart(int64_t from, int64_t to, int columns, int c);

// The rows grouped into `columns` columns of equal time over from..to. A row belongs to every
// column its first..last overlaps (a rollup wider than a column fills each it covers). Stale rows
// fill no column; the line breaks across them.
// O(rows + columns).
std::vector<SpanColumn> spanEnvelope(const std::vector<SpanRow>& rows, int64_t from, int64_t to,
                                     int columns);

// The drawing of the columns on the value axis low..low + span: the grid, then every curve's
// band (vertical lines bandWidth pixels wide, in the curve's colour lightened), then every
// curve's mean line (channels, pens and colours as the live chart's).
std::vector<ChartLine> spanLines(const std::vector<SpanColumn>& columns, int32_t low, int32_t span,
                                 int bandWidth = 1);

class SpanView {
  public:
    static constexpr int kColumns = 1200;     // one column per 10 chart units
    static constexpr int kRowsPerColumn = 4;  // the rows asked for per column
    // Time label i sits at chart x = kWidth i / 8: the first at the span's first second on the
    // left edge, the last at its last second on the right edge.
    static constexpr double labelX(int i) { return ChartModel::kWidth * i / 8; }
    static constexpr std::array<double, 9> labelPlaces() {
        std::array<double, 9> x{};
        for (int i = 0; i < 9; ++i)
            x[i] = labelX(i);
        return x;
    }

    explicit SpanView(int columns = kColumns) : columns_(std::max(1, columns)) {}

    // Reads from..to (UTC seconds, both included) and builds its drawing. False when the source
    // could not be read: the view then shows the span empty.
    bool load(SpanSource& src, int64_t from, int64_t to);
    // The value axis of channels 0..3 (the chart's); the drawing follows a change.
    void setAxis(int32_t low, int32_t span);

    bool loaded() const { return loaded_; }
    int64_t from() const { return from_; }
    int64_t to() const { return to_; }
    size_t rowCount() const { return rowCount_; }
    const std::vector<SpanColumn>& columns() const { return envelope_; }
    const std::vector<ChartLine>& lines() const { return lines_; }
    int gridPrefix() const { return static_cast<int>(ChartModel::gridLines().size()); }
    int serial() const { return serial_; }  // advanced whenever the drawing changes

    // Labels under the chart at labelPlaces(), in local time: the time to the second and the
    // date with its year, whatever the span's length.
    const std::array<QString, 9>& timeLabels() const { return timeLabels_; }
    const std::array<QString, 9>& dateLabels() const { return dateLabels_; }
    // The moment at chart x (x = 0 is from, x = kWidth the second after to).
    int64_t timeAt(double x) const;
    // The moment label i reads: timeAt(labelX(i)), the last label the span's last second.
    int64_t labelTime(int i) const;
    // What the surface says instead of curves: that the archive could not be read, or that the
    // span holds no sample; empty when it draws some.
    QString note() const;

    // The ruler: off (the live chart's resting mark), on at rest, or at chart x.
    void setRulerOff();
    void setRulerOn();
    void setRulerAt(double x);
    bool rulerOn() const { return rulerOn_; }
    const ChartModel::Ruler& ruler() const { return ruler_; }
    // The column under chart x, and what the readout says there: the column's time, then per
    // drawn channel its minimum, maximum and mean.
    int columnAt(double x) const;
    QString readoutAt(double x) const;

    // Paints the drawing and the ruler over a target of the given pixel size (the grid kept as a
    // picture between paints), or as lines only for a printer or a PDF.
    void paint(QPainter& p, const QSize& size);
    void paintVectors(QPainter& p, const QSizeF& size, double penScale) const;

  private:
    void rebuild();
    void makeLabels();
    int bandWidthFor(double width, double penScale) const;

    int columns_;
    bool loaded_ = false;
    int64_t from_ = 0, to_ = 0;
    size_t rowCount_ = 0;
    int32_t low_ = 0, span_ = 60;
    int bandWidth_ = 1;
    std::vector<SpanColumn> envelope_;
    std::vector<ChartLine> lines_;
    std::array<QString, 9> timeLabels_, dateLabels_;
    bool rulerOn_ = false;
    ChartModel::Ruler ruler_;
    int serial_ = 0;
    ChartPainter painter_;
};

}  // namespace chart
