#pragma once
// One line (a serial port or a gateway connection) and the one thread that talks on it. Every
// instrument on the line is a client of it: a Link per chamber. All exchanges run on the line's
// thread, one at a time; chambers on different lines run in parallel.
//
// The focused client (the chamber whose main window is shown, or the only client of the line)
// gets the whole poll cycle every 100 ms with its requests in between. Every other polling client
// gets a short poll about once a second — discrete inputs 1..16, input registers 1..8, and input
// registers 4097..4112 every few seconds — ahead of the focused cycle's next block, so that its
// one-second sample holds values read within that second. A background client that does not
// answer is retried at a backed-off rate, one exchange per retry.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <map>
#include <memory>

#include "base/workerthread.h"
#include "comm/image.h"
#include "comm/linkevents.h"
#include "comm/modbusrtu.h"
#include "comm/pollcycle.h"
#include "comm/ports.h"

class QTimer;

namespace comm {

// What the line says to one of its clients: made by the client's link, it lives on the line's
// thread from then on, and the link hears only its own.
class LineClient : public QObject {
    Q_OBJECT
  signals:
    // blockRead: the block just read succeeded.
    void imageReady(const comm::InstrumentImage& image, const comm::LinkStats& stats,
                    bool blockRead);
    void statsReady(const comm::LinkStats& stats);
    void cycleDone(double periodMs);
    void openDone(int32_t status);
    void writeDone(quint64 id, int32_t reg, int32_t value, int32_t status, int calls,
                   const comm::LineError& error);
    void readDone(quint64 id, int32_t start, QVector<int32_t> values, int32_t status);
    void lineEvent(comm::LinkEvent event, const QString& detail,
                   const comm::LineError& error = comm::LineError{});
};

// Runs on the line's thread.
class LineWorker : public QObject {
    Q_OBJECT
  public:
    explicit LineWorker(std::unique_ptr<ModbusRTU> bus);
    ~LineWorker() override;

    static constexpr int kPeriodMs = 100;
    static constexpr int kReopenMs = 1000;
    // A background client's short poll: its period (under a second, so that the reads of one
    // poll and the next never straddle a whole sample second), the period of its 3X 4097..4112
    // block, and the first and the longest wait before retrying one that does not answer.
    static constexpr int kBackgroundPeriodMs = 900;
    static constexpr int kBackgroundHighPeriodMs = 4000;
    static constexpr int kFirstRetryMs = 2000;
    static constexpr int kLongestRetryMs = 16000;

  public slots:
    void start();
    // Takes out as the client's voice; it goes with the client (or the worker).
    void attach(quint64 client, LineClient* out);
    // Forgets a client; the last polling one leaving closes the port.
    void detach(quint64 client);
    // focused: the client gets the whole cycle; false hands it back to the short poll.
    void setFocus(quint64 client, bool focus);
    void setTurnaroundMs(int ms);
    int turnaroundMs() const { return turnaroundMs_; }
    void openPort(quint64 client, int32_t port, int32_t baud, int32_t parity, int32_t addr);
    void closePort(quint64 client, int32_t port);
    void writeRegister(quint64 client, quint64 id, int32_t port, int32_t addr, int32_t reg,
                       int32_t value);
    void readRegisters(quint64 client, quint64 id, int32_t port, int32_t addr, int32_t start,
                       int32_t qty);
    void stop();

  private:
    struct Client {
        Client(ModbusRTU& bus, LineClient* voice) : cycle(bus), out(voice) {}
        ~Client() { delete out; }
        Client(const Client&) = delete;
        Client& operator=(const Client&) = delete;
        PollCycle cycle;
        LineClient* out;
        int32_t addr = 0;
        bool polling = false;
        bool silent = false;  // no block has succeeded since a whole cycle or short poll failed
        // The focused cycle.
        bool cycleReadAny = false;
        qint64 cycleStartMs = -1;  // -1: no cycle timed since the port opened or focus came
        qint64 nextCycleMs = 0;
        // The short poll: the step to read next (0 none running), when the next one is due, when
        // the program block (3X 4097..4112) is due, and the wait before the next retry (0 while
        // answering).
        int shortStep = 0;
        qint64 dueMs = 0;
        qint64 highDueMs = 0;
        int retryMs = 0;
        // The exchanges made for this client.
        uint64_t exchanges = 0;
        uint64_t failures = 0;
        LineError lastError;
        bool lastOk = true;
    };

