// The report's pages. Everything is laid out first, page by page, as drawing steps; then the
// pages are painted with their footers, which name the page count ("第 2 页，共 5 页") and so can
// only be written once the layout is done.

#include "report/reportpdf.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <functional>

#include "base/text.h"
#include "base/tr.h"
#include "chart/spanview.h"
#include "ui/fonts.h"

#ifndef VELMARS_VERSION
#define VELMARS_VERSION "0"
#endif

namespace report {

QString programVersion() {
    return QStringLiteral(VELMARS_VERSION);
}

namespace {

// A4 in points: the writer's resolution is 72 dots per inch, so one unit is one point.
constexpr double kPageWidth = 595.0, kPageHeight = 842.0;
constexpr double kMargin = 42.0, kFooterHeight = 40.0;
constexpr double kBodyWidth = kPageWidth - 2 * kMargin;
constexpr double kBodyBottom = kPageHeight - kMargin - kFooterHeight;
constexpr int kChartColumns = 400;

// Every time the report gives carries its offset from UTC, so that a reader in another zone (or
// after a change to summer time) reads the same moment.
QString reportTime(int64_t utc) {
    return base::timeWithOffset(QDateTime::fromSecsSinceEpoch(utc));
}

QString number(double v, int decimals = 2) {
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("-");
}

// Texts typed by an operator can be of any length; a line or a cell of the report holds at most
// this many characters, so that no row runs past the foot of its page.
constexpr qsizetype kTextAtMost = 600;
QString bounded(const QString& s) {
    return s.size() <= kTextAtMost ? s : s.left(kTextAtMost) + QStringLiteral("…");
}

QFont reportFont(double points, bool bold = false) {
    QFont f(ui::chineseFontFamily());
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// The pages as lists of drawing steps, and a cursor going down the current page.
class Layout {
  public:
    using Step = std::function<void(QPainter&)>;
    // bottom: where the body ends on every page (above the footer and what each page repeats).
    Layout(QPaintDevice* device, double bottom) : device_(device), bottom_(bottom) {
        pages_.emplace_back();
    }

    // Room for h points at the cursor, on a new page when the current one has too little left;
    // returns the top of that room and moves the cursor below it.
    double take(double h) {
        if (y_ + h > bottom_ && y_ > kMargin) newPage();
        const double top = y_;
        y_ += h;
        return top;
    }
    void skip(double h) { y_ = std::min(y_ + h, bottom_); }
    void newPage() {
        pages_.emplace_back();
        y_ = kMargin;
    }
    void draw(Step s) { pages_.back().push_back(std::move(s)); }
    double lineHeight(const QFont& f) const { return QFontMetricsF(f, device_).height(); }
    // The height of text wrapped into width.
    double wrappedHeight(const QFont& f, double width, const QString& text) const {
        return QFontMetricsF(f, device_)
            .boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, text)
            .height();
    }
    const std::vector<std::vector<Step>>& pages() const { return pages_; }

    // A line of text in one font.
    void text(const QString& raw, const QFont& f, double before = 0) {
        const QString s = bounded(raw);
        skip(before);
        const double h = wrappedHeight(f, kBodyWidth, s);
        const double y = take(h);
        draw([=](QPainter& p) {
            p.setFont(f);
            p.setPen(Qt::black);
            p.drawText(QRectF(kMargin, y, kBodyWidth, h), Qt::TextWordWrap, s);
        });
    }
    // A section's heading, kept on a page with at least `keep` points of what follows.
    void heading(const QString& s, double keep = 60) {
        const QFont f = reportFont(12, true);
        skip(10);
        if (y_ + lineHeight(f) + keep > bottom_) newPage();
        text(s, f);
        skip(4);
    }
    // A table: the header row (none when empty) repeated on every page it runs onto; columns as
    // fractions of the body's width; cells wrap.
    void table(const QStringList& header, const std::vector<double>& widths,
               std::vector<QStringList> rows) {
        for (QStringList& row : rows)
            for (QString& cell : row)
                cell = bounded(cell);
        const QFont headFont = reportFont(8.5, true), cellFont = reportFont(8.5);
        const auto rowHeight = [&](const QStringList& cells, const QFont& f) {
            double h = lineHeight(f);
            for (int c = 0; c < cells.size() && c < int(widths.size()); ++c)
                h = std::max(h, wrappedHeight(f, widths[c] * kBodyWidth - 6, cells[c]));
            return h + 4;
        };
        const auto drawRow = [&](const QStringList& cells, const QFont& f, double y, double h,
                                 bool shade) {
            draw([=](QPainter& p) {
                if (shade) p.fillRect(QRectF(kMargin, y, kBodyWidth, h), QColor(235, 235, 235));
                p.setFont(f);
                p.setPen(QPen(QColor(170, 170, 170), 0.5));
                p.drawLine(QPointF(kMargin, y + h), QPointF(kMargin + kBodyWidth, y + h));
                p.setPen(Qt::black);
                double x = kMargin;
                for (int c = 0; c < cells.size() && c < int(widths.size()); ++c) {
                    const double w = widths[c] * kBodyWidth;
                    p.drawText(QRectF(x + 3, y + 2, w - 6, h - 4), Qt::TextWordWrap, cells[c]);
                    x += w;
                }
            });
        };
        const double headHeight = header.isEmpty() ? 0 : rowHeight(header, headFont);
        bool headOnPage = false;
        size_t page = pages_.size();
        for (const QStringList& row : rows) {
            const double h = rowHeight(row, cellFont);
            if (!headOnPage || y_ + h > bottom_ || page != pages_.size()) {
                if (y_ + headHeight + h > bottom_) newPage();
                if (!header.isEmpty())
                    drawRow(header, headFont, take(headHeight), headHeight, true);
                headOnPage = true;
                page = pages_.size();
            }
            drawRow(row, cellFont, take(h), h, false);
        }
        if (rows.empty() && !header.isEmpty())
            drawRow(header, headFont, take(headHeight), headHeight, true);
    }

  private:
    QPaintDevice* device_;
    double bottom_;
    std::vector<std::vector<Step>> pages_;
    double y_ = kMargin;
};

// Values from 'low' to 'high' in steps of 1, 2 or 5 times a power of ten, about `count` of them.
std::vector<double> axisTicks(double low, double high, int count) {
    std::vector<double> ticks;
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return ticks;
    const double raw = (high - low) / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw) break;
    }
    for (double v = std::ceil(low / step) * step; v <= high + step * 1e-9; v += step)
        ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    return ticks;
}

