#pragma once
// The service's own events in every chamber's log: where its starts and stops fall, and a start
// after a run that ended without stopping (killed, a crash, the power gone), so that the seconds
// missing in the archive have their cause beside them.

#include <QString>
#include <QStringList>
#include <optional>

#include "base/tr.h"

namespace service {

inline const QString kStartedCode = QStringLiteral("service.started");  // "服务已启动"
inline const QString kStoppedCode = QStringLiteral("service.stopped");  // "服务已停止"
inline const QString kUncleanCode = QStringLiteral("service.unclean");  // "上次运行未正常结束"

// The text of a service event in the language; nullopt for other codes (events::addEventTexts).
std::optional<QString> eventText(const QString& code, const QStringList& args, base::Lang lang);

}  // namespace service
