// The web server hosted by the program's fleet: 16 chambers on one simulated line at 19200 baud
// with wire timing (the first focused), served on the loopback.
//  1. The fleet alone: the line's time beside its wire time, the focused chamber's cycle, the UI
//     thread's longest event-loop gap.
//  2. The same with 100 stream clients, 20 history requests a second (30-day spans at 1,000
//     points), GET /api/v1/chambers ten times a second and /metrics once a second: each request's
//     time, and how long after its block was read a chamber's new state reaches the stream's
//     clients (from the UI thread's receipt of the image to a client's read of the message).
//  3. Requests a second from 2 clients asking as fast as they can, for /api/v1/chambers and then
//     /metrics, the streams still following.
// Each request is a connection of its own (Connection: close), as a script's would be.
//   build/bin/bench_web [seconds]   (each run; default 30)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../comm/fleetrig.h"
#include "web/host.h"

namespace {

constexpr int kChambers = 16;
constexpr int kBaud = 19200;
constexpr int kStreamClients = 100;

double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendAll(int fd, const std::string& s) {
    for (std::size_t done = 0; done < s.size();) {
        const ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

// One GET on a connection of its own: its time in ms, or -1 when it did not end in 200.
double get(int port, const std::string& path) {
    const double start = nowMs();
    const int fd = connectTo(port);
    if (fd < 0) return -1;
    bool ok =
        sendAll(fd, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    std::string reply;
    char buf[16384];
    for (ssize_t n; ok && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        reply.append(buf, std::size_t(n));
    ::close(fd);
    ok = ok && reply.compare(0, 12, "HTTP/1.1 200") == 0;
    return ok ? nowMs() - start : -1;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// A client of the event stream on a thread of its own: when each message id reached it.
class StreamClient {
  public:
    explicit StreamClient(int port) {
        fd_ = connectTo(port);
        if (fd_ < 0 || !sendAll(fd_,
                                "GET /api/v1/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Accept: text/event-stream\r\n\r\n"))
            return;
        thread_ = std::thread([this] { read(); });
    }
    ~StreamClient() { stop(); }
    void stop() {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool answered() const { return answered_; }
    // Message id → when it arrived; read once stopped.
    const std::vector<std::pair<qint64, double>>& arrivals() const { return arrivals_; }

  private:
    void read() {
        std::string pending;
        char buf[8192];
        for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) {
            const double at = nowMs();
            pending.append(buf, std::size_t(n));
            if (!answered_ && pending.compare(0, 12, "HTTP/1.1 200") == 0) answered_ = true;
            for (std::size_t line; (line = pending.find('\n')) != std::string::npos;) {
                if (pending.compare(0, 4, "id: ") == 0)
                    arrivals_.emplace_back(std::stoll(pending.substr(4, line - 4)), at);
                pending.erase(0, line + 1);
            }
        }
    }
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> answered_{false};
    std::vector<std::pair<qint64, double>> arrivals_;
};

// A client asking for one path at a steady pace (every intervalMs; 0: as fast as it can) until
// told to stop: each request's time.
class Asker {
  public:
    Asker(int port, std::function<std::string()> path, double intervalMs)
        : thread_([this, port, path = std::move(path), intervalMs] {
              double next = nowMs();
              while (!stop_) {
                  const double ms = get(port, path());
                  if (ms < 0)
                      ++failed_;
                  else
                      times_.push_back(ms);
                  if (intervalMs <= 0) continue;
                  next += intervalMs;
                  while (!stop_ && nowMs() < next)
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~Asker() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    const std::vector<double>& times() const { return times_; }
    int failed() const { return failed_; }

  private:
    std::atomic<bool> stop_{false};
    std::vector<double> times_;
    int failed_ = 0;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    bench::FleetRig rig(kBaud, kChambers);
    const bench::FleetRig::Poll quiet = rig.measure(seconds * 1000LL);

    web::HostSetup setup;
    setup.listen.port = 0;  // any free port of the loopback
    setup.listen.address = QStringLiteral("127.0.0.1");
    const QString folder = rig.folder();
    setup.settings = [folder] {
        return std::make_unique<QSettings>(folder + QStringLiteral("/velmars.ini"),
                                           QSettings::IniFormat);
    };
    setup.userStore = folder + QStringLiteral("/users.db");
    web::Host host(rig.fleet(), setup);
    QString error;
    if (!host.start(&error)) {
        std::fprintf(stderr, "bench_web: %s\n", qUtf8Printable(error));
        return 2;
    }
    const int port = host.port();

    // When each chamber's oldest block not yet in a published state was read, and, once the
    // server's feed (connected first) has made the state's stream message, that message's id.
    std::map<QString, double> readSince;
    std::map<qint64, double> readAtMessage;
    for (chamber::Chamber* c : rig.fleet().chambers()) {
        const QString name = c->name();
        QObject::connect(&c->link(), &comm::Link::imagePublished,
                         [&readSince, name] { readSince.try_emplace(name, nowMs()); });
        QObject::connect(c, &chamber::Chamber::stateChanged, [&, name] {
            const auto it = readSince.find(name);
            if (it == readSince.end()) return;
            readAtMessage[host.hub().lastId()] = it->second;
            readSince.erase(it);
        });
    }

    // 2. The load of a laboratory's screens, scripts and scrapers.
    std::vector<std::unique_ptr<StreamClient>> streams;
    for (int i = 0; i < kStreamClients; ++i)
        streams.push_back(std::make_unique<StreamClient>(port));
    bench::spin(1000);
    std::atomic<int> turn{0};
    const auto span = [&turn] {
        const qint64 to = QDateTime::currentMSecsSinceEpoch();
        return "/api/v1/chambers/C" + std::to_string(turn++ % kChambers + 1) +
               "/samples?from=" + std::to_string(to - 30LL * 86400 * 1000) +
               "&to=" + std::to_string(to) + "&points=1000";
    };
    auto history = std::make_unique<Asker>(port, span, 50.0);
    auto list = std::make_unique<Asker>(
        port, [] { return std::string("/api/v1/chambers"); }, 100.0);
    auto scrape = std::make_unique<Asker>(
        port, [] { return std::string("/metrics"); }, 1000.0);
    const bench::FleetRig::Poll loaded = rig.measure(seconds * 1000LL);
    history->stop();
    list->stop();
    scrape->stop();
    int answeredStreams = 0;
    for (const auto& s : streams)
        answeredStreams += s->answered();

    // 3. Requests a second, two clients at once.
    const auto rate = [&](const std::string& path, double* p99) {
        std::vector<std::unique_ptr<Asker>> askers;
        for (int i = 0; i < 2; ++i)
            askers.push_back(std::make_unique<Asker>(
                port, [path] { return path; }, 0.0));
        const double start = nowMs();
        bench::spin(seconds * 500LL);
        std::vector<double> all;
        for (auto& a : askers) {
            a->stop();
            all.insert(all.end(), a->times().begin(), a->times().end());
        }
        *p99 = percentile(all, 0.99);
        return double(all.size()) * 1000.0 / (nowMs() - start);
    };
    double listFastP99 = 0, metricsFastP99 = 0;
    const double listRate = rate("/api/v1/chambers", &listFastP99);
    const double metricsRate = rate("/metrics", &metricsFastP99);

    for (auto& s : streams)
        s->stop();
    host.stop();

    std::vector<double> latencies;
    for (const auto& s : streams)
        for (const auto& [id, at] : s->arrivals())
            if (const auto it = readAtMessage.find(id); it != readAtMessage.end())
                latencies.push_back(at - it->second);
    const double chambersP99 = percentile(list->times(), 0.99);
    const double spanP99 = percentile(history->times(), 0.99);
    const double streamMedian = percentile(latencies, 0.5);
    std::printf(
        "without the server: line %.3f x wire, focused cycle %.0f ms, UI gap %.1f ms\n"
        "with %d of %d stream clients answered, 20 spans/s, /api/v1/chambers 10/s, /metrics 1/s: "
        "line %.3f x wire, focused cycle %.0f ms, UI gap %.1f ms\n"
        "  /api/v1/chambers median %.1f ms, p99 %.1f ms (%zu, %d failed); 30-day span at 1000 "
        "points median %.1f ms, p99 %.1f ms (%zu, %d failed); /metrics median %.1f ms (%zu)\n"
        "  stream latency median %.0f ms, p99 %.0f ms (%zu messages read)\n"
        "two clients as fast as they can: /api/v1/chambers %.0f requests/s (p99 %.1f ms), "
        "/metrics %.0f requests/s (p99 %.1f ms)\n",
        quiet.busyRatio, quiet.focusedCycleMs, quiet.uiGapMs, answeredStreams, kStreamClients,
        loaded.busyRatio, loaded.focusedCycleMs, loaded.uiGapMs, percentile(list->times(), 0.5),
        chambersP99, list->times().size(), list->failed(), percentile(history->times(), 0.5),
        spanP99, history->times().size(), history->failed(), percentile(scrape->times(), 0.5),
        scrape->times().size(), streamMedian, percentile(latencies, 0.99), latencies.size(),
        listRate, listFastP99, metricsRate, metricsFastP99);
    std::printf(
        "bench_web: chambers p99 %.1f ms; 30-day span %.1f ms; stream latency %.0f ms; poll %.2f x "
        "wire with %d clients\n",
        chambersP99, spanP99, streamMedian, loaded.busyRatio, answeredStreams);
    // Targets.
    const bool met = answeredStreams == kStreamClients && chambersP99 >= 0 && chambersP99 <= 5 &&
                     spanP99 >= 0 && spanP99 <= 50 && streamMedian >= 0 && streamMedian <= 250 &&
                     loaded.busyRatio <= 1.05 && loaded.uiGapMs <= 20;
    return met ? 0 : 1;
}
