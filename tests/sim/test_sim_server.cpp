// The simulated instrument served over a pty, talked to by a plain libmodbus master.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/server.h"

namespace {

class Master {
  public:
    // A serial device, or a Modbus TCP gateway's tcp://127.0.0.1:PORT.
    explicit Master(const std::string& path, int slave = 1) {
        const std::string tcp = "tcp://127.0.0.1:";
        ctx_ = path.rfind(tcp, 0) == 0
                   ? modbus_new_tcp("127.0.0.1", std::stoi(path.substr(tcp.size())))
                   : modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
        if (!ctx_) return;
        modbus_set_slave(ctx_, slave);
        modbus_set_response_timeout(ctx_, 0, 300000);
        connected_ = modbus_connect(ctx_) == 0;
    }
    ~Master() {
        if (!ctx_) return;
        if (connected_) modbus_close(ctx_);
        modbus_free(ctx_);
    }
    bool ok() const { return ctx_ && connected_; }
    modbus_t* operator*() const { return ctx_; }

  private:
    modbus_t* ctx_ = nullptr;
    bool connected_ = false;
};

std::unique_ptr<sim::SimServer> startServer(sim::ServerOptions o = {}) {
    auto server = std::make_unique<sim::SimServer>(o);
    std::string error;
    EXPECT_TRUE(server->start(&error)) << error;
    return server;
}

TEST(SimServer, ReadsInputRegistersFromReferenceOne) {
    auto server = startServer();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    uint16_t regs[8] = {};
    ASSERT_EQ(modbus_read_input_registers(*m, 0, 8, regs), 8) << modbus_strerror(errno);
    EXPECT_NEAR(int16_t(regs[0]), server->inputRegister(1), 3);  // PV1 first
    EXPECT_EQ(int16_t(regs[2]), server->inputRegister(3));       // SV1
    EXPECT_EQ(int16_t(regs[2]), server->holdingRegister(1));
    EXPECT_GE(server->requestsServed(), 1u);

    uint16_t high[16] = {};
    EXPECT_EQ(modbus_read_input_registers(*m, 4096, 16, high), 16);
    uint16_t params[48] = {};
    EXPECT_EQ(modbus_read_registers(*m, 4096, 16, params), 16);
    EXPECT_EQ(modbus_read_registers(*m, 4128, 16, params + 32), 16);
    EXPECT_EQ(params[10], 5000);  // input 1 upper limit
    uint8_t bits[16] = {};
    EXPECT_EQ(modbus_read_input_bits(*m, 0, 16, bits), 16);
    EXPECT_EQ(modbus_read_bits(*m, 0, 16, bits), 16);
    uint16_t program[16] = {};
    EXPECT_EQ(modbus_read_registers(*m, 8192, 16, program), 16);
}

TEST(SimServer, WritesHoldingRegistersAndReadsThemBack) {
    auto server = startServer();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(modbus_write_register(*m, 0, uint16_t(-1999)), 1);
    uint16_t v = 0;
    ASSERT_EQ(modbus_read_registers(*m, 0, 1, &v), 1);
    EXPECT_EQ(int16_t(v), -1999);
    EXPECT_EQ(server->holdingRegister(1), -1999);

    const uint16_t alarm[3] = {1234, 7, 3};
    ASSERT_EQ(modbus_write_registers(*m, 256, 3, alarm), 3);
    EXPECT_EQ(server->holdingRegister(257), 1234);
    EXPECT_EQ(server->holdingRegister(259), 3);

    server->setHoldingRegister(8193, 2);
    ASSERT_EQ(modbus_read_registers(*m, 8192, 1, &v), 1);
    EXPECT_EQ(v, 2);

    // The program command goes through to the instrument.
    ASSERT_EQ(modbus_write_register(*m, 2, 1), 1);
    EXPECT_EQ(server->inputRegister(4097), 1);
}

TEST(SimServer, OutsideTheMapIsIllegalDataAddress) {
    auto server = startServer();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    uint16_t regs[20] = {};
    struct Case {
        const char* what;
        int rc;
    };
    const Case cases[] = {
        {"4X 9", modbus_read_registers(*m, 8, 1, regs)},
        {"4X 1..9", modbus_read_registers(*m, 0, 9, regs)},
        {"4X 4140..4147", modbus_read_registers(*m, 4139, 8, regs)},
        {"3X 9", modbus_read_input_registers(*m, 8, 1, regs)},
        {"3X 4113", modbus_read_input_registers(*m, 4112, 1, regs)},
        {"write 4X 265", modbus_write_register(*m, 264, 1)},
        {"write 4X 8241", modbus_write_register(*m, 8240, 1)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.rc, -1) << c.what;
    }
    errno = 0;
    EXPECT_EQ(modbus_read_registers(*m, 8, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD);
    uint8_t bits[20] = {};
    EXPECT_EQ(modbus_read_input_bits(*m, 0, 17, bits), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // Coils are read only.
    EXPECT_EQ(modbus_write_bit(*m, 0, 1), -1);
    EXPECT_EQ(errno, EMBXILFUN);
    // The server still answers after the exceptions.
    EXPECT_EQ(modbus_read_registers(*m, 0, 8, regs), 8);
}

TEST(SimServer, SilentServerTimesOutAndResumes) {
    auto server = startServer();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    uint16_t v = 0;
    server->setSilent(true);
    errno = 0;
    EXPECT_EQ(modbus_read_registers(*m, 0, 1, &v), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    server->setSilent(false);
    EXPECT_EQ(modbus_read_registers(*m, 0, 1, &v), 1);
}

TEST(SimServer, OtherSlaveAddressGetsNoAnswer) {
    sim::ServerOptions o;
    o.address = 5;
    auto server = startServer(o);
    Master wrong(server->ptyPath(), 1);
    ASSERT_TRUE(wrong.ok());
    uint16_t v = 0;
    errno = 0;
    EXPECT_EQ(modbus_read_registers(*wrong, 0, 1, &v), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    // The very next request for the right address is answered.
    modbus_set_slave(*wrong, 5);
    EXPECT_EQ(modbus_read_registers(*wrong, 0, 1, &v), 1);
}

// A corrupted answer reaches the master as a CRC error; a dropped one never comes, and the
// dropped request counts as not served.
TEST(SimServer, InjectedFaultsReachTheMaster) {
    struct Case {
        const char* name;
        double corruptRate, dropRate;
        int error;
    };
    for (const Case& c :
         {Case{"corrupt", 1.0, 0.0, EMBBADCRC}, Case{"drop", 0.0, 1.0, ETIMEDOUT}}) {
        sim::ServerOptions o;
        o.corruptRate = c.corruptRate;
        o.dropRate = c.dropRate;
        auto server = startServer(o);
        Master m(server->ptyPath());
        ASSERT_TRUE(m.ok()) << c.name;
        uint16_t v = 0;
        errno = 0;
        EXPECT_EQ(modbus_read_registers(*m, 0, 1, &v), -1) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        if (c.dropRate > 0) {
            EXPECT_EQ(server->requestsServed(), 0u);
        }
    }
}

TEST(SimServer, WireTimingAndDelayHoldTheAnswer) {
    sim::ServerOptions o;
    o.wireTiming = true;
    o.baud = 4800;
    o.delayMs = 50;
    auto server = startServer(o);
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    modbus_set_response_timeout(*m, 1, 0);
    uint16_t regs[48] = {};
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(modbus_read_registers(*m, 4096, 48, regs), 48);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // 8 request bytes + 101 answer bytes + 7 gap characters, 10 bits each at 4800 baud.
    const double expected = sim::SimServer::wireSeconds(8 + 101 + 7, 4800, 'N') + 0.050;
    EXPECT_GE(took, expected - 0.005);
    EXPECT_LT(took, expected + 0.5);
    EXPECT_DOUBLE_EQ(sim::SimServer::wireSeconds(11, 9600, 'E'), 11 * 11 / 9600.0);
}

TEST(SimServer, ClosedLineFailsTheExchangeAndRestartMakesANewPty) {
    auto server = startServer();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    uint16_t v = 0;
    ASSERT_EQ(modbus_read_registers(*m, 0, 1, &v), 1);
    server->setHoldingRegister(2, 777);
    server->closeLine();
    EXPECT_EQ(modbus_read_registers(*m, 0, 1, &v), -1);

    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    Master again(server->ptyPath());
    ASSERT_TRUE(again.ok());
    ASSERT_EQ(modbus_read_registers(*again, 1, 1, &v), 1);
    EXPECT_EQ(v, 777);  // the instrument kept its state
}

TEST(SimServer, BadOptionsRefuseToStart) {
    for (auto change : {+[](sim::ServerOptions& o) { o.address = 0; },
                        +[](sim::ServerOptions& o) { o.address = 248; },
                        +[](sim::ServerOptions& o) { o.parity = 'X'; },
                        +[](sim::ServerOptions& o) { o.baud = 0; },
                        +[](sim::ServerOptions& o) {
                            o.addresses = {1, 248};
                        },
                        +[](sim::ServerOptions& o) {
                            o.addresses = {2, 3, 2};
                        },
                        +[](sim::ServerOptions& o) { o.silentAddresses = {2}; }}) {
        sim::ServerOptions o;
        change(o);
        sim::SimServer server(o);
        std::string error;
        EXPECT_FALSE(server.start(&error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(server.running());
    }
}

TEST(SimServer, LineNoiseDoesNotStopTheServer) {
    auto server = startServer();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    const int fd = open(server->ptyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const uint8_t noise[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,  // bad CRC
                             0x01, 0x2B, 0x0E, 0x01, 0xFF, 0x00, 0x13};       // odd function
    ASSERT_EQ(write(fd, noise, sizeof noise), ssize_t(sizeof noise));
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    modbus_flush(*m);
    uint16_t v = 0;
    EXPECT_EQ(modbus_read_registers(*m, 0, 1, &v), 1);
}

// Several instruments on one line, a pty or a Modbus TCP gateway: each address answers with its
// own values and state, a write reaches its address only and a broadcast every one that listens,
// and an address not served, a silent one or a frame with a bad CRC gets no answer while the
// others still do.
TEST(SimServer, SeveralAddressesOnOneLine) {
    for (const auto transport : {sim::Transport::Pty, sim::Transport::ModbusTcp}) {
        const bool tcp = transport == sim::Transport::ModbusTcp;
        SCOPED_TRACE(tcp ? "Modbus TCP" : "pty");
        sim::ServerOptions o;
        o.transport = transport;
        o.addresses = {1, 2, 3};
        o.silentAddresses = {3};
        o.demoStart = true;
        std::vector<std::string> log;
        std::mutex logMutex;
        o.writeLog = [&](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            log.push_back(line);
        };
        auto server = startServer(o);
        EXPECT_EQ(server->addresses(), (std::vector<int>{1, 2, 3}));
        Master m(server->device());
        ASSERT_TRUE(m.ok());

        struct Case {
            int slave;
            int sv1, sv2;  // demonstration set values, 3X 3 and 4; 0 where not served
        };
        const Case cases[] = {{1, 30, 50}, {2, 31, 49}, {3, 32, 48}, {4, 0, 0}, {2, 31, 49}};
        // The first round has address 3 silent, the second has it answer again.
        for (const bool silent3 : {true, false}) {
            server->setSilent(3, silent3);
            for (const Case& c : cases) {
                SCOPED_TRACE("slave " + std::to_string(c.slave) + (silent3 ? ", 3 silent" : ""));
                modbus_set_slave(*m, c.slave);
                uint16_t regs[4] = {};
                errno = 0;
                const int rc = modbus_read_input_registers(*m, 0, 4, regs);
                if (c.sv1 == 0 || (c.slave == 3 && silent3)) {
                    EXPECT_EQ(rc, -1);
                    EXPECT_EQ(errno, ETIMEDOUT);
                    continue;
                }
                ASSERT_EQ(rc, 4) << modbus_strerror(errno);
                EXPECT_EQ(int16_t(regs[2]), c.sv1);
                EXPECT_EQ(int16_t(regs[3]), c.sv2);
                // Each instrument's own "通讯地址" (4X 4133) is the address it answers at.
                uint16_t own = 0;
                ASSERT_EQ(modbus_read_registers(*m, 4132, 1, &own), 1) << modbus_strerror(errno);
                EXPECT_EQ(own, c.slave);
                if (tcp) continue;
                // The same request with a bad CRC gets no answer.
                const uint8_t bad[] = {uint8_t(c.slave), 4, 0, 0, 0, 4, 0, 0};
                ASSERT_EQ(write(modbus_get_socket(*m), bad, sizeof bad), ssize_t(sizeof bad));
                uint8_t rsp[MODBUS_RTU_MAX_ADU_LENGTH];
                errno = 0;
                EXPECT_EQ(modbus_receive_confirmation(*m, rsp), -1);
                EXPECT_EQ(errno, ETIMEDOUT);
            }
        }

        // A write to address 2 changes its instrument only, and its log line names it.
        auto sv1 = [&](int address) {
            return server->withInstrument(address,
                                          [](sim::Instrument& i) { return i.holdingRegister(1); });
        };
        modbus_set_slave(*m, 2);
        ASSERT_EQ(modbus_write_register(*m, 0, 45), 1) << modbus_strerror(errno);
        EXPECT_EQ(sv1(1), 30);
        EXPECT_EQ(sv1(2), 45);
        EXPECT_EQ(sv1(3), 32);
        {
            std::lock_guard<std::mutex> lock(logMutex);
            ASSERT_EQ(log.size(), 1u);
            EXPECT_NE(log[0].find(" address 2 4X 1 45"), std::string::npos) << log[0];
        }
        if (tcp) continue;  // unit id 0 on a gateway is no broadcast

        // A broadcast is carried out by every instrument not silent, and never answered.
        server->setSilent(1, true);
        modbus_set_slave(*m, MODBUS_BROADCAST_ADDRESS);
        modbus_write_register(*m, 1, 44);  // the master waits for an answer in vain
        const auto wrote = [&](int address) {
            return server->withInstrument(address,
                                          [](sim::Instrument& i) { return i.holdingRegister(2); });
        };
        EXPECT_EQ(wrote(2), 44);
        EXPECT_EQ(wrote(3), 44);
        EXPECT_EQ(wrote(1), 50);
        EXPECT_THROW(sv1(4), std::out_of_range);
    }
}

TEST(SimServer, TellsEachReadAnsweredOnceItWentOut) {
    struct Read {
        int address;
        sim::Area area;
        int first, count;
        bool operator==(const Read&) const = default;
    };
    sim::ServerOptions o;
    o.addresses = {1, 2};
    std::vector<Read> reads;
    std::mutex readsMutex;
    std::condition_variable readTold;
    sim::SimServer* self = nullptr;
    o.readAnswered = [&](int address, sim::Area area, int first, int count) {
        std::lock_guard<std::mutex> lock(readsMutex);
        // The instruments may be changed from here: what was answered keeps the value before.
        if (reads.empty())
            self->withInstrument(address, [](sim::Instrument& i) { i.setHoldingRegister(1, 77); });
        reads.push_back({address, area, first, count});
        readTold.notify_all();
    };
    auto server = startServer(o);
    self = server.get();
    Master m(server->ptyPath());
    ASSERT_TRUE(m.ok());
    const int before = server->inputRegister(3);
    ASSERT_NE(before, 77);

    // Reads of each area are told; a write, an exception, a slave not served and a corrupted
    // answer are not.
    uint16_t regs[8] = {};
    uint8_t bits[16] = {};
    ASSERT_EQ(modbus_read_input_registers(*m, 0, 8, regs), 8) << modbus_strerror(errno);
    EXPECT_EQ(int16_t(regs[2]), before);
    ASSERT_EQ(modbus_read_input_registers(*m, 2, 1, regs), 1) << modbus_strerror(errno);
    EXPECT_EQ(int16_t(regs[0]), 77);
    modbus_set_slave(*m, 2);
    ASSERT_EQ(modbus_read_input_bits(*m, 0, 16, bits), 16) << modbus_strerror(errno);
    ASSERT_EQ(modbus_read_registers(*m, 4096, 2, regs), 2) << modbus_strerror(errno);
    ASSERT_EQ(modbus_write_register(*m, 0, 12), 1) << modbus_strerror(errno);
    EXPECT_EQ(modbus_read_input_registers(*m, 20, 1, regs), -1);
    modbus_set_slave(*m, 3);
    EXPECT_EQ(modbus_read_input_registers(*m, 0, 1, regs), -1);
    modbus_set_slave(*m, 1);
    server->setFaults(0.0, 1.0);
    EXPECT_EQ(modbus_read_bits(*m, 0, 4, bits), -1);
    server->setFaults(0.0, 0.0);
    modbus_flush(*m);
    ASSERT_EQ(modbus_read_bits(*m, 0, 4, bits), 4) << modbus_strerror(errno);

    // The report comes after the answer went out, so the master may have the last answer first.
    std::unique_lock<std::mutex> lock(readsMutex);
    readTold.wait_for(lock, std::chrono::seconds(10), [&] { return reads.size() >= 5; });
    EXPECT_EQ(reads, (std::vector<Read>{{1, sim::Area::InputRegisters, 1, 8},
                                        {1, sim::Area::InputRegisters, 3, 1},
                                        {2, sim::Area::DiscreteInputs, 1, 16},
                                        {2, sim::Area::HoldingRegisters, 4097, 2},
                                        {1, sim::Area::Coils, 1, 4}}));
}

TEST(SimServer, StepsTheInstrumentWithoutRequests) {
    sim::ServerOptions o;
    o.timeScale = 100;
    auto server = startServer(o);
    server->setHoldingRegister(1, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    // 40 simulated seconds are four time constants: PV1 is most of the way to 1000.
    EXPECT_GT(server->inputRegister(1), 900);
}

}  // namespace
