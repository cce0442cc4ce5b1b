#include "service/cmdline.h"

#include <QRegularExpression>
#include <cmath>

#include "alert/message.h"
#include "base/devicename.h"
#include "base/tr.h"
#include "comm/ports.h"
#include "forward/serveraddress.h"
#include "mqtt/address.h"
#include "mqtt/topics.h"
#include "store/csvexport.h"

namespace shell {

namespace {

// Splits "--name=value" or takes the value from the next argument.
bool takeValue(const QStringList& args, qsizetype& i, const QString& name, QString& value,
               QString& error) {
    const QString& a = args.at(i);
    if (a.startsWith(name + u'=')) {
        value = a.mid(name.size() + 1);
        return true;
    }
    if (i + 1 >= args.size()) {
        error = QStringLiteral("option %1 needs a value").arg(name);
        return false;
    }
    value = args.at(++i);
    return true;
}

// An argument as it may be echoed in the one-line message: control characters become escapes.
QString shown(const QString& a) {
    QString out;
    for (QChar c : a.left(200)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            out += c;
    }
    return a.size() > 200 ? out + QStringLiteral("...") : out;
}

bool matches(const QString& a, const QString& name) {
    return a == name || a.startsWith(name + u'=');
}

// The device a file path names instead of a file: Windows opens COM1 for "D:\\com1.db"; elsewhere
// such a name is a file like any other.
QString deviceFileName(const QString& path) {
#ifdef Q_OS_WIN
    return base::windowsDeviceName(path);
#else
    Q_UNUSED(path);
    return {};
#endif
}

bool isMqttOption(const QString& a) {
    return matches(a, QStringLiteral("--mqtt")) || matches(a, QStringLiteral("--mqtt-prefix")) ||
           matches(a, QStringLiteral("--mqtt-discovery")) || a == u"--mqtt-login";
}

// The MQTT publisher's options; false with the reason in error.
bool takeMqttOption(const QStringList& args, qsizetype& i, Options& o, QString& error) {
    const QString& a = args.at(i);
    QString v;
    if (a == u"--mqtt-login") {
        o.mqttLogin = true;
    } else if (a == u"--mqtt-discovery" || a.startsWith(QStringLiteral("--mqtt-discovery="))) {
        v = a.mid(QStringLiteral("--mqtt-discovery=").size());
        if (a != u"--mqtt-discovery" && v != u"on" && v != u"off") {
            error = QStringLiteral("--mqtt-discovery takes =on or =off, got '%1'").arg(shown(v));
            return false;
        }
        o.mqttDiscovery = v != u"off";
    } else if (matches(a, QStringLiteral("--mqtt-prefix"))) {
        if (!takeValue(args, i, QStringLiteral("--mqtt-prefix"), v, error)) return false;
        if (const QString why = mqtt::prefixProblem(v); !why.isEmpty()) {
            error = QStringLiteral("--mqtt-prefix: %1, got '%2'").arg(why, shown(v));
            return false;
        }
        o.mqttPrefix = v;
    } else {
        if (!takeValue(args, i, QStringLiteral("--mqtt"), v, error)) return false;
        QString why;
        // The message never echoes the address: it may hold a password.
        if (!v.trimmed().isEmpty() && !mqtt::parseBroker(v, &why)) {
            error = QStringLiteral("--mqtt %1").arg(why);
            return false;
        }
        o.mqtt = v.trimmed();
    }
    return true;
}

}  // namespace

ParseResult parseCommandLine(const QStringList& args) {
    Options o;
    ParseResult r;
    QString error;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        QString v;
        if (a == u"--simulate") {
            o.simulate = true;
        } else if (a == u"--log-writes") {
            o.logWrites = true;
        } else if (a == u"--connect") {
            o.connect = true;
        } else if (a == u"--verify") {
            o.verify = true;
        } else if (a == u"--release-signed") {
            o.releaseSigned = true;
        } else if (a == u"--help" || a == u"-h") {
            o.help = true;
        } else if (matches(a, QStringLiteral("--port"))) {
            if (!takeValue(args, i, QStringLiteral("--port"), v, error))
                return {std::nullopt, error};
            const qsizetype eq = v.indexOf(u'=');
            bool ok = false;
            const int n = eq > 0 ? v.left(eq).toInt(&ok) : 0;
            if (!ok || n < 1 || n > 20 || eq + 1 >= v.size())
                return {std::nullopt,
                        QStringLiteral("--port expects N=DEVICE with N from 1 to 20, got '%1'")
                            .arg(shown(v))};
            o.ports[n] = v.mid(eq + 1);
            if (comm::looksLikeNetworkDevice(o.ports[n]) && !comm::parseNetworkDevice(o.ports[n]))
                return {std::nullopt,
                        QStringLiteral("--port expects tcp://HOST:PORT or rtu+tcp://HOST:PORT with "
                                       "PORT from 1 to 65535, got '%1'")
                            .arg(shown(v))};
        } else if (matches(a, QStringLiteral("--db"))) {
            if (!takeValue(args, i, QStringLiteral("--db"), v, error)) return {std::nullopt, error};
            if (v.isEmpty()) return {std::nullopt, QStringLiteral("--db expects a file path")};
            o.db = v;
        } else if (matches(a, QStringLiteral("--quit-after"))) {
            if (!takeValue(args, i, QStringLiteral("--quit-after"), v, error))
                return {std::nullopt, error};
            bool ok = false;
            const double s = v.toDouble(&ok);
            if (!ok || !std::isfinite(s) || s < 0 || s > 1e6)
                return {std::nullopt,
                        QStringLiteral("--quit-after expects a number of seconds, got '%1'")
                            .arg(shown(v))};
            o.quitAfter = s;
        } else if (matches(a, QStringLiteral("--clock-speed"))) {
            if (!takeValue(args, i, QStringLiteral("--clock-speed"), v, error))
                return {std::nullopt, error};
            bool ok = false;
            const double f = v.toDouble(&ok);
            if (!ok || !std::isfinite(f) || f < 1 || f > 100000)
                return {std::nullopt,
                        QStringLiteral("--clock-speed expects a factor from 1 to 100000, got '%1'")
                            .arg(shown(v))};
            o.clockSpeed = f;
        } else if (matches(a, QStringLiteral("--forward"))) {
            if (!takeValue(args, i, QStringLiteral("--forward"), v, error))
                return {std::nullopt, error};
            if (!v.trimmed().isEmpty() && !forward::parseTarget(v, &error))
                return {std::nullopt, shown(error)};
            o.forward = v.trimmed();
        } else if (matches(a, QStringLiteral("--station"))) {
            if (!takeValue(args, i, QStringLiteral("--station"), v, error))
                return {std::nullopt, error};
            if (v.trimmed().isEmpty())
                return {std::nullopt, QStringLiteral("--station expects a name")};
            o.station = v.trimmed();
        } else if (matches(a, QStringLiteral("--notify-mail"))) {
            if (!takeValue(args, i, QStringLiteral("--notify-mail"), v, error))
                return {std::nullopt, error};
            // The address may hold a password: the message never echoes it.
            if (!v.trimmed().isEmpty() && !alert::parseMailServer(v, &error))
                return {std::nullopt, QStringLiteral("--notify-mail: %1").arg(error)};
            o.notifyMail = v.trimmed();
        } else if (matches(a, QStringLiteral("--notify-from"))) {
            if (!takeValue(args, i, QStringLiteral("--notify-from"), v, error))
                return {std::nullopt, error};
            QString bad;
            const QStringList from = alert::parseAddresses(v, &bad);
            if (from.size() != 1 || !bad.isEmpty())
                return {
                    std::nullopt,
                    QStringLiteral("--notify-from expects one address, got '%1'").arg(shown(v))};
            o.notifyFrom = from.first();
        } else if (matches(a, QStringLiteral("--notify-to"))) {
            if (!takeValue(args, i, QStringLiteral("--notify-to"), v, error))
                return {std::nullopt, error};
            QString bad;
            const QStringList to = alert::parseAddresses(v, &bad);
            if (!bad.isEmpty())
                return {std::nullopt,
                        QStringLiteral("--notify-to: '%1' is no address").arg(shown(bad))};
            o.notifyTo = to;
        } else if (matches(a, QStringLiteral("--notify-webhook"))) {
            if (!takeValue(args, i, QStringLiteral("--notify-webhook"), v, error))
                return {std::nullopt, error};
            const QString url = v.trimmed();
            if (!url.isEmpty() && !url.startsWith(u"http://") && !url.startsWith(u"https://"))
                return {std::nullopt,
                        QStringLiteral("--notify-webhook expects an http:// or https:// URL")};
            o.notifyWebhook = url;
        } else if (matches(a, QStringLiteral("--notify-silent-after"))) {
            if (!takeValue(args, i, QStringLiteral("--notify-silent-after"), v, error))
                return {std::nullopt, error};
            bool ok = false;
            const int secs = v.toInt(&ok);
            if (!ok || secs < 1 || secs > 86400)
                return {std::nullopt,
                        QStringLiteral("--notify-silent-after expects 1 to 86400 seconds, got '%1'")
                            .arg(shown(v))};
            o.notifySilentAfter = secs;
        } else if (matches(a, QStringLiteral("--profile"))) {
            if (!takeValue(args, i, QStringLiteral("--profile"), v, error))
                return {std::nullopt, error};
            // The name becomes part of file names: letters, digits, '-' and '_' only.
            static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_-]{1,40}$"));
            if (!name.match(v).hasMatch())
                return {std::nullopt, QStringLiteral("--profile expects a name of letters, digits, "
                                                     "'-' and '_' (at most 40), got '%1'")
                                          .arg(shown(v))};
            o.profile = v;
        } else if (matches(a, QStringLiteral("--chamber"))) {
            if (!takeValue(args, i, QStringLiteral("--chamber"), v, error))
                return {std::nullopt, error};
            const auto conf = chamber::parseChamberArg(v);
            if (!conf)
                return {std::nullopt, QStringLiteral("--chamber expects "
                                                     "NAME=PORT,ADDRESS[,BAUD[,PARITY]], got '%1'")
                                          .arg(shown(v))};
            o.chambers << *conf;
        } else if (matches(a, QStringLiteral("--keep-days"))) {
            if (!takeValue(args, i, QStringLiteral("--keep-days"), v, error))
                return {std::nullopt, error};
            bool ok = false;
            const int d = v.toInt(&ok);
            if (!ok || d < 0 || d > 100000)
                return {
                    std::nullopt,
                    QStringLiteral("--keep-days expects a number of days (0: no limit), got '%1'")
                        .arg(shown(v))};
            o.keepDays = d;
        } else if (matches(a, QStringLiteral("--keep-free-gb"))) {
            if (!takeValue(args, i, QStringLiteral("--keep-free-gb"), v, error))
                return {std::nullopt, error};
            bool ok = false;
            const double g = v.toDouble(&ok);
            if (!ok || !std::isfinite(g) || g < 0 || g > 1e6)
                return {std::nullopt,
                        QStringLiteral("--keep-free-gb expects a number of GB, got '%1'")
                            .arg(shown(v))};
            o.keepFreeGb = g;
        } else if (isMqttOption(a)) {
            if (!takeMqttOption(args, i, o, error)) return {std::nullopt, error};
        } else if (matches(a, QStringLiteral("--lang"))) {
            if (!takeValue(args, i, QStringLiteral("--lang"), v, error))
                return {std::nullopt, error};
            if (v != u"zh" && v != u"en")
                return {std::nullopt,
                        QStringLiteral("--lang expects zh or en, got '%1'").arg(shown(v))};
            o.language = v;
        } else if (matches(a, QStringLiteral("--create-admin")) ||
                   matches(a, QStringLiteral("--full-name")) ||
                   matches(a, QStringLiteral("--user"))) {
            const QString name = a.section(u'=', 0, 0);
            if (!takeValue(args, i, name, v, error)) return {std::nullopt, error};
            if (v.trimmed().isEmpty())
                return {std::nullopt,
                        QStringLiteral("%1 expects %2")
                            .arg(name, name == u"--full-name" ? QStringLiteral("a name")
                                                              : QStringLiteral("a user id"))};
            (name == u"--create-admin" ? o.createAdmin
             : name == u"--full-name"  ? o.fullName
                                       : o.user) = v.trimmed();
        } else if (matches(a, QStringLiteral("--reason"))) {
            if (!takeValue(args, i, QStringLiteral("--reason"), v, error))
                return {std::nullopt, error};
            if (v.trimmed().isEmpty())
                return {std::nullopt, QStringLiteral("--reason expects a reason")};
            o.reason = v.trimmed();
        } else if (matches(a, QStringLiteral("--sign")) ||
                   matches(a, QStringLiteral("--meaning"))) {
            const bool sign = matches(a, QStringLiteral("--sign"));
            const QString name = sign ? QStringLiteral("--sign") : QStringLiteral("--meaning");
            if (!takeValue(args, i, name, v, error)) return {std::nullopt, error};
            if (sign && v.trimmed().isEmpty())
                return {std::nullopt, QStringLiteral("--sign expects a user id")};
            if (!sign) {
                // The stored words, or their English for scripts written in English.
                static const QStringList english = {QStringLiteral("performed"),
                                                    QStringLiteral("reviewed"),
                                                    QStringLiteral("approved")};
                static const QStringList stored = {QStringLiteral("执行"), QStringLiteral("审核"),
                                                   QStringLiteral("批准")};
                const qsizetype k = english.indexOf(v.trimmed().toLower());
                if (k >= 0) v = stored.at(k);
                if (!stored.contains(v))
                    return {std::nullopt,
                            QStringLiteral("--meaning expects performed, reviewed or approved "
                                           "(or the same in Chinese), got '%1'")
                                .arg(shown(v))};
            }
            (sign ? o.sign : o.meaning) = v.trimmed();
        } else if (matches(a, QStringLiteral("--access-control"))) {
            if (!takeValue(args, i, QStringLiteral("--access-control"), v, error))
                return {std::nullopt, error};
            if (v != u"on" && v != u"off")
                return {
                    std::nullopt,
                    QStringLiteral("--access-control expects on or off, got '%1'").arg(shown(v))};
            o.accessControl = v == u"on";
        } else if (matches(a, QStringLiteral("--screenshot"))) {
            if (!takeValue(args, i, QStringLiteral("--screenshot"), v, error))
                return {std::nullopt, error};
            if (v.isEmpty())
                return {std::nullopt, QStringLiteral("--screenshot expects a file path")};
            o.screenshot = v;
        } else if (matches(a, QStringLiteral("--export-csv"))) {
            if (!takeValue(args, i, QStringLiteral("--export-csv"), v, error))
                return {std::nullopt, error};
            if (v.isEmpty())
                return {std::nullopt, QStringLiteral("--export-csv expects a file path or -")};
            o.exportCsv = v;
        } else if (matches(a, QStringLiteral("--export-events"))) {
            if (!takeValue(args, i, QStringLiteral("--export-events"), v, error))
                return {std::nullopt, error};
            if (v.isEmpty())
                return {std::nullopt, QStringLiteral("--export-events expects a file path or -")};
            o.exportEvents = v;
        } else if (matches(a, QStringLiteral("--report")) ||
                   matches(a, QStringLiteral("--report-csv")) ||
                   matches(a, QStringLiteral("--run")) || matches(a, QStringLiteral("--title"))) {
            const QString name = a.section(u'=', 0, 0);
            if (!takeValue(args, i, name, v, error)) return {std::nullopt, error};
            if (v.trimmed().isEmpty())
                return {std::nullopt,
                        QStringLiteral("%1 expects %2")
                            .arg(name, name == u"--run"     ? QStringLiteral("a run's name")
                                       : name == u"--title" ? QStringLiteral("a text")
                                                            : QStringLiteral("a file path"))};
            if (name == u"--report")
                o.report = v;
            else if (name == u"--report-csv")
                o.reportCsv = v;
            else if (name == u"--run")
                o.run = v;
            else
                o.title = v;
        } else if (matches(a, QStringLiteral("--from")) || matches(a, QStringLiteral("--to"))) {
            const QString name = matches(a, QStringLiteral("--from")) ? QStringLiteral("--from")
                                                                      : QStringLiteral("--to");
            if (!takeValue(args, i, name, v, error)) return {std::nullopt, error};
            const auto t = store::parseExportTime(v);
            if (!t)
                return {std::nullopt, QStringLiteral("%1 expects \"YYYY-MM-DD HH:MM:SS\", got '%2'")
                                          .arg(name, shown(v))};
            (name == u"--from" ? o.from : o.to) = t;
        } else if (matches(a, QStringLiteral("--data"))) {
            if (!takeValue(args, i, QStringLiteral("--data"), v, error))
                return {std::nullopt, error};
            if (v.trimmed().isEmpty())
                return {std::nullopt, QStringLiteral("--data expects a folder")};
            o.data = v;
        } else if (matches(a, QStringLiteral("--http")) ||
                   matches(a, QStringLiteral("--tls-cert")) ||
                   matches(a, QStringLiteral("--tls-key")) ||
                   matches(a, QStringLiteral("--make-token")) ||
                   matches(a, QStringLiteral("--revoke-token"))) {
            const QString name = a.section(u'=', 0, 0);
            if (!takeValue(args, i, name, v, error)) return {std::nullopt, error};
            if (name == u"--http") {
                web::Listen l;
                l.port = 0;
                QString why;
                if (!v.trimmed().isEmpty()) {
                    const auto parsed = web::parseListen(v, &why);
                    if (!parsed)
                        return {std::nullopt,
                                QStringLiteral("--http expects [ADDRESS:]PORT with %1, got '%2'")
                                    .arg(why, shown(v))};
                    l = *parsed;
                }
                l.tlsCert = o.http ? o.http->tlsCert : QString();
                l.tlsKey = o.http ? o.http->tlsKey : QString();
                o.http = l;
            } else if (name == u"--tls-cert" || name == u"--tls-key") {
                if (v.isEmpty())
                    return {std::nullopt, QStringLiteral("%1 expects a file").arg(name)};
                if (!o.http) {
                    o.http = web::Listen{};
                    o.http->port = -1;  // not given (yet)
                }
                (name == u"--tls-cert" ? o.http->tlsCert : o.http->tlsKey) = v;
            } else {
                if (!web::validTokenName(v))
                    return {std::nullopt, QStringLiteral("%1 expects a name of letters, digits, "
                                                         "'-', '_' and '.' (at most 40), got '%2'")
                                              .arg(name, shown(v))};
                (name == u"--make-token" ? o.makeToken : o.revokeToken) = v;
            }
        } else {
            return {std::nullopt, QStringLiteral("unknown option '%1' (try --help)").arg(shown(a))};
        }
    }
    // A file named like a device (com1.db on Windows) would open the device: refused before
    // anything is opened or written.
    const std::pair<const char*, const QString&> files[] = {{"--db", o.db},
                                                            {"--data", o.data},
                                                            {"--screenshot", o.screenshot},
                                                            {"--export-csv", o.exportCsv},
                                                            {"--export-events", o.exportEvents},
                                                            {"--report", o.report},
                                                            {"--report-csv", o.reportCsv}};
    for (const auto& [name, path] : files) {
        if (path.isEmpty() || path == u"-") continue;
        const QString device = deviceFileName(path);
        if (!device.isEmpty())
            return {std::nullopt, QStringLiteral("%1 '%2' names the device %3, not a file")
                                      .arg(QLatin1String(name), shown(path), shown(device))};
    }
    if (o.http) {
        if (o.http->port < 0)
            return {std::nullopt, QStringLiteral("--tls-cert and --tls-key need --http")};
        if (o.http->tlsCert.isEmpty() != o.http->tlsKey.isEmpty())
            return {std::nullopt, QStringLiteral("--tls-cert and --tls-key go together")};
        if (o.http->port > 0 && !o.http->loopback() && !o.http->tls())
            return {std::nullopt,
                    QStringLiteral("--http %1 serves beyond this computer: it needs --tls-cert and "
                                   "--tls-key")
                        .arg(o.http->address)};
    }
    if (!o.makeToken.isEmpty() && !o.revokeToken.isEmpty())
        return {std::nullopt, QStringLiteral("--make-token and --revoke-token go one at a time")};
    if (o.logWrites && !o.simulate)
        return {std::nullopt, QStringLiteral("--log-writes needs --simulate")};
    if (!o.screenshot.isEmpty() && !o.quitAfter)
        return {std::nullopt, QStringLiteral("--screenshot needs --quit-after")};
    if (o.releaseSigned) {
        if (o.user.isEmpty() || o.reason.isEmpty())
            return {std::nullopt, QStringLiteral("--release-signed needs --user and --reason")};
        if (!o.run && !(o.from && o.to))
            return {std::nullopt,
                    QStringLiteral("--release-signed needs --run or --from and --to")};
        Options settings = o;
        settings.chambers.clear();  // --chamber only names the database
        if (!o.report.isEmpty() || !o.exportCsv.isEmpty() || !o.exportEvents.isEmpty() ||
            o.accessControl || changesSettings(settings))
            return {std::nullopt,
                    QStringLiteral("--release-signed goes with --run or --from/--to, --user, "
                                   "--reason and the database only")};
    }
    const bool release = o.releaseSigned;
    if ((o.from || o.to) && o.exportCsv.isEmpty() && o.exportEvents.isEmpty() &&
        o.report.isEmpty() && !release)
        return {std::nullopt,
                QStringLiteral("--from and --to need --export-csv, --export-events or --report")};
    if (o.from && o.to && *o.from > *o.to)
        return {std::nullopt, QStringLiteral("--from '%1' is after --to '%2'")
                                  .arg(o.from->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                       o.to->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))};
    if ((!o.reportCsv.isEmpty() || (o.run && !release) || !o.title.isEmpty()) && o.report.isEmpty())
        return {std::nullopt, QStringLiteral("--report-csv, --run and --title need --report")};
    if (!o.report.isEmpty() && (!o.exportCsv.isEmpty() || !o.exportEvents.isEmpty()))
        return {std::nullopt,
                QStringLiteral("--report cannot go with --export-csv or --export-events")};
    if (o.sign.isEmpty() != o.meaning.isEmpty())
        return {std::nullopt, QStringLiteral("--sign and --meaning go together")};
    if (!o.sign.isEmpty() && o.report.isEmpty())
        return {std::nullopt, QStringLiteral("--sign needs --report")};
    if (o.createAdmin.isEmpty() != o.fullName.isEmpty())
        return {std::nullopt, QStringLiteral("--create-admin and --full-name go together")};
    if (o.accessControl && o.user.isEmpty())
        return {std::nullopt, QStringLiteral("--access-control needs --user")};
    const bool exports =
        !o.exportCsv.isEmpty() || !o.exportEvents.isEmpty() || !o.report.isEmpty() || release;
    if (!o.user.isEmpty() && !o.accessControl && !changesSettings(o) && !exports)
        return {std::nullopt, QStringLiteral("--user goes with --access-control, with settings to "
                                             "change or with an export or a report")};
    if (!o.reason.isEmpty() && !release && (o.user.isEmpty() || o.accessControl))
        return {std::nullopt, QStringLiteral("--reason goes with --user and settings to change")};
    if (!o.createAdmin.isEmpty() && o.accessControl)
        return {std::nullopt, QStringLiteral("--create-admin cannot go with --access-control")};
    if (!o.chambers.isEmpty()) {
        if (const auto refusal = chamber::checkChambers(o.chambers))
            return {std::nullopt, shown(chamber::refusalLine(*refusal))};
        // Each chamber has its own settings file and database.
        if (!o.profile.isEmpty() || !o.db.isEmpty())
            return {std::nullopt, QStringLiteral("--chamber cannot go with --profile or --db")};
        // Each chamber forwards under a station name of its own.
        if (o.station && o.chambers.size() > 1)
            return {std::nullopt, QStringLiteral("--station names one chamber, not several")};
        // An export or a report reads one chamber's database: the one of its name. --verify
        // checks each chamber's.
        if (!o.verify && (!o.exportCsv.isEmpty() || !o.exportEvents.isEmpty() ||
                          !o.report.isEmpty() || release)) {
            if (o.chambers.size() != 1)
                return {std::nullopt, QStringLiteral("--export-csv, --export-events, --report and "
                                                     "--release-signed read the database of one "
                                                     "--chamber")};
            o.profile = o.chambers.first().name;
            o.chambers.clear();
        }
    }
    r.options = o;
    return r;
}

