// The chamber's state on the simulated instrument: it follows the instrument, and is published
// when it changes and only then; and its JSON form.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <cmath>
#include "chamberrig.h"

#include "chamber/chamber.h"
#include "chamber/statejson.h"
#include "sim/server.h"

namespace {

struct Rig {
    sim::SimServer server;
    QTemporaryDir dir;
    store::SystemClock clock;
    std::unique_ptr<chamber::Chamber> chamber;

    // A still instrument (no noise, time nearly standing) behind an opened chamber.
    Rig() {
        EXPECT_TRUE(server.start());
        server.withInstrument([](sim::Instrument& in) {
            in.setNoise(0);
            in.setTimeScale(1e-9);
            in.setProcessValue(1, 25);
            in.setProcessValue(2, 60);
            in.step(0);
            return 0;
        });
        chamber = std::make_unique<chamber::Chamber>(chambertest::setupIn(dir, server, &clock));
        chamber->open();
    }
    bool waitFor(const std::function<bool(const chamber::State&)>& ok) {
        return QTest::qWaitFor([&] { return ok(chamber->state()); }, 60000);
    }
};

TEST(ChamberState, FollowsTheInstrumentAndIsPublishedOnlyOnAChange) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    EXPECT_EQ(c.state().link.state, chamber::LinkState::Closed);
    EXPECT_TRUE(c.state().stale);

    QSignalSpy published(&c, &chamber::Chamber::stateChanged);
    c.link().open({1, 1, 0, 1});
    ASSERT_TRUE(rig.waitFor([](const chamber::State& s) {
        return !s.stale && s.link.state == chamber::LinkState::Polling;
    }));
    const chamber::State s = c.state();
    EXPECT_EQ(s.loops[0].pv, rig.server.inputRegister(1));
    EXPECT_EQ(s.loops[1].pv, rig.server.inputRegister(2));
    EXPECT_EQ(s.loops[0].sv, rig.server.inputRegister(3));
    EXPECT_EQ(s.loops[1].sv, rig.server.inputRegister(4));
    EXPECT_DOUBLE_EQ(s.loops[0].retransmitPct, rig.server.inputRegister(5) / 10.0);
    EXPECT_EQ(s.alarms[1].type, rig.server.inputRegister(8));
    EXPECT_EQ(s.loops[0].unit, QStringLiteral("°C"));
    EXPECT_EQ(s.loops[1].unit, QStringLiteral("%RH"));
    EXPECT_FALSE(s.loops[0].sensorBroken);
    EXPECT_EQ(s.link.address, 1);
    EXPECT_EQ(s.link.baud, 9600);
    EXPECT_EQ(s.link.device, QString::fromStdString(rig.server.device()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !published.isEmpty(); }, 60000));
    EXPECT_EQ(published.last().at(0).value<chamber::State>(), c.state());

    // A still instrument: many blocks read, nothing published.
    published.clear();
    QSignalSpy images(&c.link(), &comm::Link::imagePublished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return images.size() >= 30; }, 60000));
    QTest::qWait(300);  // what the last block brought has had its chance to be published
    EXPECT_EQ(published.size(), 0);

    // The sensor opens: published once with it.
    rig.server.setSensorOpen(1, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !published.isEmpty(); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return published.last().at(0).value<chamber::State>().loops[0].sensorBroken; },
        60000));

    // The instrument stops answering: the state says so, and then the port closes.
    rig.server.setSilent(true);
    ASSERT_TRUE(rig.waitFor([](const chamber::State& s) {
        return s.stale && s.link.state == chamber::LinkState::Silent && s.link.silentMs >= 3000;
    }));
    c.link().close();
    ASSERT_TRUE(rig.waitFor(
        [](const chamber::State& s) { return s.link.state == chamber::LinkState::Closed; }));
}

TEST(ChamberStateJson, KeysRoundingTimesAndAbsentValues) {
    chamber::State s;
    s.name = QStringLiteral("B");
    s.loops[0] = {25.04, 30, 47.25, true, false, 1, QStringLiteral("°C")};
    s.loops[1] = {std::nan(""), 50, 0, false, true, 0, QStringLiteral("%RH")};
    s.alarms[1] = {true, 3};
    s.program.state = std::nullopt;
    s.program.code = 9;
    s.link.state = chamber::LinkState::DeviceLost;
    s.link.parity = 'E';
    s.alerts.append({QStringLiteral("band1-1"),
                     QStringLiteral("band1"),
                     QDateTime(QDate(2026, 3, 1), QTime(8, 0), QTimeZone(3600)),
                     true,
                     false,
                     std::nullopt,
                     {}});
    const QJsonObject o = chamber::stateJson(s);
    const QJsonObject loop0 = o[u"loops"].toArray()[0].toObject();
    const QJsonObject loop1 = o[u"loops"].toArray()[1].toObject();
    const QJsonObject alert = o[u"alerts"].toArray()[0].toObject();
    struct Case {
        const char* what;
        QJsonValue got, want;
    };
    const Case cases[] = {
        {"pv rounded to its decimals", loop0[u"pv"], 25.0},
        {"retransmission in tenths", loop0[u"retransmitPct"], 47.3},
        {"unit", loop1[u"unit"], QStringLiteral("%RH")},
        {"no number is null", loop1[u"pv"], QJsonValue(QJsonValue::Null)},
        {"sensor", loop1[u"sensorBroken"], true},
        {"alarm type", o[u"alarms"].toArray()[1].toObject()[u"type"], 3},
        {"undocumented program state", o[u"program"].toObject()[u"state"],
         QStringLiteral("unknown")},
        {"program code", o[u"program"].toObject()[u"code"], 9},
        {"link state", o[u"link"].toObject()[u"state"], QStringLiteral("deviceLost")},
        {"parity", o[u"link"].toObject()[u"parity"], QStringLiteral("E")},
        {"time in UTC", alert[u"firedAt"], QStringLiteral("2026-03-01T07:00:00.000Z")},
        {"no value", alert[u"value"], QJsonValue(QJsonValue::Null)},
        {"no open run", o[u"run"], QJsonValue(QJsonValue::Null)},
        {"stale", o[u"stale"], true},
        {"name", o[u"name"], QStringLiteral("B")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
}

}  // namespace
