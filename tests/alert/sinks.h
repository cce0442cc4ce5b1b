#pragma once
// The servers of sinks.py for the alert tests: an SMTP server (aiosmtpd) or an HTTP server on a
// free port of 127.0.0.1, started and stopped by the test, and what each took, one JSON object per
// message.

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTimer>
#include <functional>

namespace alerttest {

// Runs the event loop until pred() holds or timeoutMs has passed; true when it held.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    bool held = pred();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((held = pred())) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(10);
    if (!held) loop.exec();
    return held;
}

inline int freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// One of the servers of sinks.py; what it took is read back from its file, one JSON line each.
class Sink {
  public:
    Sink(QString mode, QString file) : mode_(std::move(mode)), file_(std::move(file)) {
        port_ = freePort();
    }
    ~Sink() { stop(); }
    bool start() {
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Debian's interpreter, which has python3-aiosmtpd, before any other on the PATH.
        const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                                   ? QStringLiteral("/usr/bin/python3")
                                   : QStringLiteral("python3");
        proc_.start(python, {QStringLiteral(VELMARS_SINKS), mode_, QString::number(port_), file_});
        if (!proc_.waitForStarted(5000)) return false;
        bool ready = false;
        waitUntil(
            [&] {
                ready = ready || (proc_.canReadLine() && proc_.readLine().startsWith("ready"));
                return ready;
            },
            10000);
        return ready;
    }
    void stop() {
        if (proc_.state() == QProcess::NotRunning) return;
        proc_.terminate();
        if (!proc_.waitForFinished(5000)) proc_.kill();
        proc_.waitForFinished(2000);
    }
    int port() const { return port_; }
    QList<QJsonObject> taken() const {
        QList<QJsonObject> out;
        QFile f(file_);
        if (!f.open(QIODevice::ReadOnly)) return out;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty()) out << QJsonDocument::fromJson(line).object();
        return out;
    }
    // The messages whose field holds part.
    QList<QJsonObject> with(const QString& field, const QString& part) const {
        QList<QJsonObject> out;
        for (const QJsonObject& o : taken())
            if (o.value(field).toString().contains(part)) out << o;
        return out;
    }

  private:
    QString mode_, file_;
    int port_ = 0;
    QProcess proc_;
};

}  // namespace alerttest
