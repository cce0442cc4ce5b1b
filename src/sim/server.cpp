#include "sim/server.h"

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim/serveros.h"

namespace sim {

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void setError(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
}

using os::closeFd;

int readU16(const uint8_t* p) {
    return (p[0] << 8) | p[1];
}

// A libmodbus context that talks over an fd it does not own (never connected or closed): RTU, or
// Modbus TCP for that transport.
modbus_t* makeContext(const ServerOptions& o, int fd) {
    modbus_t* ctx = o.transport == Transport::ModbusTcp
                        ? modbus_new_tcp("127.0.0.1", o.tcpPort)
                        : modbus_new_rtu("/dev/null", o.baud > 0 ? o.baud : 9600, o.parity, 8, 1);
    if (!ctx) return nullptr;
    modbus_set_slave(ctx, o.served().front());
    modbus_set_socket(ctx, fd);
    modbus_set_byte_timeout(ctx, 0, 100000);
    return ctx;
}

void freeContext(modbus_t* ctx) {
    if (!ctx) return;
    modbus_set_socket(ctx, -1);
    modbus_free(ctx);
}

}  // namespace

std::vector<int> ServerOptions::served() const {
    return addresses.empty() ? std::vector<int>{address} : addresses;
}

std::string writeLogLine(int reg, int value, int address) {
    using namespace std::chrono;
    const auto t = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(t);
    const int ms = int(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
    const std::tm local = os::localTime(secs);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                  local.tm_sec, ms);
    std::string line = stamp;
    if (address != 0) line += "address " + std::to_string(address) + " ";
    return line + "4X " + std::to_string(reg) + " " + std::to_string(value);
}

SimServer::SimServer(ServerOptions options) : options_(options) {
    const std::vector<int> served = options_.served();
    for (size_t i = 0; i < served.size(); ++i) {
        const int a = served[i];
        if (a < 1 || a > 247)
            badAddresses_ = "slave address " + std::to_string(a) + " is not 1..247";
        else if (find(a))
            badAddresses_ = "slave address " + std::to_string(a) + " is given twice";
        if (find(a)) continue;
        // The first instrument is the one a single-address server has: same seed, same start.
        auto u = std::make_unique<Unit>(a, options_.seed + uint32_t(i));
        u->instrument.setTimeScale(options_.timeScale);
        u->instrument.setOwnAddress(a);
        if (options_.demoStart) u->instrument.startAsDemo(int(i % 16));
        units_.push_back(std::move(u));
    }
    for (int a : options_.silentAddresses) {
        if (Unit* u = find(a))
            u->silent = true;
        else
            badAddresses_ = "silent address " + std::to_string(a) + " is not served";
    }
    dropRate_ = options_.dropRate;
    corruptRate_ = options_.corruptRate;
}

SimServer::Unit* SimServer::find(int address) {
    for (auto& u : units_)
        if (u->address == address) return u.get();
    return nullptr;
}

SimServer::Unit& SimServer::unit(int address) {
    Unit* u = find(address);
    if (!u) throw std::out_of_range("slave address " + std::to_string(address) + " not served");
    return *u;
}

std::vector<int> SimServer::addresses() const {
    std::vector<int> out;
    for (const auto& u : units_)
        out.push_back(u->address);
    return out;
}

void SimServer::setSilent(bool silent) {
    for (auto& u : units_)
        u->silent = silent;
}

void SimServer::setSilent(int address, bool silent) {
    if (Unit* u = find(address)) u->silent = silent;
}

SimServer::~SimServer() {
    stop();
}

double SimServer::wireSeconds(int bytes, int baud, char parity) {
    const int bitsPerChar = 1 + 8 + (parity == 'N' ? 0 : 1) + 1;
    return baud > 0 ? double(bytes) * bitsPerChar / baud : 0.0;
}

std::string SimServer::ptyPath() const {
    std::lock_guard<std::mutex> lock(pathMutex_);
    return ptyPath_;
}

std::string SimServer::device() const {
    const std::string hostPort = "127.0.0.1:" + std::to_string(options_.tcpPort);
    switch (options_.transport) {
        case Transport::ModbusTcp:
            return "tcp://" + hostPort;
        case Transport::RtuOverTcp:
            return "rtu+tcp://" + hostPort;
        case Transport::Pty:
            break;
    }
    return ptyPath();
}

