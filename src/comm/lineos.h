#pragma once
// What the line needs of the operating system beyond libmodbus: the one file of this folder that
// differs between platforms.

#include <QString>
#include <QStringList>
#include <optional>

namespace comm::os {

// Device paths of the serial ports the system lists now.
QStringList serialPorts();

// The device a port number names by the system's own rule (on Windows COMn, an empty string for a
// number below 1), or nothing where the n-th port the system lists is meant.
std::optional<QString> numberedPort(int number);

// A serial port's descriptor no longer answers a control call, or its device node has vanished.
bool serialPortGone(int fd, const QString& path);

// What a gateway's connection failing with error number e means for the operator.
enum class NetworkFailure { Refused, NoAnswer, Closed, Other };
NetworkFailure networkFailure(int e);

// A gateway's socket has left the established state (closed, reset, or given up by the kernel).
bool socketClosed(int fd);

// Unacknowledged data on the socket ends the connection after ms.
void limitUnacknowledged(int fd, unsigned int ms);

// Writing to a socket the peer has reset fails with EPIPE on this thread instead of raising a
// signal that ends the program.
void keepBrokenPipesFromSignalling();

// Reads and discards what arrives on fd until it has been quiet for quietMs, for at most limitMs.
void discardInput(int fd, int quietMs, int limitMs);

}  // namespace comm::os
