#include "events/logging.h"

namespace record {

Q_LOGGING_CATEGORY(lcEvents, "velmars.events", QtWarningMsg)

}  // namespace record
