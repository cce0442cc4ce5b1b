#include "ui/fonts.h"

#include <QFontDatabase>
#include <QStringList>

#include "ui/uios.h"

namespace ui {

QString chineseFontFamily() {
    // A Chinese Windows desktop lists its fonts by their Chinese names ("微软雅黑");
    // hasFamily knows them by the English names asked for here as well.
    const QStringList wanted = os::chineseFontFamilies();
    for (const QString& family : wanted)
        if (QFontDatabase::hasFamily(family)) return family;
    return wanted.value(0);
}

}  // namespace ui
