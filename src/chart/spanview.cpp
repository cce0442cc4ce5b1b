#include "chart/spanview.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/text.h"
#include "base/tr.h"

namespace chart {

namespace {

constexpr int kValues = store::schema::kValueCount;

// The band's colour: the curve's, 60 % of the way to white.
uint32_t bandColour(uint32_t bgr) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t c = (bgr >> shift) & 0xFF;
        out |= (c + (255 - c) * 3 / 5) << shift;
    }
    return out;
}

QString channelName(int channel) {
    switch (channel) {
        case 0:
            return QStringLiteral("PV1");
        case 1:
            return QStringLiteral("PV2");
        case 2:
            return QStringLiteral("SV1");
        case 3:
            return QStringLiteral("SV2");
        case 8:
            return base::Tr::tr("输出1");
        case 9:
            return base::Tr::tr("输出2");
        default:
            return base::Tr::tr("通道%1").arg(channel);
    }
}

QDateTime localAt(int64_t secs) {
    return QDateTime::fromSecsSinceEpoch(secs);
}

}  // namespace

QString spanLengthText(SpanLength len) {
    switch (len) {
        case SpanLength::Hour:
            return base::Tr::tr("1 小时");
        case SpanLength::Day:
            return base::Tr::tr("1 天");
        case SpanLength::Week:
            return base::Tr::tr("1 周");
        case SpanLength::Month:
            return base::Tr::tr("1 月");
    }
    return {};
}

int64_t shiftSpanEnd(int64_t end, SpanLength len, int n) {
    const QDateTime at = localAt(end);
    switch (len) {
        case SpanLength::Hour:
            return end + int64_t{3600} * n;
        case SpanLength::Day:
            return at.addDays(n).toSecsSinceEpoch();
        case SpanLength::Week:
            return at.addDays(7 * int64_t{n}).toSecsSinceEpoch();
        case SpanLength::Month:
            return at.addMonths(n).toSecsSinceEpoch();
    }
    return end;
}

int64_t spanStart(int64_t end, SpanLength len) {
    return shiftSpanEnd(end, len, -1) + 1;
}

int64_t spanColumnStart(int64_t from, int64_t to, int columns, int c) {
    const int64_t length = to - from + 1;
    return from + (c * length + columns - 1) / columns;
}

std::vector<SpanColumn> spanEnvelope(const std::vector<SpanRow>& rows, int64_t from, int64_t to,
                                     int columns) {
    if (to < from) std::swap(from, to);
    columns = std::max(1, columns);
    const int64_t length = to - from + 1;
    std::vector<SpanColumn> out(static_cast<size_t>(columns));
    std::vector<std::array<double, kValues>> sums(out.size());
    auto columnOf = [&](int64_t t) {
        return static_cast<int>(std::clamp<int64_t>((t - from) * columns / length, 0, columns - 1));
    };
    std::vector<store::StaleSpan> stale;
    for (const SpanRow& r : rows) {
        if (r.stale) stale.emplace_back(r.first, r.last);
        if (r.stale || r.count <= 0 || r.last < from || r.first > to) continue;
        const int c0 = columnOf(std::max(r.first, from));
        const int c1 = columnOf(std::min(r.last, to));
        for (int c = c0; c <= c1; ++c) {
            SpanColumn& col = out[c];
            if (col.empty()) {
                col.first = r.first;
                col.last = r.last;
                col.min = r.min;
                col.max = r.max;
            } else {
                col.first = std::min(col.first, r.first);
                col.last = std::max(col.last, r.last);
                for (int v = 0; v < kValues; ++v) {
                    col.min[v] = std::fmin(col.min[v], r.min[v]);
                    col.max[v] = std::fmax(col.max[v], r.max[v]);
                }
            }
            col.count += r.count;
            for (int v = 0; v < kValues; ++v)
                sums[c][v] += static_cast<double>(r.mean[v]) * r.count;
        }
    }
    std::sort(stale.begin(), stale.end());
    size_t nextStale = 0;
    const SpanColumn* previous = nullptr;
    for (size_t c = 0; c < out.size(); ++c) {
        SpanColumn& col = out[c];
        if (col.empty()) continue;
        for (int v = 0; v < kValues; ++v)
            col.mean[v] = static_cast<float>(sums[c][v] / static_cast<double>(col.count));
        // Seconds stored stale between the two columns (or in either) are no readings: the line
        // does not carry the last reading across them.
        const bool staleBetween =
            previous && (store::inStaleSpan(stale, &nextStale, previous->last) ||
                         (nextStale < stale.size() && stale[nextStale].first <= col.first));
        col.breakBefore =
            previous && (col.first - previous->last > kSpanGapSeconds || staleBetween);
        previous = &col;
    }
    return out;
}