// The alarm periods of the span: from an alarm or sensor fault going active to every one of them
// being back to normal. An alarm already active at the start shows from the start.
std::vector<std::pair<int64_t, int64_t>> alarmPeriods(const std::vector<events::EventEntry>& events,
                                                      int64_t from, int64_t to) {
    std::vector<std::pair<int64_t, int64_t>> periods;
    int active = 0;
    int64_t since = from;
    bool first = true;
    for (const events::EventEntry& e : events) {
        if (e.kind != events::eventkind::kAlarm || !e.value) continue;
        const int64_t at = std::clamp<int64_t>(e.at.toSecsSinceEpoch(), from, to);
        if (first && *e.value == 0) active = 1;  // it went back to normal: it was on before
        first = false;
        if (*e.value != 0) {
            if (active++ == 0) since = at;
        } else if (active > 0 && --active == 0) {
            periods.emplace_back(since, at);
        }
    }
    if (active > 0) periods.emplace_back(since, to);
    return periods;
}

// The chart of one loop: its process value as a band from minimum to maximum with the mean over
// it, the set value's mean, the tolerance band shaded around it, and the alarm periods marked.
void loopChart(Layout& layout, const ReportContent& c, int loop,
               const std::vector<chart::SpanColumn>& columns) {
    const int pv = loop, sv = 2 + loop;
    const ReportSubject& subject = c.request.subject;
    const bool banded = subject.bands.has_value();  // a span without a run has no band
    const instrument::ToleranceBand band =
        banded ? (*subject.bands)[loop] : instrument::ToleranceBand{};
    const int64_t from = c.figures.from, to = c.figures.to;

    double low = INFINITY, high = -INFINITY;
    for (const chart::SpanColumn& col : columns) {
        if (col.empty()) continue;
        low = std::min({low, double(col.min[pv]), double(col.mean[sv])});
        high = std::max({high, double(col.max[pv]), double(col.mean[sv])});
        if (banded && !band.fixed) {
            low = std::min(low, col.mean[sv] - band.plusMinus);
            high = std::max(high, col.mean[sv] + band.plusMinus);
        }
    }
    if (banded && band.fixed) {
        low = std::min(low, band.low);
        high = std::max(high, band.high);
    }
    if (!std::isfinite(low)) low = 0, high = 100;
    if (high - low < 1e-6) low -= 1, high += 1;
    const double pad = (high - low) * 0.05;
    low -= pad;
    high += pad;

    const QString title =
        loop == 0 ? base::Tr::tr("回路1：PV1 与 SV1") : base::Tr::tr("回路2：PV2 与 SV2");
    layout.text(title, reportFont(9, true), 4);
    const double height = 170, axisWidth = 44, labelHeight = 14;
    const double top = layout.take(height + labelHeight + 4);
    const QRectF plot(kMargin + axisWidth, top + 2, kBodyWidth - axisWidth, height);
    const auto xOf = [=](double t) {
        return plot.left() +
               plot.width() * (t - double(from)) / double(std::max<int64_t>(to - from + 1, 1));
    };
    const auto yOf = [=](double v) {
        return plot.bottom() - plot.height() * (v - low) / (high - low);
    };
    const std::vector<double> ticks = axisTicks(low, high, 6);
    const auto periods = alarmPeriods(c.events, from, to);
    const int n = int(columns.size());

    layout.draw([=](QPainter& p) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, 0.6));
        p.setBrush(Qt::NoBrush);
        p.drawRect(plot);
        // Alarm periods behind everything.
        for (const auto& [a, b] : periods) {
            const double x0 = xOf(double(a)), x1 = std::max(xOf(double(b) + 1), x0 + 0.8);
            p.fillRect(QRectF(x0, plot.top(), x1 - x0, plot.height()), QColor(255, 0, 0, 40));
        }
        // Value grid and labels.
        p.setFont(reportFont(7));
        for (double v : ticks) {
            const double y = yOf(v);
            p.setPen(QPen(QColor(210, 210, 210), 0.4));
            p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
            p.setPen(Qt::black);
            p.drawText(QRectF(kMargin, y - 6, axisWidth - 4, 12), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(v, 'g', 6));
        }
        // Time labels: five, at the start, the quarters and the end.
        const QStringList timeLabels = chartTimeLabels(from, to);
        for (int i = 0; i <= 4; ++i) {
            const int64_t t = from + (to - from) * i / 4;
            const double x = xOf(double(t));
            const Qt::Alignment a = i == 0   ? Qt::AlignLeft
                                    : i == 4 ? Qt::AlignRight
                                             : Qt::AlignHCenter;
            const double left = i == 0 ? x : i == 4 ? x - 120 : x - 60;
            p.drawText(QRectF(left, plot.bottom() + 3, 120, labelHeight), a | Qt::AlignTop,
                       timeLabels.value(i));
        }
        p.setClipRect(plot);
        // The tolerance band, shaded, around the set value's mean (or between fixed limits).
        const QColor bandColour(0, 160, 0, 45);
        if (banded && band.fixed) {
            p.fillRect(
                QRectF(QPointF(plot.left(), yOf(band.high)), QPointF(plot.right(), yOf(band.low))),
                bandColour);
        }
        // Runs of columns with samples, broken where none came for a while; each is drawn as
        // one shape, so that columns without a sample of their own inside a run leave no hole.
        std::vector<std::vector<int>> runs;
        for (int i = 0; i < n; ++i) {
            const chart::SpanColumn& col = columns[size_t(i)];
            if (col.empty()) continue;
            if (runs.empty() || col.breakBefore) runs.emplace_back();
            runs.back().push_back(i);
        }
        const auto xAt = [&](double i) { return plot.left() + plot.width() * i / n; };
        // The area between two values of each column, as steps one column wide.
        const auto area = [&](const auto& lowOf, const auto& highOf, const QColor& colour) {
            for (const std::vector<int>& run : runs) {
                QPolygonF shape;
                for (int i : run) {
                    const double y = yOf(highOf(columns[size_t(i)]));
                    shape << QPointF(xAt(i), y) << QPointF(xAt(i + 1), y);
                }
                for (auto it = run.rbegin(); it != run.rend(); ++it) {
                    const double y = yOf(lowOf(columns[size_t(*it)]));
                    shape << QPointF(xAt(*it + 1), y) << QPointF(xAt(*it), y);
                }
                QPainterPath path;
                path.addPolygon(shape);
                p.fillPath(path, colour);
            }
        };
        using Col = chart::SpanColumn;
        if (banded && !band.fixed)
            area([&](const Col& c) { return c.mean[sv] - band.plusMinus; },
                 [&](const Col& c) { return c.mean[sv] + band.plusMinus; }, bandColour);
        // The process value's minimum to maximum, at least a hair wide.
        const double hair = (high - low) * 0.002;
        area([&](const Col& c) { return double(c.min[pv]) - hair; },
             [&](const Col& c) { return double(c.max[pv]) + hair; }, QColor(120, 160, 255, 110));
        // Mean lines.
        const auto meanLine = [&](int channel, const QPen& pen) {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            for (const std::vector<int>& run : runs) {
                QPolygonF line;
                for (int i : run)
                    line << QPointF(xAt(i + 0.5), yOf(columns[size_t(i)].mean[channel]));
                if (line.size() == 1) line << line.front() + QPointF(0.01, 0);
                p.drawPolyline(line);
            }
        };
        meanLine(sv, QPen(QColor(0, 130, 0), 0.9, Qt::DashLine));
        meanLine(pv, QPen(QColor(0, 40, 200), 1.0));
        if (runs.empty()) {
            p.setPen(Qt::black);
            p.setFont(reportFont(11));
            p.drawText(plot, Qt::AlignCenter, base::Tr::tr("该时段没有数据"));
        }
        p.restore();
    });
    // The legend.
    const QFont legendFont = reportFont(7);
    const double ly = layout.take(layout.lineHeight(legendFont) + 2);
    const QString pvName = loop == 0 ? QStringLiteral("PV1") : QStringLiteral("PV2");
    const QString svName = loop == 0 ? QStringLiteral("SV1") : QStringLiteral("SV2");
    std::vector<std::pair<QString, QColor>> items = {
        {base::Tr::tr("%1 平均值").arg(pvName), QColor(0, 40, 200)},
        {base::Tr::tr("%1 最小/最大值").arg(pvName), QColor(120, 160, 255)},
        {base::Tr::tr("%1 平均值").arg(svName), QColor(0, 130, 0)}};
    if (banded) items.emplace_back(base::Tr::tr("容差带"), QColor(0, 160, 0, 90));
    items.emplace_back(base::Tr::tr("报警"), QColor(255, 0, 0, 90));
    layout.draw([=](QPainter& p) {
        p.setFont(legendFont);
        double x = kMargin + axisWidth;
        for (const auto& [item, colour] : items) {
            p.fillRect(QRectF(x, ly + 3, 14, 6), colour);
            p.setPen(Qt::black);
            const double w = QFontMetricsF(legendFont, p.device()).horizontalAdvance(item);
            p.drawText(QPointF(x + 18, ly + 9), item);
            x += 18 + w + 14;
        }
    });
}

