// The MQTT publisher with 16 chambers against a mosquitto broker on this machine: how many state
// messages a second reach a reader while every chamber's state changes ten times a second, and how
// long an event takes from its row in the chamber's log to the reader (median and largest).
//   build/bin/bench_mqtt [seconds]
#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "events/eventstore.h"
#include "mqtt/publisher.h"

namespace {

constexpr int kChambers = 16;

struct Reading {
    std::mutex lock;
    qint64 states = 0;
    std::map<qint64, qint64> eventAt;  // "chamber:id" key → ms the reader got it
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
        const qint64 chamber = topic.split('/').at(2).mid(1).toLongLong();
        r->eventAt[chamber * 1000000 + o.value(QStringLiteral("id")).toInteger()] = now;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, atoi(argv[1])) : 10;
    clock_.start();
    QTemporaryDir dir;

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

    // The chambers' logs and the publisher.
    std::vector<std::unique_ptr<record::EventStore>> logs;
    mqtt::Config config;
    config.client.broker = mqtt::Broker{QStringLiteral("127.0.0.1"), port, false};
    config.station = QStringLiteral("bench");
    mqtt::Publisher publisher(config);
    for (int c = 0; c < kChambers; ++c) {
        const QString path = dir.filePath(QStringLiteral("c%1.db").arg(c));
        logs.push_back(std::make_unique<record::EventStore>(path, QStringLiteral("log%1").arg(c)));
        logs.back()->open(false);
        publisher.addChamber(QStringLiteral("c%1").arg(c), path);
    }
    publisher.start();

    // Every chamber's state changes ten times a second; an event is stored every 100 ms, by turns.
    std::map<qint64, qint64> storedAt;
    int step = 0;
    QTimer states;
    states.setInterval(100);
    QObject::connect(&states, &QTimer::timeout, [&] {
        ++step;
        for (int c = 0; c < kChambers; ++c)
            publisher.setState(QStringLiteral("c%1").arg(c),
                               QStringLiteral(R"({"pv":%1})").arg(step * 0.1 + c).toUtf8());
        const int c = step % kChambers;
        record::EventEntry e;
        e.at = QDateTime::currentDateTime();
        e.kind = QStringLiteral("link");
        e.code = QStringLiteral("bench");
        e.text = QStringLiteral("bench");
        std::vector<record::EventEntry> v{e};
        if (logs[std::size_t(c)]->append(v)) {
            storedAt[c * 1000000 + v.front().id] = clock_.elapsed();
            publisher.eventsStored(QStringLiteral("c%1").arg(c));
        }
    });
    // A second to connect and settle, then the counted span.
    qint64 statesBefore = 0, countedFrom = 0;
    QTimer::singleShot(1000, [&] {
        std::lock_guard<std::mutex> g(reading.lock);
        statesBefore = reading.states;
        countedFrom = clock_.elapsed();
    });
    QTimer::singleShot(1000 + seconds * 1000, &app, &QCoreApplication::quit);
    states.start();
    app.exec();
    states.stop();
    const qint64 countedMs = clock_.elapsed() - countedFrom;
    // The last events get a moment to arrive.
    QThread::msleep(500);

    std::vector<qint64> latencies;
    qint64 states_ = 0;
    {
        std::lock_guard<std::mutex> g(reading.lock);
        states_ = reading.states - statesBefore;
        for (const auto& [key, at] : storedAt)
            if (const auto it = reading.eventAt.find(key); it != reading.eventAt.end())
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
        "bench_mqtt: %d chambers state %.1f msg/s; event latency %lld ms (median, largest "
        "%lld ms, %zu of %zu events); poll unchanged (the publisher has a thread of its "
        "own)\n",
        kChambers, rate, static_cast<long long>(median), static_cast<long long>(largest),
        latencies.size(), storedAt.size());
    // Targets: at most one state a second per chamber, events on the broker within 250 ms.
    return rate <= kChambers * 1.05 && median >= 0 && median <= 250 &&
                   latencies.size() == storedAt.size()
               ? 0
               : 1;
}
