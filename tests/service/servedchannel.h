#pragma once
// A service started for a test with a client on its local channel, and the client's reading of
// the channel's lines.

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>

#include "servicerig.h"

namespace servicetest {

// One line of the channel as JSON; an empty object when none came (the service hung or closed).
inline QJsonObject readLine(QLocalSocket& s) {
    for (int i = 0; i < 600 && !s.canReadLine(); ++i)
        if (!s.waitForReadyRead(100) && s.state() != QLocalSocket::ConnectedState) break;
    if (!s.canReadLine()) return {};
    return QJsonDocument::fromJson(s.readLine()).object();
}

// The first line that is no state event (a subscriber hears them between the answers).
inline QJsonObject readAnswer(QLocalSocket& s) {
    for (int i = 0; i < 1000; ++i) {
        const QJsonObject line = readLine(s);
        if (line.value("event").toString() != u"state") return line;
    }
    return {};
}

inline QJsonObject ask(QLocalSocket& s, const QByteArray& line) {
    s.write(line + '\n');
    s.flush();
    return readAnswer(s);
}

inline bool connectTo(QLocalSocket& s, const QString& path) {
    s.connectToServer(path);
    return s.waitForConnected(10000);
}

// The service started with args (on the simulated instrument unless they say otherwise), with a
// client on its channel; an administrator is made first when one is named (access control is on
// then).
struct Served {
    ServiceRig rig;
    QProcess service;
    QLocalSocket client;
    bool start(const QStringList& args = {"--simulate"}, const QString& admin = {},
               const QByteArray& password = {}) {
        return rig.ready() && (admin.isEmpty() || rig.createAdmin(admin, password)) &&
               rig.start(service, args) && connectTo(client, rig.channel());
    }
};

}  // namespace servicetest
