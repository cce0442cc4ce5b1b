#include "web/server.h"

#include <civetweb.h>

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/baseos.h"

namespace web {

struct Server::Socket {
    std::mutex mutex;  // held while writing; closed is set under it
    mg_connection* conn = nullptr;
    bool closed = false;
};

namespace {

// civetweb is set up once per process.
void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

int quiet(const mg_connection*, const char* message) {
    // The library's own complaints (a client gone, a bad handshake) are no news for the operator;
    // they never hold a token, since requests are not logged.
    qDebug("web server: %s", message);
    return 1;
}

bool writeAll(mg_connection* conn, const QByteArray& bytes) {
    return bytes.isEmpty() || mg_write(conn, bytes.constData(), bytes.size()) == bytes.size();
}

void send(mg_connection* conn, const Response& r, bool head) {
    mg_response_header_start(conn, r.status);
    mg_response_header_add(conn, "Content-Type", r.type.constData(), -1);
    mg_response_header_add(conn, "Content-Length", QByteArray::number(r.body.size()).constData(),
                           -1);
    mg_response_header_add(conn, "Cache-Control", "no-store", -1);
    for (const auto& [k, v] : securityHeaders())
        mg_response_header_add(conn, k.constData(), v.constData(), -1);
    for (const auto& [k, v] : r.headers)
        mg_response_header_add(conn, k.constData(), v.constData(), -1);
    mg_response_header_send(conn);
    if (!head) writeAll(conn, r.body);
}

Request readRequest(mg_connection* conn) {
    const mg_request_info* info = mg_get_request_info(conn);
    Request r;
    r.method = info->request_method ? QByteArray(info->request_method) : QByteArray();
    r.path = QString::fromUtf8(info->local_uri ? info->local_uri : "");
    r.query = info->query_string ? QByteArray(info->query_string) : QByteArray();
    r.remote = QString::fromLatin1(info->remote_addr);
    for (int i = 0; i < info->num_headers; ++i)
        r.headers.insert(QByteArray(info->http_headers[i].name).toLower(),
                         QByteArray(info->http_headers[i].value));
    if (info->content_length > kMaxBody) {
        r.bodyTooLarge = true;
        return r;
    }
    char buf[4096];
    for (;;) {
        const int n = mg_read(conn, buf, sizeof buf);
        if (n <= 0) break;
        r.body.append(buf, n);
        if (r.body.size() > kMaxBody) {
            r.bodyTooLarge = true;
            r.body.clear();
            break;
        }
    }
    return r;
}

QByteArray messageBytes(const StreamMessage& m) {
    return "id: " + QByteArray::number(m.id) + "\nevent: " + m.event + "\ndata: " + m.data + "\n\n";
}

}  // namespace

Server::Server(Hub& hub, Listen listen, ApiOptions options)
    : hub_(hub),
      listen_(std::move(listen)),
      api_(hub,
           [&] {
               options.loopbackOnly = isLoopback(listen_.address);
               return std::move(options);
           }()),
      rates_(kRatePerSecond) {
    clock_.start();
}

Server::~Server() {
    stop();
}

bool Server::start(QString* error) {
    if (ctx_) return true;
    initLibrary();
    // With TLS the server itself listens on loopback only, behind the TLS front.
    const QString address = listen_.tls() ? QStringLiteral("127.0.0.1") : listen_.address;
    const int port = listen_.tls() ? 0 : listen_.port;
    const QByteArray ports = (address + u':' + QString::number(port)).toLatin1();
    const QByteArray threads = QByteArray::number(kThreads);
    const char* opts[] = {"listening_ports",
                          ports.constData(),
                          "num_threads",
                          threads.constData(),
                          "request_timeout_ms",
                          "30000",
                          "enable_keep_alive",
                          "yes",
                          "keep_alive_timeout_ms",
                          "30000",
                          "max_request_size",
                          "16384",
                          "enable_websocket_ping_pong",
                          "yes",
                          nullptr};
    mg_callbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.log_message = &quiet;
    // Serving onlookers never holds up the chambers' thread when the processor is short.
    callbacks.init_thread = [](const mg_context*, int type) -> void* {
        if (type == 1) base::lowerThisThreadsPriority();
        return nullptr;
    };
    mg_init_data init;
    std::memset(&init, 0, sizeof init);
    init.callbacks = &callbacks;
    init.configuration_options = opts;
    mg_error_data err;
    std::memset(&err, 0, sizeof err);
    char text[256] = {0};
    err.text = text;
    err.text_buffer_size = sizeof text;
    ctx_ = mg_start2(&init, &err);
    if (!ctx_) {
        if (error)
            *error = QStringLiteral("cannot serve on %1: %2")
                         .arg(QString::fromLatin1(ports), QString::fromLocal8Bit(text));
        return false;
    }
    mg_server_port sp[4];
    std::memset(sp, 0, sizeof sp);
    const int n = mg_get_server_ports(ctx_, 4, sp);
    const int backendPort = n > 0 ? sp[0].port : port;
    mg_set_request_handler(ctx_, "/", &Server::onRequest, this);
    mg_set_websocket_handler(ctx_, kWebSocketPath, &Server::onSocketConnect, &Server::onSocketReady,
                             &Server::onSocketData, &Server::onSocketClose, this);
    if (!listen_.tls()) {
        port_ = backendPort;
        return true;
    }
    front_ = std::make_unique<TlsFront>();
    QString why;
    if (!front_->start(listen_.address, listen_.port, listen_.tlsCert, listen_.tlsKey, backendPort,
                       &why)) {
        stop();
        if (error)
            *error = QStringLiteral("cannot serve HTTPS on %1:%2: %3")
                         .arg(listen_.address)
                         .arg(listen_.port)
                         .arg(why);
        return false;
    }
    port_ = front_->port();
    return true;
}

void Server::stop() {
    if (!ctx_) return;
    hub_.close();
    if (front_) front_->stop();
    // The library's stop ends a write to a socket that does not read and closes every socket; the
    // sockets' threads, woken by the hub's closing, are then waited for.
    mg_stop(ctx_);
    {
        std::unique_lock<std::mutex> lock(socketsMutex_);
        writersDone_.wait(lock, [&] { return writers_ == 0; });
    }
    front_.reset();
    ctx_ = nullptr;
    port_ = 0;
}

int Server::onRequest(mg_connection* conn, void* self) {
    return static_cast<Server*>(self)->serve(conn);
}

int Server::serve(mg_connection* conn) {
    Request r = readRequest(conn);
    // Behind the TLS front: the client it passes on.
    if (front_)
        if (const QString peer = front_->peerOf(mg_get_request_info(conn)->remote_port);
            !peer.isEmpty())
            r.remote = peer;
    const bool head = r.method == "HEAD";
    if (!rates_.allow(r.remote, clock_.elapsed())) {
        Response e = errorResponse(429, "too_many_requests", QStringLiteral("slow down"));
        e.headers << std::pair<QByteArray, QByteArray>("Retry-After", "1");
        send(conn, e, head);
        return 429;
    }
    if (Api::isStream(r)) {
        if (auto refused = api_.refuse(r, nullptr)) {
            send(conn, *refused, false);
            return refused->status;
        }
        stream(conn, r);
        return 200;
    }
    const Response out = api_.handle(r);
    send(conn, out, head);
    return out.status;
}

bool Server::takeStream() {
    int n = streams_.load();
    do {
        if (n >= kMaxStreams) return false;
    } while (!streams_.compare_exchange_weak(n, n + 1));
    return true;
}

void Server::stream(mg_connection* conn, const Request& r) {
    if (!takeStream()) {
        send(conn,
             errorResponse(503, "too_many_streams", QStringLiteral("too many stream clients")),
             false);
        return;
    }
    mg_response_header_start(conn, 200);
    mg_response_header_add(conn, "Content-Type", "text/event-stream; charset=utf-8", -1);
    mg_response_header_add(conn, "Cache-Control", "no-store", -1);
    mg_response_header_add(conn, "Connection", "close", -1);
    for (const auto& [k, v] : securityHeaders())
        mg_response_header_add(conn, k.constData(), v.constData(), -1);
    mg_response_header_send(conn);
    // A client that comes back names the last message it had; one that missed too much, or a
    // new one, starts from every chamber's current state.
    bool ok = false;
    qint64 last = r.header("last-event-id").toLongLong(&ok);
    bool missed = !ok || last < 0 || last > hub_.lastId();
    if (!missed) hub_.after(last, 0, &missed);
    bool alive = writeAll(conn, "retry: 2000\n\n");
    if (missed) {
        last = hub_.lastId();
        for (const ChamberEntry& e : hub_.chambers()) {
            QJsonObject o = e.state;
            o.insert(QStringLiteral("id"), Api::idOf(e.name));
            alive = alive &&
                    writeAll(conn, messageBytes({last, "state",
                                                 QJsonDocument(o).toJson(QJsonDocument::Compact)}));
        }
    }
    while (alive && !hub_.closed()) {
        const QList<StreamMessage> messages = hub_.after(last, 15000);
        if (messages.isEmpty()) {
            alive = writeAll(conn, ": keep-alive\n\n");
            continue;
        }
        for (const StreamMessage& m : messages) {
            alive = alive && writeAll(conn, messageBytes(m));
            last = m.id;
        }
    }
    --streams_;
}

namespace {

QByteArray socketMessage(const StreamMessage& m) {
    return "{\"id\":" + QByteArray::number(m.id) + ",\"event\":\"" + m.event +
           "\",\"data\":" + m.data + "}";
}

bool writeSocket(mg_connection* conn, const QByteArray& text) {
    return mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_TEXT, text.constData(),
                              std::size_t(text.size())) > 0;
}

}  // namespace

