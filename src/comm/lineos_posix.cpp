#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <cerrno>

#include "comm/lineos.h"

namespace comm::os {

QStringList serialPorts() {
    QStringList out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        out << info.systemLocation();
    return out;
}

std::optional<QString> numberedPort(int) {
    return std::nullopt;
}

bool serialPortGone(int fd, const QString& path) {
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return true;
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) != 0 && errno == ENOENT;
}

NetworkFailure networkFailure(int e) {
    switch (e) {
        case ECONNREFUSED:
            return NetworkFailure::Refused;
        case EINPROGRESS:  // libmodbus gave up waiting for the connection
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENETUNREACH:
            return NetworkFailure::NoAnswer;
        case ECONNRESET:  // libmodbus's word for a read that met the end of the stream, too
        case EPIPE:
        case ENOTCONN:
            return NetworkFailure::Closed;
        default:
            return NetworkFailure::Other;
    }
}

bool socketClosed(int fd) {
    tcp_info info{};
    socklen_t size = sizeof info;
    return fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
           info.tcpi_state != TCP_ESTABLISHED;
}

void limitUnacknowledged(int fd, unsigned int ms) {
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms);
}

void keepBrokenPipesFromSignalling() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void discardInput(int fd, int quietMs, int limitMs) {
    QElapsedTimer spent;
    spent.start();
    char sink[256];
    while (spent.elapsed() < limitMs) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, quietMs);
        if (ready <= 0 || !(p.revents & POLLIN)) break;
        if (::read(fd, sink, sizeof sink) <= 0) break;
    }
}

}  // namespace comm::os
