#pragma once
// The chart as a page: a title line, the value-axis labels, the surface with its curves and the
// ruler, and the time and date labels, drawn by the same painting code as the screen. Used for
// the printer, PDF files (as vectors) and PNG pictures.

#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "chart/chartmodel.h"

class QPainter;
class QPrinter;

namespace chart {

class SpanView;

// What a page shows: the labels around the surface and the surface's drawing.
struct ChartPicture {
    std::array<QString, 7> valueLabels;
    std::array<QString, 9> timeLabels, dateLabels;
    // Paints the surface into (0, 0) .. size, pens penScale device pixels per screen pixel.
    std::function<void(QPainter&, const QSizeF&, double)> paintSurface;
    // The chart x of each time label's centre.
    std::array<double, 9> labelPlaces = ChartModel::labelPlaces();
    // Said in the middle of the surface when it draws no curve; empty: nothing.
    QString note;
};
// The live or paged chart of the model; a span with the model's value axis labels. Both refer
// to what they draw, which must outlive the picture.
ChartPicture modelPicture(const ChartModel& model);
ChartPicture spanPicture(const SpanView& span, const ChartModel& model);

// Converts an OLE date-and-time (days since 1899-12-30, fraction the time) to local time.
QDateTime oleDateTime(double days);

// The span of the records the model draws, in local time; nullopt when it draws none.
std::optional<std::pair<QDateTime, QDateTime>> shownTimes(const ChartModel& model);

// The title line: instrument address, port and the span of the records shown.
QString chartTitle(int address, int port, const ChartModel& model);
QString chartTitle(int address, int port,
                   const std::optional<std::pair<QDateTime, QDateTime>>& shown);

// Draws the page into target (device units of p). Font sizes are in points, pens scale with the
// device's resolution.
void renderChartPage(QPainter& p, const QRectF& target, const ChartPicture& picture,
                     const QString& title);

// The page on a printer already set up (the system print dialog's choice, or a PDF file).
bool printChart(QPrinter& printer, const ChartPicture& picture, const QString& title);
// A PDF file of one landscape A4 page; false with error set when it cannot be written.
bool saveChartPdf(const QString& file, const ChartPicture& picture, const QString& title,
                  QString* error);
// A picture of the page at the given size.
QImage renderChartImage(const QSize& size, const ChartPicture& picture, const QString& title);
bool saveChartPng(const QString& file, const ChartPicture& picture, const QString& title,
                  QString* error);

}  // namespace chart
