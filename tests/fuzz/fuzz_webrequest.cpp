// The web API on arbitrary requests: method, path, query, headers and body separated by NUL bytes
// (headers as "name: value" lines). Every answer is a status from 200 to 599; an error is JSON with
// a code and a message; nothing outside the page's files is served.
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>

#include "web/api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static web::Hub hub;
    static const bool filled = [] {
        hub.setChamber(
            {QStringLiteral("A-1"), QJsonObject{{"name", "A-1"}}, {}, "/nonexistent/a.db"});
        return true;
    }();
    (void)filled;
    static web::Api api(hub, [] {
        web::ApiOptions o;
        o.loopbackOnly = false;
        o.nowMs = [] { return qint64(1700000000000); };
        return o;
    }());
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    web::Request r;
    r.method = parts.value(0);
    r.path = QString::fromUtf8(parts.value(1));
    r.query = parts.value(2);
    for (const QByteArray& line : parts.value(3).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) r.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    r.body = parts.value(4);
    r.remote =
        parts.value(5).isEmpty() ? QStringLiteral("127.0.0.1") : QString::fromUtf8(parts.value(5));
    const web::Response out = api.handle(r);
    if (out.status < 200 || out.status > 599) std::abort();
    if (out.status >= 400) {
        const QJsonObject e = QJsonDocument::fromJson(out.body).object();
        if (e.value(QStringLiteral("code")).toString().isEmpty()) std::abort();
        if (!e.value(QStringLiteral("message")).isString()) std::abort();
    }
    return 0;
}
