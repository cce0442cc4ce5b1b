#include "ui/uios.h"

namespace ui::os {

QStringList chineseFontFamilies() {
    return {QStringLiteral("WenQuanYi Micro Hei")};
}

QString deviceFileName(const QString&) {
    return {};
}

}  // namespace ui::os
