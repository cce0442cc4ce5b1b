// Helper process for the recorder tests.
//   record_child record DB START  records into DB at a fast clock: the clock starts at START
//                                 (ISO date and time) and moves one second per 1 ms tick; prints
//                                 "ready" once the first sample is committed, then runs until
//                                 killed.
//   record_child lock DB          holds a write transaction on DB; prints "locked", then waits
//                                 until stdin closes or it is killed.
#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string>

#include "lockholder.h"
#include "store/clock.h"
#include "store/recorder.h"

namespace {

int runRecorder(const QString& db, const QString& start) {
    store::ManualClock clock(QDateTime::fromString(start, Qt::ISODate));
    int n = 0;
    store::Recorder rec(db, clock, [&n] {
        std::array<float, 10> v{};
        for (int i = 0; i < 10; ++i)
            v[i] = static_cast<float>(n * 10 + i);
        return v;
    });
    bool announced = false;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++n;
        clock.advance(1);
        rec.tick();
        // Ready once the first sample is committed; from then on the store thread gets a queue of
        // samples faster than it can write them.
        if (!announced && rec.waitForStore() &&
            rec.statusText().startsWith(QStringLiteral("记录中：第 "))) {
            announced = true;
            std::printf("ready\n");
            std::fflush(stdout);
        }
    });
    timer.start();
    return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("record"))
        return runRecorder(args[2], args[3]);
    if (args.size() == 3 && args[1] == QLatin1String("lock"))
        return testing_support::holdDatabaseLock(args[2], false);
    std::fprintf(stderr, "usage: record_child record DB START | lock DB\n");
    return 2;
}
