#pragma once
// The web server as a program hosts it: the hub, the feed from the fleet, and the server with who
// may read decided from the settings file (tokens) and the user store (access control, logins).
// Made on the chambers' thread once they run; ended before them.

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "chamber/fleet.h"
#include "web/feed.h"
#include "web/hub.h"
#include "web/server.h"
#include "web/webconfig.h"

namespace web {

// A login's check against the user store at usersPath, on the calling thread with a connection
// of its own (failures counted and accounts locked as for a login at the PC): "" when accepted,
// else "refused", "locked", "must_change", "no_access_control" or "unusable". *idleMinutes: the
// store's idle lock.
QByteArray checkLogin(const QString& usersPath, const QString& user, const QString& password,
                      int* idleMinutes = nullptr);

struct HostSetup {
    Listen listen;
    QString version;
    // The program's settings file (where the tokens are kept); opened on any thread.
    std::function<std::unique_ptr<QSettings>()> settings;
    // The user store's file (access control, logins and their lockout).
    QString userStore;
};

class Host : public QObject {
    Q_OBJECT
  public:
    // How long a request waits for its acknowledgement on the chambers' thread at most.
    static constexpr int kAcknowledgeWaitMs = 10000;

    Host(chamber::Fleet& fleet, HostSetup setup, QObject* parent = nullptr);
    ~Host() override;

    // Listens; false with a reason in *error.
    bool start(QString* error);
    // Ends the server without waiting for the chambers' thread: an acknowledgement still waiting
    // for it is not done (its request ends without an answer).
    void stop();
    QString url() const { return server_.url(); }
    int port() const { return server_.port(); }
    Hub& hub() { return hub_; }

    // The session as the program knows it (kept up to date by the program).
    void setAccessControl(bool on) { accessControl_ = on; }
    void setIdleMinutes(int minutes) { idleMinutes_ = minutes; }

  private:
    ApiOptions options();
    QByteArray login(const QString& user, const QString& password);
    QByteArray acknowledge(const QString& chamber, const QString& alertId, const QString& comment,
                           const Reader& by, const QString& password);

    // An acknowledgement handed to the chambers' thread: run there unless its request gave up.
    struct PendingAcknowledgement {
        std::optional<chamber::Outcome> outcome;
        bool abandoned = false;
    };

    HostSetup setup_;
    std::mutex ackMutex_;
    std::condition_variable ackChanged_;
    bool stopping_ = false;
    std::atomic<bool> accessControl_{false};
    std::atomic<int> idleMinutes_{0};
    Hub hub_;
    Server server_;
    std::unique_ptr<Feed> feed_;
    chamber::Fleet& fleet_;
};

}  // namespace web
