#include "ui/uios.h"

namespace ui::os {

QStringList chineseFontFamilies() {
    return {QStringLiteral("WenQuanYi Micro Hei")};
}

}  // namespace ui::os
