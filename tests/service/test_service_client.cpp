// A program attached to the service through the channel: it reads the chambers' states, writes
// through the service, says when the service went and attaches again once it is back.
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include "managersocket.h"
#include "service/channelclient.h"

using servicetest::ManagerSocket;

class ServiceClient : public QObject {
    Q_OBJECT
  private slots:
    void attachesWritesAndAttachesAgainAfterARestart();

  private:
    bool startService(QProcess& service, ManagerSocket& manager, const QString& data);
};

bool ServiceClient::startService(QProcess& service, ManagerSocket& manager, const QString& data) {
    service.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    service.start(qEnvironmentVariable("VELMARS_BIN_DIR") + QStringLiteral("/velmars-service"),
                  {"--simulate", "--data", data});
    return service.waitForStarted() && manager.waitFor("READY=1");
}

void ServiceClient::attachesWritesAndAttachesAgainAfterARestart() {
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    ManagerSocket manager(dir.filePath(QStringLiteral("notify")));
    QVERIFY(manager.bound());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath(QStringLiteral("notify")));

    // Started before the service: it keeps trying.
    service::ChannelClient client(data);
    QSignalSpy attached(&client, &service::ChannelClient::attachedChanged);
    QSignalSpy finished(&client, &service::ChannelClient::commandFinished);
    client.start();
    QVERIFY(!client.attached());

    QProcess service;
    service.setProcessEnvironment(env);
    QVERIFY(startService(service, manager, data));
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
    ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(60000));
    QTRY_VERIFY_WITH_TIMEOUT(!client.attached(), 60000);
    QCOMPARE(attached.last().at(0).toBool(), false);
    finished.clear();
    client.setValue(QString(), 0, 300);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    QCOMPARE(finished.first().at(1).toString(), QStringLiteral("notAttached"));

    // Back again: attached by itself, with the state read anew.
    QProcess again;
    again.setProcessEnvironment(env);
    QVERIFY(startService(again, manager, data));
    QTRY_VERIFY_WITH_TIMEOUT(client.attached(), 60000);
    QCOMPARE(attached.last().at(0).toBool(), true);
    QCOMPARE(client.state(QString()).value("recorder").toObject().value("state").toString(),
             QStringLiteral("recording"));
    ::kill(static_cast<pid_t>(again.processId()), SIGTERM);
    QVERIFY(again.waitForFinished(60000));
}

QTEST_GUILESS_MAIN(ServiceClient)
#include "test_service_client.moc"
