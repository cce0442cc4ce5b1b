// Soak run of the recorder and of the whole program.
//
//   bench_soak [minutes] [--store-only | --program-only]
//
// 1. The recorder and its store at full speed: a hand-moved clock advances one second per tick
//    through two full laps of the ring (131000 samples). At the end the ring holds the second lap
//    in order and the counter row names its last record; the cost per sample (the tick and its
//    synced commit on the store thread) of the first and the last tenth of the second lap are
//    compared.
// 2. The program as it runs for an operator (the main window, the link polling the built-in
//    simulated instrument, the recorder on the real clock) for the given minutes (30 by default):
//    resident memory, open file descriptors and database connections are sampled every 10 s and
//    must stay flat after a warm-up; at the end every second of the run has its sample.
// Exit status 0 when every check passed.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

#include "base/oledate.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "store/clock.h"
#include "store/recorder.h"
#include "store/store.h"

namespace {

bool check(bool ok, const char* what) {
    std::printf("  %s  %s\n", ok ? "ok  " : "FAIL", what);
    return ok;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * (v.size() - 1))];
}

long residentKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int openFds() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                .size());
}

// Seconds since 1899-12-30 of a stored record.
qint64 secondsOf(double date, double time) {
    return static_cast<qint64>(std::llround(date * 86400.0 + time * 86400.0));
}

