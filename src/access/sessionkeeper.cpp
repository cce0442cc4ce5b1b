#include "access/sessionkeeper.h"

#include <QElapsedTimer>
#include <QPointer>

#include "base/workerthread.h"

namespace auth {

class SessionKeeper::Worker : public QObject {
  public:
    explicit Worker(const QString& path) : store(path, base::uniqueName(QStringLiteral("users"))) {}

    View view() const {
        View v;
        v.opened = true;
        v.store = store.state();
        v.storeText = store.stateText();
        v.state = session.state();
        v.userId = session.userId();
        v.role = session.role();
        v.standing = session.standing();
        if (store.state() == StoreState::Ready) {
            v.idleMinutes = store.idleLockMinutes();
            v.reasons = store.reasons();
            if (!v.userId.isEmpty())
                if (const auto a = store.account(v.userId)) v.fullName = a->fullName;
        }
        return v;
    }

    mutable UserStore store;
    Session session{store};
};

struct SessionKeeper::Thread : base::WorkerThread<SessionKeeper::Worker> {
    using WorkerThread::WorkerThread;
};

SessionKeeper::SessionKeeper(const QString& path, std::function<qint64()> monoMs, QObject* parent)
    : QObject(parent), mono_(std::move(monoMs)) {
    if (!mono_) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        mono_ = [timer] { return timer->elapsed(); };
    }
    thread_ = std::make_unique<Thread>(QStringLiteral("users"), path);
    thread_->start();
}

SessionKeeper::~SessionKeeper() = default;

template <class F>
void SessionKeeper::run(F fn, Done done) {
    thread_->post([fn = std::move(fn), done = std::move(done),
                   self = QPointer<SessionKeeper>(this)](Worker& w) mutable {
        const Outcome o = fn(w);
        View v = w.view();
        QMetaObject::invokeMethod(
            self.data(),
            [self, o, v = std::move(v), done = std::move(done)] {
                if (!self) return;
                self->view_ = v;
                if (done) done(o);
                emit self->changed();
            },
            Qt::QueuedConnection);
    });
}

void SessionKeeper::open() {
    run(
        [](Worker& w) {
            return w.store.open(/*create=*/false) == StoreState::Unusable ? Outcome::Unusable
                                                                          : Outcome::Done;
        },
        nullptr);
}

void SessionKeeper::login(const QString& userId, const QString& password, Done done) {
    const qint64 now = mono_();
    run([userId, password, now](Worker& w) { return w.session.login(userId, password, now); },
        std::move(done));
}

void SessionKeeper::changePassword(const QString& oldPassword, const QString& newPassword,
                                   Done done) {
    const qint64 now = mono_();
    run([oldPassword, newPassword,
         now](Worker& w) { return w.session.changePassword(oldPassword, newPassword, now); },
        std::move(done));
}

void SessionKeeper::unlock(const QString& password, Done done) {
    const qint64 now = mono_();
    run([password, now](Worker& w) { return w.session.unlock(password, now); }, std::move(done));
}

void SessionKeeper::logout() {
    run(
        [](Worker& w) {
            w.session.logout();
            return Outcome::Done;
        },
        nullptr);
}

void SessionKeeper::setReasons(const QStringList& reasons, Done done) {
    run([reasons](Worker& w) { return w.store.setReasons(w.session.userId(), reasons); },
        std::move(done));
}

void SessionKeeper::touch() {
    const qint64 now = mono_();
    if (lastTouch_ >= 0 && now - lastTouch_ < 1000 && now >= lastTouch_) return;
    lastTouch_ = now;
    thread_->post([now](Worker& w) { w.session.touch(now); });
}

void SessionKeeper::checkIdle() {
    if (view_.state != Session::State::Active) return;
    const qint64 now = mono_();
    thread_->post([now, self = QPointer<SessionKeeper>(this)](Worker& w) {
        if (!w.session.lockIfIdle(now)) return;
        View v = w.view();
        QMetaObject::invokeMethod(
            self.data(),
            [self, v = std::move(v)] {
                if (!self) return;
                self->view_ = v;
                emit self->changed();
            },
            Qt::QueuedConnection);
    });
}

}  // namespace auth
