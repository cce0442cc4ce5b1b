#include "base/datafolder.h"

#include <QDir>

namespace base {

namespace {
QString& folder() {
    static QString dir;
    return dir;
}
}  // namespace

void setDataFolder(const QString& dir) {
    folder() = dir.isEmpty() ? QString() : QDir::cleanPath(QDir(dir).absolutePath());
}

QString givenDataFolder() {
    return folder();
}

}  // namespace base
