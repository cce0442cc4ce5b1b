#include "web/tlsfront.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>

namespace web {

class TlsFrontWorker : public QObject {
  public:
    TlsFrontWorker(TlsFront& front, int backendPort) : front_(front), backendPort_(backendPort) {}

    bool listen(const QString& address, int port, const QSslConfiguration& config, QString* error) {
        server_ = new QSslServer(this);
        server_->setSslConfiguration(config);
        server_->setHandshakeTimeout(10000);
        server_->setMaxPendingConnections(64);
        QObject::connect(server_, &QTcpServer::pendingConnectionAvailable, this,
                         [this] { takePending(); });
        // A failed handshake is the client's affair: its socket goes.
        QObject::connect(server_, &QSslServer::errorOccurred, this,
                         [](QSslSocket* s, QAbstractSocket::SocketError) { s->deleteLater(); });
        if (!server_->listen(QHostAddress(address), static_cast<quint16>(port))) {
            *error = server_->errorString();
            return false;
        }
        port_ = server_->serverPort();
        return true;
    }
    int port() const { return port_; }

    void close() {
        if (server_) server_->close();
        for (QTcpSocket* s : findChildren<QTcpSocket*>())
            s->abort();
    }

  private:
    void takePending() {
        while (QTcpSocket* client = server_->nextPendingConnection()) {
            if (open_ >= TlsFront::kMaxConnections) {
                client->abort();
                client->deleteLater();
                continue;
            }
            pass(client);
        }
    }

    void pass(QTcpSocket* client) {
        ++open_;
        client->setParent(this);
        auto* backend = new QTcpSocket(this);
        const QString peer = client->peerAddress().toString();
        auto ended = std::make_shared<bool>(false);
        auto localPort = std::make_shared<int>(0);
        const auto end = [this, client, backend, ended, localPort] {
            if (*ended) return;
            *ended = true;
            --open_;
            if (*localPort) front_.dropPeer(*localPort);
            client->disconnectFromHost();
            backend->disconnectFromHost();
            client->deleteLater();
            backend->deleteLater();
        };
        QObject::connect(backend, &QTcpSocket::connected, this, [=, this] {
            *localPort = backend->localPort();
            front_.setPeer(*localPort, peer);
            if (client->bytesAvailable()) backend->write(client->readAll());
        });
        QObject::connect(client, &QTcpSocket::readyRead, this, [=] {
            if (backend->state() == QAbstractSocket::ConnectedState)
                backend->write(client->readAll());
        });
        QObject::connect(backend, &QTcpSocket::readyRead, this,
                         [=] { client->write(backend->readAll()); });
        QObject::connect(client, &QTcpSocket::disconnected, this, end);
        QObject::connect(backend, &QTcpSocket::disconnected, this, [=] {
            // What the server sent last still goes out before the client's side closes.
            client->write(backend->readAll());
            end();
        });
        QObject::connect(client, &QTcpSocket::errorOccurred, this, end);
        QObject::connect(backend, &QTcpSocket::errorOccurred, this, end);
        backend->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(backendPort_));
    }

    TlsFront& front_;
    int backendPort_;
    QSslServer* server_ = nullptr;
    int port_ = 0;
    int open_ = 0;
};

TlsFront::TlsFront() {
    thread_.setObjectName(QStringLiteral("web-tls"));
}

TlsFront::~TlsFront() {
    stop();
}

bool TlsFront::start(const QString& address, int port, const QString& certFile,
                     const QString& keyFile, int backendPort, QString* error) {
    QString why;
    QFile certIn(certFile), keyIn(keyFile);
    if (!certIn.open(QIODevice::ReadOnly)) why = QStringLiteral("cannot read %1").arg(certFile);
    if (why.isEmpty() && !keyIn.open(QIODevice::ReadOnly))
        why = QStringLiteral("cannot read %1").arg(keyFile);
    QList<QSslCertificate> chain;
    QSslKey key;
    if (why.isEmpty()) {
        chain = QSslCertificate::fromData(certIn.readAll(), QSsl::Pem);
        const QByteArray keyPem = keyIn.readAll();
        for (QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa, QSsl::Opaque}) {
            key = QSslKey(keyPem, a, QSsl::Pem);
            if (!key.isNull()) break;
        }
        if (chain.isEmpty())
            why = QStringLiteral("%1 holds no PEM certificate").arg(certFile);
        else if (key.isNull())
            why = QStringLiteral("%1 holds no PEM private key (without a passphrase)").arg(keyFile);
    }
    if (!why.isEmpty()) {
        if (error) *error = why;
        return false;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(chain);
    config.setPrivateKey(key);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    worker_ = new TlsFrontWorker(*this, backendPort);
    worker_->moveToThread(&thread_);
    thread_.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        worker_, [&] { listening = worker_->listen(address, port, config, &why); },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        stop();
        if (error) *error = why;
        return false;
    }
    port_ = worker_->port();
    return true;
}

void TlsFront::stop() {
    if (!worker_) return;
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_] {
            w->close();
            delete w;
        },
        Qt::BlockingQueuedConnection);
    worker_ = nullptr;
    thread_.quit();
    thread_.wait();
    port_ = 0;
    std::lock_guard lock(mutex_);
    peers_.clear();
}

QString TlsFront::peerOf(int localPort) const {
    std::lock_guard lock(mutex_);
    return peers_.value(localPort);
}

void TlsFront::setPeer(int localPort, const QString& peer) {
    std::lock_guard lock(mutex_);
    peers_.insert(localPort, peer);
}

void TlsFront::dropPeer(int localPort) {
    std::lock_guard lock(mutex_);
    peers_.remove(localPort);
}

}  // namespace web
