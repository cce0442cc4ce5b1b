#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace forward {

Q_DECLARE_LOGGING_CATEGORY(lcForward)  // velmars.forward: batches sent to the server

}  // namespace forward
