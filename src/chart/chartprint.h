#pragma once
// The chart as a page: a title line, the value-axis labels, the surface with its curves and the
// ruler, and the time and date labels, drawn by the same painting code as the screen. Used for
// the printer, PDF files (as vectors) and PNG pictures.

#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QString>
#include <optional>

#include "chart/chartmodel.h"

class QPainter;
class QPrinter;

namespace chart {

// Converts an OLE date-and-time (days since 1899-12-30, fraction the time) to local time.
QDateTime oleDateTime(double days);

// The title line: instrument address, port and the span of the records shown.
QString chartTitle(int address, int port, const ChartModel& model);

// Draws the page into target (device units of p). Font sizes are in points, pens scale with the
// device's resolution.
void renderChartPage(QPainter& p, const QRectF& target, const ChartModel& model,
                     const QString& title);

// The page on a printer already set up (the system print dialog's choice, or a PDF file).
bool printChart(QPrinter& printer, const ChartModel& model, const QString& title);
// A PDF file of one landscape A4 page; false with error set when it cannot be written.
bool saveChartPdf(const QString& file, const ChartModel& model, const QString& title,
                  QString* error);
// A picture of the page at the given size.
QImage renderChartImage(const QSize& size, const ChartModel& model, const QString& title);
bool saveChartPng(const QString& file, const ChartModel& model, const QString& title,
                  QString* error);

}  // namespace chart
