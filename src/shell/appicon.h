#pragma once
// The program's window icon: the one installed with the program when it runs from an installed
// tree, the copy built into the program otherwise (build folder, moved binary).

#include <QIcon>
#include <QString>

namespace shell {

// The folder holding the icon theme's "scalable/apps/velmars.svg" and "64x64/apps/velmars.png":
// <programDir>/<data dir>/icons/hicolor when the installed SVG is there, else the built-in
// resource folder ":/icons/hicolor".
QString iconThemeFolder(const QString& programDir);

// The icon from iconThemeFolder() of the running program's folder, SVG and 64x64 PNG both (the
// PNG covers systems without Qt's SVG plugin).
QIcon windowIcon();

}  // namespace shell
