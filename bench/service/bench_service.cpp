// The service on its own: velmars-service, a process of its own as the system starts it, records
// 16 chambers at addresses 1..16 on one simulated line at 19200 baud with wire timing (the
// simulator in this process), in a temporary data folder.
//  1. Restarts: SIGTERM, then the service started again at once. From the signal until every
//     chamber has stored a sample again, and the seconds missing in each chamber's archive (read
//     from the database files).
//  2. Over a period (10 minutes by default): the service's resident memory (VmRSS, the most of a
//     reading each second) and its CPU time (utime + stime of all its threads) as a share of one
//     core.
//  3. Meanwhile, a client attached to its local channel (the class an attached window uses) and
//     one chamber's set value changed in the simulator at a time: from the service's read of the
//     new value (the simulator's answer carrying it gone out on the line) to the client having the
//     chamber's state with it.
//   build/bin/bench_service [seconds]   (the period of 2 and 3; default 600)
// Exit status 0 when every target is met.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "chamber/fleetstart.h"
#include "service/channelclient.h"
#include "sim/server.h"

namespace {

constexpr int kChambers = 16;
constexpr int kBaud = 19200;
constexpr int kRestarts = 5;
// Targets.
constexpr double kRestartTargetS = 3.0;
constexpr double kRssTargetMb = 150.0;
constexpr double kCpuTargetPct = 5.0;
constexpr double kLatencyTargetMs = 200.0;

double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop for ms milliseconds.
void spin(double ms) {
    const double end = nowMs() + ms;
    while (nowMs() < end)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

QString chamberName(int address) {
    return QStringLiteral("C%1").arg(address);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// A chamber's archive, read through a connection of the benchmark's own.
class Archive {
  public:
    explicit Archive(QString path)
        : path_(std::move(path)), name_(QStringLiteral("bench-%1").arg(++count_)) {}
    ~Archive() {
        if (!opened_) return;
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    // The newest stored second, -1 while there is none.
    qint64 newest() { return second(QStringLiteral("SELECT max(t) FROM archive"), 0); }
    // The first stored second after t, -1 when there is none.
    qint64 firstAfter(qint64 t) {
        return second(QStringLiteral("SELECT min(t) FROM archive WHERE t > ?"), t);
    }

  private:
    qint64 second(const QString& sql, qint64 bound) {
        if (!opened_) {
            if (!QFileInfo::exists(path_)) return -1;
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
            db.setDatabaseName(path_);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
            opened_ = true;
            if (!db.open()) return -1;
        }
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (!db.isOpen() && !db.open()) return -1;
        QSqlQuery q(db);
        q.prepare(sql);
        if (sql.contains(u'?')) q.addBindValue(bound);
        if (!q.exec() || !q.next() || q.value(0).isNull()) return -1;
        return q.value(0).toLongLong();
    }
    QString path_, name_;
    bool opened_ = false;
    static inline int count_ = 0;
};

// The resident memory of a process in MB.
double rssMb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// The CPU time of a process (utime + stime of all its threads) in seconds.
double cpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command's name in parentheses, from the third (the state) on.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// The service as the system runs it; its messages go to a file beside the data folder.
class ServiceProcess {
  public:
    ServiceProcess(QString program, QStringList args, QString log)
        : program_(std::move(program)), args_(std::move(args)), log_(std::move(log)) {}
    bool start() {
        process_ = std::make_unique<QProcess>();
        process_->setStandardOutputFile(log_, QIODevice::Append);
        process_->setStandardErrorFile(log_, QIODevice::Append);
        process_->start(program_, args_);
        return process_->waitForStarted(30000);
    }
    qint64 pid() const { return process_ ? process_->processId() : 0; }
    // SIGTERM, and the end waited for; true when it ended with exit status 0.
    bool stop() {
        if (!process_ || process_->state() == QProcess::NotRunning) return false;
        ::kill(pid_t(process_->processId()), SIGTERM);
        return process_->waitForFinished(60000) && process_->exitStatus() == QProcess::NormalExit &&
               process_->exitCode() == 0;
    }
    bool running() const { return process_ && process_->state() == QProcess::Running; }

  private:
    QString program_;
    QStringList args_;
    QString log_;
    std::unique_ptr<QProcess> process_;
};

// One set value changed in the simulator at a time, from the server's thread: armed for an
// address, the change is made as the next answer to that address goes out, and the next answer
// with its 3X 3 after that is the service's read of the new value.
struct Probe {
    enum Stage { Idle, Armed, Changed, Read };
    std::atomic<int> address{0};
    std::atomic<int> value{0};
    std::atomic<int> stage{Idle};
    std::atomic<double> readAtMs{0};
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
    const QString serviceProgram =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("velmars-service"));
    if (!QFileInfo(serviceProgram).isExecutable()) {
        std::fprintf(stderr, "bench_service: no %s\n", qUtf8Printable(serviceProgram));
        return 2;
    }
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString log = dir.filePath(QStringLiteral("service.log"));

    Probe probe;
    std::atomic<sim::SimServer*> simulator{nullptr};
    sim::ServerOptions o;
    o.baud = kBaud;
    o.wireTiming = true;
    for (int a = 1; a <= kChambers; ++a)
        o.addresses.push_back(a);
    o.readAnswered = [&](int address, sim::Area area, int first, int count) {
        if (address != probe.address) return;
        if (probe.stage == Probe::Armed) {
            simulator.load()->withInstrument(
                address, [&](sim::Instrument& i) { i.setHoldingRegister(1, probe.value); });
            probe.stage = Probe::Changed;
        } else if (probe.stage == Probe::Changed && area == sim::Area::InputRegisters &&
                   first <= 3 && first + count > 3) {
            probe.readAtMs = nowMs();
            probe.stage = Probe::Read;
        }
    };
    sim::SimServer server(o);
    simulator = &server;
    std::string why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "bench_service: simulator: %s\n", why.c_str());
        return 2;
    }

    QStringList args{QStringLiteral("--data"), data, QStringLiteral("--port"),
                     QStringLiteral("1=") + QString::fromStdString(server.device())};
    std::vector<std::unique_ptr<Archive>> archives;
    for (int a = 1; a <= kChambers; ++a) {
        args << QStringLiteral("--chamber")
             << QStringLiteral("%1=1,%2,%3").arg(chamberName(a)).arg(a).arg(kBaud);
        archives.push_back(std::make_unique<Archive>(chamber::databasePath(data, chamberName(a))));
    }
    ServiceProcess service(serviceProgram, args, log);
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "bench_service: %s (the service's messages: %s)\n", what,
                     qUtf8Printable(log));
        dir.setAutoRemove(false);
        service.stop();
        return 2;
    };
    // Polls the archives until every chamber stored a second after since[i] (-1: any); the time
    // the first and the last did, from start, or -1 when they did not within the bound.
    const auto waitForSamples = [&](const std::vector<qint64>& since, double start,
                                    double* firstMs) {
        std::vector<bool> done(kChambers, false);
        int left = kChambers;
        *firstMs = -1;
        while (left > 0 && nowMs() - start < 120000) {
            for (int i = 0; i < kChambers; ++i) {
                if (done[std::size_t(i)]) continue;
                if (archives[std::size_t(i)]->newest() > since[std::size_t(i)]) {
                    done[std::size_t(i)] = true;
                    --left;
                    if (*firstMs < 0) *firstMs = nowMs() - start;
                }
            }
            if (left > 0) QThread::msleep(10);
        }
        return left == 0 ? nowMs() - start : -1.0;
    };

    if (!service.start()) return fail("the service did not start");
    double firstMs = 0;
    if (waitForSamples(std::vector<qint64>(kChambers, -1), nowMs(), &firstMs) < 0)
        return fail("the chambers did not record");

    // 1. Restarts, each after a few seconds of recording, the signal at another point of the
    // second.
    double worstRestartS = 0;
    qint64 worstMissing = 0;
    for (int r = 0; r < kRestarts; ++r) {
        spin(4000 + 230 * r);
        const double signalled = nowMs();
        if (!service.stop()) return fail("the service did not stop cleanly");
        const double stoppedMs = nowMs() - signalled;
        std::vector<qint64> last;
        for (auto& a : archives)
            last.push_back(a->newest());
        if (!service.start()) return fail("the service did not start again");
        const double allMs = waitForSamples(last, signalled, &firstMs);
        if (allMs < 0) return fail("the chambers did not record again");
        qint64 missing = 0;
        for (int i = 0; i < kChambers; ++i)
            missing = std::max(missing, archives[std::size_t(i)]->firstAfter(last[std::size_t(i)]) -
                                            last[std::size_t(i)] - 1);
        std::printf(
            "restart %d: stopped after %.2f s; from SIGTERM to the first chamber's sample %.2f s, "
            "to every chamber's %.2f s; %lld s missing (the most of any chamber)\n",
            r + 1, stoppedMs / 1000, firstMs / 1000, allMs / 1000, qlonglong(missing));
        std::fflush(stdout);
        worstRestartS = std::max(worstRestartS, allMs / 1000);
        worstMissing = std::max(worstMissing, missing);
    }

    // 2. and 3.: attached, then measured over the period.
    service::ChannelClient client(data);
    client.start();
    for (const double start = nowMs(); !client.attached() && nowMs() - start < 60000;)
        spin(50);
    if (!client.attached()) return fail("the client did not attach");
    spin(5000);

    std::vector<double> latencies;
    int lost = 0;
    double probeStarted = 0;
    int nextAddress = 0;
    QTimer nextProbe;
    nextProbe.setSingleShot(true);
    QObject::connect(&nextProbe, &QTimer::timeout, [&] {
        const int address = nextAddress % kChambers + 1;
        ++nextAddress;
        const int now =
            server.withInstrument(address, [](sim::Instrument& i) { return i.holdingRegister(1); });
        probe.value = now % 2 == 0 ? now + 1 : now - 1;
        probe.address = address;
        probeStarted = nowMs();
        probe.stage = Probe::Armed;
    });
    // The next probe after a pause that moves it against the line's polls.
    const auto again = [&] {
        probe.stage = Probe::Idle;
        probe.address = 0;
        nextProbe.start(300 + (nextAddress * 137) % 600);
    };
    QObject::connect(&client, &service::ChannelClient::stateChanged,
                     [&](const QString& chamber, const QJsonObject& state) {
                         if (probe.stage != Probe::Read || chamber != chamberName(probe.address))
                             return;
                         const QJsonObject loop = state.value("loops").toArray().at(0).toObject();
                         const double scale = std::pow(10.0, loop.value("decimals").toInt());
                         if (std::lround(loop.value("sv").toDouble() * scale) != probe.value)
                             return;
                         latencies.push_back(nowMs() - probe.readAtMs);
                         again();
                     });
    QTimer overdue;
    QObject::connect(&overdue, &QTimer::timeout, [&] {
        if (probe.stage != Probe::Idle && nowMs() - probeStarted > 10000) {
            ++lost;
            again();
        }
    });
    overdue.start(1000);

    const qint64 pid = service.pid();
    double mostRssMb = rssMb(pid), lastRssMb = mostRssMb;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        lastRssMb = rssMb(pid);
        mostRssMb = std::max(mostRssMb, lastRssMb);
    });
    sampler.start(1000);
    const double cpuFrom = cpuSeconds(pid);
    const double from = nowMs();
    nextProbe.start(0);
    spin(seconds * 1000);
    const double cpuUsed = cpuSeconds(pid) - cpuFrom;
    const double period = (nowMs() - from) / 1000;
    sampler.stop();
    overdue.stop();
    nextProbe.stop();
    const bool stopped = service.stop();

    const double cpuPct = cpuUsed / period * 100;
    const double latencyMs = percentile(latencies, 0.5);
    std::printf(
        "16 chambers at %d baud for %.0f s: rss %.1f MB at most (%.1f MB at the end); cpu %.1f s, "
        "%.2f %% of one core; stopped cleanly: %s\n"
        "attach latency from the service's read: median %.0f ms, p90 %.0f ms, most %.0f ms "
        "(%zu changes seen, %d not within 10 s)\n",
        kBaud, period, mostRssMb, lastRssMb, cpuUsed, cpuPct, stopped ? "yes" : "no", latencyMs,
        percentile(latencies, 0.9), percentile(latencies, 1.0), latencies.size(), lost);
    std::printf(
        "bench_service: restart gap %.1f s; 16 chambers rss %.0f MB cpu %.1f %%; attach latency "
        "%.0f ms\n",
        worstRestartS, mostRssMb, cpuPct, latencyMs);
    const bool met = worstRestartS <= kRestartTargetS && worstMissing <= kRestartTargetS &&
                     mostRssMb > 0 && mostRssMb <= kRssTargetMb && cpuPct <= kCpuTargetPct &&
                     !latencies.empty() && latencyMs <= kLatencyTargetMs && stopped;
    return met ? 0 : 1;
}
