#pragma once

// SimServer serves one or several sim::Instruments as Modbus RTU slaves (libmodbus) on a new
// pseudo-terminal, in a thread of its own: one instrument per slave address, all on one line as
// on an RS-485 bus. A master opens ptyPath() like a serial port. It can instead stand for a
// gateway on 127.0.0.1: a Modbus TCP server (the unit id is the slave address), or a serial
// device server passing RTU frames through a TCP socket. Such a server takes one connection at a
// time; a new one replaces the one before, as many gateways do. Where the system has no
// pseudo-terminals, start() serves RTU frames on 127.0.0.1 instead (device()).
//
// Served function codes: 0x01 read coils, 0x02 read discrete inputs, 0x03 read holding
// registers, 0x04 read input registers, 0x06 write single register, 0x10 write multiple
// registers. Other function codes answer exception 01 (illegal function); an access outside
// the map answers exception 02 (illegal data address). Requests for an address not served are
// ignored; broadcasts (address 0) are carried out by every instrument that is not silent,
// without an answer.
//
// A pty has no baud rate or parity: a master set to a different baud or parity still talks
// to the server. To make a master "not reach" an instrument, run the server with other
// slave addresses (or make that address silent).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/instrument.h"

namespace sim {

enum class Transport { Pty, ModbusTcp, RtuOverTcp };

struct ServerOptions {
    Transport transport = Transport::Pty;
    int tcpPort = 0;  // port on 127.0.0.1 for the TCP transports; 0 takes a free one
    int address = 1;  // slave address 1..247, when addresses is empty
    // Several instruments on the line: their slave addresses (1..247, each once). When given,
    // address is not used. The first one is the instrument the accessors without an address
    // reach.
    std::vector<int> addresses;
    // Served addresses that start silent: requests to them are read and get no answer.
    std::vector<int> silentAddresses;
    int baud = 9600;           // only used by wireTiming
    char parity = 'N';         // 'N', 'E' or 'O'; only used by wireTiming
    bool wireTiming = false;   // hold each answer until a real line would have carried it
    int delayMs = 0;           // extra delay before each answer
    double dropRate = 0.0;     // probability that an answer is not sent
    double corruptRate = 0.0;  // probability that an answer goes out with a bad CRC
    double timeScale = 1.0;    // simulated seconds per real second
    uint32_t seed = 1;         // seeds the instrument's noise and the fault injection
    // Start as a demonstration: set values and measured values the chart's default value axis
    // (0 to 60) shows, instead of the factory settings. The program's --simulate and velmars-sim
    // start so; tests keep the factory settings. With several addresses, the n-th one's SV1 is
    // n-1 above the first one's and its SV2 n-1 below (counting again after 16), so each
    // address shows values of its own.
    bool demoStart = false;
    // Called on the server's thread with one line per register written by a master
    // ("14:03:27.512 4X 4107 -1999"; with several addresses "14:03:27.512 address 2 4X 4107
    // -1999"), when set.
    std::function<void(const std::string&)> writeLog;
    // Called on the server's thread once the answer to a read has gone out on the line, when set:
    // the slave address, the area, and the first register or bit read (numbered in the area: 3X 1
    // is 1) with their count. From then on the master has the values, so it tells when a master
    // read them. The server's accessors may be called from it.
    std::function<void(int address, Area area, int first, int count)> readAnswered;

    // The slave addresses served: addresses, or else address alone.
    std::vector<int> served() const;
};

// The log line of one holding register written with value (signed), stamped with the local time;
// an address other than 0 is named in it.
std::string writeLogLine(int reg, int value, int address = 0);

class SimServer {
  public:
    explicit SimServer(ServerOptions options = {});
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates a new pty and starts serving it. False (with a reason in *error) on failure.
    // Calling start() while running does nothing and returns true.
    bool start(std::string* error = nullptr);
    // Stops serving and closes the pty; joins the thread. The instrument keeps its state.
    void stop();
    bool running() const { return running_; }

    // The slave side of the pty (e.g. /dev/pts/7); empty before the first start().
    std::string ptyPath() const;
    // What a master opens: the pty's path, or for the TCP transports tcp://127.0.0.1:PORT or
    // rtu+tcp://127.0.0.1:PORT, the port a start() with tcpPort 0 took included. A later
    // start() listens on the same port again.
    std::string device() const;

    // The slave addresses served, in the order given.
    std::vector<int> addresses() const;

    // While silent, requests are read and dropped without an answer: every address, or one
    // (an address not served is ignored).
    void setSilent(bool silent);
    void setSilent(int address, bool silent);
    // Changes the fault injection while serving (tests: faults that start and stop).
    void setFaults(double dropRate, double corruptRate) {
        dropRate_ = dropRate;
        corruptRate_ = corruptRate;
    }
    // Closes the line: the master's next exchange fails. A new start() makes a new pty.
    void closeLine() { stop(); }

    // Thread-safe access to the (first address's) instrument (signed register values).
    int holdingRegister(int n);
    int inputRegister(int n);
    bool discreteInput(int n);
    void setHoldingRegister(int n, int v);
    void setSensorOpen(int ch, bool open);
    // Answers written to the line, exception answers and corrupted answers included.
    uint64_t requestsServed() const { return served_; }

    // Runs f(Instrument&) under the instruments' lock and returns its result: the first
    // address's instrument, or that of a served address (std::out_of_range for another).
    template <class F>
    auto withInstrument(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(units_.front()->instrument);
    }
    template <class F>
    auto withInstrument(int address, F&& f) {
        Unit& u = unit(address);
        std::lock_guard<std::mutex> lock(mutex_);
        return f(u.instrument);
    }

    // Time on a real line for n bytes at the configured baud and parity, in seconds.
    static double wireSeconds(int bytes, int baud, char parity);

  private:
    struct Unit {
        Unit(int address, uint32_t seed) : address(address), instrument(seed) {}
        const int address;
        Instrument instrument;  // guarded by mutex_
        std::atomic<bool> silent{false};
    };
    Unit& unit(int address);
    Unit* find(int address);

    // Open the line of the transport; false with a reason, leaving closeFds() to the caller.
    bool openPty(std::string* error);
    bool listen(std::string* error);
    void run();
    // Ends the master's connection on a TCP transport; the server waits for the next one.
    void dropClient();
    bool sleepUnlessStopped(double seconds);
    void closeFds();

    ServerOptions options_;
    std::mutex mutex_;                          // guards the instruments
    std::vector<std::unique_ptr<Unit>> units_;  // one per served address; never empty
    std::string badAddresses_;                  // why start() refuses the addresses, if it does

    mutable std::mutex pathMutex_;
    std::string ptyPath_;

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> served_{0};
    std::atomic<double> dropRate_{0.0};
    std::atomic<double> corruptRate_{0.0};
    int masterFd_ = -1;
    int listenFd_ = -1;  // TCP transports: the listening socket
    int clientFd_ = -1;  // TCP transports: the connected master, -1 while none
    int slaveFd_ = -1;   // kept open so the master side never reports a hang-up
    int wakePipe_[2] = {-1, -1};
    int capture_[2] = {-1, -1};  // libmodbus writes answers here; the thread forwards them
};

}  // namespace sim
