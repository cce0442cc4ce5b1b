#pragma once
// What a notification says and where it goes, as pure functions: the mail server address, the
// subject and body of a mail, the JSON document of a webhook, and the pause before the next
// attempt after a failure.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

#include "alert/rules.h"
#include "base/backoff.h"

namespace alert {

// The mail server from "smtp://[user[:password]@]host[:port]" (smtps:// for TLS from the first
// byte; smtp:// upgrades with STARTTLS where the server offers it).
struct MailServer {
    bool tls = false;
    QString host;
    int port = 25;
    QString user;
    QString password;
};
// nullopt with *error (one English line) when the text is not such an address.
std::optional<MailServer> parseMailServer(const QString& url, QString* error);
// The address without user and password, for curl and for the operator.
QString mailServerUrl(const MailServer& s);

// Addresses from "a@x, b@y"; *bad gets the first one that is no address.
QStringList parseAddresses(const QString& text, QString* bad = nullptr);

// Where notifications go and how often they repeat.
struct NotifySettings {
    QString mailServer;  // as parseMailServer takes it, without the password
    QString password;    // kept apart, never shown
    QString from;
    QStringList to;
    QStringList escalateTo;
    QString webhook;
    int repeatMin = 30;    // 0: no repeats
    int escalateMin = 60;  // 0: no escalation
    bool sound = true;
};

// What happened to an alert.
enum class Event { Fired, Cleared, Acknowledged, Repeated, Escalated, Test };
QString eventKey(Event e);  // "fired", "cleared", "acknowledged"...

// One notification's content, before it goes out by mail or webhook.
struct Notice {
    Event event = Event::Fired;
    QString station;
    int address = 1;  // the chamber's slave address
    QString alertId;
    Kind kind = Kind::Alarm1;
    base::Phrase valueText;
    std::optional<double> value;
    QDateTime at;               // when it fired, cleared or was acknowledged
    QString comment;            // the acknowledgement's
    bool acknowledged = false;  // acknowledged before this notice
};

QString mailSubject(const Notice& n);
// The notice in a line for the event log, kept in Chinese as stored texts are: "记录停止（报警）".
QString logLine(const Notice& n);
QString mailBody(const Notice& n);
// The whole message as SMTP carries it: headers (subject in RFC 2047 words) and a base64 body.
QByteArray mailMessage(const QString& from, const QStringList& to, const QString& subject,
                       const QString& body, const QDateTime& date);
QByteArray webhookJson(const Notice& n);

// The pause before attempt `attempts + 1` after `attempts` failures: 2 s doubling up to 5 min.
inline constexpr base::Backoff kRetry{2000, 300000};
qint64 retryDelayMs(int attempts);

}  // namespace alert
