#pragma once
// The service's logging category.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcService)  // velmars.service: start, chambers recording, stop
