#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/serveros.h"

namespace sim::os {

namespace {
sigset_t& stopSignals() {
    static sigset_t set;
    return set;
}
}  // namespace

bool hasPseudoTerminals() {
    return true;
}

bool openPseudoTerminal(int* master, int* slave, std::string* path, std::string* step) {
    *master = posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0) {
        *step = "posix_openpt";
        return false;
    }
    char name[256] = {};
    if (grantpt(*master) != 0 || unlockpt(*master) != 0 ||
        ptsname_r(*master, name, sizeof name) != 0) {
        *step = "pseudo-terminal set-up";
        return false;
    }
    fcntl(*master, F_SETFD, FD_CLOEXEC);
    *slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (*slave < 0 || tcgetattr(*slave, &tio) != 0) {
        *step = std::string("open ") + name;
        return false;
    }
    cfmakeraw(&tio);
    tcsetattr(*slave, TCSANOW, &tio);
    *path = name;
    return true;
}

bool wakePair(int fds[2]) {
    return pipe2(fds, O_CLOEXEC) == 0;
}

bool socketPair(int fds[2]) {
    return socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0;
}

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
}

void setCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

int boundPort(int fd) {
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return -1;
    return ntohs(bound.sin_port);
}

int acceptClient(int listenFd) {
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

long readSome(int fd, void* buf, size_t size) {
    return ::read(fd, buf, size);
}

long writeSome(int fd, const void* buf, size_t size) {
    return ::write(fd, buf, size);
}

long sendSome(int fd, const void* buf, size_t size) {
    return ::send(fd, buf, size, MSG_NOSIGNAL);
}

int wait(Watch* watches, int n, int timeoutMs) {
    pollfd fds[8];
    for (int i = 0; i < n; ++i)
        fds[i] = {watches[i].fd, POLLIN, 0};
    const int ready = ::poll(fds, nfds_t(n), timeoutMs);
    for (int i = 0; i < n; ++i) {
        watches[i].readable = ready > 0 && (fds[i].revents & POLLIN);
        watches[i].ready = ready > 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR));
    }
    return ready;
}

std::tm localTime(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

void holdStopRequests() {
    // Blocked in every thread; the main thread waits for them.
    sigemptyset(&stopSignals());
    sigaddset(&stopSignals(), SIGINT);
    sigaddset(&stopSignals(), SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals(), nullptr);
}

void waitForStopRequest() {
    int sig = 0;
    sigwait(&stopSignals(), &sig);
}

bool makeLink(const std::string& target, const std::string& link, std::string* error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = link + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        *error = "cannot link " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void removeLink(const std::string& target, const std::string& link) {
    char buf[512] = {};
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && target == std::string(buf, size_t(n))) ::unlink(link.c_str());
}

}  // namespace sim::os