QString bandText(const instrument::ToleranceBand& band, const QString& sv) {
    return band.fixed ? base::Tr::tr("%1 … %2").arg(number(band.low), number(band.high))
                      : base::Tr::tr("%1 ± %2").arg(sv, number(band.plusMinus));
}

void header(Layout& layout, const ReportContent& c) {
    const ReportSubject& r = c.request.subject;
    const Figures& f = c.figures;
    layout.text(base::Tr::tr("试验报告"), reportFont(18, true));
    layout.skip(6);
    if (!r.name.isEmpty()) layout.text(r.name, reportFont(13, true));
    layout.skip(8);
    const QString none = QStringLiteral("-");
    const auto orNone = [&](const QString& s) { return s.trimmed().isEmpty() ? none : s; };
    std::vector<QStringList> rows = {
        {base::Tr::tr("试验名称"), orNone(r.name), base::Tr::tr("委托单号/样品编号"),
         orNone(r.orderId)},
        {base::Tr::tr("工作站"), orNone(r.station), base::Tr::tr("操作员"), orNone(r.operatorName)},
        {base::Tr::tr("仪表地址"), QString::number(r.address), base::Tr::tr("端口"),
         orNone(r.port)},
        {base::Tr::tr("开始时间"), reportTime(f.from), base::Tr::tr("结束时间"),
         r.open ? base::Tr::tr("进行中（报告至 %1）").arg(reportTime(f.to)) : reportTime(f.to)},
        {base::Tr::tr("持续时间"), durationText(spanDuration(f.from, f.to)),
         base::Tr::tr("程序版本"), QStringLiteral("velmars %1").arg(programVersion())},
    };
    if (r.bands)
        rows.push_back({base::Tr::tr("PV1 容差带"), bandText((*r.bands)[0], QStringLiteral("SV1")),
                        base::Tr::tr("PV2 容差带"),
                        bandText((*r.bands)[1], QStringLiteral("SV2"))});
    if (!r.notes.trimmed().isEmpty())
        rows.push_back({base::Tr::tr("备注"), r.notes, QString(), QString()});
    layout.table({}, {0.17, 0.33, 0.2, 0.3}, rows);
}

