#pragma once
// Where the web server listens and who may read from it: the address and port, the TLS files,
// and the personal tokens (kept only as hashes) that let other computers read without access
// control.

#include <QByteArray>
#include <QMap>
#include <QSettings>
#include <QString>
#include <optional>

namespace web {

struct Listen {
    QString address = QStringLiteral("127.0.0.1");  // IPv4 address to bind
    int port = 0;                                   // 0: off (tests may ask for any free port)
    QString tlsCert;                                // PEM files; both set: HTTPS
    QString tlsKey;

    bool tls() const { return !tlsCert.isEmpty() && !tlsKey.isEmpty(); }
    bool loopback() const;
    bool operator==(const Listen&) const = default;
};

// "[ADDRESS:]PORT" with PORT 1..65535 and ADDRESS an IPv4 address or "localhost". Nullopt with a
// reason in *error otherwise.
std::optional<Listen> parseListen(const QString& text, QString* error);
// Whether an IPv4 address lies in 127.0.0.0/8.
bool isLoopback(const QString& address);
// "https://ADDRESS:PORT/" or "http://...".
QString urlOf(const Listen& l, int port);

// Kept in the program's settings file under [web]. A port of 0 (or none kept) means off.
Listen readListen(QSettings& s);
void writeListen(QSettings& s, const Listen& l);

// Personal tokens, for reading from another computer without access control: each is shown once
// when made and kept only as its SHA-256, by name, in the settings file under [web-tokens].
QByteArray tokenHash(const QByteArray& token);
// A new random token for name (replacing one of the same name); empty when the name is unusable.
QString makeToken(QSettings& s, const QString& name);
// False when there is no token of that name.
bool revokeToken(QSettings& s, const QString& name);
// Name -> hash (hex) of every token kept.
QMap<QString, QByteArray> readTokens(QSettings& s);
// A token's name must be letters, digits, '-', '_' or '.' (1..40).
bool validTokenName(const QString& name);

}  // namespace web
