#pragma once
// The command line: additions for practical use; the operator's work stays on screen. Read by the
// desktop program and by the service alike (which takes the options for chambers and settings).

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

#include "chamber/chamberlist.h"
#include "web/webconfig.h"

namespace shell {

struct Options {
    bool simulate = false;
    bool logWrites = false;    // --log-writes: the simulated instrument prints each write it takes
    QMap<int, QString> ports;  // --port N=DEVICE
    QString db;                // --db PATH, empty for the default
    QString profile;           // --profile NAME: settings file and default database of its own
    // --chamber NAME=PORT,ADDRESS[,BAUD[,PARITY]] (repeatable): the chambers of this run, each
    // with the settings file and database a profile of its name has
    QList<chamber::ChamberConf> chambers;
    bool connect = false;
    std::optional<double> quitAfter;  // seconds
    QString screenshot;
    bool help = false;
    double clockSpeed = 1.0;  // --clock-speed F: the clock runs F times faster (tests, demos)
    QString exportCsv;        // --export-csv FILE ("-" for standard output): export, no window
    QString exportEvents;     // --export-events FILE ("-" for standard output)
    bool verify = false;      // --verify: check the hash chains of the databases, no window
    // --report FILE.pdf: a test report of a stored run (--run NAME) or of a span, no window;
    // --report-csv FILE writes the span's CSV export beside it, --title TEXT names a span.
    QString report;
    QString reportCsv;
    // --sign USER --meaning 执行|审核|批准: the report's run or span signed first (the password
    // from standard input only).
    QString sign;
    QString meaning;
    // --release-signed with --run NAME or --from/--to, --user ADMIN, --reason TEXT: retention may
    // drop that run's or span's signed seconds (the password on standard input), no window.
    bool releaseSigned = false;
    std::optional<QString> run;
    QString title;
    // --from, --to "YYYY-MM-DD HH:MM:SS", local time: the span of an export or a report, ends
    // included
    std::optional<QDateTime> from;
    std::optional<QDateTime> to;
    // --forward URL, --station NAME: unset keeps what the settings file says; an empty URL turns
    // forwarding off.
    std::optional<QString> forward;
    std::optional<QString> station;
    // --keep-days N, --keep-free-gb G: how long the archive keeps samples (kept in the settings
    // file; unset keeps what it says).
    std::optional<int> keepDays;
    std::optional<double> keepFreeGb;
    // --notify-mail smtp://[user[:password]@]host[:port], --notify-from ADDR, --notify-to
    // ADDR[,ADDR...], --notify-webhook URL, --notify-silent-after SECONDS: where alerts go and
    // when silence counts (kept in the settings file; unset keeps what it says, empty turns the
    // mail or webhook off).
    std::optional<QString> notifyMail;
    std::optional<QString> notifyFrom;
    std::optional<QStringList> notifyTo;
    std::optional<QString> notifyWebhook;
    std::optional<int> notifySilentAfter;
    // --mqtt mqtt[s]://HOST[:PORT] (empty turns it off), --mqtt-prefix PREFIX, --mqtt-discovery
    // (=off turns it off), --mqtt-login (the user and password from standard input): the MQTT
    // publisher, kept in the program's settings file; unset keeps what it says.
    std::optional<QString> mqtt;
    std::optional<QString> mqttPrefix;
    std::optional<bool> mqttDiscovery;
    bool mqttLogin = false;
    // What --mqtt-login read from standard input as the program started, before any window.
    std::optional<QString> mqttUser;
    std::optional<QString> mqttPassword;
    // --lang zh|en: the language of windows, messages and exports (kept in the settings file;
    // unset keeps what it says, else the desktop's language when the program speaks it).
    std::optional<QString> language;
    // --create-admin USER --full-name "NAME": the user store's first administrator, no window;
    // --access-control on|off --user ADMIN: switched by an administrator; --user ADMIN also
    // changes settings under access control. Passwords come from standard input only.
    QString createAdmin;
    QString fullName;
    std::optional<bool> accessControl;
    QString user;
    // --reason TEXT: why the settings given here change (with --user, under access control).
    QString reason;
    // --data DIR: the folder of the settings, the databases and the local channel (the service's
    // and the desktop program's alike); empty keeps each program's default.
    QString data;
    // --http [ADDRESS:]PORT (empty: off), --tls-cert FILE --tls-key FILE: the web page and API
    // this program serves (kept in the settings file; unset keeps what it says). Beyond loopback
    // only with TLS. --make-token NAME, --revoke-token NAME: a reader's token, no window.
    std::optional<web::Listen> http;
    QString makeToken;
    QString revokeToken;
};

struct ParseResult {
    std::optional<Options> options;  // set when the line was understood
    QString error;                   // one line for stderr otherwise
};

// Parses the arguments after the program name.
ParseResult parseCommandLine(const QStringList& args);
// Whether the options change settings kept in the settings files (retention, forwarding, alerts,
// the chamber list).
bool changesSettings(const Options& o);

QString usageText();

}  // namespace shell
