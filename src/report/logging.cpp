#include "report/logging.h"

namespace report {

Q_LOGGING_CATEGORY(lcReport, "velmars.report", QtWarningMsg)

}  // namespace report
