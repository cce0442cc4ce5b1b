#include "base/baseos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

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

bool createPrivateFile(const QString& path, const QByteArray& data) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    // The mode asked for passed through the umask, which may only take rights away.
    bool ok = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(name.constData());
    return ok;
}

}  // namespace base
