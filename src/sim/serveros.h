#pragma once
// What the simulator needs of the operating system: the one file of this folder that differs
// between platforms. Descriptors are ints, as libmodbus has them; -1 is none.

#include <cstddef>
#include <ctime>
#include <string>

namespace sim::os {

// Whether the system has pseudo-terminals. Where it has none, the simulated instrument serves
// RTU frames on a loopback socket instead, as a serial device server would.
bool hasPseudoTerminals();

// A new pseudo-terminal in raw mode: its master side, its slave side (held open so that the master
// never reports a hang-up while no client has the port open) and the slave's path. False with
// errno set and *step naming what failed.
bool openPseudoTerminal(int* master, int* slave, std::string* path, std::string* step);

// A pair of connected descriptors for waking the server's thread (fds[1] is written, fds[0]
// watched), and a pair of connected sockets (capturing libmodbus's answers); both close on exec.
bool wakePair(int fds[2]);
bool socketPair(int fds[2]);

void setNonBlocking(int fd);
void setCloseOnExec(int fd);
// The local port a listening socket is bound to, or -1.
int boundPort(int fd);
// Accepts a connection on a listening socket; -1 when there is none.
int acceptClient(int listenFd);
void closeFd(int& fd);

// Reading and writing the line: a pseudo-terminal, a socket or a wake pair. send() writes to a
// socket without a signal should the peer be gone.
long readSome(int fd, void* buf, size_t size);
long writeSome(int fd, const void* buf, size_t size);
long sendSome(int fd, const void* buf, size_t size);

// Waits at most timeoutMs for one of n descriptors (negative ones are skipped) to become readable
// or be hung up. Returns how many did, 0 on a timeout, -1 with errno set on an error.
struct Watch {
    int fd = -1;
    bool ready = false;  // readable, or hung up, or in error
    bool readable = false;
};
int wait(Watch* watches, int n, int timeoutMs);

std::tm localTime(std::time_t t);

// The stand-alone simulator runs until it is asked to stop (SIGINT or SIGTERM, Ctrl+C).
// holdStopRequests() goes before any thread starts; waitForStopRequest() returns on one.
void holdStopRequests();
void waitForStopRequest();

// A symbolic link at link to target (replacing a link there, never another file); false with
// *error. removeLink() removes it only while it still points at target.
bool makeLink(const std::string& target, const std::string& link, std::string* error);
void removeLink(const std::string& target, const std::string& link);

}  // namespace sim::os