void statistics(Layout& layout, const ReportContent& c) {
    layout.heading(base::Tr::tr("统计"));
    std::vector<QStringList> rows;
    const bool banded = c.request.subject.bands.has_value();
    for (size_t i = 0; i < c.figures.channels.size(); ++i) {
        const ChannelStats& s = c.figures.channels[i];
        // The outputs are percentages of full output; the loops' values carry the instrument's
        // own units, which it does not tell.
        const int channel = kReportChannels[i];
        QStringList row = {channel == 4 || channel == 5
                               ? QStringLiteral("%1 (%)").arg(channelCaption(channel))
                               : channelCaption(channel)};
        if (s.count == 0) {
            row << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-")
                << QStringLiteral("-");
        } else {
            row << number(s.min) << number(s.max) << number(s.mean) << number(s.stddev, 3);
        }
        if (s.hasBand && banded && s.count > 0) {
            row << number(100.0 * double(s.inside) / double(s.count), 1) + QStringLiteral(" %")
                << durationText(clockSeconds(s.inside, c.figures));
            row << (s.excursionSeconds() > 0
                        ? base::Tr::tr("%1 至 %2（%3）")
                              .arg(reportTime(s.excursionFirst), reportTime(s.excursionLast),
                                   durationText(clockSeconds(s.excursionSeconds(), c.figures)))
                        : base::Tr::tr("无"));
        } else {
            row << QString() << QString() << QString();
        }
        rows.push_back(row);
    }
    layout.table({base::Tr::tr("通道"), base::Tr::tr("最小值"), base::Tr::tr("最大值"),
                  base::Tr::tr("平均值"), base::Tr::tr("标准差"), base::Tr::tr("带内时间 %"),
                  base::Tr::tr("带内时间"), base::Tr::tr("最长超差")},
                 {0.08, 0.09, 0.09, 0.09, 0.09, 0.1, 0.11, 0.35}, rows);
    if (!banded) layout.text(base::Tr::tr("此报告不属于试验，没有容差带。"), reportFont(8), 3);
}

