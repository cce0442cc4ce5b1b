#pragma once
// A blocking HTTP client for the tests: Qt Network's, run in a local event loop until the reply
// is in (or a generous safety limit passes).

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTimer>

namespace webtest {

struct Reply {
    int status = 0;  // 0: no HTTP answer
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QMap<QByteArray, QByteArray> headers;  // lower-case names
};

inline Reply fetch(const QString& url, const QByteArray& method = "GET",
                   const QByteArray& body = {},
                   const QList<QPair<QByteArray, QByteArray>>& headers = {},
                   const QList<QSslCertificate>& trust = {}) {
    static QNetworkAccessManager nam;
    QNetworkRequest req{QUrl(url)};
    for (const auto& [k, v] : headers)
        req.setRawHeader(k, v);
    if (!trust.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setCaCertificates(trust);
        req.setSslConfiguration(ssl);
    }
    QNetworkReply* reply = nam.sendCustomRequest(req, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a hung server fails the test
    if (!reply->isFinished()) loop.exec();
    Reply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    out.error = reply->error();
    for (const auto& [k, v] : reply->rawHeaderPairs())
        out.headers.insert(k.toLower(), v);
    reply->deleteLater();
    return out;
}

}  // namespace webtest
