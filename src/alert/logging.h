#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace alert {

Q_DECLARE_LOGGING_CATEGORY(lcAlert)  // velmars.alert: delivery attempts

}  // namespace alert
