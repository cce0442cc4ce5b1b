#include "runs/logging.h"

namespace runs {

Q_LOGGING_CATEGORY(lcRuns, "velmars.runs", QtWarningMsg)

}  // namespace runs
