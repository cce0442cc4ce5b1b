#pragma once
// The one owner of a worker thread (the line, the sample store, the event log, the runs, the
// alerts' delivery, the forwarding, the report and the chart's export): it makes the worker, starts
// its thread, hands it work as typed queued calls and ends it with a bounded wait. Every method is
// called from the thread that made the owner.
//
// The values that cross between the threads, in signals and in posted calls, need no
// qRegisterMetaType: moc keeps each signal's argument types, and Qt registers a type the first
// time it is queued. The one condition is that the type is complete (its header included, not
// declared ahead) where the signal is declared.

#include <QMetaObject>
#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace base {

// A name no other owner in this process uses, for a database connection of the worker's own. A
// thread left to end on its own keeps its name, so names are never reused.
inline QString uniqueName(const QString& prefix) {
    static std::atomic<quint64> next{1};
    return QStringLiteral("%1-%2").arg(prefix).arg(next.fetch_add(1));
}

// Takes over threads that are ending, instead of their owners waiting for them (a chamber ended
// while the UI goes on): it waits for them elsewhere, or not at all.
class EndingThreads {
  public:
    // thread was told to end after its last work; waitMs is how long its owner would have waited.
    virtual void adopt(QThread* thread, int waitMs) = 0;

  protected:
    ~EndingThreads() = default;
};

namespace detail {
inline thread_local EndingThreads* endingThreads = nullptr;
}

// While it lives, every WorkerThread ended on this thread hands its thread to `to` rather than
// waiting for it.
class HandEndingThreadsTo {
  public:
    explicit HandEndingThreadsTo(EndingThreads& to)
        : before_(std::exchange(detail::endingThreads, &to)) {}
    ~HandEndingThreadsTo() { detail::endingThreads = before_; }
    HandEndingThreadsTo(const HandEndingThreadsTo&) = delete;
    HandEndingThreadsTo& operator=(const HandEndingThreadsTo&) = delete;

  private:
    EndingThreads* before_;
};

template <class Worker>
class WorkerThread {
  public:
    static constexpr int kEndWaitMs = 3000;

    // Makes the worker from args; it lives on the thread from now on, and runs what is posted to
    // it once start() was called.
    template <class... Args>
    explicit WorkerThread(const QString& name, Args&&... args)
        : thread_(new QThread), worker_(new Worker(std::forward<Args>(args)...)) {
        thread_->setObjectName(name);
        worker_->moveToThread(thread_);
        QObject::connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    }
    ~WorkerThread() { end(); }

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // For connecting the worker's signals; null once the thread was ended.
    Worker* worker() const { return worker_; }
    bool started() const { return started_; }

    // Starts the thread once; does nothing after end().
    void start() {
        if (started_ || !thread_) return;
        started_ = true;
        thread_->start();
    }

    // Queues fn(worker) on the thread behind everything posted before; posted before start() it
    // runs once the thread starts. Dropped after end().
    template <class F>
    void post(F&& fn) {
        if (!worker_) return;
        Worker* w = worker_;
        QMetaObject::invokeMethod(
            w, [w, fn = std::forward<F>(fn)]() mutable { fn(*w); }, Qt::QueuedConnection);
    }
    // Queues worker->method(args...) with copies of args.
    template <class... P, class... A>
    void post(void (Worker::*method)(P...), A&&... args) {
        post([method, ... args = std::forward<A>(args)](Worker& w) mutable {
            (w.*method)(args...);
        });
    }

    // Runs fn(worker) on the thread behind what was posted before and waits at most waitMs for
    // it. Returns its result (true for a void fn), or nothing when it did not come in time (it
    // still runs later) or the thread was ended. Not for the UI thread where the worker may be
    // waiting on a disk or a line.
    template <class F>
    auto call(F fn, int waitMs) {
        using R = std::invoke_result_t<F&, Worker&>;
        using Out = std::conditional_t<std::is_void_v<R>, bool, R>;
        struct Answer {
            QSemaphore done;
            std::optional<Out> value;
        };
        if (!worker_ || !started_) return std::optional<Out>();
        if (QThread::currentThread() == thread_) return std::optional<Out>(invoke(fn, *worker_));
        auto answer = std::make_shared<Answer>();
        post([answer, fn = std::move(fn)](Worker& w) mutable {
            answer->value = invoke(fn, w);
            answer->done.release();
        });
        if (!answer->done.tryAcquire(1, waitMs)) return std::optional<Out>();
        return std::move(answer->value);
    }

    // Ends the thread: `last` runs on it behind everything already posted, so that work handed
    // over before is still done; then the thread ends its own loop (a quit from here could end it
    // before them). Waits at most waitMs and returns whether the thread ended. A thread still
    // stuck (a file or a line that hangs beyond every timeout) is left to end on its own, since
    // killing it could leave SQLite's heap or the port in any state; it and its worker delete
    // themselves when it does. A thread never started has its worker deleted at once. Safe to call
    // twice; nothing is posted afterwards. Within HandEndingThreadsTo, nothing waits here: the
    // thread goes to the keeper named there, and end() returns false.
    bool end(int waitMs = kEndWaitMs, std::function<void(Worker&)> last = {}) {
        QThread* thread = std::exchange(thread_, nullptr);
        Worker* w = std::exchange(worker_, nullptr);
        if (!thread) return true;
        if (!started_) {
            delete w;
            delete thread;
            return true;
        }
        QMetaObject::invokeMethod(
            w,
            [w, last = std::move(last)] {
                if (last) last(*w);
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
        if (detail::endingThreads) {
            // Its new keeper deletes the thread once it ended; the worker goes with finished().
            detail::endingThreads->adopt(thread, waitMs);
            return false;
        }
        if (thread->wait(waitMs)) {
            delete thread;  // its worker went with its finished()
            return true;
        }
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        if (thread->isFinished()) thread->deleteLater();
        return false;
    }

  private:
    template <class F>
    static auto invoke(F& fn, Worker& w) {
        if constexpr (std::is_void_v<std::invoke_result_t<F&, Worker&>>) {
            fn(w);
            return true;
        } else {
            return fn(w);
        }
    }
    QThread* thread_;
    Worker* worker_;
    bool started_ = false;
};

}  // namespace base
