#pragma once
// The preview's drawing surface and the frame around it that carries the axis numbers.

#include <QWidget>
#include <array>

#include "program/preview.h"

class QLabel;

namespace program {

// Paints a PreviewGeometry scaled from chart units to the widget, with the preview's pens: dotted
// grid, dashed segment boundaries, SV1 red and SV2 green ramps. Lines outside the chart are cut.
class ProgramChart : public QWidget {
    Q_OBJECT
  public:
    explicit ProgramChart(QWidget* parent = nullptr);
    void setGeometryToDraw(const PreviewGeometry& g);
    const PreviewGeometry& geometryDrawn() const { return g_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    PreviewGeometry g_;
};

// The drawing surface with the value-axis numbers on its left (bottom up, each at its grid line),
// the time-axis numbers Label8(0..15) under it, the bounds Label5 / Label10 / Label11 each after a
// caption that says what it is, the captions "当前程序曲线：" and "温度  ℃ ", and the time-unit
// caption Label7(1).
class ChartFrame : public QWidget {
    Q_OBJECT
  public:
    explicit ChartFrame(QWidget* parent = nullptr);

    ProgramChart* surface() const { return surface_; }
    QLabel* timeUnitLabel() const { return timeUnitLabel_; }
    // Shows the geometry and its axis numbers.
    void showPreview(const PreviewGeometry& g);

  protected:
    void resizeEvent(QResizeEvent*) override;

  private:
    void placeChildren();

    ProgramChart* surface_ = nullptr;
    std::array<QLabel*, kTimeLabels> timeAxisLabels_{};
    std::array<QLabel*, kValueLabels> valueAxisLabels_{};
    QLabel* maxLabel_ = nullptr;
    QLabel* minLabel_ = nullptr;
    QLabel* stepLabel_ = nullptr;
    // What the three numbers after the title are.
    std::array<QLabel*, 3> boundCaptions_{};
    int topRowEnd_ = 0;  // where the top row's last number ends
    QLabel* timeUnitLabel_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* unit_ = nullptr;
};

}  // namespace program
