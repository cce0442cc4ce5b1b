// The publisher against Debian's mosquitto broker: the retained status and state, the clean stop,
// every event in order across a broker outage, Home Assistant's discovery, TLS and a refused login.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "broker.h"
#include "chamber/fleet.h"
#include "events/eventstore.h"
#include "mqtt/fleetfeed.h"
#include "mqtt/publisher.h"
#include "store/databaselock.h"

namespace {

using namespace mqtt;
using mqtttest::BrokerProcess;
using mqtttest::Reader;

Config configFor(int port, const QString& station = QStringLiteral("lab")) {
    Config c;
    c.client.broker = Broker{QStringLiteral("127.0.0.1"), port, false};
    c.station = station;
    return c;
}

// A chamber's event log in a database file of its own, on a connection of its own.
class Log {
  public:
    explicit Log(const QString& path = {})
        : path_(path.isEmpty() ? dir_.filePath(QStringLiteral("chamber.db")) : path),
          store_(path_, QStringLiteral("log-%1").arg(++made_)) {
        EXPECT_TRUE(store_.open(false));
    }
    QString path() const { return path_; }
    qint64 add(const QString& code, const QString& kind = events::eventkind::kLink) {
        events::EventEntry e;
        e.at = QDateTime::currentDateTime();
        e.kind = kind;
        e.code = code;
        e.text = code;
        std::vector<events::EventEntry> v{e};
        EXPECT_TRUE(store_.append(v));
        return v.front().id;
    }

