#pragma once
// The HTTP(S) server (civetweb) beside the Qt event loop: its own thread pool reads each request,
// holds it to the limits and answers through Api, or follows the hub for an event stream. No
// request waits on the chambers' thread.

#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "web/api.h"
#include "web/tlsfront.h"
#include "web/webconfig.h"

struct mg_context;
struct mg_connection;

namespace web {

class Server {
  public:
    // How many connections are served at once, and how many of them may follow the stream (a
    // stream holds its thread): a laboratory's screens and phones, with threads left for requests.
    static constexpr int kThreads = 144;
    static constexpr int kMaxStreams = 128;
    // Requests one address other than loopback may make per second (and as a burst).
    static constexpr int kRatePerSecond = 50;

    Server(Hub& hub, Listen listen, ApiOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens; false with a reason in *error (address in use, unreadable certificate...).
    bool start(QString* error);
    // Ends the streams and waits for the connections' threads.
    void stop();
    bool running() const { return ctx_ != nullptr; }
    // The port listened on (the one chosen when 0 was asked for), 0 when not running.
    int port() const { return port_; }
    QString url() const { return urlOf(listen_, port_); }
    Api& api() { return api_; }

    // The stream's messages over a WebSocket as well (GET /api/v1/ws): each a text frame
    // {"id":N,"event":"state"|"event"|"alert","data":{...}}, every chamber's state first. Read the
    // same as the stream; a page of another site is refused (its Origin is not this server's).
    static constexpr const char* kWebSocketPath = "/api/v1/ws";

  private:
    static int onRequest(mg_connection* conn, void* self);
    int serve(mg_connection* conn);
    void stream(mg_connection* conn, const Request& r);
    // Counts one more stream (event stream or WebSocket) while fewer than kMaxStreams are
    // followed; false, counting nothing, when they are all taken.
    bool takeStream();
    // The WebSocket's handlers on civetweb's threads. Each socket has a thread of its own that
    // sends it the hub's messages, so that a client that stops reading holds up only itself.
    struct Socket;
    static int onSocketConnect(const mg_connection* conn, void* self);
    static void onSocketReady(mg_connection* conn, void* self);
    static int onSocketData(mg_connection* conn, int flags, char* data, size_t size, void* self);
    static void onSocketClose(const mg_connection* conn, void* self);
    void sendToSocket(std::shared_ptr<Socket> socket);

    Hub& hub_;
    Listen listen_;
    Api api_;
    std::unique_ptr<TlsFront> front_;
    mg_context* ctx_ = nullptr;
    int port_ = 0;
    std::atomic<int> streams_{0};
    std::mutex socketsMutex_;
    std::map<const mg_connection*, std::shared_ptr<Socket>> sockets_;
    int writers_ = 0;  // the sockets' threads still running, under socketsMutex_
    std::condition_variable writersDone_;
    RateLimit rates_;
    QElapsedTimer clock_;
};

}  // namespace web
