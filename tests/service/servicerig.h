#pragma once
// A service started for a test as the service manager starts it: the real executable with its
// data folder in a folder of the test's own, and a datagram socket standing in for the manager's
// notification socket, so that the test knows when the service records (READY=1).

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <signal.h>

#include "managersocket.h"

namespace servicetest {

class ServiceRig {
  public:
    ServiceRig() : manager_(dir_.filePath(QStringLiteral("notify"))) {
        env_.insert(QStringLiteral("NOTIFY_SOCKET"), dir_.filePath(QStringLiteral("notify")));
    }

    // A program built beside the tests (velmars, velmars-service).
    static QString bin(const QString& name) {
        return qEnvironmentVariable("VELMARS_BIN_DIR") + u'/' + name;
    }
    bool ready() const { return dir_.isValid() && manager_.bound(); }
    // The service's data folder, and its local channel there.
    QString data() const { return dir_.filePath(QStringLiteral("data")); }
    QString channel() const { return QDir(data()).filePath(QStringLiteral("velmars.sock")); }
    // A file in the test's own folder.
    QString path(const QString& name) const { return dir_.filePath(name); }
    ManagerSocket& manager() { return manager_; }
    // Passed to every service started from now on.
    void setEnv(const QString& key, const QString& value) { env_.insert(key, value); }

    // Starts velmars-service --data DATA with args (its output on the test's) and waits until
    // it told the manager it records; the messages until then go into seen.
    bool start(QProcess& service, const QStringList& args, QList<QByteArray>* seen = nullptr) {
        service.setProcessEnvironment(env_);
        service.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        service.start(bin(QStringLiteral("velmars-service")),
                      QStringList{QStringLiteral("--data"), data()} + args);
        return service.waitForStarted() && manager_.waitFor("READY=1", seen);
    }
    // Switches access control on in the data folder: the first administrator, as an
    // installation script makes one (velmars --create-admin, the password twice on its input).
    bool createAdmin(const QString& user, const QByteArray& password) const {
        QProcess admin;
        admin.start(bin(QStringLiteral("velmars")),
                    {QStringLiteral("--data"), data(), QStringLiteral("--create-admin"), user,
                     QStringLiteral("--full-name"), user});
        admin.write(password + '\n' + password + '\n');
        admin.closeWriteChannel();
        return admin.waitForFinished(60000) && admin.exitStatus() == QProcess::NormalExit &&
               admin.exitCode() == 0;
    }

    // Sends the signal and waits for the end; true when it ended with exit code 0 (SIGTERM) or
    // at all (any other signal).
    static bool stop(QProcess& service, int signal = SIGTERM) {
        ::kill(static_cast<pid_t>(service.processId()), signal);
        if (!service.waitForFinished(60000)) return false;
        return signal != SIGTERM ||
               (service.exitStatus() == QProcess::NormalExit && service.exitCode() == 0);
    }

  private:
    QTemporaryDir dir_;
    ManagerSocket manager_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
};

}  // namespace servicetest
