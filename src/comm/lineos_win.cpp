// Windows: serial ports are COMn, listed by the system under HARDWARE\DEVICEMAP\SERIALCOMM;
// libmodbus keeps a serial port's handle to itself, so a port is judged by that list. Gateways are
// Winsock sockets.
#include <winsock2.h>  // windows.h as well, after it as Winsock wants

#include <QElapsedTimer>
#include <cerrno>

#include "comm/lineos.h"

namespace comm::os {

namespace {

// Winsock's option for how long unacknowledged data may wait, in seconds (ws2ipdef.h).
constexpr int kTcpMaxRetransmitTime = 5;

// The system's serial ports as COMn names, or nothing when the list cannot be read.
std::optional<QStringList> listedPorts() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    QStringList names;
    for (DWORD i = 0;; ++i) {
        wchar_t value[256];
        wchar_t data[64];
        DWORD valueSize = 256, dataSize = sizeof data, type = 0;
        const LONG rc = RegEnumValueW(key, i, value, &valueSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        names
            << QString::fromWCharArray(data, int(dataSize / sizeof(wchar_t))).section(u'\0', 0, 0);
    }
    RegCloseKey(key);
    return names;
}

QString portName(const QString& device) {
    return device.startsWith(u"\\\\.\\") ? device.mid(4) : device;
}

}  // namespace

QStringList serialPorts() {
    QStringList out;
    for (const QString& name : listedPorts().value_or(QStringList()))
        out << QStringLiteral("\\\\.\\") + name;
    return out;
}

std::optional<QString> numberedPort(int number) {
    // The \\.\ form reaches COM10 and above as well.
    return number >= 1 ? QStringLiteral("\\\\.\\COM%1").arg(number) : QString();
}

bool serialPortGone(int, const QString& path) {
    // An unplugged adapter leaves the list; a list that cannot be read says nothing.
    const auto listed = listedPorts();
    return listed && !listed->contains(portName(path), Qt::CaseInsensitive);
}

NetworkFailure networkFailure(int e) {
    // libmodbus passes on the C library's numbers and, for some calls, Winsock's own.
    switch (e) {
        case ECONNREFUSED:
        case WSAECONNREFUSED:
            return NetworkFailure::Refused;
        case EINPROGRESS:  // libmodbus gave up waiting for the connection
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case WSAEWOULDBLOCK:
        case WSAETIMEDOUT:
        case WSAEHOSTUNREACH:
        case WSAEHOSTDOWN:
        case WSAENETUNREACH:
            return NetworkFailure::NoAnswer;
        case ECONNRESET:  // libmodbus's word for a read that met the end of the stream, too
        case EPIPE:
        case ENOTCONN:
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENOTCONN:
            return NetworkFailure::Closed;
        default:
            return NetworkFailure::Other;
    }
}

bool socketClosed(int fd) {
    if (fd < 0) return true;
    const auto s = static_cast<SOCKET>(fd);
    int error = 0;
    int size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error)
        return true;
    // Readable with nothing to read is the end of the stream; a reset fails the peek.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now{0, 0};
    if (select(0, &readable, nullptr, nullptr, &now) <= 0) return false;
    char c;
    return recv(s, &c, 1, MSG_PEEK) <= 0;
}

void limitUnacknowledged(int fd, unsigned int ms) {
    const DWORD seconds = (ms + 999) / 1000;
    setsockopt(static_cast<SOCKET>(fd), IPPROTO_TCP, kTcpMaxRetransmitTime,
               reinterpret_cast<const char*>(&seconds), sizeof seconds);
}

void keepBrokenPipesFromSignalling() {
    // Winsock reports a reset connection as an error; there is no signal to keep away.
}

void discardInput(int fd, int quietMs, int limitMs) {
    const auto s = static_cast<SOCKET>(fd);
    QElapsedTimer spent;
    spent.start();
    char sink[256];
    while (spent.elapsed() < limitMs) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval quiet{quietMs / 1000, (quietMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &quiet) <= 0) break;
        if (recv(s, sink, sizeof sink, 0) <= 0) break;
    }
}

}  // namespace comm::os
