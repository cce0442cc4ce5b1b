#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace report {

Q_DECLARE_LOGGING_CATEGORY(lcReport)  // velmars.report: reports written or not

}  // namespace report
