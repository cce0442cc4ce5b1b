#pragma once
// Points this process's settings file at a folder of the test's own: XDG_CONFIG_HOME, which Qt
// reads on POSIX systems before the first settings are opened; on Windows, where the settings lie
// in %APPDATA%, Qt's path for them as well.

#include <QSettings>
#include <QString>

namespace testsupport {

inline void useConfigHome(const QString& dir) {
    qputenv("XDG_CONFIG_HOME", dir.toLocal8Bit());
#ifdef _WIN32
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
#endif
}

// Points the data folder (databases, the user store) at dir/velmars: XDG_DATA_HOME on POSIX
// systems; on Windows the data folder is the settings file's, so Qt's path for those moves too.
inline void useDataHome(const QString& dir) {
    qputenv("XDG_DATA_HOME", dir.toLocal8Bit());
#ifdef _WIN32
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
#endif
}

}  // namespace testsupport
