#include "ui/uios.h"

namespace ui::os {

QStringList chineseFontFamilies() {
    // Windows' own Chinese fonts (Microsoft YaHei from Vista on, SimSun on every Chinese
    // system), then the one the Linux desktop uses, as some installs have it too.
    return {QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun"),
            QStringLiteral("WenQuanYi Micro Hei")};
}

}  // namespace ui::os
