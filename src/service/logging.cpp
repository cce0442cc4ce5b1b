#include "service/logging.h"

Q_LOGGING_CATEGORY(lcService, "velmars.service", QtInfoMsg)