  private:
    static inline int made_ = 0;
    QTemporaryDir dir_;
    QString path_;
    events::EventStore store_;
};

qint64 idOf(const mqtttest::Received& r) {
    return QJsonDocument::fromJson(r.payload).object().value(QStringLiteral("id")).toInteger();
}

bool pump(const std::function<bool()>& done, int rounds = 2000) {
    for (int i = 0; i < rounds && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return done();
}

TEST(MqttBroker, RetainedStatusAndStateThenOfflineAtACleanStop) {
    BrokerProcess broker;
    ASSERT_TRUE(broker.start());
    Reader reader(broker.port());
    ASSERT_TRUE(reader.ok() && reader.subscribe("velmars/#"));

    // A station and a chamber whose names topics cannot carry as they are.
    const QString chamber = QStringLiteral("温箱/1+#");
    PublishWorker w(configFor(broker.port(), QStringLiteral("hall 2/east")));
    Log log;
    w.addChamber(chamber, log.path());
    w.setState(chamber, R"({"loops":[{"pv":25.3}]})");
    w.start();
    const std::string status = "velmars/hall 2%2Feast/status";
    const std::string state = "velmars/hall 2%2Feast/温箱%2F1%2B%23/state";
    ASSERT_TRUE(reader.pumpUntil([&] { return !reader.on(state).empty(); }));
    EXPECT_EQ(w.status().state, State::Connected);
    ASSERT_EQ(reader.on(status).size(), 1u);
    EXPECT_EQ(reader.on(status).front().payload, QByteArray("online"));
    EXPECT_EQ(reader.on(state).front().payload, QByteArray(R"({"loops":[{"pv":25.3}]})"));

    // Whoever subscribes later gets both, retained.
    Reader late(broker.port(), "late");
    ASSERT_TRUE(late.ok() && late.subscribe("velmars/#"));
    ASSERT_TRUE(late.pumpUntil([&] { return late.messages.size() >= 2; }));
    for (const auto& m : late.messages)
        EXPECT_TRUE(m.retain) << m.topic;

    w.finish();
    ASSERT_TRUE(reader.pumpUntil([&] { return reader.on(status).size() == 2; }));
    EXPECT_EQ(reader.on(status).back().payload, QByteArray("offline"));
}

TEST(MqttBroker, StatePacedByTheWorkersClock) {
    BrokerProcess broker;
    ASSERT_TRUE(broker.start());
    Reader reader(broker.port());
    ASSERT_TRUE(reader.ok() && reader.subscribe("velmars/lab/a/state"));
    qint64 ms = 0;
    PublishWorker w(configFor(broker.port()), [&ms] { return ms; });
    Log log;
    w.addChamber(QStringLiteral("a"), log.path());
    w.start();
    ASSERT_TRUE(pump([&] { return w.status().state == State::Connected; }));
    const auto payloads = [&] {
        std::vector<QByteArray> out;
        for (const auto& m : reader.messages)
            out.push_back(m.payload);
        return out;
    };
    // Each step: the clock, the states offered, and every state the broker has had by then. The
    // worker's own timer ticks all along; only the clock decides.
    struct Step {
        qint64 at;
        std::vector<const char*> offered;
        std::vector<QByteArray> want;
    };
    const Step steps[] = {
        {0, {"1", "2", "3"}, {"1"}}, {999, {"4"}, {"1"}},          {1000, {}, {"1", "4"}},
        {30000, {}, {"1", "4"}},     {61000, {}, {"1", "4", "4"}},
    };
    for (const Step& s : steps) {
        ms = s.at;
        for (const char* state : s.offered)
            w.setState(QStringLiteral("a"), state);
        w.tick();
        reader.pumpUntil([&] { return payloads().size() >= s.want.size(); });
        // One that should not have gone would come as soon.
        reader.pumpUntil([&] { return payloads().size() > s.want.size(); }, 50);
        EXPECT_EQ(payloads(), s.want) << s.at;
    }
}

TEST(MqttBroker, EveryEventAndAlertInOrderAcrossAnOutage) {
    BrokerProcess broker;
    ASSERT_TRUE(broker.start());
    Log log;
    // What the log held before the broker was first named stays history.
    const qint64 before = log.add(QStringLiteral("link.opened"));
    qint64 ms = 0;
    PublishWorker w(configFor(broker.port()), [&ms] { return ms; });
    w.addChamber(QStringLiteral("a"), log.path());
    EXPECT_EQ(w.acknowledged(QStringLiteral("a")), before);

    Reader reader(broker.port());
    ASSERT_TRUE(reader.ok() && reader.subscribe("velmars/lab/a/+"));
    std::vector<qint64> want{log.add(QStringLiteral("link.silent")),
                             log.add(QStringLiteral("alert.fired"), events::eventkind::kAlert)};
    w.start();
    ASSERT_TRUE(reader.pumpUntil([&] { return w.acknowledged(QStringLiteral("a")) == want[1]; }));
    ASSERT_TRUE(reader.pumpUntil([&] { return reader.messages.size() == 2; }));

    broker.stop();
    ASSERT_TRUE(pump([&] { return w.status().state == State::Down; }));
    // While the broker is away, entries of every kind; alerts raised and acknowledged among them.
    for (int i = 0; i < 30; ++i) {
        const bool alert = i % 7 == 3;
        want.push_back(log.add(
            alert ? (i % 2 ? QStringLiteral("alert.fired") : QStringLiteral("alert.acknowledged"))
                  : QStringLiteral("link.answering"),
            alert ? events::eventkind::kAlert : events::eventkind::kLink));
        w.eventsStored(QStringLiteral("a"));
    }
    // The broker comes back with its store emptied; the reader subscribes before the publisher
    // gets its turn, then the retry is due.
    ASSERT_TRUE(broker.start());
    Reader after(broker.port(), "after");
    ASSERT_TRUE(after.ok() && after.subscribe("velmars/lab/a/+"));
    ms += PublishWorker::kMaxRetryMs;
    ASSERT_TRUE(after.pumpUntil([&] { return after.messages.size() >= want.size() - 2; }));
    ASSERT_TRUE(
        after.pumpUntil([&] { return w.acknowledged(QStringLiteral("a")) == want.back(); }));

    std::vector<qint64> got;
    for (const auto& r : reader.messages)
        got.push_back(idOf(r));
    for (const auto& r : after.messages) {
        got.push_back(idOf(r));
        const auto kind =
            QJsonDocument::fromJson(r.payload).object().value(QStringLiteral("kind")).toString();
        EXPECT_EQ(r.topic.substr(r.topic.rfind('/') + 1),
                  kind == events::eventkind::kAlert ? "alert" : "event");
        EXPECT_EQ(r.qos, 1);
        EXPECT_FALSE(r.retain);
    }
    EXPECT_EQ(got, want);  // each once, in the log's order

    // The mark is kept in the chamber's file: a publisher started again sends nothing twice.
    w.finish();
    PublishWorker again(configFor(broker.port()), [&ms] { return ms; });
    again.addChamber(QStringLiteral("a"), log.path());
    EXPECT_EQ(again.acknowledged(QStringLiteral("a")), want.back());
}

// A chamber that records at first (its folder cannot be made yet) and then finds its file taken by
// another program: from then on that program publishes the file's events, this one no longer.
// Added again with the file, a chamber goes on from the mark the broker acknowledged last.
TEST(MqttBroker, TheChambersRecorderAloneSendsItsEventsFromTheOutboxMark) {
    BrokerProcess broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("files"));
    const QString db = folder + QStringLiteral("/Rdatabj.db");
    // The folder a dangling link for now: no lock file can be made in it.
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), folder));

    // The other program: its database with a log whose entries its publisher had acknowledged,
    // and its lock, held by a process that runs.
    const QString other = dir.filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    Log log(other + QStringLiteral("/Rdatabj.db"));
    const qint64 mark = log.add(QStringLiteral("link.opened"));
    {
        PublishWorker theirs(configFor(broker.port()));
        theirs.addChamber(QString(), log.path());
        ASSERT_EQ(theirs.acknowledged(QString()), mark);
    }
    QProcess holder;
    holder.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    ASSERT_TRUE(holder.waitForStarted());
    const auto stopHolder = qScopeGuard([&] {
        holder.kill();
        holder.waitForFinished();
    });
    QFile lock(other + QStringLiteral("/Rdatabj.db.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QStringLiteral("%1\n/usr/bin/sleep\n%2\n")
                   .arg(holder.processId())
                   .arg(QSysInfo::machineHostName())
                   .toUtf8());
    lock.close();
    ASSERT_EQ(store::DatabaseLock(log.path()).tryLock(),
              store::DatabaseLock::Outcome::HeldElsewhere);

    store::SystemClock clock;
    chamber::FleetSetup setup;
    setup.clock = &clock;
    setup.settingsFor = [&dir](const QString&) {
        return std::make_unique<QSettings>(dir.filePath(QStringLiteral("velmars.ini")),
                                           QSettings::IniFormat);
    };
    setup.databaseFor = [db](const QString&) { return db; };
    chamber::Fleet fleet(std::move(setup));
    fleet.open();
    fleet.start();
    chamber::Chamber* c = fleet.chamber(QString());
    ASSERT_TRUE(c && c->recording());
    auto publisher = std::make_unique<Publisher>(configFor(broker.port()));
    auto feed = std::make_unique<FleetFeed>(fleet, *publisher);
    Reader reader(broker.port());
    ASSERT_TRUE(reader.ok() && reader.subscribe("velmars/lab/_/+"));
    publisher->start();
    ASSERT_TRUE(reader.pumpUntil([&] { return !reader.on("velmars/lab/_/state").empty(); }));

    // The other program's folder takes the link's place at once; the chamber's next look at its
    // lock finds it held.
    const QString swap = dir.filePath(QStringLiteral("swap"));
    ASSERT_TRUE(QFile::link(other, swap));
    ASSERT_EQ(
        std::rename(QFile::encodeName(swap).constData(), QFile::encodeName(folder).constData()), 0);
    ASSERT_TRUE(reader.pumpUntil([&] { return !c->recording(); }));
    // Its state says so once the publisher took the change, which came before it.
    ASSERT_TRUE(reader.pumpUntil([&] {
        const auto states = reader.on("velmars/lab/_/state");
        return !states.empty() && states.back().payload.contains(R"("state":"refused")");
    }));
    // What the chamber logged and sent until then was its own (it recorded).
    const auto eventIds = [&] {
        std::vector<qint64> ids;
        for (const auto& r : reader.on("velmars/lab/_/event"))
            ids.push_back(idOf(r));
        return ids;
    };
    std::vector<qint64> want;
    for (int i = 0; i < 5; ++i)
        want.push_back(log.add(QStringLiteral("link.silent")));
    const auto theirs = [&] {
        const auto ids = eventIds();
        return std::count_if(ids.begin(), ids.end(), [&](qint64 id) { return id >= want[0]; });
    };
    // Several of the publisher's ticks: none of the other program's entries goes out from here.
    reader.pumpUntil([&] { return theirs() > 0; }, 400);
    EXPECT_EQ(theirs(), 0);

    // The worker given the file again (the chamber its recorder once more): the entries after
    // the mark the file keeps, each once, in order.
    feed.reset();
    publisher.reset();
    PublishWorker w(configFor(broker.port()));
    w.addChamber(QString(), QString());
    w.start();
    ASSERT_TRUE(reader.pumpUntil([&] { return w.status().state == State::Connected; }));
    EXPECT_EQ(w.acknowledged(QString()), 0);
    const std::size_t before = eventIds().size();
    w.addChamber(QString(), log.path());
    const qint64 from = w.acknowledged(QString());
    ASSERT_GE(from, mark);
    ASSERT_LT(from, want[0]);
    ASSERT_TRUE(reader.pumpUntil([&] { return w.acknowledged(QString()) >= want.back(); }));
    std::vector<qint64> expected;
    for (qint64 id = from + 1; id <= w.acknowledged(QString()); ++id)
        expected.push_back(id);
    const auto got = [&] {
        const auto all = eventIds();
        return std::vector<qint64>(all.begin() + qint64(before), all.end());
    };
    reader.pumpUntil([&] { return got().size() >= expected.size(); });
    EXPECT_EQ(got(), expected);
}

