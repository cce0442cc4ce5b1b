#include "base/devicename.h"
#include "ui/uios.h"

namespace ui::os {

QStringList chineseFontFamilies() {
    // Windows' own Chinese fonts (Microsoft YaHei from Vista on, SimSun on every Chinese
    // system), then the one the Linux desktop uses, as some installs have it too.
    return {QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun"),
            QStringLiteral("WenQuanYi Micro Hei")};
}

QString deviceFileName(const QString& path) {
    return base::windowsDeviceName(path);
}

}  // namespace ui::os
