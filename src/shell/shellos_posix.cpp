#include <QDir>
#include <QStandardPaths>

#include "shell/shellos.h"

namespace shell::os {

QString dataFolder() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.velmars");
    return dir;
}

int endProcess(int code) {
    return code;
}

}  // namespace shell::os
