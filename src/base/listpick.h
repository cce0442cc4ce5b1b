#pragma once
// Option lists accept typing. A list writer sends the position of the entry whose text the list
// shows; when the typed text matches no entry exactly, there is no position and nothing must be
// sent.

#include <QString>
#include <QStringList>
#include <optional>

namespace base {

inline std::optional<int> listPosition(const QStringList& entries, const QString& shown) {
    const qsizetype i = entries.indexOf(shown);
    if (i < 0) return std::nullopt;
    return static_cast<int>(i);
}

}  // namespace base
