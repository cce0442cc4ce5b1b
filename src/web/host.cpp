#include "web/host.h"

#include <QThread>
#include <atomic>
#include <chrono>

#include "auth/actor.h"
#include "auth/credentials.h"
#include "chamber/commands.h"

namespace web {

Host::Host(chamber::Fleet& fleet, HostSetup setup, QObject* parent)
    : QObject(parent),
      setup_(std::move(setup)),
      server_(hub_, setup_.listen, options()),
      fleet_(fleet) {}

Host::~Host() {
    stop();
}

ApiOptions Host::options() {
    ApiOptions o;
    o.version = setup_.version.isEmpty() ? QStringLiteral(VELMARS_VERSION) : setup_.version;
    o.accessControl = [this] { return accessControl_.load(); };
    o.idleMs = [this] { return qint64(idleMinutes_.load()) * 60000; };
    o.tokens = [this] {
        if (!setup_.settings) return QMap<QString, QByteArray>{};
        return readTokens(*setup_.settings());
    };
    o.login = [this](const QString& user, const QString& password) {
        return login(user, password);
    };
    o.acknowledge = [this](const QString& chamber, const QString& alertId, const QString& comment,
                           const Reader& by, const QString& password) {
        return acknowledge(chamber, alertId, comment, by, password);
    };
    o.usersPath = setup_.userStore;
    return o;
}

QByteArray checkLogin(const QString& usersPath, const QString& user, const QString& password,
                      int* idleMinutes) {
    const auth::CredentialCheck c = auth::checkCredentials(usersPath, user, password);
    if (c.store != auth::StoreState::Ready) return "unusable";
    if (!c.controlled) return "no_access_control";
    switch (c.outcome) {
        case auth::Outcome::Done:
            break;
        case auth::Outcome::MustChange:
            return "must_change";
        case auth::Outcome::Locked:
            return "locked";
        case auth::Outcome::Unusable:
            return "unusable";
        default:
            return "refused";
    }
    if (idleMinutes) *idleMinutes = c.idleMinutes;
    return {};
}

QByteArray Host::login(const QString& user, const QString& password) {
    int idle = idleMinutes_;
    const QByteArray refused = checkLogin(setup_.userStore, user, password, &idle);
    idleMinutes_ = idle;
    return refused;
}

QByteArray Host::acknowledge(const QString& chamber, const QString& alertId, const QString& comment,
                             const Reader& by, const QString& password) {
    // Without access control the reader may (the row names the token it read with); with it,
    // the user's password again, as in the windows, and the role the store gives them now.
    auth::Actor actor{false, by.user, {}};
    if (accessControl_) {
        if (password.isEmpty()) return "password";
        const auth::CredentialCheck c = auth::checkCredentials(setup_.userStore, by.user, password);
        if (c.store != auth::StoreState::Ready) return "unavailable";
        // Switched off since the host last looked: the reader may, as without access control.
        if (c.controlled) {
            if (c.outcome == auth::Outcome::Locked) return "locked";
            if (c.outcome != auth::Outcome::Done) return "password";
            if (!c.role) return "refused";
            actor = auth::Actor::user(by.user, *c.role);
        }
    }
    // The command runs on the chambers' thread; this thread waits for its outcome, a while, and
    // not beyond the server's stop (which the chambers' thread may be waiting in). One not run by
    // then is not run at all: what the client is told is what happened.
    auto pending = std::make_shared<PendingAcknowledgement>();
    QMetaObject::invokeMethod(
        this,
        [this, chamber, alertId, comment, actor, pending] {
            std::lock_guard<std::mutex> lock(ackMutex_);
            if (pending->abandoned) return;
            chamber::Chamber* c = fleet_.chamber(chamber);
            pending->outcome =
                c ? c->acknowledgeAlert(alertId, comment, actor) : chamber::Outcome::NotFound;
            ackChanged_.notify_all();
        },
        Qt::QueuedConnection);
    std::optional<chamber::Outcome> outcome;
    {
        std::unique_lock<std::mutex> lock(ackMutex_);
        ackChanged_.wait_for(lock, std::chrono::milliseconds(kAcknowledgeWaitMs),
                             [&] { return pending->outcome || stopping_; });
        outcome = pending->outcome;
        pending->abandoned = !outcome;
    }
    if (!outcome) return "unavailable";
    switch (*outcome) {
        case chamber::Outcome::Done:
            return {};
        case chamber::Outcome::Refused:
            return "refused";
        case chamber::Outcome::NotFound:
            return "not_found";
        case chamber::Outcome::Invalid:
            return "invalid";
        case chamber::Outcome::NotRecording:
            return "not_recording";
        default:
            return "unavailable";
    }
}

bool Host::start(QString* error) {
    {
        std::lock_guard<std::mutex> lock(ackMutex_);
        stopping_ = false;
    }
    if (!feed_) feed_ = std::make_unique<Feed>(fleet_, hub_);
    return server_.start(error);
}

void Host::stop() {
    // Acknowledgements waiting for this thread give up first: the server's stop waits for them.
    {
        std::lock_guard<std::mutex> lock(ackMutex_);
        stopping_ = true;
        ackChanged_.notify_all();
    }
    server_.stop();
    feed_.reset();
}

}  // namespace web
