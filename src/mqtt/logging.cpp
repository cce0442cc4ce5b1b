#include "mqtt/logging.h"

namespace mqtt {
Q_LOGGING_CATEGORY(lcMqtt, "velmars.mqtt", QtWarningMsg)
}
