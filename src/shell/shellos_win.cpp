#include <QFileInfo>

#include "shell/settings.h"
#include "shell/shellos.h"

namespace shell::os {

QString dataFolder() {
    // %APPDATA%\velmars, where the settings file (velmars.ini) lies too: the user's own profile,
    // which Windows lets no other user read.
    return QFileInfo(settingsFile()->fileName()).absolutePath();
}

}  // namespace shell::os
