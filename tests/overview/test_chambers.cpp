// The chambers of a run: what the command line accepts and refuses, the list kept in the settings
// file, and the worst state a tile shows.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "overview/chamberlist.h"
#include "overview/tile.h"
#include "service/cmdline.h"

using overview::ChamberConf;

namespace {

struct LineCase {
    const char* args;
    const char* error;  // a part of the one line; empty: accepted
    QList<ChamberConf> chambers;
};

TEST(ChamberCommandLine, AcceptsOrRefusesWithOneLine) {
    const LineCase cases[] = {
        // No chamber: the program as one chamber, with or without a profile.
        {"--profile chamber-2", "", {}},
        {"--db /tmp/x.db --connect", "", {}},
        {"--chamber A=1,1", "", {{"A", 1, 1, 9600, u'N'}}},
        {"--chamber=ch_2=3,16,19200,e --chamber B-1=3,2,19200,E --chamber C=4,16,4800,O",
         "",
         {{"ch_2", 3, 16, 19200, u'E'}, {"B-1", 3, 2, 19200, u'E'}, {"C", 4, 16, 4800, u'O'}}},
        // One address on two lines is two instruments.
        {"--chamber A=1,5 --chamber B=2,5", "", {{"A", 1, 5}, {"B", 2, 5}}},
        {"--chamber A=1,1 --chamber a=2,1", "chamber name 'a' is given twice", {}},
        {"--chamber A=1,1 --chamber B=1,1", "address 1 on port 1 is taken", {}},
        {"--chamber A=1,1 --chamber B=1,2,19200", "port 1 has another baud rate or parity", {}},
        {"--chamber A=1,1,9600,N --chamber B=1,2,9600,E", "port 1 has another baud rate", {}},
        {"--chamber A/b=1,1", "is not 1 to 40 letters", {}},
        {"--chamber ..=1,1", "is not 1 to 40 letters", {}},
        {"--chamber =1,1", "is not 1 to 40 letters", {}},
        {"--chamber A=0,1", "port 0 is not from 1 to 20", {}},
        {"--chamber A=21,1", "port 21 is not from 1 to 20", {}},
        // The instrument takes 1 to 247: seventeen chambers and more share one line.
        {"--chamber A=1,17 --chamber B=1,247", "", {{"A", 1, 17}, {"B", 1, 247}}},
        {"--chamber A=1,0", "address 0 is not from 1 to 247", {}},
        {"--chamber A=1,248", "address 248 is not from 1 to 247", {}},
        {"--chamber A=1,1,1200", "baud rate is not 4800, 9600 or 19200", {}},
        {"--chamber A=1,1,9600,X", "parity is not N, O or E", {}},
        {"--chamber A=1", "--chamber expects NAME=PORT,ADDRESS", {}},
        {"--chamber A=1,x", "--chamber expects NAME=PORT,ADDRESS", {}},
        {"--chamber A=1,1,9600,N,7", "--chamber expects NAME=PORT,ADDRESS", {}},
        {"--chamber", "option --chamber needs a value", {}},
        {"--chamber A=1,1 --profile A", "--chamber cannot go with --profile or --db", {}},
        {"--chamber A=1,1 --db x.db", "--chamber cannot go with --profile or --db", {}},
        {"--export-csv - --chamber A=1,1 --chamber B=2,1", "read the database of one", {}},
        {"--station S --chamber A=1,1 --chamber B=2,1", "--station names one chamber", {}},
        {"--station S --chamber A=1,1", "", {{"A", 1, 1}}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r =
            shell::parseCommandLine(QString::fromUtf8(c.args).split(u' ', Qt::SkipEmptyParts));
        if (*c.error) {
            ASSERT_FALSE(r.options);
            EXPECT_TRUE(r.error.contains(QString::fromUtf8(c.error))) << r.error.toStdString();
            EXPECT_FALSE(r.error.contains(u'\n'));
        } else {
            ASSERT_TRUE(r.options) << r.error.toStdString();
            EXPECT_EQ(r.options->chambers, c.chambers);
        }
    }
    // An export of a chamber reads what its profile would: its own database.
    const auto r = shell::parseCommandLine({"--export-csv", "-", "--chamber", "B-1=2,3"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->profile, "B-1");
    EXPECT_TRUE(r.options->chambers.isEmpty());
}

TEST(ChamberSettings, KeptListReadsBackWithoutWhatAHandEditSpoiled) {
    QTemporaryDir dir;
    QSettings s(dir.filePath("velmars.ini"), QSettings::IniFormat);
    const QList<ChamberConf> kept{{"A", 1, 1, 19200, u'E'}, {"B", 1, 2, 19200, u'E'}};
    overview::writeChambers(s, kept);
    EXPECT_EQ(overview::readChambers(s), kept);
    // A third entry naming A again and a fourth on a port that is none are left out.
    s.setValue("chambers/size", 4);
    s.setValue("chambers/3/name", "a");
    s.setValue("chambers/3/port", 2);
    s.setValue("chambers/3/address", 1);
    s.setValue("chambers/4/name", "D");
    s.setValue("chambers/4/port", "x");
    s.setValue("chambers/4/address", 1);
    EXPECT_EQ(overview::readChambers(s), kept);
    overview::writeChambers(s, {});
    EXPECT_TRUE(overview::readChambers(s).isEmpty());
}

TEST(ChamberSettings, TurnaroundKeptPerPortBesideTheList) {
    QTemporaryDir dir;
    QSettings s(dir.filePath("velmars.ini"), QSettings::IniFormat);
    overview::writeTurnaround(s, 3, 40);
    overview::writeTurnaround(s, 20, 1000);
    overview::writeTurnaround(s, 5, 7);
    overview::writeTurnaround(s, 5, 0);  // none again
    // Rewriting the list keeps the lines' delays.
    overview::writeChambers(s, {{"A", 3, 1}});
    // Hand edits out of range or no number are left out.
    s.setValue("turnaround/port4", 1001);
    s.setValue("turnaround/port21", 5);
    s.setValue("turnaround/port6", "x");
    s.setValue("turnaround/portx", 5);
    const QMap<int, int> expected{{3, 40}, {20, 1000}};
    EXPECT_EQ(overview::readTurnarounds(s), expected);
}

TEST(ChamberTile, ArrowKeysStepThroughTheGrid) {
    // Ten tiles in rows of four: 0 1 2 3 / 4 5 6 7 / 8 9.
    struct Case {
        int from, key, to;
    };
    const Case cases[] = {
        {0, Qt::Key_Right, 1}, {3, Qt::Key_Right, 4}, {9, Qt::Key_Right, 9}, {4, Qt::Key_Left, 3},
        {0, Qt::Key_Left, 0},  {1, Qt::Key_Down, 5},  {5, Qt::Key_Down, 9},  {6, Qt::Key_Down, 9},
        {7, Qt::Key_Down, 9},  {8, Qt::Key_Down, 8},  {9, Qt::Key_Up, 5},    {2, Qt::Key_Up, 2},
        {6, Qt::Key_Home, 0},  {2, Qt::Key_End, 9},   {2, Qt::Key_Tab, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(overview::tileStep(c.from, 10, 4, c.key), c.to)
            << "from " << c.from << " key " << c.key;
    // One tile: nowhere to go; a full last row ends where it is.
    EXPECT_EQ(overview::tileStep(0, 1, 4, Qt::Key_Down), 0);
    EXPECT_EQ(overview::tileStep(5, 8, 4, Qt::Key_Down), 5);
}

TEST(ChamberTile, ColourFollowsTheWorstState) {
    using overview::Tone;
    struct Case {
        const char* what;
        bool polling;
        int silentMs;
        int alarmBit;  // discrete input 2..5 set, -1 for none
        int unacked;
        Tone tone;
        const char* linkLine;
        bool deviceLost = false;
    };
    const Case cases[] = {
        {"normal", true, 0, -1, 0, Tone::Normal, "通讯正常"},
        {"alarm 1", true, 0, 2, 0, Tone::Alarm, "通讯正常"},
        {"sensor 2 open", true, 0, 5, 1, Tone::Alarm, "通讯正常"},
        {"unacknowledged", true, 0, -1, 1, Tone::Unacked, "通讯正常"},
        // A silent instrument's alarm flags are old: the silence is what is shown.
        {"silent with an old alarm", true, 5000, 3, 0, Tone::Silent, "仪表无应答 5 秒"},
        {"silent, alert waiting", true, 5000, -1, 2, Tone::Unacked, "仪表无应答 5 秒"},
        {"port closed", false, 0, 2, 0, Tone::Silent, "端口关闭"},
        {"adapter pulled", true, 5000, -1, 0, Tone::Silent, "设备已断开，等待重新连接", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        chamber::State s;
        s.loops[0].pv = 25.5;
        s.loops[0].sv = 30;
        s.loops[0].unit = QStringLiteral("°C");
        s.loops[1].unit = QStringLiteral("%RH");
        s.program.code = 1;
        s.program.segment = 3;
        // Discrete inputs 2..5: the alarms, then the sensors.
        if (c.alarmBit == 2 || c.alarmBit == 3) s.alarms[size_t(c.alarmBit - 2)].on = true;
        if (c.alarmBit == 4 || c.alarmBit == 5) s.loops[size_t(c.alarmBit - 4)].sensorBroken = true;
        s.link.state = !c.polling       ? chamber::LinkState::Closed
                       : c.deviceLost   ? chamber::LinkState::DeviceLost
                       : c.silentMs > 0 ? chamber::LinkState::Silent
                                        : chamber::LinkState::Polling;
        s.link.silentMs = c.silentMs;
        s.stale = comm::valuesStale(c.polling, c.silentMs);
        s.recorder.state = store::RecorderStatus::State::Recording;
        s.run = chamber::RunInfo{1, QStringLiteral("试验 1"), {}};
        for (int i = 0; i < c.unacked; ++i)
            s.alerts.append(
                {QString::number(i), QStringLiteral("silent"), {}, true, false, {}, {}});
        const overview::Tile t = overview::tileOf(QStringLiteral("A"), s);
        EXPECT_EQ(t.tone, c.tone);
        ASSERT_EQ(t.lines.size(), 7);
        EXPECT_EQ(t.lines[0], "A");
        // Values not read lately show as a dash, never as readings.
        const bool fresh = c.polling && c.silentMs < 3000;
        EXPECT_EQ(t.lines[1], fresh ? "PV1 25.5 °C / SV1 30 °C" : "PV1 — °C / SV1 — °C");
        EXPECT_EQ(t.lines[2], fresh ? "PV2 0 %RH / SV2 0 %RH" : "PV2 — %RH / SV2 — %RH");
        EXPECT_EQ(t.lines[3], fresh ? "运行 第 3 段" : "—");
        EXPECT_EQ(t.lines[4], "试验：试验 1");
        EXPECT_EQ(t.lines[5], QString::fromUtf8(c.linkLine));
    }
    // A flashing tile changes colour, and neither phase is the normal one; the others keep theirs.
    EXPECT_NE(overview::toneColour(Tone::Unacked, true),
              overview::toneColour(Tone::Unacked, false));
    for (bool phase : {false, true})
        EXPECT_NE(overview::toneColour(Tone::Unacked, phase),
                  overview::toneColour(Tone::Normal, phase));
    EXPECT_EQ(overview::toneColour(Tone::Alarm, true), overview::toneColour(Tone::Alarm, false));
}

}  // namespace

namespace {

// The overview's alert list: what still needs someone on top, the newest first within each kind.
TEST(ChamberAlertList, ActiveAlertsComeFirst) {
    using overview::AlertPlace;
    const QDateTime t0(QDate(2026, 3, 1), QTime(8, 0));
    struct Listed {
        const char* name;
        AlertPlace place;
    };
    const Listed listed[] = {
        {"old recovered", {false, false, t0}},
        {"recovered, acknowledged", {false, true, t0.addSecs(10)}},
        {"active", {true, false, t0.addSecs(20)}},
        {"newer recovered", {false, false, t0.addSecs(30)}},
        {"active, acknowledged", {true, true, t0.addSecs(40)}},
        {"newest active", {true, false, t0.addSecs(50)}},
    };
    std::vector<Listed> rows(std::begin(listed), std::end(listed));
    std::stable_sort(rows.begin(), rows.end(), [](const Listed& a, const Listed& b) {
        return overview::listedBefore(a.place, b.place);
    });
    std::vector<std::string> order;
    for (const Listed& r : rows)
        order.push_back(r.name);
    EXPECT_EQ(order, (std::vector<std::string>{"newest active", "active", "active, acknowledged",
                                               "newer recovered", "old recovered",
                                               "recovered, acknowledged"}));
}

}  // namespace
