#pragma once
// Developer logging, at debug level and off unless switched on, e.g.
// QT_LOGGING_RULES="velmars.*.debug=true".

#include <QLoggingCategory>

namespace store {

Q_DECLARE_LOGGING_CATEGORY(lcStore)  // velmars.store: the sample file and its faults

}  // namespace store
