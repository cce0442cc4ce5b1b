#include "forward/logging.h"

namespace record {

Q_LOGGING_CATEGORY(lcForward, "velmars.forward", QtWarningMsg)

}  // namespace record
