// Event log load: 1,000 events a second for 10 s logged from the window's thread while the recorder
// stores its sample every second into the same file. Prints the longest gap of the thread's event
// loop (a 1 ms timer), the samples stored and the rows in the table.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "events/eventlog.h"
#include "store/clock.h"
#include "store/recorder.h"

namespace {

// CPU time of the calling thread: a gap the thread spent waiting for a core is not work it did.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));

    store::SystemClock clock;
    store::Recorder recorder(path, clock, [] { return std::array<float, 10>{}; });
    events::EventLog log(path);
    log.start();
    const bool withRecorder = !qEnvironmentVariableIsSet("BENCH_NO_RECORDER");
    if (withRecorder) recorder.start();

    qint64 longestGap = 0;
    double longestBusy = 0, lastCpu = threadCpuMs();
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        const double cpu = threadCpuMs();
        if (gap > 20 && qEnvironmentVariableIsSet("BENCH_GAPS"))
            std::printf("gap %lld ms, %.2f ms CPU\n", static_cast<long long>(gap), cpu - lastCpu);
        longestGap = std::max(longestGap, gap);
        longestBusy = std::max(longestBusy, cpu - lastCpu);
        lastCpu = cpu;
    });

    // 1,000 events a second, in steps of 10 ms; a late step catches up.
    int sent = 0;
    QElapsedTimer run;
    QTimer source;
    source.setTimerType(Qt::PreciseTimer);
    source.setInterval(10);
    QObject::connect(&source, &QTimer::timeout, [&] {
        const qint64 due = std::min<qint64>(run.elapsed(), seconds * 1000LL);
        while (sent < due) {
            events::EventEntry e;
            e.kind = events::eventkind::kWrite;
            e.text = QStringLiteral("输入1 输入上限 → %1").arg(sent);
            e.reg = 4107;
            e.value = sent;
            e.status = 0;
            log.log(e);
            ++sent;
        }
    });

    const int firstRecord = recorder.lastRecordNo();
    sinceTick.start();
    run.start();
    lastCpu = threadCpuMs();
    probe.start();
    source.start();
    QTimer::singleShot(seconds * 1000, &app, [&] {
        source.stop();
        probe.stop();
        app.quit();
    });
    app.exec();
    const int samples = recorder.lastRecordNo() - firstRecord;
    const QString status = recorder.statusText();
    recorder.stop();

    QElapsedTimer settle;
    settle.start();
    while (log.storedCount() < sent && settle.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    std::printf("events logged %d, stored %lld; samples stored %d in %d s (%s)\n", sent,
                static_cast<long long>(log.storedCount()), samples, seconds,
                qUtf8Printable(status));
    std::printf(
        "longest event-loop gap of the logging thread: %lld ms wall, %.2f ms of its own CPU time "
        "(target <= 20 ms)\n",
        static_cast<long long>(longestGap), longestBusy);
    return longestBusy <= 20 && log.storedCount() == sent ? 0 : 1;
}
