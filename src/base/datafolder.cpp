#include "base/datafolder.h"

#include <QDir>
#include <atomic>

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

namespace {
std::atomic<bool> byService{false};
}  // namespace

void setKeptByService(bool kept) {
    byService = kept;
}

bool keptByService() {
    return byService;
}

}  // namespace base
