// A program attached to the service through the channel: it reads the chambers' states, writes
// through the service, says when the service went and attaches again once it is back.
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "service/channelclient.h"
#include "servicerig.h"

using servicetest::ServiceRig;

class ServiceClient : public QObject {
    Q_OBJECT
  private slots:
    void attachesWritesAndAttachesAgainAfterARestart();
};

void ServiceClient::attachesWritesAndAttachesAgainAfterARestart() {
    ServiceRig rig;
    QVERIFY(rig.ready());

    // Started before the service: it keeps trying.
    service::ChannelClient client(rig.data());
    QSignalSpy attached(&client, &service::ChannelClient::attachedChanged);
    QSignalSpy finished(&client, &service::ChannelClient::commandFinished);
    client.start();
    QVERIFY(!client.attached());

    QProcess service;
    QVERIFY(rig.start(service, {"--simulate"}));
    QTRY_VERIFY_WITH_TIMEOUT(client.attached(), 60000);
    QCOMPARE(client.chambers(), QStringList{QString()});
    QCOMPARE(client.state(QString()).value("recorder").toObject().value("state").toString(),
             QStringLiteral("recording"));

    const struct {
        QString chamber;
        int loop, value;
        const char* outcome;
    } commands[] = {
        {"", 0, 420, "done"}, {"zz", 0, 420, "unknownChamber"}, {"", 1, 10000, "invalid"}};
    for (const auto& c : commands) {
        finished.clear();
        const quint64 id = client.setValue(c.chamber, c.loop, c.value);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
        QCOMPARE(finished.first().at(0).toULongLong(), id);
        QCOMPARE(finished.first().at(1).toString(), QString::fromLatin1(c.outcome));
    }

    // The service stops: the client says so, and a command then is not sent.
    QVERIFY(ServiceRig::stop(service));
    QTRY_VERIFY_WITH_TIMEOUT(!client.attached(), 60000);
    QCOMPARE(attached.last().at(0).toBool(), false);
    finished.clear();
    client.setValue(QString(), 0, 300);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    QCOMPARE(finished.first().at(1).toString(), QStringLiteral("notAttached"));

    // Back again: attached by itself, with the state read anew.
    QProcess again;
    QVERIFY(rig.start(again, {"--simulate"}));
    QTRY_VERIFY_WITH_TIMEOUT(client.attached(), 60000);
    QCOMPARE(attached.last().at(0).toBool(), true);
    QCOMPARE(client.state(QString()).value("recorder").toObject().value("state").toString(),
             QStringLiteral("recording"));
    QVERIFY(ServiceRig::stop(again));
}

QTEST_GUILESS_MAIN(ServiceClient)
#include "test_service_client.moc"
