// The status bar's MQTT label follows the publisher on its thread: connecting, connected, and the
// broker gone with what waits.
#include <QStatusBar>
#include <QTest>

#include "broker.h"
#include "mqtt/publisher.h"
#include "mqtt/statuslabel.h"
#include "ui/accessible.h"

class MqttStatusLabel : public QObject {
    Q_OBJECT
  private slots:
    void followsTheBroker() {
        mqtttest::BrokerProcess broker;
        QVERIFY(broker.start());
        mqtt::Config config;
        config.client.broker = mqtt::Broker{QStringLiteral("127.0.0.1"), broker.port(), false};
        config.station = QStringLiteral("lab");
        mqtt::Publisher publisher(config);
        QStatusBar bar;
        (new mqtt::StatusLabel(&bar))->follow(publisher);
        auto* label = bar.findChild<ui::ValueLabel*>(QStringLiteral("MqttStatus"));
        QVERIFY(label);
        const QString url = QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port());
        QCOMPARE(label->text(), QStringLiteral("MQTT: 正在连接 %1").arg(url));

        publisher.start();
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("MQTT: 已连接 %1").arg(url), 30000);
        broker.stop();
        QTRY_COMPARE_WITH_TIMEOUT(
            label->text(), QStringLiteral("MQTT: 未连接 %1: 连接中断 (0 条待发)").arg(url), 30000);
    }
};

QTEST_MAIN(MqttStatusLabel)
#include "test_mqtt_statuslabel.moc"
