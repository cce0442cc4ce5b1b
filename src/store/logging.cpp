#include "store/logging.h"

namespace record {

Q_LOGGING_CATEGORY(lcStore, "velmars.store", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEvents, "velmars.events", QtWarningMsg)
Q_LOGGING_CATEGORY(lcForward, "velmars.forward", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRuns, "velmars.runs", QtWarningMsg)

}  // namespace record