void completeness(Layout& layout, const ReportContent& c) {
    const Figures& f = c.figures;
    layout.heading(base::Tr::tr("数据完整性"));
    layout.table(
        {base::Tr::tr("应有秒数"), base::Tr::tr("已记录秒数"), base::Tr::tr("完整率"),
         base::Tr::tr("记录条数")},
        {0.25, 0.25, 0.25, 0.25},
        {{QString::number(f.expected), QString::number(f.recorded),
          number(f.completePercent(), 2) + QStringLiteral(" %"), QString::number(f.samples)}});
    if (f.stale > 0)
        layout.text(
            base::Tr::tr("另有 %1 秒记录时未读到仪表数值（数值过期），计为缺失。").arg(f.stale),
            reportFont(8.5));
    layout.skip(6);
    if (f.gaps.empty()) {
        layout.text(base::Tr::tr("没有超过 %1 秒的数据缺口。").arg(kGapReportedAbove),
                    reportFont(8.5));
        return;
    }
    layout.text(
        base::Tr::tr("超过 %1 秒的数据缺口：%2 处").arg(kGapReportedAbove).arg(f.gaps.size()),
        reportFont(8.5));
    std::vector<QStringList> rows;
    for (const Gap& g : f.gaps)
        rows.push_back(
            {reportTime(g.first), reportTime(g.last), durationText(g.seconds()), g.cause});
    layout.table(
        {base::Tr::tr("开始"), base::Tr::tr("结束"), base::Tr::tr("时长"), base::Tr::tr("原因")},
        {0.22, 0.22, 0.14, 0.42}, rows);
}

