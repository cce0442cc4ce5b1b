#pragma once
// Paints the chart's lines, given in chart units, scaled to a target's size, and the ruler line
// over them: on the screen, a printer or a PDF page.

#include <QColor>
#include <QImage>
#include <QSize>
#include <QSizeF>
#include <cstdint>
#include <vector>

#include "chart/chartmodel.h"

class QPainter;

namespace chart {

// A platform colour value 0x00BBGGRR (blue in the high byte) as a QColor.
QColor platformColour(uint32_t bgr);

// Paints the surface and the ruler into a painter over a target of the given pixel size. The
// background with the grid is kept as a picture of the last size painted.
class ChartPainter {
  public:
    void paint(QPainter& p, const QSize& size, const ChartModel& model);
    // The same as lines only, for a printer or a PDF: no picture, pens penScale device pixels
    // per screen pixel.
    static void paintVectors(QPainter& p, const QSizeF& size, const ChartModel& model,
                             double penScale);
    // Any drawing in chart units whose first gridPrefix lines are the grid of a clear surface.
    void paint(QPainter& p, const QSize& size, const std::vector<ChartLine>& lines, int gridPrefix,
               const ChartModel::Ruler& ruler);
    static void paintVectors(QPainter& p, const QSizeF& size, const std::vector<ChartLine>& lines,
                             const ChartModel::Ruler& ruler, double penScale);

  private:
    QImage grid_;
};

}  // namespace chart
