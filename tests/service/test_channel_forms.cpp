// What the local channel carries for an attached window: a chamber's state and its instrument's
// registers, read back as they were sent; and what a hostile or broken message comes to.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include "chamber/statejson.h"
#include "service/imagejson.h"

namespace {

chamber::State busyState() {
    chamber::State s;
    s.name = QStringLiteral("箱1");
    s.station = QStringLiteral("lab 2");
    s.loops[0] = {25.3, 30.0, 47.5, true, false, 1, QStringLiteral("°C")};
    s.loops[1] = {61.25, 65.0, 12.5, false, true, 2, QStringLiteral("%RH")};
    s.alarms[0] = {true, 3};
    s.alarms[1] = {false, 7};
    s.program = {instrument::ProgramState::Paused, 2, 3, 40, 400, 1};
    s.stale = false;
    s.link = {chamber::LinkState::Silent, 4000, QStringLiteral("/dev/ttyUSB0"), 7, 9600, 'E'};
    s.recorder.state = store::RecorderStatus::State::Failed;
    s.recorder.recordNo = 812;
    s.recorder.waiting = 3;
    s.recorder.reason = base::Phrase{QStringLiteral("磁盘已满")};
    const QDateTime at(QDate(2026, 3, 1), QTime(8, 30, 15, 250), QTimeZone::utc());
    s.run = chamber::RunInfo{42, QStringLiteral("run A"), at};
    chamber::AlertInfo a;
    a.id = QStringLiteral("band-1");
    a.kind = QStringLiteral("band");
    a.firedAt = at.addSecs(60);
    a.active = true;
    a.acknowledged = false;
    a.value = 31.5;
    s.alerts << a;
    a.id = QStringLiteral("silent-1");
    a.kind = QStringLiteral("silent");
    a.value.reset();
    a.acknowledged = true;
    s.alerts << a;
    return s;
}

}  // namespace

TEST(ChannelForms, AStateReadBackIsTheStateSent) {
    const QJsonObject sent = chamber::stateJson(busyState());
    const chamber::State back = chamber::stateFromJson(sent);
    EXPECT_EQ(chamber::stateJson(back), sent);
    // The fields a window decides by, one by one.
    EXPECT_EQ(back.loops[1].decimals, 2);
    EXPECT_TRUE(back.loops[1].sensorBroken);
    EXPECT_EQ(back.program.state, instrument::ProgramState::Paused);
    EXPECT_EQ(back.link.state, chamber::LinkState::Silent);
    EXPECT_EQ(back.link.parity, 'E');
    EXPECT_EQ(back.recorder.state, store::RecorderStatus::State::Failed);
    ASSERT_TRUE(back.run.has_value());
    EXPECT_EQ(back.run->startedAt, busyState().run->startedAt);
    ASSERT_EQ(back.alerts.size(), 2);
    EXPECT_EQ(back.alerts[0].value, 31.5);
    EXPECT_FALSE(back.alerts[1].value.has_value());
    EXPECT_FALSE(back.stale);
}

TEST(ChannelForms, WhatIsNoStateGivesTheStateOfNothingKnown) {
    // Missing keys, wrong types, unknown words: the fields stay as nothing known has them, and
    // a value never reads as fresh.
    const char* messages[] = {
        "{}",
        R"({"loops": 5, "alarms": "x", "program": [], "link": {"state": "flying"}})",
        R"({"loops": [{"pv": "hot"}, {}, {}], "stale": "no", "recorder": {"state": 3}})",
        R"({"run": {"id": "x"}, "alerts": [1, "a", {"value": "high"}]})",
    };
    for (const char* m : messages) {
        SCOPED_TRACE(m);
        const chamber::State s =
            chamber::stateFromJson(QJsonDocument::fromJson(QByteArray(m)).object());
        EXPECT_TRUE(s.stale);
        EXPECT_EQ(s.loops[0].pv, 0.0);
        EXPECT_EQ(s.link.state, chamber::LinkState::Closed);
        EXPECT_EQ(s.recorder.state, store::RecorderStatus::State::NotStarted);
        EXPECT_FALSE(s.program.state.has_value());
        for (const chamber::AlertInfo& a : s.alerts)
            EXPECT_FALSE(a.value.has_value());
    }
}

