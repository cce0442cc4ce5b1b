#include "forward/logging.h"

namespace forward {

Q_LOGGING_CATEGORY(lcForward, "velmars.forward", QtWarningMsg)

}  // namespace forward
