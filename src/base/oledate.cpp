#include "base/oledate.h"

#include <cmath>

namespace base {

namespace {
const QDate kEpoch(1899, 12, 30);
}

double oleDate(const QDate& d) {
    return d.isValid() ? static_cast<double>(kEpoch.daysTo(d)) : 0.0;
}

double oleTime(const QTime& t) {
    return t.isValid() ? static_cast<double>(t.msecsSinceStartOfDay() / 1000) / 86400.0 : 0.0;
}

QDate dateFromOle(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return {};
    return kEpoch.addDays(static_cast<qint64>(std::floor(days)));
}

QTime timeFromOle(double frac) {
    if (!std::isfinite(frac)) return QTime(0, 0);
    double f = frac - std::floor(frac);
    long secs = std::lround(f * 86400.0) % 86400;
    return QTime(0, 0).addSecs(static_cast<int>(secs));
}

double oleDateTime(const QDateTime& dt) {
    return oleDate(dt.date()) + oleTime(dt.time());
}

QDateTime dateTimeFromOle(double value) {
    const QDate d = dateFromOle(value);
    if (!d.isValid()) return {};
    return QDateTime(d, timeFromOle(value - std::floor(value)));
}

QString oleDateText(double days) {
    const QDate d = dateFromOle(days);
    return d.isValid() ? d.toString(QStringLiteral("yyyy/MM/dd")) : QString();
}

QString oleTimeText(double frac) {
    return timeFromOle(frac).toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace base
