#include "comm/logging.h"

namespace comm {

Q_LOGGING_CATEGORY(lcLink, "velmars.link", QtWarningMsg)

}  // namespace comm