bool SimServer::listen(std::string* error) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", options_.tcpPort);
    listenFd_ = ctx ? modbus_tcp_listen(ctx, 1) : -1;
    const int e = errno;
    if (ctx) modbus_free(ctx);  // the listening socket stays open: it is ours now
    if (listenFd_ < 0) {
        errno = e;
        setError(error, "listen on 127.0.0.1:" + std::to_string(options_.tcpPort));
        return false;
    }
    os::setCloseOnExec(listenFd_);
    const int port = os::boundPort(listenFd_);
    if (port > 0) options_.tcpPort = port;  // a restart listens on the same port
    return true;
}

void SimServer::dropClient() {
    closeFd(clientFd_);
}

bool SimServer::start(std::string* error) {
    if (running_) return true;
    if (!badAddresses_.empty() || options_.baud <= 0) {
        errno = EINVAL;
        setError(error, badAddresses_.empty() ? "baud must be positive" : badAddresses_);
        return false;
    }
    if (options_.parity != 'N' && options_.parity != 'E' && options_.parity != 'O') {
        errno = EINVAL;
        setError(error, "parity must be N, E or O");
        return false;
    }
    // Without pseudo-terminals the line is a loopback gateway passing the RTU frames on.
    if (options_.transport == Transport::Pty && !os::hasPseudoTerminals())
        options_.transport = Transport::RtuOverTcp;
    const bool opened = options_.transport == Transport::Pty ? openPty(error) : listen(error);
    if (!opened || !os::wakePair(wakePipe_) || !os::socketPair(capture_)) {
        if (opened) setError(error, "pipe");
        closeFds();
        return false;
    }
    os::setNonBlocking(capture_[1]);
    running_ = true;
    thread_ = std::thread(&SimServer::run, this);
    return true;
}

bool SimServer::openPty(std::string* error) {
    std::string path, step;
    if (!os::openPseudoTerminal(&masterFd_, &slaveFd_, &path, &step)) {
        setError(error, step);
        return false;
    }
    std::lock_guard<std::mutex> lock(pathMutex_);
    ptyPath_ = path;
    return true;
}

void SimServer::stop() {
    if (thread_.joinable()) {
        const char c = 'q';
        [[maybe_unused]] long n = os::writeSome(wakePipe_[1], &c, 1);
        thread_.join();
    }
    running_ = false;
    closeFds();
}

void SimServer::closeFds() {
    closeFd(masterFd_);
    closeFd(slaveFd_);
    closeFd(listenFd_);
    closeFd(clientFd_);
    closeFd(wakePipe_[0]);
    closeFd(wakePipe_[1]);
    closeFd(capture_[0]);
    closeFd(capture_[1]);
}

bool SimServer::sleepUnlessStopped(double seconds) {
    const double until = now() + seconds;
    for (;;) {
        const double left = until - now();
        if (left <= 0) return true;
        // Whole milliseconds on the wake pipe, then the rest of the last one asleep: rounding the
        // wait up to a millisecond made every answer up to a millisecond late, 5 % of a short
        // frame's time at 19200 baud.
        const int wholeMs = static_cast<int>(left * 1000);
        if (wholeMs == 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(left));
            return true;
        }
        os::Watch wake{wakePipe_[0]};
        if (os::wait(&wake, 1, wholeMs) > 0) return false;
    }
}