TEST(MqttBroker, DiscoverySentAgainWhenHomeAssistantIsBackAndClearedForARemovedChamber) {
    BrokerProcess broker;
    ASSERT_TRUE(broker.start());
    Reader reader(broker.port());
    ASSERT_TRUE(reader.ok() && reader.subscribe("homeassistant/#") &&
                reader.subscribe("velmars/#"));
    Config c = configFor(broker.port());
    c.discovery = true;
    PublishWorker w(c);
    Log a, b;
    w.addChamber(QStringLiteral("a"), a.path());
    w.addChamber(QStringLiteral("b"), b.path());
    w.setState(QStringLiteral("b"), "{}");
    w.start();
    const auto configs = [&] {
        std::vector<mqtttest::Received> out;
        for (const auto& m : reader.messages)
            if (m.topic.rfind("homeassistant/", 0) == 0 && m.topic.ends_with("/config"))
                out.push_back(m);
        return out;
    };
    ASSERT_TRUE(reader.pumpUntil([&] { return configs().size() == 14; }));
    ASSERT_TRUE(reader.pumpUntil([&] { return !reader.on("velmars/lab/b/state").empty(); }));

    reader.publish("homeassistant/status", "online");
    ASSERT_TRUE(reader.pumpUntil([&] { return configs().size() == 28; }));

    w.removeChamber(QStringLiteral("b"));
    const auto emptied = [&] {
        int n = 0;
        for (const auto& m : configs())
            n += m.payload.isEmpty() && m.topic.find("_b/") != std::string::npos;
        return n;
    };
    ASSERT_TRUE(reader.pumpUntil([&] { return emptied() == 7; }));
    ASSERT_TRUE(reader.pumpUntil([&] { return reader.on("velmars/lab/b/state").size() == 2; }));
    EXPECT_TRUE(reader.on("velmars/lab/b/state").back().payload.isEmpty());

    // What stays retained is chamber a's discovery alone.
    Reader late(broker.port(), "late");
    ASSERT_TRUE(late.ok() && late.subscribe("homeassistant/#"));
    late.pumpUntil([&] { return late.messages.size() > 7; }, 200);
    ASSERT_EQ(late.messages.size(), 7u);
    for (const auto& m : late.messages)
        EXPECT_NE(m.topic.find("velmars_lab_a/"), std::string::npos) << m.topic;
}

