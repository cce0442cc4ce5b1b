#include "chamber/teardown.h"

#include <QMetaObject>

#include "chamber/chamber.h"
#include "store/databaselock.h"

namespace chamber {

Teardown::Teardown(std::unique_ptr<Chamber> chamber, QObject* parent)
    : QObject(parent), dbPath_(chamber->databasePath()), lock_(chamber->releaseLock()) {
    {
        base::HandEndingThreadsTo keeper(*this);
        chamber.reset();
    }
    for (const Ending& e : threads_)
        connect(e.thread, &QThread::finished, this, &Teardown::reap, Qt::QueuedConnection);
    // A thread may have ended before it was heard; and the caller connects to finished() first.
    QMetaObject::invokeMethod(this, &Teardown::reap, Qt::QueuedConnection);
}

Teardown::~Teardown() {
    for (Ending& e : threads_) {
        if (!e.thread) continue;
        if (e.thread->wait(e.waitMs)) {
            delete e.thread;
        } else {
            QObject::connect(e.thread, &QThread::finished, e.thread, &QObject::deleteLater);
            if (e.thread->isFinished()) e.thread->deleteLater();
        }
    }
}

void Teardown::adopt(QThread* thread, int waitMs) {
    threads_.push_back({thread, waitMs});
}

void Teardown::reap() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->thread && !it->thread->isFinished()) {
            ++it;
            continue;
        }
        if (it->thread) {
            it->thread->wait();  // past its finished(): returns at once
            delete it->thread.data();
        }
        it = threads_.erase(it);
    }
    if (!threads_.empty() || done_) return;
    done_ = true;
    lock_.reset();
    emit finished();
}

}  // namespace chamber
