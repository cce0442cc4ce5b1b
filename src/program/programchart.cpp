#include "program/programchart.h"

#include <QLabel>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <utility>

#include "base/tr.h"
#include "ui/accessible.h"

namespace program {

namespace {

QPen chartPen(const QColor& colour, int width, Qt::PenStyle style) {
    QPen pen(colour, width, style);
    pen.setCosmetic(true);  // widths in pixels whatever the chart scale
    return pen;
}

QLabel* axisLabel(QWidget* parent, const QString& name, const QString& accessibleName,
                  Qt::Alignment align) {
    auto* l = new ui::ValueLabel(parent);
    l->setObjectName(name);
    l->setAccessibleName(accessibleName);
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
}

// Room around the drawing surface inside the frame, in pixels.
constexpr int kLeft = 64;
constexpr int kTop = 26;
constexpr int kBottom = 44;
constexpr int kRight = 16;
constexpr int kLabelHeight = 18;

}  // namespace

ProgramChart::ProgramChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pt1"));
    setAccessibleName(base::Tr::tr("当前程序曲线"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(300, 200);
}

void ProgramChart::setGeometryToDraw(const PreviewGeometry& g) {
    g_ = g;
    update();
}

void ProgramChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.setClipRect(rect());
    p.scale(double(width()) / kChartWidth, double(height()) / kChartHeight);
    const auto draw = [&p](const ChartLine& l) { p.drawLine(QLineF(l.x1, l.y1, l.x2, l.y2)); };

    p.setPen(chartPen(QColor(64, 64, 0), 1, Qt::DotLine));
    for (const ChartLine& l : g_.grid)
        draw(l);
    p.setPen(chartPen(QColor(0, 255, 0), 1, Qt::DashLine));
    for (const ChartLine& l : g_.boundaries)
        draw(l);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(chartPen(QColor(255, 0, 0), 2, Qt::SolidLine));
    for (const ChartLine& l : g_.sv1Ramps)
        draw(l);
    p.setPen(chartPen(QColor(0, 128, 0), 2, Qt::SolidLine));
    for (const ChartLine& l : g_.sv2Ramps)
        draw(l);
}

ChartFrame::ChartFrame(QWidget* parent) : QWidget(parent) {
    surface_ = new ProgramChart(this);
    title_ = new QLabel(base::Tr::tr("当前程序曲线："), this);
    unit_ = new QLabel(base::Tr::tr("温度  ℃ "), this);
    for (int i = 0; i < kTimeLabels; ++i)
        timeAxisLabels_[i] = axisLabel(this, QStringLiteral("Label8_%1").arg(i),
                                       base::Tr::tr("时间轴 刻度%1").arg(i + 1), Qt::AlignHCenter);
    for (int i = 0; i < kValueLabels; ++i)
        valueAxisLabels_[i] = axisLabel(this, QStringLiteral("Label6_%1").arg(i),
                                        base::Tr::tr("温度轴 刻度%1").arg(i + 1), Qt::AlignRight);
    maxLabel_ =
        axisLabel(this, QStringLiteral("Label5"), base::Tr::tr("曲线最大值"), Qt::AlignLeft);
    minLabel_ =
        axisLabel(this, QStringLiteral("Label10"), base::Tr::tr("曲线最小值"), Qt::AlignLeft);
    stepLabel_ =
        axisLabel(this, QStringLiteral("Label11"), base::Tr::tr("温度轴 刻度间隔"), Qt::AlignLeft);
    const QString captions[] = {base::Tr::tr("最大值"), base::Tr::tr("最小值"),
                                base::Tr::tr("刻度间隔")};
    for (size_t i = 0; i < boundCaptions_.size(); ++i) {
        boundCaptions_[i] = new QLabel(captions[i], this);
        boundCaptions_[i]->setObjectName(QStringLiteral("ProgramChartBoundCaption_%1").arg(i));
    }
    timeUnitLabel_ =
        axisLabel(this, QStringLiteral("Label7_1"), base::Tr::tr("时间单位"), Qt::AlignRight);
    timeUnitLabel_->setText(base::Tr::tr("时间单位：小时"));
    placeChildren();
    // Wide enough for the top row's captions and numbers.
    setMinimumSize(std::max(kLeft + kRight + 400, topRowEnd_), kTop + kBottom + 240);
}

void ChartFrame::showPreview(const PreviewGeometry& g) {
    surface_->setGeometryToDraw(g);
    for (int i = 0; i < kTimeLabels; ++i)
        timeAxisLabels_[i]->setText(g.timeLabels[i]);
    for (int i = 0; i < kValueLabels; ++i)
        valueAxisLabels_[i]->setText(g.valueLabels[i]);
    maxLabel_->setText(g.maxText);
    minLabel_->setText(g.minText);
    stepLabel_->setText(g.stepText);
}

void ChartFrame::resizeEvent(QResizeEvent*) {
    placeChildren();
}

void ChartFrame::placeChildren() {
    const QRect chart(kLeft, kTop, std::max(1, width() - kLeft - kRight),
                      std::max(1, height() - kTop - kBottom));
    surface_->setGeometry(chart);
    const double sx = double(chart.width()) / kChartWidth;
    const double sy = double(chart.height()) / kChartHeight;

    // Top row: the value axis unit over the axis numbers, the caption, then maximum, minimum and
    // step of the value axis.
    // A unit caption wider than the axis numbers (as in English) moves the row to its right.
    const int unitWidth = std::max(kLeft - 2, unit_->sizeHint().width());
    const int left = unitWidth + 2;
    const int titleWidth = std::max(110, title_->sizeHint().width());
    unit_->setGeometry(0, 2, unitWidth, kLabelHeight);
    title_->setGeometry(left, 2, titleWidth, kLabelHeight);
    // Each number after its caption: maximum, minimum, step.
    const std::array<std::pair<QLabel*, int>, 3> bounds = {
        {{maxLabel_, 56}, {minLabel_, 56}, {stepLabel_, 80}}};
    int x = left + titleWidth + 6;
    for (size_t i = 0; i < bounds.size(); ++i) {
        const int captionWidth = boundCaptions_[i]->sizeHint().width();
        boundCaptions_[i]->setGeometry(x, 2, captionWidth, kLabelHeight);
        x += captionWidth + 4;
        bounds[i].first->setGeometry(x, 2, bounds[i].second, kLabelHeight);
        x += bounds[i].second + 8;
    }
    topRowEnd_ = x;

    // Value-axis number i belongs to the grid line 1000·i units above the bottom edge.
    for (int i = 0; i < kValueLabels; ++i) {
        const int y = chart.top() + int((kChartHeight - 1000.0 * i) * sy);
        valueAxisLabels_[i]->setGeometry(0, y - kLabelHeight / 2, kLeft - 6, kLabelHeight);
    }
    valueAxisLabels_[kValueLabels - 1]->raise();
    // Time-axis number i belongs to the vertical grid line at 1000·i.
    const int labelWidth = 48;
    for (int i = 0; i < kTimeLabels; ++i) {
        const int x = chart.left() + int(1000.0 * i * sx);
        timeAxisLabels_[i]->setGeometry(x - labelWidth / 2, chart.bottom() + 3, labelWidth,
                                        kLabelHeight);
    }
    timeUnitLabel_->setGeometry(chart.right() - 200, chart.bottom() + 4 + kLabelHeight, 200,
                                kLabelHeight);
}

}  // namespace program
