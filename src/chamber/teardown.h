#pragma once
// A chamber ended while the program goes on (deleted from the overview): its parts go at once,
// and their threads finish what they were handed — the last sample, the last event, the exchange
// in flight — and end on their own, without the UI thread waiting on a disk or a line. The
// chamber's database lock is held until the last of them ended, so that nothing else records into
// the database before.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <memory>
#include <vector>

#include "base/workerthread.h"

namespace store {
class DatabaseLock;
}

namespace chamber {

class Chamber;

class Teardown : public QObject, private base::EndingThreads {
    Q_OBJECT
  public:
    explicit Teardown(std::unique_ptr<Chamber> chamber, QObject* parent = nullptr);
    // Waits for the threads still running, each as long as its owner would have (the program is
    // leaving); one stuck beyond that is left to end on its own.
    ~Teardown() override;

    QString databasePath() const { return dbPath_; }
    bool done() const { return done_; }

  signals:
    // Every thread of the chamber ended and its database lock is let go.
    void finished();

  private:
    void adopt(QThread* thread, int waitMs) override;
    void reap();

    struct Ending {
        QPointer<QThread> thread;
        int waitMs;
    };
    QString dbPath_;
    std::unique_ptr<store::DatabaseLock> lock_;
    std::vector<Ending> threads_;
    bool done_ = false;
};

}  // namespace chamber