void SimServer::run() {
    const bool tcp = options_.transport == Transport::ModbusTcp;
    const bool onSocket = options_.transport != Transport::Pty;
    auto line = [&] { return onSocket ? clientFd_ : masterFd_; };
    modbus_t* ctx = makeContext(options_, line());
    modbus_mapping_t* map = modbus_mapping_new(16, 16, 8240, 4112);
    std::mt19937 faults(options_.seed ^ 0x5A17u);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    double lastStep = now();
    const int first = units_.front()->address;
    const bool several = units_.size() > 1;
    auto restartContext = [&] {
        freeContext(ctx);
        ctx = makeContext(options_, line());
    };
    // Drains what a replayed frame left unread in the capture socket.
    auto drainReplay = [&] {
        uint8_t rest[MODBUS_RTU_MAX_ADU_LENGTH];
        for (;;) {
            os::Watch w{capture_[0]};
            if (os::wait(&w, 1, 0) <= 0 || os::readSome(capture_[0], rest, sizeof rest) <= 0) break;
        }
    };

    while (ctx && map) {
        // Negative descriptors (no listening socket on a pty, no master connected) are skipped.
        os::Watch fds[3] = {{line()}, {listenFd_}, {wakePipe_[0]}};
        const int ready = os::wait(fds, 3, 50);
        // A request's answer is timed from its arrival, before the instruments take their step.
        const double woke = now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& u : units_)
                u->instrument.step(woke - lastStep);
            lastStep = woke;
        }
        if (ready < 0 && errno != EINTR) break;
        if (fds[2].ready) break;
        if (fds[1].readable) {
            const int fd = os::acceptClient(listenFd_);
            if (fd >= 0) {
                dropClient();
                clientFd_ = fd;
                restartContext();
            }
            continue;
        }
        if (!(onSocket ? fds[0].ready : fds[0].readable)) continue;

        const double receivedAt = woke;
        uint8_t req[MODBUS_TCP_MAX_ADU_LENGTH];
        int len = modbus_receive(ctx, req);
        if (len == 0 && !tcp && several && req[0] != first && find(req[0])) {
            // libmodbus takes RTU frames for one slave address only; it has read this one, for
            // another instrument on the line, whole. Hand it back to libmodbus for that address
            // through the capture socket, so that it is framed and its CRC checked as any other.
            restartContext();
            uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
            std::memcpy(frame, req, sizeof frame);
            modbus_set_slave(ctx, req[0]);
            modbus_set_socket(ctx, capture_[0]);
            len = os::writeSome(capture_[1], frame, sizeof frame) == long(sizeof frame)
                      ? modbus_receive(ctx, req)
                      : -1;
            drainReplay();
            modbus_set_slave(ctx, first);
            modbus_set_socket(ctx, line());
            if (len <= 0) continue;  // a bad CRC: ignored, as for the first address
        }
        if (len < 0) {
            // A garbled or cut-off frame keeps the connection; anything else (libmodbus says
            // ECONNRESET for a read that met the end of the stream) ends it.
            if (onSocket && errno != ETIMEDOUT && errno < MODBUS_ENOBASE)
                dropClient();
            else
                modbus_flush(ctx);
            continue;
        }
        if (len == 0) {
            // A request for another slave. libmodbus would then skip the next frame as that
            // slave's answer; on this line there is no such answer, so start afresh.
            restartContext();
            continue;
        }

        // Let libmodbus build the answer into the capture socket, then forward it. The request's
        // function follows the header: the slave address, or the MBAP header ending in the unit
        // id, which libmodbus does not check against the server's address.
        const int head = modbus_get_header_length(ctx);
        const int slave = req[head - 1];
        const bool broadcast = !tcp && slave == MODBUS_BROADCAST_ADDRESS;
        Unit* const target = broadcast ? units_.front().get() : find(slave);
        if (!target) continue;  // TCP: a unit id not served
        if (!broadcast && target->silent) continue;
        const int function = req[head];
        const int addr = readU16(req + head + 1);
        const int count = readU16(req + head + 3);
        Area area = Area::HoldingRegisters;
        int quantity = count;
        int maxQuantity = 125;
        bool write = false;
        bool supported = true;
        switch (function) {
            case MODBUS_FC_READ_COILS:
                area = Area::Coils;
                maxQuantity = MODBUS_MAX_READ_BITS;
                break;
            case MODBUS_FC_READ_DISCRETE_INPUTS:
                area = Area::DiscreteInputs;
                maxQuantity = MODBUS_MAX_READ_BITS;
                break;
            case MODBUS_FC_READ_HOLDING_REGISTERS:
                break;
            case MODBUS_FC_READ_INPUT_REGISTERS:
                area = Area::InputRegisters;
                break;
            case MODBUS_FC_WRITE_SINGLE_REGISTER:
                quantity = 1;
                write = true;
                break;
            case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
                maxQuantity = MODBUS_MAX_WRITE_REGISTERS;
                write = true;
                break;
            default:
                supported = false;
        }

        modbus_set_socket(ctx, capture_[0]);
        bool readServed = false;
        if (!supported) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        } else if (quantity < 1 || quantity > maxQuantity) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        } else if (!Instrument::inMap(area, addr + 1, quantity)) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        } else {
            std::unique_lock<std::mutex> lock(mutex_);
            Instrument& instrument = target->instrument;
            if (!write) {
                if (area == Area::Coils || area == Area::DiscreteInputs) {
                    uint8_t* bits = area == Area::Coils ? map->tab_bits : map->tab_input_bits;
                    instrument.readBits(area, addr + 1, quantity, bits + addr);
                } else {
                    uint16_t* regs = area == Area::InputRegisters ? map->tab_input_registers
                                                                  : map->tab_registers;
                    instrument.readRegisters(area, addr + 1, quantity, regs + addr);
                }
            }
            modbus_reply(ctx, req, len, map);
            readServed = !write;
            if (write) {
                // libmodbus has stored the values in the mapping; hand them to the instrument
                // (every one that hears a broadcast), which reacts to them (the program command,
                // for one).
                std::vector<int> written;
                for (auto& u : units_) {
                    if (broadcast ? bool(u->silent) : u.get() != target) continue;
                    u->instrument.writeRegisters(Area::HoldingRegisters, addr + 1, quantity,
                                                 map->tab_registers + addr);
                    written.push_back(u->address);
                }
                lock.unlock();
                if (options_.writeLog)
                    for (int a : written)
                        for (int i = 0; i < quantity; ++i)
                            options_.writeLog(writeLogLine(
                                addr + 1 + i, static_cast<int16_t>(map->tab_registers[addr + i]),
                                several ? a : 0));
            }
        }
        modbus_set_socket(ctx, line());

        std::vector<uint8_t> answer;
        uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
        for (;;) {
            const long n = os::readSome(capture_[1], buf, sizeof buf);
            if (n <= 0) break;
            answer.insert(answer.end(), buf, buf + n);
        }
        if (slave == MODBUS_BROADCAST_ADDRESS || answer.empty()) continue;

        double wait = 0;
        if (options_.wireTiming) {
            // Request, gap, answer, gap: 3.5 characters each gap. A Modbus TCP frame carries
            // the MBAP header (7 bytes) where the line has address and CRC (3).
            const int bytes = len + int(answer.size()) + 7 - (tcp ? 8 : 0);
            const double total = wireSeconds(bytes, options_.baud, options_.parity);
            wait = receivedAt + total - now();
        }
        wait += options_.delayMs / 1000.0;
        if (wait > 0 && !sleepUnlessStopped(wait)) break;
        const double dropRate = dropRate_, corruptRate = corruptRate_;
        if (dropRate > 0 && chance(faults) < dropRate) continue;
        const bool corrupt = corruptRate > 0 && chance(faults) < corruptRate;
        if (corrupt) answer.back() ^= 0xFF;  // the CRC's last byte
        // Counted before the write, so a master that has its answer sees it counted.
        ++served_;
        long off = 0;
        while (off < long(answer.size())) {
            const size_t left = answer.size() - off;
            // send() on a socket, so that a master gone meanwhile costs no SIGPIPE.
            const long n = onSocket ? os::sendSome(line(), answer.data() + off, left)
                                    : os::writeSome(masterFd_, answer.data() + off, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            off += n;
        }
        if (readServed && !corrupt && off == long(answer.size()) && options_.readAnswered)
            options_.readAnswered(slave, area, addr + 1, quantity);
    }
    if (map) modbus_mapping_free(map);
    freeContext(ctx);
}

int SimServer::holdingRegister(int n) {
    return withInstrument([n](Instrument& i) { return i.holdingRegister(n); });
}

int SimServer::inputRegister(int n) {
    return withInstrument([n](Instrument& i) { return i.inputRegister(n); });
}

bool SimServer::discreteInput(int n) {
    return withInstrument([n](Instrument& i) { return i.discreteInput(n); });
}

void SimServer::setHoldingRegister(int n, int v) {
    withInstrument([n, v](Instrument& i) { return i.setHoldingRegister(n, v); });
}

void SimServer::setSensorOpen(int ch, bool open) {
    withInstrument([ch, open](Instrument& i) { i.setSensorOpen(ch, open); });
}

}  // namespace sim
