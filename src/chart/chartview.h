#pragma once
// The drawing surface: paints the model's lines, given in chart units, scaled to its size,
// and the ruler line over them.

#include <QImage>
#include <QWidget>

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

class SpanView;

class ChartView : public QWidget {
    Q_OBJECT
  public:
    explicit ChartView(const ChartModel& model, QWidget* parent = nullptr);
    // While a span is set the surface paints it instead of the model.
    void setSpan(SpanView* span) { span_ = span; }
    QSize sizeHint() const override { return {800, 480}; }
    QSize minimumSizeHint() const override { return {300, 180}; }
    int paintCount() const { return paints_; }

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    const ChartModel& model_;
    SpanView* span_ = nullptr;
    ChartPainter painter_;
    int paints_ = 0;
};

}  // namespace chart
