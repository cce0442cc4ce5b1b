// Measures the link and the program on a serial port that a wire-timed simulated instrument
// answers at 9600 baud (under Wine a COM port mapped to the simulator's pseudo-terminal), the same
// way on Windows and on Linux so that the two can be compared:
//  1. the poll-cycle period (median of 20, the first cycle with its open left out) beside the wire
//     limit of one cycle (297 bytes and 18 inter-frame gaps of 3.5 characters);
//  2. the program's start to its first stored sample: velmars, beside this program, started with
//     --port 1=DEVICE --connect on a database of its own, until the database holds a sample
//     (median of the starts).
// usage: bench_windows DEVICE [--starts N]
// Prints "period_ms=P wire_ms=W cycles=N" and "first_sample_ms=F starts=N runs=A,B,..."; exit 1
// when a measurement failed. scripts/bench-windows runs it on both systems.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "comm/libmodbusrtu.h"
#include "comm/link.h"
#include "shell/shellos.h"

namespace {

constexpr int kBaud = 9600;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double wireLimitMs() {
    return (297 + 18 * 3.5) * 10.0 / kBaud * 1000.0;  // 8N1: ten bits a character
}

// The poll period on port 1 = device; empty when fewer than 20 cycles came within 30 s.
std::vector<double> pollPeriods(const QString& device) {
    comm::PortMap ports;
    ports.setExplicit(1, device);
    comm::Link link(std::make_unique<comm::LibModbusRTU>(ports));
    link.setSettings({1, 1, 0, 1});
    std::vector<double> periods;
    QObject::connect(&link, &comm::Link::cycleFinished, [&](double ms) { periods.push_back(ms); });
    link.open();
    QElapsedTimer t;
    t.start();
    while (periods.size() < 21 && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    link.close();
    if (!periods.empty()) periods.erase(periods.begin());
    return periods;
}

// Samples in the database; -1 while it cannot be read. The program's first transaction sets up
// the log (-wal) before anything is stored: until then the file is left alone, so that a reader
// never stands in the way of its setup.
int storedSamples(const QString& db) {
    if (!QFileInfo::exists(db + QStringLiteral("-wal"))) return -1;
    int n = -1;
    {
        auto c = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        c.setDatabaseName(db);
        c.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
        if (c.open()) {
            QSqlQuery q(c);
            if (q.exec(QStringLiteral("SELECT count(*) FROM archive")) && q.next())
                n = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return n;
}

// Milliseconds from starting the program until its database holds a sample; -1 when none came
// within 60 s.
double startToFirstSample(const QString& program, const QString& device) {
    QTemporaryDir home;
    const QString db = home.filePath(QStringLiteral("first.db"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Settings and data of its own: no chamber list or access control of the user's.
    for (const char* name : {"APPDATA", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        env.insert(QString::fromLatin1(name), home.path());
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(home.filePath(QStringLiteral("stderr.txt")));
    QElapsedTimer t;
    t.start();
    p.start(program,
            {QStringLiteral("--port"), QStringLiteral("1=") + device, QStringLiteral("--db"),
             QDir::toNativeSeparators(db), QStringLiteral("--connect"),
             QStringLiteral("--quit-after"), QStringLiteral("90")});
    double ms = -1;
    while (t.elapsed() < 60000) {
        if (storedSamples(db) > 0) {
            ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
            break;
        }
        if (p.waitForFinished(10)) break;
    }
    p.kill();
    p.waitForFinished(30000);
    if (ms < 0) {
        QFile err(home.filePath(QStringLiteral("stderr.txt")));
        if (err.open(QIODevice::ReadOnly)) std::fputs(err.readAll().constData(), stderr);
    }
    return ms;
}

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    int starts = 5;
    if (args.size() == 3 && args[1] == u"--starts") starts = std::max(1, args[2].toInt());
    if (args.isEmpty() || (args.size() != 1 && args.size() != 3)) {
        std::fputs("usage: bench_windows DEVICE [--starts N]\n", stderr);
        return 2;
    }
    const QString device = args[0];
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("velmars"), {QCoreApplication::applicationDirPath()});
    if (program.isEmpty()) {
        std::fputs("bench_windows: no velmars beside this program\n", stderr);
        return 2;
    }

    const std::vector<double> periods = pollPeriods(device);
    if (periods.size() < 20) {
        std::fprintf(stderr, "bench_windows: %zu cycles on %s\n", periods.size(),
                     qUtf8Printable(device));
        return 1;
    }
    std::printf("period_ms=%.1f wire_ms=%.1f cycles=%zu\n", median(periods), wireLimitMs(),
                periods.size());
    std::fflush(stdout);
    // The port is the program's from here on.
    QThread::msleep(500);

    std::vector<double> firsts;
    QStringList runs;
    for (int i = 0; i < starts; ++i) {
        const double ms = startToFirstSample(program, device);
        if (ms < 0) {
            std::fprintf(stderr, "bench_windows: start %d recorded no sample within 60 s\n", i + 1);
            return 1;
        }
        firsts.push_back(ms);
        runs << QString::number(ms, 'f', 0);
    }
    std::printf("first_sample_ms=%.0f starts=%d runs=%s\n", median(firsts), starts,
                qUtf8Printable(runs.join(u',')));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return shell::os::endProcess(run(argc, argv));
}