TEST(ChannelForms, AnImageReadBackHoldsEveryRegisterThePanelsShow) {
    comm::InstrumentImage sent;
    for (int i = 0; i < 8; ++i) {
        sent.InputRegsLow[i] = -1999 + i;
        sent.HoldingRegsLow[i] = 100 + i;
        sent.HoldingValues[i] = 100.0f + i;
        sent.HoldingRegs257[i] = 257 + i;
    }
    for (int i = 0; i < 10; ++i)
        sent.LiveValues[i] = 0.5f * i - 2;
    for (int i = 0; i < 16; ++i) {
        sent.InputRegsHigh[i] = 4097 + i;
        sent.DiscreteBits[i] = i % 2;
        sent.CoilBits[i] = (i + 1) % 2;
    }
    for (int i = 0; i < 48; ++i)
        sent.ParamValues[i] = 0.25f * i;
    const QByteArray wire = QJsonDocument(service::imageJson(sent)).toJson();
    const comm::InstrumentImage back =
        service::imageFromJson(QJsonDocument::fromJson(wire).object());
    EXPECT_EQ(back.InputRegsLow, sent.InputRegsLow);
    EXPECT_EQ(back.LiveValues, sent.LiveValues);
    EXPECT_EQ(back.InputRegsHigh, sent.InputRegsHigh);
    EXPECT_EQ(back.HoldingRegsLow, sent.HoldingRegsLow);
    EXPECT_EQ(back.HoldingValues, sent.HoldingValues);
    EXPECT_EQ(back.ParamValues, sent.ParamValues);
    EXPECT_EQ(back.HoldingRegs257, sent.HoldingRegs257);
    EXPECT_EQ(back.DiscreteBits, sent.DiscreteBits);
    EXPECT_EQ(back.CoilBits, sent.CoilBits);
}

TEST(ChannelForms, AnImageOfBadNumbersLeavesZerosAndNoOverflow) {
    // Too long, too large, not numbers: nothing beyond the blocks, no register value out of 16
    // bits.
    QJsonArray huge;
    for (int i = 0; i < 1000; ++i)
        huge.append(1e300);
    const QJsonObject bad{{"inputLow", huge},
                          {"holding257", QJsonArray{"1", true, QJsonValue::Null, 70000, -70000}},
                          {"discrete", QJsonArray{2147483648.0, 1}},
                          {"params", 7}};
    const comm::InstrumentImage back = service::imageFromJson(bad);
    for (int32_t v : back.InputRegsLow)
        EXPECT_EQ(v, 0);
    for (int32_t v : back.HoldingRegs257)
        EXPECT_EQ(v, 0);
    EXPECT_EQ(back.DiscreteBits[0], 0);
    EXPECT_EQ(back.DiscreteBits[1], 1);
    EXPECT_EQ(back.ParamValues[0], 0.0f);
}

// Every outcome a command can have crosses the channel and reads back as itself; the channel's
// word for a malformed command is an invalid one, and a word not known a failure.
TEST(ChannelForms, EveryOutcomeReadsBackAsItself) {
    using O = chamber::Outcome;
    for (O o : {O::Done, O::Pending, O::Refused, O::Invalid, O::NotRecording, O::NotFound,
                O::LinkClosed, O::Failed})
        EXPECT_EQ(chamber::outcomeOfWord(chamber::outcomeWord(o)), o)
            << chamber::outcomeWord(o).toStdString();
    EXPECT_EQ(chamber::outcomeWord(O::NotRecording), "notRecording");
    EXPECT_EQ(chamber::outcomeOfWord("badRequest"), O::Invalid);
    EXPECT_EQ(chamber::outcomeOfWord("unknownChamber"), O::Failed);
}
