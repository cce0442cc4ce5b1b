#include "runs/logging.h"

namespace record {

Q_LOGGING_CATEGORY(lcRuns, "velmars.runs", QtWarningMsg)

}  // namespace record
