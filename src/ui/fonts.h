#pragma once
// The fonts of the program's texts, for the windows and the pages it paints.

#include <QString>

namespace ui {

// The font family for Chinese text: the first of the system's choices (ui::os) that is installed,
// or the first of them when none is.
QString chineseFontFamily();

}  // namespace ui
