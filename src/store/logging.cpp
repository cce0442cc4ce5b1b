#include "store/logging.h"

namespace store {

Q_LOGGING_CATEGORY(lcStore, "velmars.store", QtWarningMsg)

}  // namespace store
