#pragma once
// What the publisher is given: the broker and how to log in, the prefix, the station, discovery.

#include <QByteArray>
#include <QString>

#include "mqtt/address.h"

namespace mqtt {

struct ClientConfig {
    Broker broker;
    QString user;  // empty: none
    QString password;
    QString caFile;  // TLS: the certificate authorities to trust; empty: the system's
    QString clientId;
    QString willTopic;  // empty: no will
    QByteArray willPayload;
    int keepAliveS = 30;
    // How long the broker may take to accept the connection.
    int connectTimeoutMs = 15000;
};

struct Config {
    ClientConfig client;  // the will is set from the prefix and station
    QString prefix = QStringLiteral("velmars");
    QString station;
    bool discovery = false;
    QString discoveryPrefix = QStringLiteral("homeassistant");
};

}  // namespace mqtt
