#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace events {

Q_DECLARE_LOGGING_CATEGORY(lcEvents)  // velmars.events: the event log's table and its faults

}  // namespace events