    Client* client(quint64 id);
    quint64 focusedId() const;
    Client* focused();
    // After the focused client may have changed from before: the one that lost the whole cycle and
    // the one that got it start afresh.
    void focusMoved(Client* before);
    bool anyPolling() const;
    // Runs call (one or more bus calls for client c) after the turnaround delay, and counts its
    // exchanges as c's.
    int32_t exchange(Client& c, const std::function<int32_t()>& call);
    // The next step of the line: a due short poll, else the focused cycle's next block, else a
    // wait for whichever comes first.
    void pump();
    void queuePump();
    void focusedStep(Client& c);
    void shortStep(Client& c, qint64 now);
    void programStep(Client& c, qint64 now);
    void endCycle(Client& c);
    void resetClient(Client& c);
    void publish(Client& c, bool blockRead);
    // After every exchange: the device gone means closing the port and reopening it once a second.
    void checkDevice();
    void reopenTick();
    void emitStatsToAll();
    LinkStats currentStats(const Client& c) const;
    QString deviceName() const;

    std::unique_ptr<ModbusRTU> bus_;
    std::map<quint64, std::unique_ptr<Client>> clients_;
    quint64 focus_ = 0;
    QTimer* pumpTimer_ = nullptr;
    QTimer* reopenTimer_ = nullptr;
    bool pumpQueued_ = false;
    bool portOpen_ = false;    // the last open succeeded and the device has not gone since
    bool deviceLost_ = false;  // waiting for the device to come back
    int32_t port_ = 0;
    int32_t baud_ = 0;
    int32_t parity_ = 0;
    int32_t lastAddr_ = 0;  // the slave of the last frame sent, for the turnaround delay
    int turnaroundMs_ = 0;
    LineError openError_;  // the reason of a failed open when the bus gives none
    QElapsedTimer clock_;
};

// The owner of one line's thread, shared by the Links of the chambers on it.
class Line {
  public:
    explicit Line(std::unique_ptr<ModbusRTU> bus);
    ~Line();  // shutdown() with its default wait
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Null once shut down.
    LineWorker* worker() const { return thread_.worker(); }
    quint64 newClient() { return nextClient_++; }
    template <class F>
    void post(F&& fn) {
        thread_.post(std::forward<F>(fn));
    }
    // Milliseconds put between a frame to one slave and a frame to another (default 0).
    void setTurnaroundMs(int ms);
    // The delay the line's thread works with, once what was posted before has run; -1 when it did
    // not answer within waitMs. Waits on the thread: not for the UI while the line may be busy.
    int turnaroundMs(int waitMs);
    // Ends the thread, waiting at most waitMs for the exchange in flight; a thread stuck in a call
    // after that is left to end on its own. Safe to call twice.
    void shutdown(int waitMs = base::WorkerThread<LineWorker>::kEndWaitMs);
    bool shutDown() const { return worker() == nullptr; }

  private:
    base::WorkerThread<LineWorker> thread_;
    quint64 nextClient_ = 1;
};

// The lines of a program, one per device: chambers whose ports name the same device share it.
// A line lives while a chamber holds it.
class LineRegistry {
  public:
    // Makes the Modbus implementation of a new line; the default talks through libmodbus over the
    // ports.
    using BusFactory = std::function<std::unique_ptr<ModbusRTU>(const QString& device)>;
    explicit LineRegistry(PortMap ports, BusFactory factory = {});
    LineRegistry(const LineRegistry&) = delete;
    LineRegistry& operator=(const LineRegistry&) = delete;

    const PortMap& ports() const { return ports_; }
    // The line of port number `port`'s device, made when no chamber holds it.
    std::shared_ptr<Line> lineFor(int port);
    std::shared_ptr<Line> line(const QString& device);
    // The turnaround delay of a device's line, now and for a line made later.
    void setTurnaroundMs(const QString& device, int ms);

  private:
    PortMap ports_;
    BusFactory factory_;
    QHash<QString, std::weak_ptr<Line>> lines_;
    QHash<QString, int> turnaroundMs_;
};

}  // namespace comm

Q_DECLARE_METATYPE(comm::InstrumentImage)
Q_DECLARE_METATYPE(comm::LinkStats)