int Server::onSocketConnect(const mg_connection* c, void* self) {
    auto* server = static_cast<Server*>(self);
    auto* conn = const_cast<mg_connection*>(c);
    Request r = readRequest(conn);
    if (server->front_)
        if (const QString peer = server->front_->peerOf(mg_get_request_info(conn)->remote_port);
            !peer.isEmpty())
            r.remote = peer;
    // A page of another site may not read through its visitor's browser: a browser names the
    // page's origin, which must be this server.
    const QByteArray origin = r.header("origin");
    if (!origin.isEmpty()) {
        const QByteArray host = r.header("host");
        if (host.isEmpty() || (origin != "http://" + host && origin != "https://" + host)) return 1;
    }
    if (!server->rates_.allow(r.remote, server->clock_.elapsed())) return 1;
    if (server->api_.refuse(r, nullptr)) return 1;
    if (!server->takeStream()) return 1;
    auto socket = std::make_shared<Socket>();
    socket->conn = conn;
    std::lock_guard<std::mutex> lock(server->socketsMutex_);
    server->sockets_[c] = std::move(socket);  // nothing is sent to it before it is ready
    return 0;
}

void Server::onSocketReady(mg_connection* conn, void* self) {
    auto* server = static_cast<Server*>(self);
    std::lock_guard<std::mutex> lock(server->socketsMutex_);
    const auto found = server->sockets_.find(conn);
    if (found == server->sockets_.end()) return;
    ++server->writers_;
    std::thread([server, socket = found->second] { server->sendToSocket(socket); }).detach();
}

