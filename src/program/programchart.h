#pragma once
// The preview's drawing surface pt1 and the frame around it that carries the axis numbers.

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

// pt1 with the value-axis numbers Label6(0..9) on its left (bottom up, each at its grid line), the
// time-axis numbers Label8(0..15) under it, the bounds Label5 / Label10 / Label11, the captions
// "当前程序曲线：" and "温度  ℃ ", and the time-unit caption Label7(1).
class ChartFrame : public QWidget {
    Q_OBJECT
  public:
    explicit ChartFrame(QWidget* parent = nullptr);

    ProgramChart* pt1() const { return pt1_; }
    QLabel* label7_1() const { return label7_1_; }
    // Shows the geometry and its axis numbers.
    void showPreview(const PreviewGeometry& g);

  protected:
    void resizeEvent(QResizeEvent*) override;

  private:
    void placeChildren();

    ProgramChart* pt1_ = nullptr;
    std::array<QLabel*, kTimeLabels> label8_{};
    std::array<QLabel*, kValueLabels> label6_{};
    QLabel* label5_ = nullptr;
    QLabel* label10_ = nullptr;
    QLabel* label11_ = nullptr;
    QLabel* label7_1_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* unit_ = nullptr;
};

}  // namespace program
