#include "chart/chartprint.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <algorithm>

#include "base/tr.h"
#include "chart/chartview.h"
#include "chart/spanview.h"

namespace chart {

namespace {

const QColor kValueColour(255, 0, 0);   // the value axis, as on screen
const QColor kOutputColour(0, 0, 255);  // the fixed axis of the control outputs
const std::array<const char*, 7> kOutputAxis{"-10", "10", "30", "50", "70", "90", "110"};

}  // namespace

QDateTime oleDateTime(double days) {
    const qint64 secs = std::llround(days * 86400.0);
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addSecs(secs);
}

ChartPicture modelPicture(const ChartModel& model) {
    ChartPicture pic;
    pic.valueLabels = model.valueLabels();
    pic.timeLabels = model.timeLabels();
    pic.dateLabels = model.dateLabels();
    pic.paintSurface = [&model](QPainter& p, const QSizeF& size, double penScale) {
        ChartPainter::paintVectors(p, size, model, penScale);
    };
    return pic;
}

ChartPicture spanPicture(const SpanView& span, const ChartModel& model) {
    ChartPicture pic;
    pic.valueLabels = model.valueLabels();
    pic.timeLabels = span.timeLabels();
    pic.dateLabels = span.dateLabels();
    pic.paintSurface = [&span](QPainter& p, const QSizeF& size, double penScale) {
        span.paintVectors(p, size, penScale);
    };
    pic.labelPlaces = SpanView::labelPlaces();
    pic.note = span.note();
    return pic;
}

std::optional<std::pair<QDateTime, QDateTime>> shownTimes(const ChartModel& model) {
    const auto s = model.shownSpan();
    if (!s) return std::nullopt;
    return std::pair{oleDateTime(s->first), oleDateTime(s->second)};
}

QString chartTitle(int address, int port, const ChartModel& model) {
    return chartTitle(address, port, shownTimes(model));
}

QString chartTitle(int address, int port,
                   const std::optional<std::pair<QDateTime, QDateTime>>& shown) {
    QString span = base::Tr::tr("无记录");
    if (shown) {
        const QString form = QStringLiteral("yyyy-MM-dd HH:mm:ss");
        span =
            base::Tr::tr("%1 至 %2").arg(shown->first.toString(form), shown->second.toString(form));
    }
    return base::Tr::tr("仪表地址 %1    端口 %2    %3").arg(address).arg(port).arg(span);
}

void renderChartPage(QPainter& p, const QRectF& page, const ChartPicture& picture,
                     const QString& title) {
    p.save();
    p.setClipRect(page);
    p.fillRect(page, Qt::white);
    QFont font = p.font();
    font.setPointSizeF(9);
    p.setFont(font);
    const QFontMetricsF fm(font, p.device());
    const double lh = fm.height();
    const double valueW = fm.horizontalAdvance(QStringLiteral("-32768")) + lh / 2;
    const double outputW = fm.horizontalAdvance(QStringLiteral("-10")) + lh / 2;
    const double dateW = fm.horizontalAdvance(QStringLiteral("2001/07/19")) + lh / 2;
    const QRectF target = page.adjusted(lh / 2, lh / 4, -lh / 2, -lh / 4);

    // Title line, then the surface with the value labels to its left and two label rows below.
    QFont titleFont = font;
    titleFont.setPointSizeF(11);
    titleFont.setBold(true);
    p.setFont(titleFont);
    const double titleH = QFontMetricsF(titleFont, p.device()).height() * 1.6;
    p.setPen(Qt::black);
    p.drawText(QRectF(target.left(), target.top(), target.width(), titleH),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(font);

    const double left = target.left() + valueW + outputW;
    const double top = target.top() + titleH + lh / 2;
    // The last time label is centred beyond the surface's right edge (at 12150 of 12008 units).
    const double right =
        left + (target.right() - dateW / 2 - left) * ChartModel::kWidth / (1500.0 * 8 + 150);
    const double bottom = target.bottom() - 2 * lh - lh / 2;
    if (right - left < 10 || bottom - top < 10) {
        p.restore();
        return;
    }
    const QRectF surface(left, top, right - left, bottom - top);
    auto xAt = [&](double units) { return left + units * surface.width() / ChartModel::kWidth; };
    auto yAt = [&](double units) { return top + units * surface.height() / ChartModel::kHeight; };

    for (int i = 0; i < 7; ++i) {
        const double y = yAt(7500 - 1250.0 * i) - lh / 2;
        p.setPen(kValueColour);
        p.drawText(QRectF(target.left(), y, valueW - lh / 4, lh), Qt::AlignRight | Qt::AlignVCenter,
                   picture.valueLabels[i]);
        p.setPen(kOutputColour);
        p.drawText(QRectF(target.left() + valueW, y, outputW - lh / 4, lh),
                   Qt::AlignRight | Qt::AlignVCenter, QString::fromLatin1(kOutputAxis[i]));
    }
    p.setPen(Qt::black);
    for (int i = 0; i < 9; ++i) {
        const double x = xAt(picture.labelPlaces[i]) - dateW / 2;
        p.drawText(QRectF(x, bottom + lh / 4, dateW, lh), Qt::AlignCenter, picture.timeLabels[i]);
        p.drawText(QRectF(x, bottom + lh / 4 + lh, dateW, lh), Qt::AlignCenter,
                   picture.dateLabels[i]);
    }

    // The surface itself, by the screen's painting code, as lines at the device's resolution.
    const double penScale = p.device() ? std::max(1.0, p.device()->logicalDpiX() / 96.0) : 1.0;
    p.translate(surface.topLeft());
    if (picture.paintSurface) picture.paintSurface(p, surface.size(), penScale);
    if (!picture.note.isEmpty()) {
        p.setPen(Qt::black);
        p.drawText(QRectF(QPointF(0, 0), surface.size()), Qt::AlignCenter, picture.note);
    }
    p.setPen(QPen(Qt::black, penScale));
    p.drawRect(QRectF(QPointF(0, 0), surface.size()));
    p.restore();
}

bool printChart(QPrinter& printer, const ChartPicture& picture, const QString& title) {
    QPainter p;
    if (!p.begin(&printer)) return false;
    renderChartPage(p, QRectF(0, 0, printer.width(), printer.height()), picture, title);
    return p.end();
}

bool saveChartPdf(const QString& file, const ChartPicture& picture, const QString& title,
                  QString* error) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(title);
    if (!printChart(printer, picture, title) || !QFileInfo(file).size()) {
        if (error) *error = base::Tr::tr("无法写入 %1").arg(file);
        return false;
    }
    return true;
}

QImage renderChartImage(const QSize& size, const ChartPicture& picture, const QString& title) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    renderChartPage(p, QRectF(QPointF(0, 0), QSizeF(size)), picture, title);
    p.end();
    return image;
}

bool saveChartPng(const QString& file, const ChartPicture& picture, const QString& title,
                  QString* error) {
    if (!renderChartImage(QSize(1600, 1000), picture, title).save(file, "PNG")) {
        if (error) *error = base::Tr::tr("无法写入 %1").arg(file);
        return false;
    }
    return true;
}

}  // namespace chart
