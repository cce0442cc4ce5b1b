// Command line of velmars-sim, and the executable's exit status on bad options.

#include <gtest/gtest.h>
#include <modbus.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/options.h"

namespace {

bool parse(std::vector<const char*> args, sim::CommandLine* cmd, std::string* msg) {
    args.insert(args.begin(), "velmars-sim");
    return sim::parseCommandLine(int(args.size()), args.data(), cmd, msg);
}

TEST(SimOptions, DefaultsAndEveryOption) {
    sim::CommandLine cmd;
    std::string msg;
    ASSERT_TRUE(parse({}, &cmd, &msg));
    EXPECT_EQ(cmd.options.address, 1);
    EXPECT_EQ(cmd.options.baud, 9600);
    EXPECT_EQ(cmd.options.parity, 'N');
    EXPECT_FALSE(cmd.options.wireTiming);
    EXPECT_TRUE(cmd.options.demoStart);  // set values the chart's default axis shows
    EXPECT_TRUE(cmd.link.empty());

    ASSERT_TRUE(parse({"--address", "16", "--baud=19200", "--parity", "E", "--wire-timing",
                       "--delay-ms", "20", "--drop-rate", "0.25", "--corrupt-rate=1",
                       "--time-scale", "60", "--link", "/tmp/x", "--log-writes"},
                      &cmd, &msg))
        << msg;
    EXPECT_EQ(cmd.options.address, 16);
    EXPECT_EQ(cmd.options.baud, 19200);
    EXPECT_EQ(cmd.options.parity, 'E');
    EXPECT_TRUE(cmd.options.wireTiming);
    EXPECT_EQ(cmd.options.delayMs, 20);
    EXPECT_DOUBLE_EQ(cmd.options.dropRate, 0.25);
    EXPECT_DOUBLE_EQ(cmd.options.corruptRate, 1.0);
    EXPECT_DOUBLE_EQ(cmd.options.timeScale, 60.0);
    EXPECT_EQ(cmd.link, "/tmp/x");
    EXPECT_TRUE(cmd.logWrites);
    EXPECT_EQ(cmd.options.transport, sim::Transport::Pty);

    EXPECT_TRUE(cmd.options.addresses.empty());  // one address: served as it always was

    ASSERT_TRUE(parse({"--address", "16,2,9", "--silent-address=9,16"}, &cmd, &msg)) << msg;
    EXPECT_EQ(cmd.options.served(), (std::vector<int>{16, 2, 9}));
    EXPECT_EQ(cmd.options.silentAddresses, (std::vector<int>{9, 16}));

    ASSERT_TRUE(parse({"--rtu-tcp=5020"}, &cmd, &msg)) << msg;
    EXPECT_EQ(cmd.options.transport, sim::Transport::RtuOverTcp);
    EXPECT_EQ(cmd.options.tcpPort, 5020);
}

TEST(SimOptions, BadOptionsGiveOneLine) {
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus"},
        {"--address"},
        {"--address", "0"},
        {"--address", "248"},
        {"--address", "1x"},
        {"--address", "1,,2"},
        {"--address", "1,2,1"},
        {"--address", "1,248"},
        {"--address", "2,"},
        {"--silent-address", "2"},
        {"--address", "1,2", "--silent-address", "3"},
        {"--parity", "X"},
        {"--baud", "-5"},
        {"--drop-rate", "1.5"},
        {"--corrupt-rate", "nan"},
        {"--time-scale", "0"},
        {"--wire-timing=1"},
        {"--log-writes=yes"},
        {"--delay-ms", ""},
        {"extra"},
        {"--tcp", "65536"},
        {"--tcp", "502", "--rtu-tcp", "503"},
        {"--tcp", "0", "--link", "/tmp/x"},
    };
    for (const auto& args : bad) {
        sim::CommandLine cmd;
        std::string msg;
        EXPECT_FALSE(parse(args, &cmd, &msg)) << args[0];
        EXPECT_FALSE(msg.empty());
        EXPECT_EQ(msg.find('\n'), std::string::npos);
    }
}

TEST(SimOptions, ExecutableExitsWithTwoOnBadOption) {
    const char* dir = std::getenv("VELMARS_BIN_DIR");
    ASSERT_NE(dir, nullptr) << "VELMARS_BIN_DIR is set by the test registration";
    const std::string cmd = std::string(dir) + "/velmars-sim --nope 2>/dev/null";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

// One address, and several with one silent: the pty, its link, the answers and the log lines,
// which name the address when there are several.
TEST(SimOptions, ExecutableServesAPtyUntilTerminated) {
    const char* dir = std::getenv("VELMARS_BIN_DIR");
    ASSERT_NE(dir, nullptr) << "VELMARS_BIN_DIR is set by the test registration";
    const std::string exe = std::string(dir) + "/velmars-sim";
    struct Case {
        const char* addresses;
        const char* silent;  // nullptr: none
        int slave;           // the address written to
        const char* shape;   // of the write's log line; 0 stands for any digit
    };
    for (const Case& c : {Case{"3", nullptr, 3, "00:00:00.000 4X 4107 -1999"},
                          Case{"3,5,7", "5", 7, "00:00:00.000 address 7 4X 4107 -1999"}}) {
        SCOPED_TRACE(c.addresses);
        char tmpl[] = "/tmp/velmars-sim-testXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        const std::string link = std::string(tmpl) + "/port";
        ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);  // an old link is replaced

        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            if (c.silent)
                execl(exe.c_str(), exe.c_str(), "--address", c.addresses, "--silent-address",
                      c.silent, "--link", link.c_str(), "--log-writes", nullptr);
            else
                execl(exe.c_str(), exe.c_str(), "--address", c.addresses, "--link", link.c_str(),
                      "--log-writes", nullptr);
            _exit(127);
        }
        close(out[1]);
        auto readLine = [&] {
            std::string line;
            char ch;
            while (read(out[0], &ch, 1) == 1 && ch != '\n')
                line += ch;
            return line;
        };
        const std::string path = readLine();
        EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(path, target);

        modbus_t* ctx = modbus_new_rtu(link.c_str(), 9600, 'N', 8, 1);
        ASSERT_NE(ctx, nullptr);
        modbus_set_response_timeout(ctx, 1, 0);
        ASSERT_EQ(modbus_connect(ctx), 0);
        uint16_t regs[8] = {};
        if (c.silent) {
            modbus_set_slave(ctx, std::atoi(c.silent));
            EXPECT_EQ(modbus_read_input_registers(ctx, 0, 8, regs), -1);
        }
        modbus_set_slave(ctx, c.slave);
        EXPECT_EQ(modbus_read_input_registers(ctx, 0, 8, regs), 8);
        // Every register written is logged: time, (address,) area and register as the
        // operator counts them, value.
        EXPECT_EQ(modbus_write_register(ctx, 4106, uint16_t(-1999)), 1);
        const std::string logged = readLine();
        const std::string shape = c.shape;
        bool matches = logged.size() == shape.size();
        for (size_t i = 0; matches && i < shape.size(); ++i)
            matches = shape[i] == '0' && i < 12
                          ? std::isdigit(static_cast<unsigned char>(logged[i]))
                          : logged[i] == shape[i];
        EXPECT_TRUE(matches) << logged;
        close(out[0]);
        modbus_close(ctx);
        modbus_free(ctx);

        kill(pid, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        struct stat st {};
        EXPECT_NE(lstat(link.c_str(), &st), 0);  // link removed
        rmdir(tmpl);
    }
}

}  // namespace
