#pragma once
// The drawing surface: paints the model's lines, given in chart units, scaled to its size,
// and the ruler line over them.

#include <QWidget>

#include "chart/chartmodel.h"
#include "chart/chartpainter.h"

namespace chart {

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
