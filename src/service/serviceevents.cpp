#include "service/serviceevents.h"

namespace service {

std::optional<QString> eventText(const QString& code, const QStringList&, base::Lang lang) {
    if (code == kStartedCode)
        return base::wording(QT_TRANSLATE_NOOP("velmars", "服务已启动"), lang);
    if (code == kStoppedCode)
        return base::wording(QT_TRANSLATE_NOOP("velmars", "服务已停止"), lang);
    if (code == kUncleanCode)
        return base::wording(QT_TRANSLATE_NOOP("velmars", "上次运行未正常结束"), lang);
    return std::nullopt;
}

}  // namespace service
