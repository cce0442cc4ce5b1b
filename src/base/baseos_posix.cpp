#include "base/baseos.h"

#include <unistd.h>
#include <QFileInfo>

#ifdef __linux__
#include <algorithm>

#include <sys/resource.h>
#include <sys/syscall.h>
#endif

namespace base {

QStringList arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

void keepRegexStateOffThreads() {
    // Thread-local objects end before their storage here: nothing to do.
}

void lowerThisThreadsPriority() {
#ifdef __linux__
    // Linux keeps a nice value per thread; raising it needs no privilege.
    const auto self = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, self, std::min(getpriority(PRIO_PROCESS, self) + 10, 19));
#endif
}

bool writableByThisAccount(const QString& path) {
    const QFileInfo file(path);
    return ::access(QFile::encodeName(file.absoluteFilePath()).constData(), W_OK) == 0 ||
           ::access(QFile::encodeName(file.absolutePath()).constData(), W_OK) == 0;
}

}  // namespace base
