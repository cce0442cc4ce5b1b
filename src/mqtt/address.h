#pragma once
// The broker's address as the operator gives it: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS).
// The user and password never travel in it: they come from the settings file or standard input.

#include <QString>
#include <optional>

namespace mqtt {

struct Broker {
    QString host;
    int port = 1883;
    bool tls = false;

    // mqtt://host:port or mqtts://host:port, IPv6 hosts in brackets.
    QString url() const;
    bool operator==(const Broker&) const = default;
};

// The address, or nothing with a one-line reason in *error (English, for the command line).
std::optional<Broker> parseBroker(const QString& url, QString* error = nullptr);

}  // namespace mqtt
