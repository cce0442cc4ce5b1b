// The watchdog's view of the lines' threads, and the service's words for the service manager.
#include <gtest/gtest.h>

#include <QObject>
#include <QSemaphore>

#include "base/workerthread.h"
#include "mqtt/status.h"
#include "service/cmdline.h"
#include "service/linewatch.h"
#include "service/service.h"

namespace {

class Worker : public QObject {};

// A thread that takes work like a line's; stuck while a job waits on its gate.
struct Thread {
    base::WorkerThread<Worker> thread{QStringLiteral("watched")};
    QSemaphore gate;
    Thread() { thread.start(); }
    ~Thread() {
        gate.release(100);
        thread.end();
    }
    service::LineWatch::Target target() {
        return {this, [this](std::function<void()> fn) {
                    if (!thread.worker()) return false;
                    thread.post([fn = std::move(fn)](Worker&) { fn(); });
                    return true;
                }};
    }
    void block() {
        thread.post([this](Worker&) { gate.acquire(); });
    }
    // Everything handed over so far has run.
    bool settle() {
        return thread.call([](Worker&) {}, 10000).has_value();
    }
};

TEST(LineWatch, AThreadInACallBeyondItsTimeoutsStopsThePingsUntilItReturns) {
    qint64 now = 0;
    const qint64 stuckMs = 10000;
    service::LineWatch watch([&now] { return now; }, stuckMs);
    Thread a, b;
    const std::vector<service::LineWatch::Target> both{a.target(), b.target()};

    EXPECT_TRUE(watch.check(both));
    ASSERT_TRUE(a.settle() && b.settle());
    b.block();
    // Thread b is busy in one call: within its time-outs that is work, not a fault.
    for (now = 1000; now <= stuckMs; now += 1000) {
        EXPECT_TRUE(watch.check(both)) << now;
        ASSERT_TRUE(a.settle());
    }
    now += 1;
    EXPECT_FALSE(watch.check(both));
    EXPECT_EQ(watch.stuckCount(), 1);
    // Still stuck however often it is asked; the probe is not posted twice.
    now += 50000;
    EXPECT_FALSE(watch.check(both));

    // The call returns: the probe behind it runs, and the pings go on.
    b.gate.release();
    ASSERT_TRUE(a.settle() && b.settle());
    EXPECT_TRUE(watch.check(both));
    EXPECT_EQ(watch.stuckCount(), 0);
}

TEST(LineWatch, LinesEndedOrGoneFromTheListAreNotStuck) {
    qint64 now = 0;
    service::LineWatch watch([&now] { return now; }, 100);
    Thread a;
    a.block();
    EXPECT_TRUE(watch.check({a.target()}));
    now = 1000;
    EXPECT_FALSE(watch.check({a.target()}));
    // The chamber moved to another line: the old one is no longer watched.
    EXPECT_TRUE(watch.check({}));

    // A line shut down takes no probe and counts as no fault.
    Thread ended;
    ended.thread.end();
    EXPECT_TRUE(watch.check({ended.target()}));
    now = 5000;
    EXPECT_TRUE(watch.check({ended.target()}));
    a.gate.release();
}

TEST(ServiceWords, StatusLineCountsTheChambersRecording) {
    const struct {
        int recording, chambers;
        const char* line;
    } cases[] = {
        {3, 3, "3 chambers recording"},
        {1, 1, "1 chamber recording"},
        {0, 1, "0 of 1 chamber recording"},
        {2, 3, "2 of 3 chambers recording"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(service::statusLine(c.recording, c.chambers).toStdString(), c.line);

    // Then where it serves and how the broker is, when they are on.
    const QString https = QStringLiteral("https://0.0.0.0:8443/");
    const auto broker = [](mqtt::State state, mqtt::Fault fault, qint64 pending = 0) {
        mqtt::Status s;
        s.state = state;
        s.fault = fault;
        s.broker = QStringLiteral("mqtt://host:1883");
        s.pending = pending;
        return s;
    };
    const mqtt::Status connected = broker(mqtt::State::Connected, mqtt::Fault::None);
    const mqtt::Status refused = broker(mqtt::State::Down, mqtt::Fault::BadLogin, 2);
    const mqtt::Status lost = broker(mqtt::State::Down, mqtt::Fault::Lost);
    // The broker in the status bar's words.
    const struct {
        QString serving;
        const mqtt::Status* broker;
        const char* line;
    } hosted[] = {
        {https, &connected,
         "3 chambers recording; serving https://0.0.0.0:8443; MQTT: 已连接 mqtt://host:1883"},
        {https, nullptr, "3 chambers recording; serving https://0.0.0.0:8443"},
        {{},
         &refused,
         "3 chambers recording; MQTT: 未连接 mqtt://host:1883: 用户名或密码错误 (2 条待发)"},
        {{}, &lost, "3 chambers recording; MQTT: 未连接 mqtt://host:1883: 连接中断 (0 条待发)"},
    };
    for (const auto& c : hosted)
        EXPECT_EQ(service::statusLine(3, 3, c.serving, c.broker).toStdString(), c.line);
}

TEST(ServiceWords, OptionsOfTheDesktopProgramAreRefusedAndTheRestTaken) {
    const struct {
        QStringList args;
        const char* refused;
    } cases[] = {
        {{"--simulate", "--chamber", "a=1,1", "--data", "/tmp/x", "--keep-days", "30", "--forward",
          "", "--notify-silent-after", "60"},
         ""},
        {{"--profile", "p", "--db", "/tmp/x.db"}, ""},
        {{"--connect"}, "--connect"},
        {{"--verify"}, "--verify"},
        {{"--export-events", "-"}, "--export-events"},
        {{"--quit-after", "5"}, "--quit-after"},
        {{"--clock-speed", "10"}, "--clock-speed"},
        {{"--lang", "en"}, "--lang"},
        {{"--http", "8080", "--mqtt", "mqtt://broker", "--mqtt-prefix", "lab", "--mqtt-discovery"},
         ""},
        {{"--mqtt-login"}, "--mqtt-login"},
        {{"--make-token", "wall"}, "--make-token"},
    };
    for (const auto& c : cases) {
        const shell::ParseResult r = shell::parseCommandLine(c.args);
        ASSERT_TRUE(r.options) << r.error.toStdString();
        EXPECT_EQ(service::optionNotTaken(*r.options).toStdString(), c.refused)
            << c.args.join(' ').toStdString();
    }
}

}  // namespace