bool changesSettings(const Options& o) {
    return o.keepDays || o.keepFreeGb || o.forward || o.station || o.notifyMail || o.notifyFrom ||
           o.notifyTo || o.notifyWebhook || o.notifySilentAfter || !o.chambers.isEmpty() ||
           o.http || o.mqtt || o.mqttPrefix || o.mqttDiscovery || o.mqttLogin;
}

QString usageText() {
    return QStringLiteral(
               "usage: velmars [options]\n"
               "  --simulate            run the simulated instrument inside the program; port 1 "
               "names it\n"
               "  --log-writes          with --simulate: print a line on standard output for each\n"
               "                        register the simulated instrument is written (time, 4X N, "
               "value)\n"
               "  --port N=DEVICE       port number N (1..20) names DEVICE (repeatable); DEVICE "
               "may be\n"
               "                        a gateway: tcp://HOST:PORT (Modbus TCP, unit id = slave\n"
               "                        address) or rtu+tcp://HOST:PORT (RTU frames through TCP, "
               "as a\n"
               "                        serial device server passes them); baud and parity do not "
               "apply\n"
               "  --db PATH             sample database file instead of the default\n"
               "  --connect             press \"%1\" with the window's settings once the main "
               "window is "
               "up\n"
               "  --quit-after SECONDS  leave through the Exit path that many seconds after start\n"
               "  --screenshot FILE     with --quit-after: save a PNG of the main window before "
               "leaving\n"
               "  --clock-speed F       run the program's clock F times faster (tests and demos)\n"
               "  --export-csv FILE     write the stored records to FILE as CSV (- for standard "
               "output)\n"
               "                        and leave, without a window; with --db, --from, --to\n"
               "  --from \"YYYY-MM-DD HH:MM:SS\"  first record to export (default: the oldest)\n"
               "  --to \"YYYY-MM-DD HH:MM:SS\"    last record to export (default: the newest)\n"
               "  --verify              check the hash chains over the events and the archived "
               "hours of\n"
               "                        --db, or of every chamber's database, and leave: exit 0 "
               "intact,\n"
               "                        1 changed (the first changed row or hour named), 2 bad "
               "input\n"
               "  --export-events FILE  write the event log to FILE as CSV (- for standard output) "
               "and\n"
               "                        leave, no window; with --from/--to \"YYYY-MM-DD HH:MM:SS\" "
               "and "
               "--db\n"
               "  --report FILE.pdf     write a test report (PDF, A4) and leave, no window: of the "
               "run\n"
               "                        named by --run NAME, or of the span --from/--to (default: "
               "all\n"
               "                        archived samples) titled --title TEXT; with --db\n"
               "  --report-csv FILE     with --report: also write the span's CSV export, whose "
               "SHA-256\n"
               "                        every page names\n"
               "  --sign USER --meaning performed|reviewed|approved\n"
               "                        with --report: sign the run or span first (the user's\n"
               "                        password on standard input; the meaning may also be\n"
               "                        given in Chinese); every page shows the signatures\n"
               "  --release-signed --user ADMIN --reason TEXT  let retention drop the signed "
               "seconds\n"
               "                        of the run --run NAME or the span --from/--to (the\n"
               "                        administrator's password on standard input), no window\n"
               "  --forward URL         forward samples and events to a PostgreSQL server\n"
               "                        (postgresql://user@host:port/dbname or 'host=... "
               "dbname=...';\n"
               "                        kept in the settings file; an empty URL turns it off)\n"
               "  --station NAME        this station's name on the server (kept in the settings "
               "file)\n"
               "  --profile NAME        a settings file and a default database (Rdatabj-NAME.db) "
               "of this\n"
               "                        profile's own: one program per chamber, side by side\n"
               "  --chamber NAME=PORT,ADDRESS[,BAUD[,PARITY]]  a chamber of this run "
               "(repeatable):\n"
               "                        the instrument at ADDRESS (1..247) on port PORT, BAUD "
               "4800,\n"
               "                        9600 (default) or 19200, PARITY N (default), O or E; each\n"
               "                        with the settings file and database of the profile NAME;\n"
               "                        kept in the settings file, shown in the overview\n"
               "  --keep-days N         keep archived samples and events N days (0: no limit; kept "
               "in\n"
               "                        the settings file)\n"
               "  --keep-free-gb G      drop the oldest archived day while the disk has less than "
               "G GB\n"
               "                        free (default 1; kept in the settings file)\n"
               "  --notify-mail URL     send alerts by mail through the server\n"
               "                        smtp://[user[:password]@]host[:port] (smtps:// for TLS; "
               "kept in\n"
               "                        the settings file, the password apart; empty turns mail "
               "off)\n"
               "  --notify-from ADDR    the sender of alert mails\n"
               "  --notify-to ADDR[,ADDR...]  who gets alert mails\n"
               "  --notify-webhook URL  POST each alert as JSON to this URL (empty turns it off)\n"
               "  --notify-silent-after SECONDS  an instrument silent this long raises an alert\n"
               "                        (default 30)\n"
               "  --mqtt URL            publish every chamber's state, events and alerts to the "
               "MQTT\n"
               "                        broker at mqtt://HOST[:PORT] (mqtts:// for TLS; kept in "
               "the\n"
               "                        settings file, empty turns it off)\n"
               "  --mqtt-prefix PREFIX  the topics' first levels (default velmars)\n"
               "  --mqtt-discovery[=on|off]  Home Assistant's discovery of the chambers\n"
               "  --mqtt-login          the broker's user and password, one line each on "
               "standard\n"
               "                        input, kept in the settings file\n"
               "  --lang zh|en          the language of windows, messages and exports; the "
               "program\n"
               "                        keeps it in the settings file, a command (an export, a "
               "report)\n"
               "                        speaks it for its own run only (default: the one kept, "
               "else the\n"
               "                        desktop's when the program speaks it, else zh)\n"
               "  --create-admin USER --full-name NAME  make the first administrator (password "
               "twice\n"
               "                        on standard input) and switch access control on, no "
               "window\n"
               "  --access-control on|off --user ADMIN  switch access control (the "
               "administrator's\n"
               "                        password on standard input), no window\n"
               "  --user ADMIN --reason TEXT  with access control on, the administrator who "
               "changes\n"
               "                        the settings given (retention, forwarding, alerts) and "
               "why\n"
               "  --user USER           with access control on, who takes records out with "
               "--export-csv,\n"
               "                        --export-events or --report (the password on standard "
               "input)\n"
               "  --data DIR            keep the settings, the databases and the local channel "
               "in DIR\n"
               "  --http [ADDRESS:]PORT serve the web page, the JSON API and Prometheus metrics "
               "(ADDRESS\n"
               "                        127.0.0.1 when omitted; kept in the settings file; empty "
               "turns\n"
               "                        it off); any other address than loopback needs TLS\n"
               "  --tls-cert FILE --tls-key FILE  with --http: serve HTTPS with this certificate "
               "and key\n"
               "                        (PEM)\n"
               "  --make-token NAME     print a new token for reading from another computer and "
               "leave\n"
               "                        (shown once, kept only as a hash)\n"
               "  --revoke-token NAME   withdraw the token of that name and leave\n"
               "  --help                this text\n")
        .arg(base::Tr::tr("打开"));
}

}  // namespace shell
