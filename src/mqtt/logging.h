#pragma once

#include <QLoggingCategory>

namespace mqtt {
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)
}