int Server::onSocketData(mg_connection*, int flags, char*, size_t, void*) {
    // Nothing a client sends is taken; its closing ends the socket.
    return (flags & 0xf) == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE ? 0 : 1;
}

void Server::onSocketClose(const mg_connection* conn, void* self) {
    auto* server = static_cast<Server*>(self);
    std::shared_ptr<Socket> socket;
    {
        std::lock_guard<std::mutex> lock(server->socketsMutex_);
        const auto found = server->sockets_.find(conn);
        // A socket refused at its connect was never counted.
        if (found == server->sockets_.end()) return;
        socket = found->second;
        server->sockets_.erase(found);
        --server->streams_;
    }
    // Its thread writes no more once this returns (it may be in a write now: waited for).
    std::lock_guard<std::mutex> lock(socket->mutex);
    socket->closed = true;
}

void Server::sendToSocket(std::shared_ptr<Socket> socket) {
    base::lowerThisThreadsPriority();
    // Every chamber's state as it is now, then what follows it.
    qint64 last = hub_.lastId();
    QList<StreamMessage> messages;
    for (const ChamberEntry& e : hub_.chambers()) {
        QJsonObject o = e.state;
        o.insert(QStringLiteral("id"), Api::idOf(e.name));
        messages << StreamMessage{last, "state", QJsonDocument(o).toJson(QJsonDocument::Compact)};
    }
    for (bool alive = true; alive && !hub_.closed(); messages = hub_.after(last, 1000)) {
        std::lock_guard<std::mutex> lock(socket->mutex);
        if (socket->closed) break;
        for (const StreamMessage& m : messages) {
            alive = writeSocket(socket->conn, socketMessage(m));
            if (!alive) break;
            last = m.id;
        }
    }
    // Notified under the lock: once stop() sees none left, this thread touches the server no more.
    std::lock_guard<std::mutex> lock(socketsMutex_);
    --writers_;
    writersDone_.notify_all();
}

}  // namespace web
