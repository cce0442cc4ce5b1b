#pragma once
// What the windows need of the operating system: the one file of this folder that differs between
// platforms.

#include <QStringList>

namespace ui::os {

// Font families that show the Chinese captions well on this system, best first.
QStringList chineseFontFamilies();

}  // namespace ui::os
