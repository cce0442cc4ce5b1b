#include "shell/appicon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// The data folder as seen from the folder of the installed program ("../share" by default); set by
// the build from the install layout so that a changed layout still finds its icon.
#ifndef VELMARS_DATA_FROM_BIN
#define VELMARS_DATA_FROM_BIN "../share"
#endif

namespace shell {

QString iconThemeFolder(const QString& programDir) {
    const QString installed =
        QDir::cleanPath(programDir + QStringLiteral("/") + QStringLiteral(VELMARS_DATA_FROM_BIN) +
                        QStringLiteral("/icons/hicolor"));
    if (!programDir.isEmpty() &&
        QFileInfo(installed + QStringLiteral("/scalable/apps/velmars.svg")).isFile())
        return installed;
    return QStringLiteral(":/icons/hicolor");
}

QIcon windowIcon() {
    const QString folder = iconThemeFolder(QCoreApplication::applicationDirPath());
    QIcon icon;
    icon.addFile(folder + QStringLiteral("/scalable/apps/velmars.svg"));
    icon.addFile(folder + QStringLiteral("/64x64/apps/velmars.png"), QSize(64, 64));
    return icon;
}

}  // namespace shell
