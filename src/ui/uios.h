#pragma once
// What the windows need of the operating system: the one file of this folder that differs between
// platforms.

#include <QStringList>

namespace ui::os {

// Font families that show the Chinese captions well on this system, best first.
QStringList chineseFontFamilies();

// The device that a file name chosen in a dialog names instead of a file ("COM1" for "com1.csv"
// on Windows), or an empty string where it names a file.
QString deviceFileName(const QString& path);

}  // namespace ui::os
