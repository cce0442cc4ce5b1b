#pragma once
// The end of a worker object's thread (the line, the event log, the runs, the alerts' delivery),
// called from the thread that started it.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <functional>

namespace base {

// `last` runs on the worker's thread behind everything already queued to it, so that a write, an
// event or a run handed over before is still done; then the worker's thread ends its own loop (a
// quit from here could end it before them). Waits at most waitMs; the thread is then deleted and
// true returned. A thread still stuck (a file or a line that hangs beyond every timeout) is left
// to end on its own, since killing it could leave SQLite's heap or the port in any state, and
// deletes itself when it does. Without a worker the thread is simply asked to quit.
inline bool endWorkerThread(QThread* thread, QObject* worker, std::function<void()> last,
                            int waitMs) {
    if (worker)
        QMetaObject::invokeMethod(
            worker,
            [last = std::move(last)] {
                if (last) last();
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
    else
        thread->quit();
    if (thread->wait(waitMs)) {
        delete thread;
        return true;
    }
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->isFinished()) thread->deleteLater();
    return false;
}

}  // namespace base
