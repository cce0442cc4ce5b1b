// The web server's options on the command line, as kept in the settings file, and the tokens.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "service/cmdline.h"
#include "web/webconfig.h"

namespace {

TEST(WebOptions, CommandLine) {
    struct Case {
        QStringList args;
        bool accepted;
        QString address;
        int port;
        bool tls;
        const char* error;  // part of the one line when refused
    };
    const Case cases[] = {
        {{"--http", "8080"}, true, "127.0.0.1", 8080, false, ""},
        {{"--http=127.0.0.2:81"}, true, "127.0.0.2", 81, false, ""},
        {{"--http", "localhost:8080"}, true, "127.0.0.1", 8080, false, ""},
        {{"--http", ""}, true, "127.0.0.1", 0, false, ""},  // off
        {{"--http", "0.0.0.0:8443", "--tls-cert", "c.pem", "--tls-key", "k.pem"},
         true,
         "0.0.0.0",
         8443,
         true,
         ""},
        {{"--tls-cert", "c.pem", "--tls-key", "k.pem", "--http", "192.168.1.5:8443"},
         true,
         "192.168.1.5",
         8443,
         true,
         ""},
        {{"--http", "0.0.0.0:8080"}, false, "", 0, false, "needs --tls-cert"},
        {{"--http", "10.0.0.1:80", "--tls-cert", "c.pem"}, false, "", 0, false, "go together"},
        {{"--tls-cert", "c.pem", "--tls-key", "k.pem"}, false, "", 0, false, "need --http"},
        {{"--http", "0"}, false, "", 0, false, "1 to 65535"},
        {{"--http", "65536"}, false, "", 0, false, "1 to 65535"},
        {{"--http", "host.example:80"}, false, "", 0, false, "IPv4"},
        {{"--http", "[::1]:80"}, false, "", 0, false, "IPv4"},
        {{"--http", "300.1.1.1:80"}, false, "", 0, false, "IPv4"},
        {{"--http"}, false, "", 0, false, "needs a value"},
        {{"--make-token", "bad name"}, false, "", 0, false, "letters"},
        {{"--make-token", "a", "--revoke-token", "b"}, false, "", 0, false, "one at a time"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const auto r = shell::parseCommandLine(c.args);
        ASSERT_EQ(r.options.has_value(), c.accepted) << r.error.toStdString();
        if (!c.accepted) {
            EXPECT_TRUE(r.error.contains(QLatin1String(c.error))) << r.error.toStdString();
            EXPECT_FALSE(r.error.contains(u'\n'));
            continue;
        }
        ASSERT_TRUE(r.options->http);
        EXPECT_EQ(r.options->http->address, c.address);
        EXPECT_EQ(r.options->http->port, c.port);
        EXPECT_EQ(r.options->http->tls(), c.tls);
        EXPECT_TRUE(shell::changesSettings(*r.options));
    }
    const auto token = shell::parseCommandLine({"--make-token", "grafana.lab-1"});
    ASSERT_TRUE(token.options);
    EXPECT_EQ(token.options->makeToken, u"grafana.lab-1");
    EXPECT_FALSE(token.options->http);
}

TEST(WebOptions, KeptInTheSettingsFile) {
    QTemporaryDir dir;
    QSettings s(dir.filePath("v.ini"), QSettings::IniFormat);
    EXPECT_EQ(web::readListen(s).port, 0);  // off until switched on
    web::Listen l;
    l.address = QStringLiteral("0.0.0.0");
    l.port = 8443;
    l.tlsCert = QStringLiteral("/etc/c.pem");
    l.tlsKey = QStringLiteral("/etc/k.pem");
    web::writeListen(s, l);
    EXPECT_EQ(web::readListen(s), l);
    // A file changed by hand to serve beyond this computer without TLS stays off.
    s.setValue("web/tlsKey", QString());
    EXPECT_EQ(web::readListen(s).port, 0);
    s.setValue("web/address", "not an address");
    s.setValue("web/tlsKey", "/etc/k.pem");
    EXPECT_EQ(web::readListen(s).port, 0);
}

TEST(WebTokens, MadeShownOnceKeptAsHashRevoked) {
    QTemporaryDir dir;
    const QString file = dir.filePath("v.ini");
    QSettings s(file, QSettings::IniFormat);
    const QString a = web::makeToken(s, QStringLiteral("grafana"));
    const QString b = web::makeToken(s, QStringLiteral("phone"));
    ASSERT_GE(a.size(), 40);
    EXPECT_NE(a, b);
    EXPECT_TRUE(web::makeToken(s, QStringLiteral("../x")).isEmpty());
    auto kept = web::readTokens(s);
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept.value("grafana"), web::tokenHash(a.toLatin1()));
    // Only the hash reaches the file.
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_FALSE(text.contains(a.toLatin1()));
    EXPECT_TRUE(text.contains(web::tokenHash(a.toLatin1())));
    // Made again under the same name: the old one no longer counts.
    const QString a2 = web::makeToken(s, QStringLiteral("grafana"));
    EXPECT_EQ(web::readTokens(s).value("grafana"), web::tokenHash(a2.toLatin1()));
    EXPECT_TRUE(web::revokeToken(s, QStringLiteral("grafana")));
    EXPECT_FALSE(web::revokeToken(s, QStringLiteral("grafana")));
    EXPECT_EQ(web::readTokens(s).keys(), QStringList{"phone"});
}

}  // namespace
