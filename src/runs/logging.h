#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace runs {

Q_DECLARE_LOGGING_CATEGORY(lcRuns)  // velmars.runs: runs started and ended

}  // namespace runs
