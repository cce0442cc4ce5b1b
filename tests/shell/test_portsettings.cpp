#include <gtest/gtest.h>

#include "comm/ports.h"
#include "shell/portsettings.h"

TEST(OpenSettings, CopiesTheControlsIntoThePortSettings) {
    struct Case {
        const char* port;
        int baud, parity;
        const char* addr;
        int32_t p, b, q, a;
    };
    const Case cases[] = {
        {"1", 1, 0, "1", 1, 1, 0, 1},       {"3abc", 2, 2, "16", 3, 2, 2, 16},
        {"abc", 0, 1, "", 0, 0, 1, 0},      {"2.5", 1, 0, "3.5", 2, 1, 0, 4},
        {" 7 ", -1, 5, "1e99", 7, 9, 9, 0},
    };
    for (const auto& c : cases) {
        comm::PortSettings s{0, 9, 9, 0};
        shell::copyPortSettings(s, QString::fromUtf8(c.port), c.baud, c.parity,
                                QString::fromUtf8(c.addr));
        EXPECT_EQ(s, (comm::PortSettings{c.p, c.b, c.q, c.a})) << c.port;
    }
}

TEST(PortNumbers, ExplicitFirstThenSortedSystemPorts) {
    comm::PortMap map;
    const QStringList system = {"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyACM0", "/dev/ttyS0"};
    EXPECT_EQ(map.deviceFor(1, system), "/dev/ttyACM0");
    EXPECT_EQ(map.deviceFor(4, system), "/dev/ttyUSB0");
    EXPECT_EQ(map.deviceFor(5, system), "");
    EXPECT_EQ(map.deviceFor(0, system), "");
    EXPECT_EQ(map.deviceFor(-3, system), "");
    map.setExplicit(2, "/dev/pts/9");
    EXPECT_EQ(map.deviceFor(2, system), "/dev/pts/9");
    EXPECT_EQ(map.deviceFor(2), "/dev/pts/9");
    EXPECT_EQ(map.deviceFor(3, system), "/dev/ttyS1");
}

TEST(PortNumbers, GatewaysAreHostAndPort) {
    using K = comm::NetworkDevice::Kind;
    struct Case {
        const char* device;
        bool gateway;
        K kind;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"tcp://192.168.1.20:502", true, K::ModbusTcp, "192.168.1.20", 502},
        {"rtu+tcp://moxa-3:4001", true, K::RtuOverTcp, "moxa-3", 4001},
        {"tcp://[fe80::1]:502", true, K::ModbusTcp, "fe80::1", 502},
        {"tcp://host", false, {}, "", 0},
        {"tcp://host:0", false, {}, "", 0},
        {"tcp://host:70000", false, {}, "", 0},
        {"tcp://:502", false, {}, "", 0},
        {"tcp://host:502/x", false, {}, "", 0},
        {"tcp://u@host:502", false, {}, "", 0},
        {"/dev/ttyUSB0", false, {}, "", 0},
        {"udp://host:502", false, {}, "", 0},
    };
    for (const auto& c : cases) {
        const auto net = comm::parseNetworkDevice(QString::fromUtf8(c.device));
        ASSERT_EQ(net.has_value(), c.gateway) << c.device;
        if (!net) continue;
        EXPECT_EQ(net->kind, c.kind);
        EXPECT_EQ(net->host, c.host);
        EXPECT_EQ(net->port, c.port);
    }
    EXPECT_EQ(comm::deviceCaption("/dev/ttyS0"), "/dev/ttyS0");
    EXPECT_EQ(comm::deviceCaption("rtu+tcp://[fe80::1]:4001"),
              "网关 [fe80::1]:4001（RTU 透传，波特率与校验位不适用）");
}

TEST(StatusText, SaysWhatTheLinkIsDoing) {
    comm::LinkStats s;
    EXPECT_TRUE(shell::linkStatusText(s, false, 1, 0).startsWith("端口关闭"));
    s.portOpen = true;
    s.device = "/dev/pts/4";
    s.exchanges = 120;
    s.failures = 3;
    s.lastError = {comm::LineError::Kind::Timeout};
    s.lastOk = false;
    const QString t = shell::linkStatusText(s, true, 1, 380.4);
    EXPECT_TRUE(t.contains("/dev/pts/4"));
    EXPECT_TRUE(t.contains("120"));
    EXPECT_TRUE(t.contains("失败 3"));
    EXPECT_TRUE(t.contains("380 ms"));
    EXPECT_TRUE(t.contains("仪表无应答"));
    s.portOpen = false;
    EXPECT_TRUE(shell::linkStatusText(s, true, 5, 0).contains("未能打开"));
}
