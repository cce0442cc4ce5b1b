#include "comm/link.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <limits>

#include "base/numberrule.h"
#include "base/workerthread.h"

namespace comm {

Link::Link(std::unique_ptr<ModbusRTU> bus, QObject* parent)
    : Link(std::make_shared<Line>(std::move(bus)), parent) {}

Link::Link(std::shared_ptr<Line> line, QObject* parent) : QObject(parent) {
    sinceAnswer_.start();
    join(std::move(line));
}

void Link::join(std::shared_ptr<Line> line) {
    line_ = std::move(line);
    client_ = line_->newClient();
    LineWorker* worker = line_->worker();
    if (!worker) {
        shutDown_ = true;
        line_.reset();
        return;
    }
    // The link hears only what the line says to it, through a voice of its own on the line's
    // thread.
    auto* out = new LineClient;
    out->moveToThread(worker->thread());
    connect(out, &LineClient::imageReady, this, &Link::onImage, Qt::QueuedConnection);
    connect(out, &LineClient::statsReady, this, &Link::onStats, Qt::QueuedConnection);
    connect(out, &LineClient::lineEvent, this, &Link::linkEvent, Qt::QueuedConnection);
    connect(
        out, &LineClient::cycleDone, this,
        [this](double ms) {
            // A figure that crossed a close belongs to the cycles before it.
            if (!polling_) return;
            lastCycleMs_ = ms;
            emit cycleFinished(ms);
        },
        Qt::QueuedConnection);
    connect(out, &LineClient::openDone, this, &Link::opened, Qt::QueuedConnection);
    connect(
        out, &LineClient::writeDone, this,
        [this](quint64 id, int32_t reg, int32_t value, int32_t status, int calls,
               const LineError& error) {
            --pending_;
            emit writeFinished(id, reg, value, status, calls);
            const Written w = writes_.take(id);
            emit writeReported(
                WriteReport{id, reg, value, status, calls, w.caption, error, w.audit, w.address});
        },
        Qt::QueuedConnection);
    connect(
        out, &LineClient::readDone, this,
        [this](quint64 id, int32_t start, QVector<int32_t> values, int32_t status) {
            --pending_;
            emit readFinished(id, start, values, status);
        },
        Qt::QueuedConnection);
    const quint64 me = client_;
    line_->post([me, out](LineWorker& w) { w.attach(me, out); });
}

Link::~Link() {
    shutdown();
}

namespace {

// Takes the thread of a line no chamber holds any more: it ends after its last work without
// anybody waiting for it, and deletes itself then.
class LetEnd : public base::EndingThreads {
  public:
    void adopt(QThread* thread, int) override {
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        if (thread->isFinished()) thread->deleteLater();
    }
};

}  // namespace

void Link::moveTo(std::shared_ptr<Line> line) {
    if (shutDown_ || !line || line == line_) return;
    if (polling_) close();
    // The requests queued on the old line run there before it lets this link go, and answer.
    std::shared_ptr<Line> old = std::move(line_);
    const quint64 me = client_;
    old->post([me](LineWorker& w) { w.detach(me); });
    if (old.use_count() == 1) {
        static LetEnd letEnd;
        base::HandEndingThreadsTo keeper(letEnd);
        old->shutdown();
    }
    old.reset();
    // What was counted on the old line is not the new one's.
    stats_ = LinkStats{};
    emit statsChanged();
    join(std::move(line));
}

void Link::shutdown(int waitMs) {
    if (shutDown_) return;
    shutDown_ = true;
    polling_ = false;
    std::shared_ptr<Line> line = std::move(line_);
    // What was queued before still runs (a write the operator just started); the last link on the
    // line ends its thread.
    const quint64 me = client_;
    line->post([me](LineWorker& w) { w.detach(me); });
    if (line.use_count() == 1) line->shutdown(waitMs);
}

void Link::setFocused(bool focused) {
    if (shutDown_) return;
    const quint64 me = client_;
    line_->post([me, focused](LineWorker& w) { w.setFocus(me, focused); });
}

int Link::silentMs() const {
    if (!polling_ || !sinceGoodBlock_.isValid()) return 0;
    const qint64 ms = sinceGoodBlock_.elapsed();
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(ms);
}

int Link::unansweredMs() const {
    const qint64 ms = sinceAnswer_.elapsed();
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(ms);
}

bool Link::valuesStale() const {
    return !polling_ || !answered_ || stats_.deviceLost || silentMs() >= kStaleAfterMs;
}

void Link::open(const PortSettings& settings) {
    settings_ = settings;
    if (shutDown_) return;
    polling_ = true;
    answered_ = false;
    lastCycleMs_ = 0;
    sinceGoodBlock_.start();
    const quint64 me = client_;
    line_->post([me, settings](LineWorker& w) {
        w.openPort(me, settings.port, settings.baud, settings.parity, settings.address);
    });
}

void Link::close() {
    if (shutDown_) return;
    polling_ = false;
    answered_ = false;
    lastCycleMs_ = 0;
    const quint64 me = client_;
    const int32_t port = settings_.port;
    line_->post([me, port](LineWorker& w) { w.closePort(me, port); });
}

quint64 Link::writeHolding(int32_t reg, int32_t value, const QString& caption, base::Audit audit) {
    if (audit.oldValue.isEmpty() && polling_)
        if (const auto old = holdingRegister(image_, reg)) audit.oldValue = QString::number(*old);
    if (audit.newValue.isEmpty()) audit.newValue = QString::number(value);
    return request(
        reg, value, true, caption,
        [me = client_, reg, value](LineWorker& w, quint64 id, int32_t port, int32_t addr) {
            w.writeRegister(me, id, port, addr, reg, value);
        },
        audit);
}

quint64 Link::readHolding(int32_t start, int32_t qty) {
    return request(
        start, 0, false, QString(),
        [me = client_, start, qty](LineWorker& w, quint64 id, int32_t port, int32_t addr) {
            w.readRegisters(me, id, port, addr, start, qty);
        });
}

quint64 Link::request(int32_t reg, int32_t value, bool isWrite, const QString& caption,
                      std::function<void(LineWorker&, quint64, int32_t, int32_t)> call,
                      const base::Audit& audit) {
    const quint64 id = nextId_++;
    if (isWrite) writes_.insert(id, {caption, audit, settings_.address});
    ++pending_;
    if (shutDown_ || !audit.refusal.isEmpty()) {
        refuse(id, reg, value, isWrite);
        return id;
    }
    // The port and address as they are now: a later change of the settings is not this request's.
    const int32_t port = settings_.port, addr = settings_.address;
    line_->post(
        [id, port, addr, call = std::move(call)](LineWorker& w) { call(w, id, port, addr); });
    return id;
}

void Link::refuse(quint64 id, int32_t reg, int32_t value, bool isWrite) {
    // Answered from the event loop like any other request, so callers see one order of events.
    QTimer::singleShot(0, this, [this, id, reg, value, isWrite] {
        --pending_;
        if (!isWrite) {
            emit readFinished(id, reg, {}, kModbusFail);
            return;
        }
        emit writeFinished(id, reg, value, kModbusFail, 0);
        const Written w = writes_.take(id);
        // A refused write never reached the line: its report carries the refusal alone.
        const LineError error =
            w.audit.refusal.isEmpty() ? LineError{LineError::Kind::Stopped} : LineError{};
        emit writeReported(WriteReport{id, reg, value, kModbusFail, 0, w.caption, error, w.audit});
    });
}

void Link::onImage(const InstrumentImage& image, const LinkStats& stats, bool blockRead) {
    image_ = image;
    if (blockRead && polling_) {
        sinceGoodBlock_.start();
        sinceAnswer_.start();
        answered_ = true;
    }
    onStats(stats);
    emit imagePublished();
}

void Link::onStats(const LinkStats& stats) {
    // What was read before the device went is no reading of it once it is back.
    if (stats.deviceLost) answered_ = false;
    stats_ = stats;
    emit statsChanged();
}

}  // namespace comm
