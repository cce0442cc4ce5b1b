#include <gtest/gtest.h>

#include <QDateTime>

#include "runs/runcontrol.h"

using runs::AutoStep;

TEST(AutomaticRuns, StartOnRunningEndOnStoppedOrEnded) {
    // Rows: the state before; columns: the state after (stopped, running, paused, ended, a code
    // the instrument does not document).
    const std::optional<instrument::ProgramState> states[] = {
        instrument::programStateOf(0), instrument::programStateOf(1), instrument::programStateOf(2),
        instrument::programStateOf(3), instrument::programStateOf(7)};
    const AutoStep N = AutoStep::None, S = AutoStep::Start, E = AutoStep::Stop;
    const AutoStep expected[5][5] = {
        {N, S, N, E, N}, {E, N, N, E, N}, {E, S, N, E, N}, {E, S, N, N, N}, {E, S, N, E, N},
    };
    for (int b = 0; b < 5; ++b)
        for (int a = 0; a < 5; ++a)
            EXPECT_EQ(runs::autoStep(states[b], states[a]), expected[b][a]) << b << " -> " << a;
}

TEST(ReportPath, NameMadeSafeForAFileAndTheStartDate) {
    struct Case {
        const char* name;
        const char* file;
    };
    const Case cases[] = {
        {"湿热 40 °C / 93 %RH", "湿热 40 °C _ 93 %RH"},
        {"../../etc/passwd", "_.._etc_passwd"},
        {"a:b*c?d\"e<f>g|h\\i", "a_b_c_d_e_f_g_h_i"},
        {"  ", "run"},
        {"..", "run"},
        {"line\nbreak", "line_break"},
        {"COM1.2 test", "COM1_2 test"},
        {"con .x", "con _x"},
        {"Batch 1.2", "Batch 1.2"},
    };
    runs::Run run;
    run.start = QDateTime(QDate(2026, 3, 9), QTime(23, 59, 59)).toSecsSinceEpoch();
    for (const Case& c : cases) {
        run.name = QString::fromUtf8(c.name);
        EXPECT_EQ(runs::defaultReportPath(run, "/docs").toStdString(),
                  std::string("/docs/") + c.file + "-2026-03-09.pdf")
            << c.name;
    }
}

TEST(RunStation, NamesTheChambersPortAndTellsMadeFromTyped) {
    EXPECT_EQ(runs::stationOf("lab7", "3: rtu+tcp://10.0.0.5:502", 4),
              "lab7:rtu+tcp://10.0.0.5:502:4");
    const std::pair<const char*, bool> kept[] = {
        {"lab7:/dev/ttyS0:1", true},   {"lab7:COM3:12", true}, {"3 号箱", false}, {"lab7:", false},
        {"lab77:/dev/ttyS0:1", false}, {"lab7:箱 2", false}};
    for (const auto& [station, made] : kept)
        EXPECT_EQ(runs::isMadeStation(QString::fromUtf8(station), "lab7"), made) << station;
}
