#pragma once
// A chamber's face of the line its instrument is on. The line's thread (comm::Line) owns the
// Modbus connection; every exchange runs there, one at a time, in the order asked. The UI hands it
// requests and gets results back through queued signals, so no window ever waits on the serial
// line. While the port is open the poll cycle runs there too, letting queued requests run between
// its register blocks. A link made with a bus of its own is alone on its line.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QVector>
#include <functional>
#include <memory>

#include "comm/commparams.h"
#include "comm/image.h"
#include "comm/line.h"
#include "comm/linkevents.h"
#include "comm/modbusrtu.h"

namespace comm {

class Link : public QObject {
    Q_OBJECT
  public:
    explicit Link(std::unique_ptr<ModbusRTU> bus, QObject* parent = nullptr);
    // A client of a line that other links may share.
    explicit Link(std::shared_ptr<Line> line, QObject* parent = nullptr);
    ~Link() override;  // shutdown() with its default wait

    // Whether this chamber gets the whole poll cycle on a line it shares (its main window is
    // shown); the others get a short poll once a second. A link alone on its line always has the
    // whole cycle.
    void setFocused(bool focused);
    const std::shared_ptr<Line>& line() const { return line_; }
    // Leaves its line for another (the chamber's port now names another device): closed first
    // when polling; the old line closes once no chamber holds it, and its thread ends without
    // anyone waiting for it. The image stays until the new line reads it.
    void moveTo(std::shared_ptr<Line> line);

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
    // Milliseconds since the instrument last answered, counted from the link's making while it
    // never has: an open or a close does not restart it.
    int unansweredMs() const;
    // Whether the image's live values are no reading of the instrument now: the port closed, no
    // answer since the open, the device gone, or silent for kStaleAfterMs.
    bool valuesStale() const;

    // One holding-register write, repeated once on -8888, with the port and address as they are
    // now. A value that does not fit 16 bits is not sent: writeFinished then reports status
    // -8888 and 0 calls. Returns the request id. caption names the control the value came from; it
    // comes back with writeReported, with the reason of a failure in error. audit comes back with
    // it too, its old value taken from the image when the caller gave none; a write with a
    // refusal is not sent and ends at once with -8888.
    quint64 writeHolding(int32_t reg, int32_t value, const QString& caption = QString(),
                         base::Audit audit = {});
    // Reads qty (1..125) holding registers from start; the result comes with readFinished.
    quint64 readHolding(int32_t start, int32_t qty);
    // Requests handed over and not yet answered.
    int pendingRequests() const { return pending_; }

    // What the link has done, for the status bar.
    const LinkStats& stats() const { return stats_; }
    // Length of the last poll cycle; 0 from a close or an open until a cycle has been timed.
    double lastCycleMs() const { return lastCycleMs_; }

    // Leaves the line; the last link on it stops its thread, waiting at most waitMs for the
    // exchange in flight; a thread still stuck in a call after that is left to end on its own (or
    // with the process). Safe to call twice. Requests made afterwards are refused: a write or read
    // then ends at once with -8888.
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
    // Joins line as a new client, its voice there connected to this link's signals.
    void join(std::shared_ptr<Line> line);
    void onImage(const InstrumentImage& image, const LinkStats& stats, bool blockRead);
    void onStats(const LinkStats& stats);
    void refuse(quint64 id, int32_t reg, int32_t value, bool isWrite);
    // Numbers a request and queues call on the link thread with the port and address of now, or
    // refuses it after a shutdown.
    quint64 request(int32_t reg, int32_t value, bool isWrite, const QString& caption,
                    std::function<void(LineWorker&, quint64, int32_t, int32_t)> call,
                    const base::Audit& audit = {});

    std::shared_ptr<Line> line_;  // null once shut down
    quint64 client_ = 0;          // this link's number on the line
    PortSettings settings_;
    InstrumentImage image_;
    LinkStats stats_;
    bool polling_ = false;
    struct Written {
        QString caption;
        base::Audit audit;
        int32_t address = 0;  // where it was sent
    };
    QHash<quint64, Written> writes_;  // request id -> what the report names, until the write ends
    quint64 nextId_ = 1;
    int pending_ = 0;
    double lastCycleMs_ = 0;
    QElapsedTimer sinceGoodBlock_;  // restarted by the open and by every block read successfully
    QElapsedTimer sinceAnswer_;     // restarted by every block read successfully only
    bool answered_ = false;         // a block was read since the open (and since a lost device)
    bool shutDown_ = false;
};

}  // namespace comm