bool storeThroughTwoWraps(const QString& dir) {
    constexpr int kSamples = 2 * store::kRingSize;
    std::printf("recorder and store, %d samples at full speed (two laps of the ring)\n", kSamples);
    const QString path = dir + QStringLiteral("/wraps.db");
    const QDateTime start(QDate(2026, 3, 1), QTime(0, 0, 0));
    store::ManualClock clock(start);
    int n = 0;
    std::vector<double> costUs;
    costUs.reserve(kSamples);
    QElapsedTimer all;
    all.start();
    {
        store::Recorder rec(path, clock, [&n] {
            std::array<float, 10> v{};
            for (int i = 0; i < 10; ++i)
                v[i] = static_cast<float>(n + i);
            return v;
        });
        // No timer: the ticks are driven by hand; the first one opens the store. Each sample's cost
        // is the tick and its write on the store thread, committed and synced.
        QElapsedTimer t;
        for (n = 0; n < kSamples; ++n) {
            clock.advance(1);
            t.start();
            rec.tick();
            rec.waitForStore();
            costUs.push_back(t.nsecsElapsed() / 1000.0);
        }
    }
    const double seconds = all.elapsed() / 1000.0;

    // Tenths of the first lap (filling the ring) and of the second (overwriting the full ring).
    const size_t tenth = store::kRingSize / 10;
    const auto part = [&](size_t from) {
        return std::vector<double>(costUs.begin() + from, costUs.begin() + from + tenth);
    };
    const std::vector<double> filling = part(0), first = part(store::kRingSize),
                              last = part(costUs.size() - tenth);
    const double firstMed = quantile(first, 0.5), lastMed = quantile(last, 0.5);
    std::printf("  %.1f s in all, %.0f samples/s\n", seconds, kSamples / seconds);
    std::printf("  cost per sample, filling (first 10 %% of lap 1): median %.1f us, p99 %.1f us\n",
                quantile(filling, 0.5), quantile(filling, 0.99));
    std::printf(
        "  cost per sample, full ring (first 10 %% of lap 2): median %.1f us, p99 %.1f us\n",
        firstMed, quantile(first, 0.99));
    std::printf(
        "  cost per sample, full ring (last 10 %% of lap 2):  median %.1f us, p99 %.1f us\n",
        lastMed, quantile(last, 0.99));
    std::printf("  file size %.2f MB\n", QFileInfo(path).size() / 1048576.0);

    bool ok = true;
    // Flat: overwriting the full ring costs no more at the end of a lap than at its start. (Filling
    // costs less: with every commit synced, checkpoints that append to the file sync faster than
    // ones that write pages in place.)
    ok &=
        check(lastMed <= 2 * firstMed + 20,
              "cost per sample flat over a lap of the full ring (last median <= 2x first + 20 us)");

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(path);
    {
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT * FROM sl_void"));
        q.next();
        ok &=
            check(q.value(0).toInt() == store::kRingSize && q.value(1).toInt() == store::kRingSize,
                  "counter row 65500, both columns");
        q.exec(QStringLiteral("SELECT count(*), min(w_id), max(w_id) FROM pv_data"));
        q.next();
        ok &= check(q.value(0).toInt() == store::kRingSize && q.value(1).toInt() == 1 &&
                        q.value(2).toInt() == store::kRingSize,
                    "ring full: 65500 records numbered 1..65500");
        // Sample i (1-based) was taken at start + i s and stored as record (i - 1) % 65500 + 1;
        // the second lap holds samples 65501..131000, so record k is sample 65500 + k.
        q.setForwardOnly(true);
        q.exec(QStringLiteral("SELECT w_id, w_date, w_time, pv1 FROM pv_data ORDER BY w_id"));
        const qint64 base = secondsOf(base::oleDate(start.date()), base::oleTime(start.time()));
        int wrong = 0;
        while (q.next()) {
            const int k = q.value(0).toInt();
            const qint64 sample = store::kRingSize + k;
            if (secondsOf(q.value(1).toDouble(), q.value(2).toDouble()) - base != sample ||
                q.value(3).toDouble() != static_cast<double>(sample - 1))
                ++wrong;
        }
        ok &= check(wrong == 0, "every record holds its sample of the second lap");
        q.exec(
            QStringLiteral("SELECT w_id FROM pv_data ORDER BY w_date DESC, w_time DESC LIMIT 1"));
        q.next();
        ok &= check(q.value(0).toInt() == store::kRingSize, "the newest record is record 65500");
        q.exec(QStringLiteral("PRAGMA integrity_check"));
        q.next();
        ok &= check(q.value(0).toString() == QStringLiteral("ok"), "integrity_check ok");
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return ok;
}

struct Probe {
    double minute;
    long rssKb;
    int fds;
    int connections;
};

bool programSoak(const QString& dir, double minutes) {
    std::printf("program with the simulated instrument, %.1f minutes of real time\n", minutes);
    const QString path = dir + QStringLiteral("/soak.db");
    shell::Options options;
    options.simulate = true;
    options.connect = true;
    options.db = path;
    std::vector<Probe> probes;
    QElapsedTimer clock;
    QDateTime firstSecond;
    {
        shell::Application app(options);
        if (!app.start()) {
            std::printf("  cannot start: %s\n", qPrintable(app.error()));
            return false;
        }
        clock.start();
        QTimer probe;
        probe.setInterval(10000);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            probes.push_back({clock.elapsed() / 60000.0, residentKb(), openFds(),
                              static_cast<int>(QSqlDatabase::connectionNames().size())});
            const Probe& p = probes.back();
            std::printf("  %6.2f min  rss %7.1f MB  fds %3d  connections %d\n", p.minute,
                        p.rssKb / 1024.0, p.fds, p.connections);
            std::fflush(stdout);
        });
        probe.start();
        // Leaves through the Exit path, as the operator does (a plain quit is refused by the
        // main window, which only closes through Exit).
        QTimer::singleShot(static_cast<int>(minutes * 60000), &app, [&app, &probe] {
            probe.stop();  // the Exit path closes the connections; probes stop before it
            if (app.mainWindow())
                app.mainWindow()->exitProgram();
            else
                QCoreApplication::exit(0);
        });
        QApplication::exec();
    }

    bool ok = true;
    // Warm-up: the first minute, or the first fifth of a shorter run.
    const double warm = std::min(1.0, minutes / 5);
    std::vector<Probe> settled;
    for (const Probe& p : probes)
        if (p.minute >= warm) settled.push_back(p);
    if (settled.size() < 2) return check(false, "too few probes after warm-up");
    auto [rMin, rMax] = std::minmax_element(settled.begin(), settled.end(),
                                            [](auto& a, auto& b) { return a.rssKb < b.rssKb; });
    auto [fMin, fMax] = std::minmax_element(settled.begin(), settled.end(),
                                            [](auto& a, auto& b) { return a.fds < b.fds; });
    auto [cMin, cMax] = std::minmax_element(settled.begin(), settled.end(), [](auto& a, auto& b) {
        return a.connections < b.connections;
    });
    std::printf("  after warm-up (%.1f min): rss %.1f..%.1f MB, fds %d..%d, connections %d..%d\n",
                warm, rMin->rssKb / 1024.0, rMax->rssKb / 1024.0, fMin->fds, fMax->fds,
                cMin->connections, cMax->connections);
    ok &= check(rMax->rssKb - rMin->rssKb <= 5 * 1024, "resident memory flat within 5 MB");
    ok &= check(fMax->fds == fMin->fds, "open file descriptors constant");
    ok &= check(cMax->connections == cMin->connections, "database connections constant");

    // Every second of the clock between the first and the last sample has its record.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("soak"));
    db.setDatabaseName(path);
    {
        db.open();
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec(QStringLiteral("SELECT w_date, w_time FROM pv_data ORDER BY w_date, w_time"));
        qint64 previous = -1, first = -1, last = -1;
        int rows = 0, gaps = 0, doubles = 0;
        while (q.next()) {
            const qint64 s = secondsOf(q.value(0).toDouble(), q.value(1).toDouble());
            if (previous >= 0) {
                if (s == previous)
                    ++doubles;
                else if (s != previous + 1) {
                    ++gaps;
                    if (gaps <= 5)
                        std::printf("  gap of %lld s after second %lld of the run\n",
                                    static_cast<long long>(s - previous),
                                    static_cast<long long>(previous - first));
                }
            } else {
                first = s;
            }
            previous = last = s;
            ++rows;
        }
        std::printf("  %d samples over %lld s of clock, %.1f s of real time\n", rows,
                    static_cast<long long>(last - first + 1), clock.elapsed() / 1000.0);
        ok &= check(gaps == 0 && doubles == 0 && rows == last - first + 1,
                    "one sample for every second, none twice");
        ok &= check(rows >= minutes * 60 - 5, "samples cover the run");
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("soak"));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    double minutes = 30;
    bool store = true, program = true;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--store-only"))
            program = false;
        else if (a == QLatin1String("--program-only"))
            store = false;
        else {
            bool ok = false;
            minutes = a.toDouble(&ok);
            if (!ok || minutes <= 0) {
                std::fprintf(stderr,
                             "usage: bench_soak [minutes] [--store-only | --program-only]\n");
                return 2;
            }
        }
    }
    QTemporaryDir dir;
    bool ok = true;
    if (store) ok &= storeThroughTwoWraps(dir.path());
    if (program) ok &= programSoak(dir.path(), minutes);
    std::printf("%s\n", ok ? "soak: all checks passed" : "soak: FAILED");
    return ok ? 0 : 1;
}
