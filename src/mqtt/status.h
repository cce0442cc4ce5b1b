#pragma once
// Whether the broker is connected, and why not, as codes; the status bar's line made from them.

#include <QMetaType>
#include <QString>

#include "base/tr.h"

namespace mqtt {

enum class State { Connecting, Connected, Down };
enum class Fault {
    None,
    Unreachable,    // no answer at the address, or the connection could not be made
    BadLogin,       // the broker refused the user name or password
    NotAuthorized,  // the broker refused this client (mosquitto: a wrong password too)
    Tls,            // the TLS handshake failed (a certificate that does not match, ...)
    Lost,           // the connection broke
    Protocol,       // the broker refused the protocol or the client id
};

struct Status {
    State state = State::Connecting;
    Fault fault = Fault::None;
    QString broker;      // mqtt://host:port
    qint64 pending = 0;  // events and alerts waiting in the chambers' files
    bool operator==(const Status&) const = default;
};

// "MQTT: 已连接 mqtt://host:1883" and the like, one line, in the language.
QString statusText(const Status& s, base::Lang lang = base::Lang::Shown);

}  // namespace mqtt

Q_DECLARE_METATYPE(mqtt::Status)
