#pragma once
// OLE Automation dates: a double counting days since 1899-12-30, the time of day being the
// fraction. The database and the chart keep the whole-day date and the time-of-day fraction in
// separate values.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace base {

double oleDate(const QDate& d);  // whole days since 1899-12-30
double oleTime(const QTime& t);  // seconds since midnight / 86400 (whole seconds)
QDate dateFromOle(double days);  // whole-day part; invalid QDate for NaN/huge values
QTime timeFromOle(
    double frac);  // fraction of a day rounded to the nearest second, 0 <= t < 1 wraps
double oleDateTime(const QDateTime& dt);  // date + time
QDateTime dateTimeFromOle(double value);

// Caption forms used under and above the chart: "2001/07/19" and "18:42:00".
QString oleDateText(double days);
QString oleTimeText(double frac);

}  // namespace base
