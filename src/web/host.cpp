#include "web/host.h"

#include <QThread>
#include <atomic>

#include "access/userstore.h"

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
    return o;
}

QByteArray Host::login(const QString& user, const QString& password) {
    // On the server's thread, with a connection of its own; the store counts failures and locks
    // accounts as for a login at the PC.
    static std::atomic<quint64> next{0};
    auth::UserStore store(setup_.userStore, QStringLiteral("web-login-%1").arg(++next));
    if (store.open(/*create=*/false) != auth::StoreState::Ready) return "unusable";
    if (!store.accessControl()) return "no_access_control";
    switch (store.authenticate(user, password)) {
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
    idleMinutes_ = store.idleLockMinutes();
    return {};
}

bool Host::start(QString* error) {
    if (!feed_) feed_ = std::make_unique<Feed>(fleet_, hub_);
    return server_.start(error);
}

void Host::stop() {
    server_.stop();
    feed_.reset();
}

}  // namespace web
