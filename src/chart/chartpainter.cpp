#include "chart/chartpainter.h"

#include <QPainter>
#include <QVarLengthArray>
#include <algorithm>

namespace chart {

QColor platformColour(uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

namespace {

constexpr double kMargin = 16;  // chart units kept beyond each edge for the pen's width
constexpr double kRightLimit = ChartModel::kWidth + kMargin;
constexpr double kBottomLimit = ChartModel::kHeight + kMargin;

QPen makePen(int width, int style, uint32_t colour, double penScale = 1) {
    QPen pen(platformColour(colour));
    pen.setWidthF(width * penScale);
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::FlatCap);
    pen.setStyle(style == 1 ? Qt::DashLine : style == 2 ? Qt::DotLine : Qt::SolidLine);
    return pen;
}

void drawLines(QPainter& p, const QSizeF& size, const ChartLine* begin, const ChartLine* end,
               double penScale = 1) {
    const double sx = size.width() / ChartModel::kWidth;
    const double sy = size.height() / ChartModel::kHeight;
    QVarLengthArray<QLineF, 512> batch;
    ChartPen current{-1, -1, 0};
    // A handful of pens serve every line; build each QPen once per paint.
    QVarLengthArray<std::pair<ChartPen, QPen>, 16> pens;
    auto penFor = [&](const ChartPen& cp) -> const QPen& {
        for (const auto& e : pens)
            if (e.first == cp) return e.second;
        pens.append({cp, makePen(cp.width, cp.style, cp.colour, penScale)});
        return pens.back().second;
    };
    auto flush = [&] {
        if (!batch.isEmpty()) p.drawLines(batch.constData(), int(batch.size()));
        batch.clear();
    };
    for (const ChartLine* it = begin; it != end; ++it) {
        const ChartLine& l = *it;
        // Lines wholly outside the surface are not handed to the painter (a history page at a
        // low zoom level runs far beyond the right edge).
        if ((l.x1 > kRightLimit && l.x2 > kRightLimit) || (l.x1 < -kMargin && l.x2 < -kMargin) ||
            (l.y1 > kBottomLimit && l.y2 > kBottomLimit) || (l.y1 < -kMargin && l.y2 < -kMargin))
            continue;
        if (!(l.pen == current)) {
            flush();
            current = l.pen;
            p.setPen(penFor(current));
        }
        if (l.x1 == l.x2) {
            // A vertical line (grid, gap mark) is cut at the bottom edge; it starts at the top,
            // so a dash pattern keeps its phase.
            batch.append(QLineF(l.x1 * sx, std::min(l.y1, kBottomLimit) * sy, l.x2 * sx,
                                std::min(l.y2, kBottomLimit) * sy));
        } else {
            batch.append(QLineF(l.x1 * sx, l.y1 * sy, l.x2 * sx, l.y2 * sy));
        }
    }
    flush();
}

}  // namespace

void ChartPainter::paint(QPainter& p, const QSize& size, const ChartModel& model) {
    paint(p, size, model.surface(), model.gridPrefix(), model.ruler());
}

void ChartPainter::paint(QPainter& p, const QSize& size, const std::vector<ChartLine>& lines,
                         int grid, const ChartModel::Ruler& r) {
    // Consecutive lines with the same pen go to the painter together; the order stays that of
    // the drawing, so later curves lie on top where they cross.
    // Whatever the values and the axis, nothing is drawn beyond the surface (on a printed page
    // the surface is one rectangle among others).
    p.save();
    p.setClipRect(QRect(QPoint(0, 0), size), Qt::IntersectClip);
    const ChartLine* begin = lines.data();
    const ChartLine* end = lines.data() + lines.size();
    if (grid > 0) {
        const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
        if (grid_.deviceIndependentSize().toSize() != size || grid_.devicePixelRatio() != dpr) {
            grid_ = QImage(size * dpr, QImage::Format_ARGB32_Premultiplied);
            grid_.setDevicePixelRatio(dpr);
            QPainter g(&grid_);
            g.fillRect(QRect(QPoint(0, 0), size), platformColour(chartcolour::kBackground));
            drawLines(g, size, begin, begin + grid);
        }
        p.drawImage(0, 0, grid_);
        begin += grid;
    } else {
        p.fillRect(QRect(QPoint(0, 0), size), platformColour(chartcolour::kBackground));
    }
    drawLines(p, size, begin, end);

    const double sx = size.width() / ChartModel::kWidth;
    const double sy = size.height() / ChartModel::kHeight;
    p.setPen(makePen(r.width, 0, r.colour));
    p.drawLine(QLineF(r.x1 * sx, r.y1 * sy, r.x2 * sx, r.y2 * sy));
    p.restore();
}

void ChartPainter::paintVectors(QPainter& p, const QSizeF& size, const ChartModel& model,
                                double penScale) {
    paintVectors(p, size, model.surface(), model.ruler(), penScale);
}

void ChartPainter::paintVectors(QPainter& p, const QSizeF& size,
                                const std::vector<ChartLine>& lines, const ChartModel::Ruler& r,
                                double penScale) {
    const QRectF area(QPointF(0, 0), size);
    p.save();
    p.setClipRect(area, Qt::IntersectClip);
    p.fillRect(area, platformColour(chartcolour::kBackground));
    drawLines(p, size, lines.data(), lines.data() + lines.size(), penScale);
    const double sx = size.width() / ChartModel::kWidth;
    const double sy = size.height() / ChartModel::kHeight;
    p.setPen(makePen(r.width, 0, r.colour, penScale));
    p.drawLine(QLineF(r.x1 * sx, r.y1 * sy, r.x2 * sx, r.y2 * sy));
    p.restore();
}

}  // namespace chart