void eventList(Layout& layout, const ReportContent& c) {
    layout.heading(base::Tr::tr("事件"));
    std::vector<QStringList> rows;
    qsizetype listed = 0, left = 0;
    for (const events::EventEntry& e : c.events) {
        if (e.kind == events::eventkind::kAlert) continue;
        if (listed >= kListedEventsAtMost) {
            ++left;
            continue;
        }
        ++listed;
        rows.push_back(
            {events::auditTimeText(e), events::eventKindCaption(e.kind), events::eventText(e)});
    }
    if (rows.empty()) {
        layout.text(base::Tr::tr("此期间没有事件。"), reportFont(8.5));
        return;
    }
    layout.table({base::Tr::tr("时间"), base::Tr::tr("类别"), base::Tr::tr("内容")},
                 {0.22, 0.12, 0.66}, rows);
    if (left > 0)
        layout.text(
            base::Tr::tr("另有 %1 条事件未列出（完整的事件记录可从事件窗口导出）。").arg(left),
            reportFont(8), 3);
}

void signatures(Layout& layout) {
    layout.heading(base::Tr::tr("签字"), 150);
    const QFont roleFont = reportFont(9.5, true), f = reportFont(9);
    // Per role a name, a signature, a date and what the signature means ("数据已核对").
    const QString labels[2][2] = {{base::Tr::tr("姓名"), base::Tr::tr("签名")},
                                  {base::Tr::tr("日期"), base::Tr::tr("含义")}};
    for (const QString& role : {base::Tr::tr("执行人"), base::Tr::tr("审核人")}) {
        layout.text(role, roleFont, 6);
        for (const auto& row : labels) {
            const double y = layout.take(26);
            layout.draw([=](QPainter& p) {
                p.setFont(f);
                for (int c = 0; c < 2; ++c) {
                    const double x = kMargin + c * kBodyWidth / 2;
                    p.setPen(Qt::black);
                    p.drawText(QRectF(x, y + 6, 60, 16), Qt::AlignLeft | Qt::AlignBottom, row[c]);
                    p.setPen(QPen(Qt::black, 0.5));
                    p.drawLine(QPointF(x + 62, y + 22), QPointF(x + kBodyWidth / 2 - 16, y + 22));
                }
            });
        }
    }
}

