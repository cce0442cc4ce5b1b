// The service hosting the web server and the MQTT publisher from its fleet: the real executable
// on the simulated instrument, read through HTTP and through Debian's mosquitto broker, its status
// line as the service manager sees it.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

#include <signal.h>

#include "../mqtt/broker.h"
#include "../web/httpclient.h"
#include "mqtt/topics.h"
#include "servicerig.h"

using mqtttest::BrokerProcess;
using mqtttest::Reader;
using servicetest::ServiceRig;

class ServiceHosting : public QObject {
    Q_OBJECT
  private slots:
    void servesTheWebAndPublishesTheStateAndSaysSo();
};

void ServiceHosting::servesTheWebAndPublishesTheStateAndSaysSo() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("VELMARS_BIN_DIR"),
             "VELMARS_BIN_DIR is set by the test registration");
    BrokerProcess broker;
    QVERIFY(broker.start());
    Reader reader(broker.port());
    QVERIFY(reader.ok() && reader.subscribe("velmars/#"));
    const std::string station =
        "velmars/" + mqtt::topicLevel(QSysInfo::machineHostName()).toStdString();
    const std::string stateTopic = station + "/A/state";

    ServiceRig rig;
    QVERIFY(rig.ready());
    const int port = mqtttest::freePort();
    QProcess service;
    QList<QByteArray> seen;
    QVERIFY(rig.start(
        service,
        {"--simulate", "--chamber", "A=1,1", "--http", QStringLiteral("127.0.0.1:%1").arg(port),
         "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port())},
        &seen));

    // The status line names where the service serves and that the broker is connected, once
    // the connection is made.
    const QByteArray serving = QStringLiteral("serving http://127.0.0.1:%1").arg(port).toUtf8();
    const QByteArray connected =
        QStringLiteral("; MQTT: 已连接 mqtt://127.0.0.1:%1").arg(broker.port()).toUtf8();
    const auto says = [&](const QByteArray& m) {
        for (const QByteArray& line : m.split('\n'))
            if (line.startsWith("STATUS=") && line.contains(serving) && line.contains(connected) &&
                line.contains("1 chamber recording"))
                return true;
        return false;
    };
    bool told = std::any_of(seen.cbegin(), seen.cend(), says);
    for (int i = 0; !told && i < 1000; ++i) {
        const QByteArray m = rig.manager().next();
        QVERIFY2(!m.isEmpty(), "the service said nothing more");
        told = says(m);
    }
    QVERIFY2(told, "no STATUS line naming the web server and the broker");

    // The web server answers from the fleet: the chamber, recording (its state is published a
    // moment after the service said it records).
    const auto recording = [](const QJsonObject& state) {
        return state.value(QStringLiteral("recorder"))
            .toObject()
            .value(QStringLiteral("recording"))
            .toBool();
    };
    QJsonArray chambers;
    for (int i = 0; i < 400; ++i) {
        const webtest::Reply r =
            webtest::fetch(QStringLiteral("http://127.0.0.1:%1/api/v1/chambers").arg(port));
        QCOMPARE(r.status, 200);
        chambers =
            QJsonDocument::fromJson(r.body).object().value(QStringLiteral("chambers")).toArray();
        QCOMPARE(chambers.size(), 1);
        QCOMPARE(chambers.first().toObject().value(QStringLiteral("id")).toString(),
                 QStringLiteral("A"));
        if (recording(chambers.first().toObject())) break;
        QTest::qWait(50);
    }
    QVERIFY(recording(chambers.first().toObject()));

    // The chamber's state is on the broker, retained: a reader that comes later gets it.
    QVERIFY(reader.pumpUntil([&] {
        const auto states = reader.on(stateTopic);
        return !states.empty() &&
               recording(QJsonDocument::fromJson(states.back().payload).object());
    }));
    Reader later(broker.port(), "later");
    QVERIFY(later.ok() && later.subscribe(stateTopic.c_str()));
    QVERIFY(later.pumpUntil([&] { return !later.on(stateTopic).empty(); }));
    const mqtttest::Received retained = later.on(stateTopic).front();
    QVERIFY(retained.retain);
    QVERIFY(recording(QJsonDocument::fromJson(retained.payload).object()));

    // A clean stop says "offline" before the service ends.
    QVERIFY(ServiceRig::stop(service));
    QVERIFY(reader.pumpUntil([&] {
        const auto s = reader.on(station + "/status");
        return !s.empty() && s.back().payload == "offline";
    }));
}

QTEST_GUILESS_MAIN(ServiceHosting)
#include "test_service_hosting.moc"