std::vector<ChartLine> spanLines(const std::vector<SpanColumn>& columns, int32_t low, int32_t span,
                                 int bandWidth) {
    std::vector<ChartLine> lines = ChartModel::gridLines();
    if (columns.empty()) return lines;
    const float k = ChartModel::scaleFor(span);
    const int32_t offset = ChartModel::offsetFor(k, low);
    auto yOf = [&](const ChartCurve& curve, float v) {
        return curve.scaled ? ChartModel::axisY(v, k, offset) : ChartModel::fixedY(v);
    };
    const double step = ChartModel::kWidth / static_cast<double>(columns.size());
    auto xOf = [&](size_t c) { return (static_cast<double>(c) + 0.5) * step; };
    lines.reserve(lines.size() + 2 * kChartCurves.size() * columns.size());

    // Every band first, so that no band covers another curve's mean.
    for (const ChartCurve& curve : kChartCurves) {
        const ChartPen pen{bandWidth, 0, bandColour(curve.pen.colour)};
        for (size_t c = 0; c < columns.size(); ++c) {
            const SpanColumn& col = columns[c];
            if (col.empty()) continue;
            const double top = yOf(curve, col.max[curve.channel]);
            const double bottom = yOf(curve, col.min[curve.channel]);
            if (top != bottom) lines.push_back({xOf(c), top, xOf(c), bottom, pen});
        }
    }
    // The mean lines: joined from column to column up to a gap; a column joined to neither
    // neighbour gets a mark one column wide, so a lone sample shows.
    for (const ChartCurve& curve : kChartCurves) {
        std::optional<size_t> previous;
        bool previousJoined = false;
        auto markIfAlone = [&](size_t c) {
            const double y = yOf(curve, columns[c].mean[curve.channel]);
            lines.push_back({xOf(c) - step / 2, y, xOf(c) + step / 2, y, curve.pen});
        };
        for (size_t c = 0; c < columns.size(); ++c) {
            const SpanColumn& col = columns[c];
            if (col.empty()) continue;
            const bool joined = previous && !col.breakBefore;
            if (joined) {
                lines.push_back({xOf(*previous), yOf(curve, columns[*previous].mean[curve.channel]),
                                 xOf(c), yOf(curve, col.mean[curve.channel]), curve.pen});
            } else if (previous && !previousJoined) {
                markIfAlone(*previous);
            }
            previous = c;
            previousJoined = joined;
        }
        if (previous && !previousJoined) markIfAlone(*previous);
    }
    return lines;
}

bool SpanView::load(SpanSource& src, int64_t from, int64_t to) {
    if (to < from) std::swap(from, to);
    from_ = from;
    to_ = to;
    const std::optional<std::vector<SpanRow>> rows =
        src.loadSpan(from, to, columns_ * kRowsPerColumn);
    loaded_ = rows.has_value();
    rowCount_ = rows ? rows->size() : 0;
    envelope_ = spanEnvelope(rows ? *rows : std::vector<SpanRow>{}, from, to, columns_);
    makeLabels();
    rebuild();
    return loaded_;
}

void SpanView::setAxis(int32_t low, int32_t span) {
    if (low == low_ && span == span_) return;
    low_ = low;
    span_ = span;
    rebuild();
}

void SpanView::rebuild() {
    lines_ = spanLines(envelope_, low_, span_, bandWidth_);
    ++serial_;
}

