#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QSocketNotifier>
#include <QtGlobal>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "service/serviceos.h"

namespace service::os {

namespace {

int stopPipe[2] = {-1, -1};

void askToStop(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; a full pipe already holds a request.
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

}  // namespace

QString defaultDataFolder() {
    return QStringLiteral("/var/lib/velmars");
}

void routeMessages() {
    // Under systemd standard error goes to the journal, which takes the priority of each line from
    // a "<N>" in front of it.
    const char* priorities = qEnvironmentVariableIsSet("JOURNAL_STREAM")
                                 ? "%{if-debug}<7>%{endif}%{if-info}<6>%{endif}"
                                   "%{if-warning}<4>%{endif}%{if-critical}<3>%{endif}"
                                   "%{if-fatal}<2>%{endif}"
                                 : "";
    qSetMessagePattern(QString::fromLatin1(priorities) +
                       QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
}

bool tellManager(const QByteArray& message) {
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    if (path.isEmpty()) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // "@name" is a socket in the abstract namespace: a NUL byte in front instead of the '@'.
    if (path.size() < 2 || static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path) ||
        (path[0] != '/' && path[0] != '@'))
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    if (path[0] == '@') address.sun_path[0] = '\0';
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const ssize_t sent =
        ::sendto(fd, message.constData(), static_cast<size_t>(message.size()), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
    return sent == message.size();
}

qint64 watchdogUsec() {
    bool ok = false;
    const qint64 usec = qEnvironmentVariable("WATCHDOG_USEC").toLongLong(&ok);
    if (!ok || usec <= 0) return 0;
    // The watchdog is this process's only when the manager names it (or names none).
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != static_cast<qint64>(::getpid())) return 0;
    return usec;
}

void onStopRequest(QObject* context, std::function<void()> stop) {
    if (stopPipe[0] < 0 && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [stop = std::move(stop)] {
        char bytes[16];
        while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
        }
        stop();
    });
    struct sigaction action {};
    action.sa_handler = askToStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

QString channelName(const QString& dataFolder) {
    return QDir(dataFolder).filePath(QStringLiteral("velmars.sock"));
}

bool listenChannel(QLocalServer& server, const QString& dataFolder, QString* why) {
    const QString path = channelName(dataFolder);
    // Only one service holds the folder (its lock), so a socket file there is a dead one's.
    QLocalServer::removeServer(path);
    // Made under the file mask (no access for others), then opened to the group.
    if (!server.listen(path)) {
        if (why) *why = QStringLiteral("%1: %2").arg(path, server.errorString());
        return false;
    }
    if (::chmod(QFile::encodeName(path).constData(), 0660) != 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        server.close();
        return false;
    }
    return true;
}

bool fromAnotherComputer(const QLocalSocket&) {
    return false;
}

QString peerOf(const QLocalSocket& socket) {
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0) return QStringLiteral("unknown");
#ifdef SO_PEERCRED
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 && length == sizeof cred)
        return QStringLiteral("uid %1 pid %2").arg(cred.uid).arg(cred.pid);
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(fd, &uid, &gid) == 0) return QStringLiteral("uid %1").arg(uid);
#endif
    return QStringLiteral("unknown");
}

int runAsService(const std::function<int()>& body) {
    return body();
}

void restrictNewFiles() {
    // Any stricter mask already set is kept.
    const mode_t before = ::umask(0);
    ::umask(before | S_IWGRP | S_IRWXO);
}

int configureInstalledService() {
    // systemd reads all of it from the unit file.
    return 2;
}

}  // namespace service::os
