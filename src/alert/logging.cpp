#include "alert/logging.h"

namespace alert {

Q_LOGGING_CATEGORY(lcAlert, "velmars.alert", QtWarningMsg)

}  // namespace alert
