// Forwarding: how long a station takes to catch up a whole ring of 65,500 samples after an
// outage. Needs a PostgreSQL server: scripts/dev-postgres build/bin/bench_forward
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

#include "base/oledate.h"
#include "forward/forwarder.h"
#include "store/store.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString url = qEnvironmentVariable("VELMARS_PG_URL");
    QString why;
    const auto target = forward::parseTarget(url, &why);
    if (!target) {
        std::fprintf(stderr, "bench_forward: run through scripts/dev-postgres (%s)\n",
                     qPrintable(why));
        return 2;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    {
        store::SampleStore store(path, "bench-store");
        if (!store.open()) return 1;
    }
    // A full ring, one sample a second, written in one go.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fill");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec("BEGIN");
        q.prepare("INSERT INTO pv_data VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        const QDateTime t0(QDate(2026, 3, 1), QTime(0, 0));
        for (int i = 1; i <= store::kRingSize; ++i) {
            const QDateTime t = t0.addSecs(i);
            q.bindValue(0, i);
            q.bindValue(1, base::oleDate(t.date()));
            q.bindValue(2, base::oleTime(t.time()));
            for (int k = 0; k < 10; ++k)
                q.bindValue(3 + k, 250.0 + 0.1 * (i % 1000) + k);
            q.exec();
        }
        q.exec(QStringLiteral("UPDATE sl_void SET last_id = %1, last_id_copy = %1")
                   .arg(store::kRingSize));
        q.exec("COMMIT");
    }
    QSqlDatabase::removeDatabase("fill");

    const QString station = QStringLiteral("bench-%1-%2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(QDateTime::currentMSecsSinceEpoch());
    forward::ForwardWorker worker({*target, station, path, QTimeZone("Asia/Shanghai")});
    QElapsedTimer t;
    t.start();
    const bool done = worker.drain(300000);
    const double secs = t.elapsed() / 1000.0;
    std::printf("caught up %lld samples in %.2f s (%.0f samples/s)%s\n",
                static_cast<long long>(worker.sentSamples()), secs, worker.sentSamples() / secs,
                done ? "" : " - NOT finished");
    worker.finish();
    return done && worker.sentSamples() == store::kRingSize ? 0 : 1;
}