// What every page repeats above its footer: whether access control was off, and the signatures
// with whether the data still match what was signed. Lines of at most one line's width each.
constexpr int kSignaturesListedAtMost = 10;
QStringList pageNotes(const ReportContent& c) {
    QStringList lines;
    if (const auto& access = c.request.access) {
        if (access->offNow)
            lines << base::Tr::tr("访问控制未开启：此报告生成时未要求登录，操作人员身份未经核实");
        if (access->unprotected)
            lines << base::Tr::tr("记录未受保护：生成此报告的账户可以改写记录文件（未安装服务）");
        if (access->unknown)
            lines << base::Tr::tr("用户库无法读取：此报告生成时访问控制的状态未知");
        qsizetype shown = 0;
        for (const auto& [from, to] : access->offSpans) {
            if (to < c.figures.from || from > c.figures.to) continue;
            if (shown++ == 3) {
                lines << base::Tr::tr("此时段内访问控制还有其他关闭时段");
                break;
            }
            lines << base::Tr::tr("此时段内访问控制曾关闭：%1 至 %2")
                         .arg(reportTime(std::max(from, c.figures.from)),
                              reportTime(std::min(to, c.figures.to)));
        }
    }
    if (c.signatures.empty()) return lines;
    lines << base::Tr::tr("电子签名");
    for (size_t i = 0; i < c.signatures.size(); ++i) {
        if (i == kSignaturesListedAtMost) {
            lines << base::Tr::tr("另有 %1 个签名").arg(c.signatures.size() - i);
            break;
        }
        const Signature& sig = c.signatures[i];
        lines << base::Tr::tr("%1（用户 %2）  含义：%3  时间：%4")
                     .arg(bounded(sig.fullName).left(80), bounded(sig.userId).left(40),
                          meaningText(sig.meaning), signatureTime(sig));
    }
    // A signature made on an English report of an earlier version holds the digest over the
    // English words of that report: the data are the same when that one matches.
    const auto english = [&](const Signature& sig) {
        return sig.digest != c.digest && !c.englishDigest.isEmpty() &&
               sig.digest == c.englishDigest;
    };
    const bool changed =
        std::any_of(c.signatures.begin(), c.signatures.end(),
                    [&](const Signature& sig) { return sig.digest != c.digest && !english(sig); });
    lines << (changed ? base::Tr::tr("警告：数据与签名时不一致，签名后数据已被更改")
                      : base::Tr::tr("数据与签名时一致（SHA-256 %1）").arg(c.digest));
    if (const auto n = std::count_if(c.signatures.begin(), c.signatures.end(), english);
        n > 0 && !changed)
        lines << base::Tr::tr("其中 %1 个签名由旧版程序按英文报告的列名计算摘要，核对一致").arg(n);
    if (const auto& r = c.release)
        lines << base::Tr::tr("%1 于 %2 将已签名的数据交由保留期限删除，原因：%3")
                     .arg(bounded(r->userId).left(40), reportTime(r->atMs / 1000),
                          bounded(r->reason).left(80));
    return lines;
}

constexpr double kNoteLine = 10.5;

void notes(QPainter& p, const QStringList& lines) {
    if (lines.isEmpty()) return;
    double y = kBodyBottom - kNoteLine * lines.size();
    p.setPen(QPen(QColor(120, 120, 120), 0.5));
    p.drawLine(QPointF(kMargin, y - 2), QPointF(kMargin + kBodyWidth, y - 2));
    p.setPen(Qt::black);
    for (const QString& line : lines) {
        p.setFont(reportFont(7.5, line == base::Tr::tr("电子签名")));
        p.drawText(QRectF(kMargin, y, kBodyWidth, kNoteLine), Qt::AlignLeft | Qt::AlignVCenter,
                   line);
        y += kNoteLine;
    }
}

void footer(QPainter& p, const ReportContent& c, int page, int pages) {
    p.setFont(reportFont(7));
    p.setPen(QPen(QColor(120, 120, 120), 0.5));
    const double y = kPageHeight - kMargin - kFooterHeight + 12;
    p.drawLine(QPointF(kMargin, y), QPointF(kMargin + kBodyWidth, y));
    p.setPen(Qt::black);
    const QString data = c.request.csvPath.isEmpty()
                             ? base::Tr::tr("数据：%1 条记录的 CSV 导出").arg(c.csvRows)
                             : base::Tr::tr("数据文件：%1（%2 条记录）")
                                   .arg(QFileInfo(c.request.csvPath).fileName())
                                   .arg(c.csvRows);
    p.drawText(QRectF(kMargin, y + 3, kBodyWidth, 11), Qt::AlignLeft, data);
    p.drawText(QRectF(kMargin, y + 3, kBodyWidth, 11), Qt::AlignRight,
               base::Tr::tr("第 %1 页，共 %2 页").arg(page).arg(pages));
    p.drawText(QRectF(kMargin, y + 14, kBodyWidth, 11), Qt::AlignLeft,
               QStringLiteral("SHA-256: %1").arg(c.csvSha256));
}

}  // namespace

