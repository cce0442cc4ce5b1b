#include "store/logging.h"

namespace record {

Q_LOGGING_CATEGORY(lcStore, "velmars.store", QtWarningMsg)

}  // namespace record