int64_t SpanView::timeAt(double x) const {
    const double length = static_cast<double>(to_ - from_ + 1);
    return from_ + static_cast<int64_t>(std::floor(x / ChartModel::kWidth * length));
}

int64_t SpanView::labelTime(int i) const {
    return std::min(timeAt(labelX(i)), to_);
}

QString SpanView::note() const {
    if (!loaded_) return base::Tr::tr("历史记录无法读取");
    const bool none = std::all_of(envelope_.begin(), envelope_.end(),
                                  [](const SpanColumn& c) { return c.empty(); });
    return none ? base::Tr::tr("无数据") : QString();
}

void SpanView::makeLabels() {
    // A span may lie in any year, so every label carries its full date; the ends read the
    // span's first and last second, as the ruler and the page's title do.
    for (int i = 0; i < 9; ++i) {
        const QDateTime at = localAt(labelTime(i));
        timeLabels_[i] = at.toString(QStringLiteral("HH:mm:ss"));
        dateLabels_[i] = at.toString(QStringLiteral("yyyy-MM-dd"));
    }
}

void SpanView::setRulerOff() {
    rulerOn_ = false;
    ruler_ = ChartModel::Ruler{0, 0, 0, 330, chartcolour::kRulerOff, 2};
    ++serial_;
}

void SpanView::setRulerOn() {
    rulerOn_ = true;
    ruler_ = ChartModel::Ruler{1, 0, 1, 330, chartcolour::kRulerOn, 2};
    ++serial_;
}

void SpanView::setRulerAt(double x) {
    rulerOn_ = true;
    ruler_ = ChartModel::Ruler{x, 0, x, 7500, chartcolour::kRulerLine, 2};
    ++serial_;
}

int SpanView::columnAt(double x) const {
    const int n = static_cast<int>(envelope_.size());
    return std::clamp(static_cast<int>(std::floor(x * n / ChartModel::kWidth)), 0, n - 1);
}

QString SpanView::readoutAt(double x) const {
    if (envelope_.empty()) return {};
    const int c = columnAt(x);
    const int n = static_cast<int>(envelope_.size());
    const QDateTime start = localAt(spanColumnStart(from_, to_, n, c));
    const QDateTime end = localAt(spanColumnStart(from_, to_, n, c + 1) - 1);
    const QString form = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QStringList lines;
    lines << base::Tr::tr("%1 至 %2")
                 .arg(start.toString(form),
                      end.toString(start.date() == end.date() ? QStringLiteral("HH:mm:ss") : form));
    const SpanColumn& col = envelope_[c];
    if (col.empty()) {
        lines << base::Tr::tr("无记录");
        return lines.join(QLatin1Char('\n'));
    }
    for (const ChartCurve& curve : kChartCurves) {
        const int v = curve.channel;
        lines << base::Tr::tr("%1  最小 %2  最大 %3  平均 %4")
                     .arg(channelName(v), base::floatText(col.min[v]), base::floatText(col.max[v]),
                          QString::number(static_cast<double>(col.mean[v]), 'f', 2));
    }
    return lines.join(QLatin1Char('\n'));
}

// The band's pen is as wide as a column on the target, so the band has no stripes on a target
// wider than the columns are many.
int SpanView::bandWidthFor(double width, double penScale) const {
    return std::max(1, static_cast<int>(std::ceil(width / (columns_ * penScale) - 1e-9)));
}

void SpanView::paint(QPainter& p, const QSize& size) {
    const int band = bandWidthFor(size.width(), 1);
    if (band != bandWidth_) {
        bandWidth_ = band;
        rebuild();
    }
    painter_.paint(p, size, lines_, gridPrefix(), ruler_);
}

void SpanView::paintVectors(QPainter& p, const QSizeF& size, double penScale) const {
    const int band = bandWidthFor(size.width(), penScale);
    if (band == bandWidth_)
        ChartPainter::paintVectors(p, size, lines_, ruler_, penScale);
    else
        ChartPainter::paintVectors(p, size, spanLines(envelope_, low_, span_, band), ruler_,
                                   penScale);
}

}  // namespace chart
