// The worker-thread owner: typed work runs on the worker's thread in the order posted, the end
// waits within its bound, a stuck thread cleans up after itself, a never started one at once.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <memory>
#include <vector>

#include "base/workerthread.h"

namespace {

struct Worker : QObject {
    explicit Worker(int base) : base(base) {}
    void add(int n, const QString& tag) {
        seen.push_back(base + n);
        tags.push_back(tag);
        threads.push_back(QThread::currentThread());
    }
    int base;
    std::vector<int> seen;
    QStringList tags;
    std::vector<QThread*> threads;
};

// Runs the event loop until done() or a generous timeout.
template <class F>
bool waitFor(F done) {
    QDeadlineTimer deadline(30000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(WorkerThread, TypedPostsRunOnTheThreadInOrderThenTheLastStep) {
    base::WorkerThread<Worker> owner(QStringLiteral("test"), 100);
    // Posted before the start: kept until the thread runs.
    owner.post(&Worker::add, 1, QStringLiteral("a"));
    owner.start();
    for (int i = 2; i <= 50; ++i)
        owner.post(&Worker::add, i, QString::number(i));
    owner.post([](Worker& x) { x.add(0, QStringLiteral("fn")); });
    EXPECT_EQ(owner.call([](Worker& x) { return x.seen.size(); }, 30000),
              std::optional<size_t>(51));

    std::vector<int> seen;
    QThread* ranOn = nullptr;
    ASSERT_TRUE(owner.end(30000, [&](Worker& x) {
        x.add(-100, QStringLiteral("last"));
        seen = x.seen;
        ranOn = x.threads.front();
        for (QThread* t : x.threads)
            if (t != ranOn) ranOn = nullptr;
    }));
    ASSERT_EQ(seen.size(), 52u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(seen[i], 101 + i);
    EXPECT_EQ(seen[50], 100);
    EXPECT_EQ(seen[51], 0);  // the last step comes behind everything posted
    EXPECT_NE(ranOn, nullptr);
    EXPECT_NE(ranOn, QThread::currentThread());
    EXPECT_EQ(owner.worker(), nullptr);
    // Ended: nothing more runs and a second end is harmless.
    owner.post(&Worker::add, 1, QString());
    EXPECT_FALSE(owner.call([](Worker&) {}, 100));
    EXPECT_TRUE(owner.end());
}

TEST(WorkerThread, AStuckThreadIsLeftToEndAndDeletesItselfWithItsWorker) {
    auto gate = std::make_shared<QSemaphore>();
    auto owner = std::make_unique<base::WorkerThread<Worker>>(QStringLiteral("stuck"), 0);
    QPointer<Worker> worker = owner->worker();
    QPointer<QThread> thread = worker->thread();
    owner->start();
    owner->post([gate](Worker&) { gate->acquire(); });
    auto lastRan = std::make_shared<std::atomic<bool>>(false);
    // The wait ends within its bound while the worker is held; the bound is not timed here.
    EXPECT_FALSE(owner->end(50, [lastRan](Worker&) { *lastRan = true; }));
    EXPECT_FALSE(owner->call([](Worker&) {}, 50));
    owner.reset();  // the owner goes; the thread is not its any more
    EXPECT_FALSE(thread.isNull());
    gate->release();
    EXPECT_TRUE(waitFor([&] { return thread.isNull() && worker.isNull(); }));
    EXPECT_TRUE(*lastRan);  // what was handed over is still done
}

TEST(WorkerThread, NeverStartedEndsAtOnceWithoutRunningItsWork) {
    auto ran = std::make_shared<bool>(false);
    QPointer<Worker> worker;
    {
        base::WorkerThread<Worker> owner(QStringLiteral("idle"), 0);
        worker = owner.worker();
        owner.post([ran](Worker&) { *ran = true; });
        EXPECT_FALSE(owner.call([](Worker&) {}, 50));  // would wait for nothing
        EXPECT_TRUE(owner.end(0, [ran](Worker&) { *ran = true; }));
        EXPECT_TRUE(worker.isNull());
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(*ran);
}

}  // namespace
