#pragma once
// HTTPS in front of the web server: accepts TLS connections on the public address, on a thread of
// its own, and passes each one's bytes to the server's plain port on loopback, telling the server
// who is really at the other end (so that a client from elsewhere never counts as loopback).
//
// The TLS is Qt Network's (OpenSSL 3): the civetweb packaged here loads OpenSSL 1.1's function
// names at run time and calls one that OpenSSL 3 no longer has on every HTTPS connection.

#include <QHash>
#include <QString>
#include <QThread>
#include <memory>
#include <mutex>

namespace web {

class TlsFront {
  public:
    TlsFront();
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    // Listens on address:port (0: any free port) with the PEM certificate chain and key, passing
    // connections to 127.0.0.1:backendPort. False with a reason in *error.
    bool start(const QString& address, int port, const QString& certFile, const QString& keyFile,
               int backendPort, QString* error);
    void stop();
    int port() const { return port_; }
    // The client behind a connection to the backend from this local port, empty when it is none
    // of this front's.
    QString peerOf(int localPort) const;

    // How many connections are passed on at once.
    static constexpr int kMaxConnections = 256;

  private:
    friend class TlsFrontWorker;
    void setPeer(int localPort, const QString& peer);
    void dropPeer(int localPort);

    QThread thread_;
    class TlsFrontWorker* worker_ = nullptr;
    int port_ = 0;
    mutable std::mutex mutex_;
    QHash<int, QString> peers_;
};

}  // namespace web
