#pragma once
// The link thread and its UI-side face. One thread owns the Modbus connection; every exchange runs
// there, one at a time, in the order asked. The UI hands it requests and gets results back through
// queued signals, so no window ever waits on the serial line. While the port is open the poll cycle
// runs there too, letting queued requests run between its register blocks.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QVector>
#include <functional>
#include <memory>

#include "base/workerthread.h"
#include "link/commparams.h"
#include "link/image.h"
#include "link/linkevents.h"
#include "link/modbusrtu.h"
#include "link/pollcycle.h"

class QTimer;

namespace comm {

class LinkWorker;

class Link : public QObject {
    Q_OBJECT
  public:
    explicit Link(std::unique_ptr<ModbusRTU> bus, QObject* parent = nullptr);
    ~Link() override;  // shutdown() with its default wait

    // The port settings of the last open (or of setSettings). Requests go out with its port and
    // address as they are at the moment of the request. UI thread only.
    const PortSettings& settings() const { return settings_; }
    // Takes settings for the requests to come without opening the port.
    void setSettings(const PortSettings& settings) { settings_ = settings; }

    // The UI-side copy of the instrument image, refreshed after every block the poll cycle reads.
    const InstrumentImage& image() const { return image_; }

    // Keeps the settings, then OpenPort_Modbus with their port, baud and parity, then polling of
    // their port and address every 100 ms; the open status comes with opened(). Opening again
    // re-opens without a close; a cycle running then is cut short, and the next one reads every
    // block with the new settings. open() opens again with the settings kept.
    // When the open port's device goes away (unplugged), the link closes it and reopens the same
    // device with the same settings once a second; polling resumes by itself when it opens.
    void open(const PortSettings& settings);
    void open() { open(settings_); }
    // ClosePort_Modbus on the settings' port; polling and reopening stop after the exchange in
    // flight. The image stays.
    void close();
    bool polling() const { return polling_; }
    // Milliseconds since a register block was last read successfully while polling, counted from
    // the open while none has been; 0 when not polling.
    int silentMs() const;

    // One holding-register write, repeated once on -8888, with the port and address as they are
    // now. A value that does not fit 16 bits is not sent: writeFinished then reports status
    // -8888 and 0 calls. Returns the request id. caption names the control the value came from; it
    // comes back with writeReported, with the reason of a failure in error.
    quint64 writeHolding(int32_t reg, int32_t value, const QString& caption = QString());
    // Reads qty (1..125) holding registers from start; the result comes with readFinished.
    quint64 readHolding(int32_t start, int32_t qty);
    // Requests handed over and not yet answered.
    int pendingRequests() const { return pending_; }

    // What the link has done, for the status bar.
    const LinkStats& stats() const { return stats_; }
    // Length of the last poll cycle; 0 from a close or an open until a cycle has been timed.
    double lastCycleMs() const { return lastCycleMs_; }

    // Stops the link thread, waiting at most waitMs for the exchange in flight; a thread still
    // stuck in a call after that is left to end on its own (or with the process). Safe to call
    // twice. Requests made afterwards are refused: a write or read then ends at once with -8888.
    void shutdown(int waitMs = 3000);

  signals:
    void imagePublished();
    void cycleFinished(double periodMs);
    void opened(int32_t status);
    void writeFinished(quint64 id, int32_t reg, int32_t value, int32_t status, int calls);
    void writeReported(const comm::WriteReport& report);  // with every writeFinished
    // detail is the device; a failed open comes with its reason.
    void linkEvent(comm::LinkEvent event, const QString& detail,
                   const comm::LineError& error = comm::LineError{});
    void readFinished(quint64 id, int32_t start, QVector<int32_t> values, int32_t status);
    void statsChanged();

  private:
    void onImage(const InstrumentImage& image, const LinkStats& stats, bool blockRead);
    void onStats(const LinkStats& stats);
    void refuse(quint64 id, int32_t reg, int32_t value, bool isWrite);
    // Numbers a request and queues call on the link thread with the port and address of now, or
    // refuses it after a shutdown.
    quint64 request(int32_t reg, int32_t value, bool isWrite, const QString& caption,
                    std::function<void(LinkWorker&, quint64, int32_t, int32_t)> call);

    base::WorkerThread<LinkWorker> thread_;  // a shutdown leaves a stuck one to end on its own
    PortSettings settings_;
    InstrumentImage image_;
    LinkStats stats_;
    bool polling_ = false;
    QHash<quint64, QString> writeCaptions_;  // request id -> caption, until the write ends
    quint64 nextId_ = 1;
    int pending_ = 0;
    double lastCycleMs_ = 0;
    QElapsedTimer sinceGoodBlock_;  // restarted by the open and by every block read successfully
    bool shutDown_ = false;
};

// Runs on the link thread. Public for the tests of cycle pacing; windows use Link.
class LinkWorker : public QObject {
    Q_OBJECT
  public:
    explicit LinkWorker(std::unique_ptr<ModbusRTU> bus);
    ~LinkWorker() override;

    static constexpr int kPeriodMs = 100;
    static constexpr int kReopenMs = 1000;

  public slots:
    void start();
    void openPort(int32_t port, int32_t baud, int32_t parity, int32_t addr);
    void closePort(int32_t port);
    void writeRegister(quint64 id, int32_t port, int32_t addr, int32_t reg, int32_t value);
    void readRegisters(quint64 id, int32_t port, int32_t addr, int32_t start, int32_t qty);
    void stop();

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

  private:
    // Reads the next block of the running cycle, or starts a cycle when none runs.
    void readNextBlock();
    void queueNextBlock();
    void endCycle();
    // After every exchange: the device gone means closing the port and reopening it once a second.
    void checkDevice();
    void reopenTick();
    LinkStats currentStats() const;
    QString deviceName() const;

    std::unique_ptr<ModbusRTU> bus_;
    PollCycle pollCycle_;
    QTimer* cycleTimer_ = nullptr;
    QTimer* reopenTimer_ = nullptr;
    bool polling_ = false;
    bool portOpen_ = false;    // the last open succeeded and the device has not gone since
    bool deviceLost_ = false;  // waiting for the device to come back
    bool silent_ = false;      // a whole cycle failed; no block has succeeded since
    bool cycleReadAny_ = false;
    bool blockQueued_ = false;
    int32_t port_ = 0;
    int32_t baud_ = 0;
    int32_t parity_ = 0;
    int32_t addr_ = 0;
    LineError openError_;  // the reason of a failed open when the bus gives none
    QElapsedTimer cycleClock_;
    qint64 cycleStartMs_ = -1;  // -1: no cycle timed since the port opened
};

}  // namespace comm

Q_DECLARE_METATYPE(comm::InstrumentImage)
Q_DECLARE_METATYPE(comm::LinkStats)