namespace {

// Writes the pages body lays out, each with the notes every page repeats and the footer.
base::Phrase writePages(const ReportContent& content, const QString& title, const QString& path,
                        const std::function<void(Layout&)>& body) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法写入 %1：%2")),
                {path, file.errorString()}};
    QPdfWriter writer(&file);
    writer.setResolution(72);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("velmars %1").arg(programVersion()));

    const QStringList perPage = pageNotes(content);
    Layout layout(&writer, kBodyBottom - (perPage.isEmpty() ? 0 : kNoteLine * perPage.size() + 6));
    body(layout);

    QPainter p;
    if (!p.begin(&writer))
        return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法写入 %1")), {path}};
    const auto& pages = layout.pages();
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) writer.newPage();
        for (const auto& step : pages[i])
            step(p);
        notes(p, perPage);
        footer(p, content, int(i) + 1, int(pages.size()));
    }
    p.end();
    if (!file.commit())
        return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法写入 %1：%2")),
                {path, file.errorString()}};
    return {};
}

}  // namespace

QStringList chartTimeLabels(int64_t from, int64_t to) {
    // The shortest form in which the five moments read apart: minutes for spans of hours and
    // days, seconds for short ones.
    QStringList labels;
    for (const QString& form : {QStringLiteral("MM-dd HH:mm"), QStringLiteral("MM-dd HH:mm:ss")}) {
        labels.clear();
        for (int i = 0; i <= 4; ++i)
            labels << QDateTime::fromSecsSinceEpoch(from + (to - from) * i / 4).toString(form);
        if (QSet<QString>(labels.begin(), labels.end()).size() == labels.size()) break;
    }
    return labels;
}

base::Phrase writePdf(const ReportContent& content, const QString& path) {
    return writePages(
        content, base::Tr::tr("试验报告") + QStringLiteral(" ") + content.request.subject.name,
        path, [&](Layout& layout) {
            header(layout, content);
            layout.heading(base::Tr::tr("曲线"), 220);
            const auto columns = chart::spanEnvelope(content.chart, content.figures.from,
                                                     content.figures.to, kChartColumns);
            loopChart(layout, content, 0, columns);
            loopChart(layout, content, 1, columns);
            statistics(layout, content);
            completeness(layout, content);
            eventList(layout, content);
            signatures(layout);
        });
}

base::Phrase writeAuditPdf(const ReportContent& content, const QString& verdict,
                           const QString& path) {
    return writePages(content, base::Tr::tr("审计追踪审阅"), path, [&](Layout& layout) {
        layout.text(base::Tr::tr("审计追踪审阅"), reportFont(18, true));
        layout.skip(8);
        layout.table(
            {}, {0.2, 0.8},
            {{base::Tr::tr("时段"),
              base::Tr::tr("%1 至 %2")
                  .arg(reportTime(content.figures.from), reportTime(content.figures.to))},
             {base::Tr::tr("完整性校验"), verdict},
             {base::Tr::tr("记录条数"), QString::number(content.csvRows)},
             {base::Tr::tr("程序版本"), QStringLiteral("velmars %1").arg(programVersion())}});
        layout.heading(base::Tr::tr("事件"));
        // The audit trail's columns, as the event window shows them.
        std::vector<QStringList> rows;
        for (const events::EventEntry& e : content.events)
            rows.push_back({events::auditTimeText(e), events::eventKindCaption(e.kind),
                            events::eventText(e), e.user, e.oldValue, e.newValue, e.reason});
        if (rows.empty())
            layout.text(base::Tr::tr("此期间没有事件。"), reportFont(8.5));
        else
            layout.table({base::Tr::tr("时间"), base::Tr::tr("类别"), base::Tr::tr("内容"),
                          base::Tr::tr("用户"), base::Tr::tr("原值"), base::Tr::tr("新值"),
                          base::Tr::tr("变更原因")},
                         {0.17, 0.09, 0.3, 0.1, 0.08, 0.08, 0.18}, rows);
        if (content.csvRows > qint64(content.events.size()))
            layout.text(base::Tr::tr("另有 %1 条事件未列出，完整的记录见同名 CSV 文件。")
                            .arg(content.csvRows - qint64(content.events.size())),
                        reportFont(8), 3);
    });
}

}  // namespace report