bool run(const QString& program, const QStringList& args, const QString& dir) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitCode() == 0;
}

TEST(MqttBroker, TlsWithTheBrokersCertificateAndNotWithAnotherName) {
    QTemporaryDir certs;
    const QString d = certs.path();
    const QString openssl = QStringLiteral("openssl");
    QFile ext(certs.filePath(QStringLiteral("san.ext")));
    ASSERT_TRUE(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=DNS:localhost\n");
    ext.close();
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-nodes")};
    ASSERT_TRUE(run(
        openssl,
        QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
            QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                        QStringLiteral("ca.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                        QStringLiteral("-subj"), QStringLiteral("/CN=test CA")},
        d));
    ASSERT_TRUE(run(openssl,
                    QStringList{QStringLiteral("req")} + ec +
                        QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                                    QStringLiteral("-out"), QStringLiteral("server.csr"),
                                    QStringLiteral("-subj"), QStringLiteral("/CN=localhost")},
                    d));
    ASSERT_TRUE(
        run(openssl,
            {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
             QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
             QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
             QStringLiteral("-out"), QStringLiteral("server.crt"), QStringLiteral("-days"),
             QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("san.ext")},
            d));
    BrokerProcess broker(QStringLiteral("allow_anonymous true\ncafile %1/ca.crt\ncertfile "
                                        "%1/server.crt\nkeyfile %1/server.key\n")
                             .arg(d));
    ASSERT_TRUE(broker.start());

    Config good = configFor(broker.port());
    good.client.broker = Broker{QStringLiteral("localhost"), broker.port(), true};
    good.client.caFile = certs.filePath(QStringLiteral("ca.crt"));
    PublishWorker w(good);
    w.start();
    EXPECT_TRUE(pump([&] { return w.status().state == State::Connected; }));

    // The certificate names localhost, not the address.
    Config other = good;
    other.client.broker.host = QStringLiteral("127.0.0.1");
    PublishWorker refused(other);
    refused.start();
    ASSERT_TRUE(pump([&] { return refused.status().state == State::Down; }));
    EXPECT_EQ(refused.status().fault, Fault::Tls);
}

TEST(MqttBroker, ARefusedLoginIsSaidAndAGoodOneConnects) {
    QTemporaryDir dir;
    const QString passwords = dir.filePath(QStringLiteral("passwords"));
    ASSERT_TRUE(run(QStringLiteral("mosquitto_passwd"),
                    {QStringLiteral("-b"), QStringLiteral("-c"), passwords, QStringLiteral("ops"),
                     QStringLiteral("right")},
                    dir.path()));
    BrokerProcess broker(
        QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords));
    ASSERT_TRUE(broker.start());
    Config c = configFor(broker.port());
    c.client.user = QStringLiteral("ops");
    c.client.password = QStringLiteral("wrong");
    PublishWorker bad(c);
    bad.start();
    ASSERT_TRUE(pump([&] { return bad.status().state == State::Down; }));
    // Mosquitto answers a wrong password as "not authorized".
    EXPECT_TRUE(bad.status().fault == Fault::BadLogin ||
                bad.status().fault == Fault::NotAuthorized);

    c.client.password = QStringLiteral("right");
    PublishWorker good(c);
    good.start();
    EXPECT_TRUE(pump([&] { return good.status().state == State::Connected; }));
}

}  // namespace
