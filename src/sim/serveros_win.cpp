// Windows: no pseudo-terminals, so the simulated instrument serves on loopback sockets; Winsock
// stands for pipes and socket pairs, and the console's Ctrl+C for the stop signals.
#include <winsock2.h>  // windows.h as well, after it as Winsock wants

#include <cerrno>

#include "sim/serveros.h"

namespace sim::os {

namespace {

void startWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SOCKET sock(int fd) {
    return static_cast<SOCKET>(fd);
}

HANDLE stopEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI onConsoleEvent(DWORD) {
    SetEvent(stopEvent());
    return TRUE;
}

}  // namespace

bool hasPseudoTerminals() {
    return false;
}

bool openPseudoTerminal(int*, int*, std::string*, std::string* step) {
    errno = ENOSYS;
    *step = "pseudo-terminal";
    return false;
}

bool wakePair(int fds[2]) {
    return socketPair(fds);
}

bool socketPair(int fds[2]) {
    // A connection to oneself on 127.0.0.1, through a listening socket that is closed at once.
    startWinsock();
    fds[0] = fds[1] = -1;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof addr;
    SOCKET a = INVALID_SOCKET, b = INVALID_SOCKET;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size) == 0 &&
        ::listen(listener, 1) == 0) {
        a = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (a != INVALID_SOCKET && connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            b = accept(listener, nullptr, nullptr);
    }
    closesocket(listener);
    if (b == INVALID_SOCKET) {
        if (a != INVALID_SOCKET) closesocket(a);
        errno = EIO;
        return false;
    }
    fds[0] = int(a);
    fds[1] = int(b);
    return true;
}

void setNonBlocking(int fd) {
    u_long on = 1;
    ioctlsocket(sock(fd), FIONBIO, &on);
}

void setCloseOnExec(int) {
    // Sockets are not inherited by the programs this one starts.
}

int boundPort(int fd) {
    sockaddr_in bound{};
    int size = sizeof bound;
    if (getsockname(sock(fd), reinterpret_cast<sockaddr*>(&bound), &size) != 0) return -1;
    return ntohs(bound.sin_port);
}

int acceptClient(int listenFd) {
    const SOCKET s = accept(sock(listenFd), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : int(s);
}

void closeFd(int& fd) {
    if (fd >= 0) closesocket(sock(fd));
    fd = -1;
}

long readSome(int fd, void* buf, size_t size) {
    return recv(sock(fd), static_cast<char*>(buf), int(size), 0);
}

long writeSome(int fd, const void* buf, size_t size) {
    return sendSome(fd, buf, size);
}

long sendSome(int fd, const void* buf, size_t size) {
    return send(sock(fd), static_cast<const char*>(buf), int(size), 0);
}

int wait(Watch* watches, int n, int timeoutMs) {
    // A socket the peer has closed or reset selects as readable: the read that follows tells.
    fd_set readable;
    FD_ZERO(&readable);
    for (int i = 0; i < n; ++i)
        if (watches[i].fd >= 0) FD_SET(sock(watches[i].fd), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready < 0) errno = EIO;
    for (int i = 0; i < n; ++i) {
        watches[i].readable =
            ready > 0 && watches[i].fd >= 0 && FD_ISSET(sock(watches[i].fd), &readable);
        watches[i].ready = watches[i].readable;
    }
    return ready;
}

std::tm localTime(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

void holdStopRequests() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void waitForStopRequest() {
    WaitForSingleObject(stopEvent(), INFINITE);
}

bool makeLink(const std::string&, const std::string& link, std::string* error) {
    *error = "cannot link " + link + ": no pseudo-terminal on this system";
    return false;
}

void removeLink(const std::string&, const std::string&) {}

}  // namespace sim::os
