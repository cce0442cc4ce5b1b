// The program publishing to a mosquitto broker on the simulated instrument: the retained state
// with the instrument's values, the will after kill -9, nothing received from the broker reaching
// the instrument, and a clean stop with the broker and its login kept in the settings file.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include "broker.h"
#include "mqtt/topics.h"

namespace {

using mqtttest::BrokerProcess;
using mqtttest::Reader;

class Program {
  public:
    explicit Program(const QTemporaryDir& dir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        db_ = dir.filePath(QStringLiteral("Rdatabj.db"));
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    bool start(const QStringList& args) {
        process_.start(qEnvironmentVariable("VELMARS_BIN_DIR") + QStringLiteral("/velmars"),
                       QStringList{QStringLiteral("--simulate"), QStringLiteral("--log-writes"),
                                   QStringLiteral("--connect"), QStringLiteral("--db"), db_} +
                           args);
        return process_.waitForStarted(30000);
    }
    QProcess& process() { return process_; }

  private:
    QProcess process_;
    QString db_;
};

QJsonObject json(const QByteArray& payload) {
    return QJsonDocument::fromJson(payload).object();
}

TEST(MqttProgram, PublishesReadsNothingBackLeavesItsWillAndStopsCleanly) {
    QTemporaryDir dir;
    const QString passwords = dir.filePath(QStringLiteral("passwords"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                {QStringLiteral("-b"), QStringLiteral("-c"), passwords,
                                 QStringLiteral("ops"), QStringLiteral("pass word")}),
              0);
    BrokerProcess broker(
        QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords));
    ASSERT_TRUE(broker.start());
    Reader reader(broker.port(), "reader", "ops", "pass word");
    ASSERT_TRUE(reader.ok() && reader.subscribe("plant/#") && reader.subscribe("homeassistant/#"));
    const std::string station =
        "plant/" + mqtt::topicLevel(QSysInfo::machineHostName()).toStdString();
    const std::string status = station + "/status", state = station + "/_/state";

    Program program(dir);
    ASSERT_TRUE(program.start(
        {QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port()),
         QStringLiteral("--mqtt-prefix"), QStringLiteral("plant"),
         QStringLiteral("--mqtt-discovery"), QStringLiteral("--mqtt-login")}));
    // The login on standard input, never on the command line.
    program.process().write("ops\npass word\n");
    program.process().closeWriteChannel();
    // The simulated instrument's values, once its link polls.
    const auto polling = [&] {
        for (const auto& m : reader.on(state)) {
            const QJsonObject s = json(m.payload);
            if (s.value(QStringLiteral("link")).toObject().value(QStringLiteral("state")) ==
                    QStringLiteral("polling") &&
                s.value(QStringLiteral("loops"))
                    .toArray()
                    .at(0)
                    .toObject()
                    .value(QStringLiteral("pv"))
                    .isDouble())
                return true;
        }
        return false;
    };
    ASSERT_TRUE(reader.pumpUntil(polling, 30000));
    ASSERT_FALSE(reader.on(status).empty());
    EXPECT_EQ(reader.on(status).back().payload, QByteArray("online"));
    const auto configs = [&] {
        size_t n = 0;
        for (const auto& m : reader.messages)
            n += m.topic.rfind("homeassistant/", 0) == 0 && !m.payload.isEmpty();
        return n;
    };
    ASSERT_TRUE(reader.pumpUntil([&] { return configs() == 7; }));

    // Whatever arrives under the prefix, the instrument is written nothing. Home Assistant's
    // status, the one topic the program listens to, brings the discovery again: by then every
    // message before it was read.
    for (const std::string leaf : {"/_/state", "/_/set", "/_/sv1/set", "/_/command", "/status",
                                   "/_/event", "/_/alert", "/set"})
        for (const QByteArray& payload : {QByteArray(R"({"loops":[{"sv":555}],"sv1":555})"),
                                          QByteArray("555"), QByteArray("start"), QByteArray()})
            reader.publish((station + leaf).c_str(), payload);
    reader.publish("plant/set", "555");
    reader.publish("homeassistant/status", "online");
    ASSERT_TRUE(reader.pumpUntil([&] { return configs() == 14; }));

    program.process().kill();
    ASSERT_TRUE(program.process().waitForFinished());
    ASSERT_TRUE(reader.pumpUntil([&] { return reader.on(status).back().payload == "offline"; }));
    const QByteArray writes = program.process().readAllStandardOutput();
    EXPECT_FALSE(writes.contains("4X")) << writes.constData();

    // The next start names no broker: the settings file does. Leaving says "offline" itself (it
    // leaves well after the publisher connected: one that never did has nothing to take back).
    const size_t before = reader.on(status).size();
    Program again(dir);
    ASSERT_TRUE(again.start({QStringLiteral("--quit-after"), QStringLiteral("8")}));
    ASSERT_TRUE(
        reader.pumpUntil([&] { return again.process().state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(again.process().exitCode(), 0);
    const auto after = reader.on(status);
    ASSERT_EQ(after.size(), before + 2);
    EXPECT_EQ(after[before].payload, QByteArray("online"));
    EXPECT_EQ(after[before + 1].payload, QByteArray("offline"));
}

}  // namespace
