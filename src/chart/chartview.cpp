#include "chart/chartview.h"

#include <QPaintEvent>
#include <QPainter>

#include "base/tr.h"
#include "chart/spanview.h"

namespace chart {

ChartView::ChartView(const ChartModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("pt"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(base::Tr::tr("曲线"));
}

void ChartView::paintEvent(QPaintEvent*) {
    ++paints_;
    QPainter p(this);
    if (span_)
        span_->paint(p, size());
    else
        painter_.paint(p, size(), model_);
}

}  // namespace chart
