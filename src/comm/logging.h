#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace comm {

Q_DECLARE_LOGGING_CATEGORY(lcLink)  // velmars.link: ports opened and closed, failed exchanges

}  // namespace comm
