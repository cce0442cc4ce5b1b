// The MQTT publisher hosted by the program's fleet: 16 chambers on one simulated line at 19200 baud
// with wire timing (the first focused), published through one connection to a mosquitto broker on
// this machine. How many state messages a second reach a reader, how long an event takes from the
// chamber's log to the reader (median and largest), and the line's time and the focused chamber's
// cycle with the publisher against the same fleet without it.
//   build/bin/bench_mqtt [seconds]   (each of the two runs; default 30)
#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "../comm/fleetrig.h"
#include "events/eventlog.h"
#include "mqtt/fleetfeed.h"
#include "mqtt/publisher.h"

namespace {

constexpr int kChambers = 16;
constexpr int kBaud = 19200;

struct Reading {
    std::mutex lock;
    qint64 states = 0;
    std::map<qint64, qint64> eventAt;  // the bench's event number → ms the reader got it
};

QElapsedTimer clock_;

void onMessage(mosquitto*, void* obj, const mosquitto_message* m) {
    auto* r = static_cast<Reading*>(obj);
    const qint64 now = clock_.elapsed();
    const QByteArray topic(m->topic);
    std::lock_guard<std::mutex> g(r->lock);
    if (topic.endsWith("/state")) {
        ++r->states;
    } else if (topic.endsWith("/event")) {
        const QJsonObject o =
            QJsonDocument::fromJson(QByteArray(static_cast<const char*>(m->payload), m->payloadlen))
                .object();
        const QString tag = o.value(QStringLiteral("args")).toArray().at(0).toString();
        if (tag.startsWith(QStringLiteral("bench-"))) r->eventAt[tag.mid(6).toLongLong()] = now;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 30;
    clock_.start();
    QTemporaryDir dir;
    bench::FleetRig rig(kBaud, kChambers);
    const bench::FleetRig::Poll quiet = rig.measure(seconds * 1000LL);

    // The broker, on a free port of the loopback.
    int port = 0;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        port = s.serverPort();
    }
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    conf.open(QIODevice::WriteOnly);
    const passwd* me = getpwuid(geteuid());
    conf.write(QStringLiteral("user %1\nlistener %2 127.0.0.1\nallow_anonymous true\n")
                   .arg(QString::fromLocal8Bit(me ? me->pw_name : "root"))
                   .arg(port)
                   .toUtf8());
    conf.close();
    QProcess broker;
    broker.setStandardOutputFile(QProcess::nullDevice());
    broker.setStandardErrorFile(QProcess::nullDevice());
    broker.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(port));
        up = s.waitForConnected(200);
        if (!up) QThread::msleep(25);
    }
    if (!up) {
        std::fprintf(stderr, "bench_mqtt: the broker did not start\n");
        return 2;
    }

    // The reader, on libmosquitto's own thread (this is a benchmark, not the program).
    Reading reading;
    mosquitto_lib_init();
    mosquitto* reader = mosquitto_new("bench-reader", true, &reading);
    mosquitto_message_callback_set(reader, onMessage);
    mosquitto_connect(reader, "127.0.0.1", port, 30);
    mosquitto_subscribe(reader, nullptr, "velmars/#", 1);
    mosquitto_loop_start(reader);

    // The publisher, fed from the fleet as the program feeds it.
    mqtt::Config config;
    config.client.broker = mqtt::Broker{QStringLiteral("127.0.0.1"), port, false};
    config.station = QStringLiteral("bench");
    mqtt::Publisher publisher(config);
    mqtt::FleetFeed feed(rig.fleet(), publisher);
    publisher.start();
    bench::spin(1000);

    // An event every 100 ms, in the chambers' logs by turns, beside what the chambers log.
    const QList<chamber::Chamber*> chambers = rig.fleet().chambers();
    std::map<qint64, qint64> loggedAt;
    qint64 step = 0;
    QTimer events;
    events.setInterval(100);
    QObject::connect(&events, &QTimer::timeout, [&] {
        ++step;
        events::EventEntry e;
        e.at = QDateTime::currentDateTime();
        e.kind = QStringLiteral("link");
        e.code = QStringLiteral("bench");
        e.args = {QStringLiteral("bench-%1").arg(step)};
        loggedAt[step] = clock_.elapsed();
        chambers[int(step % chambers.size())]->eventLog()->log(e);
    });
    qint64 statesBefore = 0;
    {
        std::lock_guard<std::mutex> g(reading.lock);
        statesBefore = reading.states;
    }
    const qint64 countedFrom = clock_.elapsed();
    events.start();
    const bench::FleetRig::Poll loaded = rig.measure(seconds * 1000LL);
    events.stop();
    const qint64 countedMs = clock_.elapsed() - countedFrom;
    // The last events get a moment to arrive.
    bench::spin(1000);

    std::vector<qint64> latencies;
    qint64 states_ = 0;
    {
        std::lock_guard<std::mutex> g(reading.lock);
        states_ = reading.states - statesBefore;
        for (const auto& [n, at] : loggedAt)
            if (const auto it = reading.eventAt.find(n); it != reading.eventAt.end())
                latencies.push_back(it->second - at);
    }
    publisher.shutdown();
    mosquitto_loop_stop(reader, true);
    mosquitto_destroy(reader);
    broker.terminate();
    broker.waitForFinished();

    std::sort(latencies.begin(), latencies.end());
    const double rate = countedMs > 0 ? states_ * 1000.0 / countedMs : 0;
    const qint64 median = latencies.empty() ? -1 : latencies[latencies.size() / 2];
    const qint64 largest = latencies.empty() ? -1 : latencies.back();
    std::printf(
        "without the publisher: line %.3f x wire, focused cycle %.0f ms, UI gap %.1f ms\n"
        "with the publisher:    line %.3f x wire, focused cycle %.0f ms, UI gap %.1f ms; events "
        "%zu of %zu on the broker, largest latency %lld ms\n",
        quiet.busyRatio, quiet.focusedCycleMs, quiet.uiGapMs, loaded.busyRatio,
        loaded.focusedCycleMs, loaded.uiGapMs, latencies.size(), loggedAt.size(),
        static_cast<long long>(largest));
    std::printf(
        "bench_mqtt: %d chambers state %.1f msg/s; event latency %lld ms; poll %.2f x wire\n",
        kChambers, rate, static_cast<long long>(median), loaded.busyRatio);
    // Targets: at most one state a second per chamber, events on the broker within 250 ms, the
    // line within 1.05 x its wire time.
    return rate <= kChambers * 1.05 && median >= 0 && median <= 250 &&
                   latencies.size() == loggedAt.size() && loaded.busyRatio <= 1.05
               ? 0
               : 1;
}
