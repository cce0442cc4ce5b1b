#include "auth/sessionkeeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPointer>

#include "auth/actor.h"
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
        v.seqAtOpen = seqAtOpen;
        if (store.state() == StoreState::Ready) {
            v.idleMinutes = store.idleLockMinutes();
            v.reasons = store.reasons();
            if (!v.userId.isEmpty())
                if (const auto a = store.account(v.userId)) v.fullName = a->fullName;
            const QList<Account> accounts = store.accounts();
            v.hasAccounts = !accounts.isEmpty();
            for (const Account& a : accounts)
                v.fullNames.insert(a.userId, a.fullName);
        }
        return v;
    }

    // What the commands re-check their actors against: the accounts as the file holds them
    // now (nothing known without a store that can be read). False when the read failed (the
    // file busy): the accounts told before stay, never none, which would let every actor's own
    // role decide.
    bool publish() {
        if (store.state() != StoreState::Ready) {
            publishAccounts(std::nullopt);
            return true;
        }
        // No account at all is a read that failed (a store without one is not controlled).
        const QList<Account> accounts = store.accounts();
        if (accounts.isEmpty()) return false;
        QHash<QString, AccountNow> now;
        for (const Account& a : accounts)
            now.insert(a.userId.toCaseFolded(), {a.role, !a.disabled && !a.locked()});
        publishAccounts(std::move(now));
        return true;
    }

    // The store's rows not yet told.
    QList<AccessEvent> newEvents() {
        QList<AccessEvent> out = store.eventsAfter(seen);
        if (!out.isEmpty()) seen = out.last().seq;
        return out;
    }

    mutable UserStore store;
    Session session{store};
    QPointer<SessionKeeper> owner;          // set before the thread starts
    QFileSystemWatcher* watcher = nullptr;  // made on the worker's thread
    qint64 seen = 0;
    qint64 seqAtOpen = 0;
    qint64 version = -1;  // the store's data version when last looked at
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
    thread_->worker()->owner = this;
    thread_->start();
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &SessionKeeper::refresh);
}

void SessionKeeper::refresh() {
    if (!view_.opened) return;
    thread_->post([](Worker& w) { look(w); });
}

void SessionKeeper::look(Worker& w) {
    const StoreState was = w.store.state();
    if (was == StoreState::Missing && QFileInfo::exists(w.store.path())) {
        // A store made since the open (access control switched on by another program): taken up
        // now, every row of it new.
        w.store.open(/*create=*/false);
        watch(w);
    }
    const qint64 version = w.store.dataVersion();
    if (version == w.version && w.store.state() == was) return;
    // A read that failed is tried again at the next look.
    if (!w.publish()) return;
    w.version = version;
    const bool changed = w.session.recheck() || w.store.state() != was;
    // New rows, or a session that changed, reach the UI thread; nothing else is sent.
    if (changed || w.store.lastEventSeq() > w.seen) deliver(w, nullptr);
}

void SessionKeeper::watch(Worker& w) {
    // A change of the file (its write-ahead log takes every commit) is looked at as soon as the
    // system tells it, on the worker's thread; the timer is there for what it does not tell.
    if (!w.watcher) {
        w.watcher = new QFileSystemWatcher(&w);
        connect(w.watcher, &QFileSystemWatcher::fileChanged, &w, [&w] {
            watch(w);
            look(w);
        });
    }
    const QString path = w.store.path();
    for (const QString& file : {path, path + QStringLiteral("-wal")})
        if (!w.watcher->files().contains(file) && QFileInfo::exists(file)) w.watcher->addPath(file);
}

SessionKeeper::~SessionKeeper() {
    // Nobody watches the store once the worker has ended.
    thread_.reset();
    publishAccounts(std::nullopt);
}

void SessionKeeper::deliver(Worker& w, std::function<void()> then) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self = w.owner, v = w.view(), events = w.newEvents(), then = std::move(then)] {
            if (!self) return;
            self->view_ = v;
            for (const AccessEvent& e : events)
                emit self->audited(e);
            if (then) then();
            emit self->changed();
        },
        Qt::QueuedConnection);
}

template <class F>
void SessionKeeper::run(F fn, Done done) {
    thread_->post([fn = std::move(fn), done = std::move(done)](Worker& w) mutable {
        const Outcome o = fn(w);
        w.publish();  // this program's own changes count before anyone is told of them
        deliver(w, [o, done = std::move(done)] {
            if (done) done(o);
        });
    });
}

void SessionKeeper::open() {
    refreshTimer_->start();
    run(
        [](Worker& w) {
            const StoreState s = w.store.open(/*create=*/false);
            watch(w);
            // Every row the store holds is told once (the chambers' logs keep what they lack,
            // rows written before the program ran among them); those up to here are older.
            w.seqAtOpen = w.store.lastEventSeq();
            w.seen = 0;
            return s == StoreState::Unusable ? Outcome::Unusable : Outcome::Done;
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
    thread_->post([now](Worker& w) {
        if (w.session.lockIfIdle(now)) deliver(w, nullptr);
    });
}

void SessionKeeper::loadAccounts(std::function<void(const Accounts&)> done) {
    thread_->post([done = std::move(done)](Worker& w) {
        Accounts a;
        if (w.store.state() == StoreState::Ready) {
            a.accounts = w.store.accounts();
            a.expiryDays = w.store.passwordExpiryDays();
            a.idleMinutes = w.store.idleLockMinutes();
            a.reviewerMayApprove = w.store.reviewerMayApprove();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = w.owner, a = std::move(a), done] {
                if (self && done) done(a);
            },
            Qt::QueuedConnection);
    });
}

void SessionKeeper::administer(AdminWork work, Done done) {
    run(
        [work = std::move(work)](Worker& w) {
            if (w.session.state() != Session::State::Active) return Outcome::NotAllowed;
            return work(w.store, w.session.userId());
        },
        std::move(done));
}

void SessionKeeper::createFirstAdmin(const QString& userId, const QString& fullName,
                                     const QString& password, Done done) {
    run(
        [userId, fullName, password](Worker& w) {
            if (w.store.state() == StoreState::Missing) {
                QDir().mkpath(QFileInfo(w.store.path()).path());
                if (w.store.open(/*create=*/true) != StoreState::Ready) return Outcome::Unusable;
                watch(w);
            }
            return w.store.createFirstAdmin(userId, fullName, password);
        },
        std::move(done));
}

void SessionKeeper::switchOn(const QString& userId, const QString& password, Done done) {
    run(
        [userId, password](Worker& w) {
            const Outcome o = w.store.authenticate(userId, password);
            return o == Outcome::Done ? w.store.setAccessControl(userId, true) : o;
        },
        std::move(done));
}

}  // namespace auth
