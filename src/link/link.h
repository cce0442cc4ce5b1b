#pragma once
// The link thread and its UI-side face. One thread owns the Modbus connection; every exchange runs
// there, one at a time, in the order asked. The UI hands it requests and gets results back through
// queued signals, so no window ever waits on the serial line. While the port is open the poll cycle
// runs there too, letting queued requests run between its register blocks.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QThread>
#include <QVector>
#include <memory>

#include "link/image.h"
#include "link/modbusrtu.h"
#include "link/pollcycle.h"

class QTimer;

namespace comm {

class LinkWorker;

// What happened to the line, for the status bar and the event log. detail is the device (Opened,
// Closed, DeviceLost, DeviceBack), the reason (OpenFailed) or empty.
enum class LinkEvent {
    Opened,      // the port opened
    Closed,      // the operator closed the port
    OpenFailed,  // the port could not be opened
    Silent,      // a whole poll cycle failed: the instrument stopped answering
    Answering,   // the instrument answers again after Silent
    DeviceLost,  // the system reports the port's device gone
    DeviceBack,  // the lost device opened again
};

// The outcome of one holding-register write made for the operator: what was sent, how it ended
// (status 0 or kModbusFail after the repeat), the caption of the control it came from, and on
// failure the reason in plain words.
struct WriteReport {
    quint64 id = 0;
    int32_t reg = 0;
    int32_t value = 0;
    int32_t status = 0;
    int calls = 0;
    QString caption;
    QString error;
};

class Link : public QObject {
    Q_OBJECT
  public:
    explicit Link(std::unique_ptr<ModbusRTU> bus, QObject* parent = nullptr);
    ~Link() override;  // stops the thread; waits a bounded time for the exchange in flight

    // The shared settings array. UI thread only.
    CommParamsArray& commParams() { return commParams_; }
    const CommParamsArray& commParams() const { return commParams_; }

    // The UI-side copy of the instrument image, refreshed after every block the poll cycle reads.
    const InstrumentImage& image() const { return image_; }

    // OpenPort_Modbus with the port, baud and parity slots, then polling of the port and address
    // slots every 100 ms. The open status lands in kOpenStatusSlot when it arrives. Opening again
    // re-opens without a close.
    void open();
    // ClosePort_Modbus(CommParams 0); polling stops after the exchange in flight. The image stays.
    void close();
    bool polling() const { return polling_; }

    // One holding-register write, repeated once on -8888, with the port and address of CommParams
    // (0) and (3) as they are now. A value that does not fit 16 bits is not sent: writeFinished
    // then reports status -8888 and 0 calls. Returns the request id.
    // caption names the control the value came from; it comes back with writeReported.
    quint64 writeHolding(int32_t reg, int32_t value, const QString& caption = QString());
    // Reads qty (1..125) holding registers from start; the result comes with readFinished.
    quint64 readHolding(int32_t start, int32_t qty);
    // Requests handed over and not yet answered.
    int pendingRequests() const { return pending_; }

    // What the link has done, for the status bar.
    const LinkStats& stats() const { return stats_; }
    double lastCycleMs() const { return lastCycleMs_; }

    // Bounded shutdown, also run by the destructor. Safe to call twice.
    void shutdown(int waitMs = 3000);

  signals:
    void imagePublished();
    void cycleFinished(double periodMs);
    void opened(int32_t status);
    void writeFinished(quint64 id, int32_t reg, int32_t value, int32_t status, int calls);
    void writeReported(const comm::WriteReport& report);  // with every writeFinished
    void linkEvent(comm::LinkEvent event, const QString& detail);
    void readFinished(quint64 id, int32_t start, QVector<int32_t> values, int32_t status);
    void statsChanged();

  private:
    void onImage(const InstrumentImage& image, const LinkStats& stats);
    void onStats(const LinkStats& stats);

    QThread thread_;
    LinkWorker* worker_ = nullptr;  // lives on thread_
    CommParamsArray commParams_;
    InstrumentImage image_;
    LinkStats stats_;
    bool polling_ = false;
    QHash<quint64, QString> writeCaptions_;  // request id -> caption, until the write ends
    quint64 nextId_ = 1;
    int pending_ = 0;
    double lastCycleMs_ = 0;
    bool shutDown_ = false;
};

// Runs on the link thread. Public for the tests of cycle pacing; windows use Link.
class LinkWorker : public QObject {
    Q_OBJECT
  public:
    explicit LinkWorker(std::unique_ptr<ModbusRTU> bus);
    ~LinkWorker() override;

    static constexpr int kPeriodMs = 100;

  public slots:
    void start();
    void doOpen(int32_t port, int32_t baud, int32_t parity, int32_t addr);
    void doClose(int32_t port);
    void doWrite(quint64 id, int32_t port, int32_t addr, int32_t reg, int32_t value);
    void doRead(quint64 id, int32_t port, int32_t addr, int32_t start, int32_t qty);
    void stop();

  signals:
    void imageReady(const comm::InstrumentImage& image, const comm::LinkStats& stats);
    void statsReady(const comm::LinkStats& stats);
    void cycleDone(double periodMs);
    void openDone(int32_t status);
    void writeDone(quint64 id, int32_t reg, int32_t value, int32_t status, int calls,
                   const QString& error);
    void readDone(quint64 id, int32_t start, QVector<int32_t> values, int32_t status);

  private:
    void beginCycle();
    void runStep();
    void scheduleNextCycle();

    std::unique_ptr<ModbusRTU> bus_;
    PollCycle pollCycle_;
    QTimer* pace_ = nullptr;
    bool polling_ = false;
    bool stepQueued_ = false;
    int32_t port_ = 0;
    int32_t addr_ = 0;
    QElapsedTimer cycleClock_;
    qint64 cycleStartMs_ = -1;
};

}  // namespace comm

Q_DECLARE_METATYPE(comm::InstrumentImage)
Q_DECLARE_METATYPE(comm::LinkStats)
Q_DECLARE_METATYPE(comm::WriteReport)
Q_DECLARE_METATYPE(comm::LinkEvent)
