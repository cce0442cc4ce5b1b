#include "events/logging.h"

namespace events {

Q_LOGGING_CATEGORY(lcEvents, "velmars.events", QtWarningMsg)

}  // namespace events
