#pragma once
// The service manager's end of the notification socket, for tests: a datagram socket bound to a
// path, read one message at a time.

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace servicetest {

class ManagerSocket {
  public:
    explicit ManagerSocket(const QString& path) : path_(path.toLocal8Bit()) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path_.constData(), sizeof a.sun_path - 1);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~ManagerSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }
    // The next message, or an empty one when none came within waitMs (a hung service).
    QByteArray next(int waitMs = 60000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return {};
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? QByteArray(buf, static_cast<int>(n)) : QByteArray();
    }
    // Reads until a message holding line comes; every message read is kept in seen.
    bool waitFor(const QByteArray& line, QList<QByteArray>* seen = nullptr) {
        for (int i = 0; i < 10000; ++i) {
            const QByteArray m = next();
            if (m.isEmpty()) return false;
            if (seen) *seen << m;
            if (m.split('\n').contains(line)) return true;
        }
        return false;
    }

  private:
    QByteArray path_;
    int fd_ = -1;
    bool bound_ = false;
};

}  // namespace servicetest
