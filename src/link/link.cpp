#include "link/link.h"

#include <QMetaObject>
#include <QTimer>
#include <limits>

#include "base/numberrule.h"
#include "base/workerthread.h"

namespace comm {

Link::Link(std::unique_ptr<ModbusRTU> bus, QObject* parent)
    : QObject(parent), thread_(QStringLiteral("link"), std::move(bus)) {
    LinkWorker* worker = thread_.worker();
    connect(worker, &LinkWorker::imageReady, this, &Link::onImage, Qt::QueuedConnection);
    connect(worker, &LinkWorker::statsReady, this, &Link::onStats, Qt::QueuedConnection);
    connect(worker, &LinkWorker::lineEvent, this, &Link::linkEvent, Qt::QueuedConnection);
    connect(
        worker, &LinkWorker::cycleDone, this,
        [this](double ms) {
            // A figure that crossed a close belongs to the cycles before it.
            if (!polling_) return;
            lastCycleMs_ = ms;
            emit cycleFinished(ms);
        },
        Qt::QueuedConnection);
    connect(worker, &LinkWorker::openDone, this, &Link::opened, Qt::QueuedConnection);
    connect(
        worker, &LinkWorker::writeDone, this,
        [this](quint64 id, int32_t reg, int32_t value, int32_t status, int calls,
               const LineError& error) {
            --pending_;
            emit writeFinished(id, reg, value, status, calls);
            WriteReport report{id, reg, value, status, calls, writeCaptions_.take(id), error};
            emit writeReported(report);
        },
        Qt::QueuedConnection);
    connect(
        worker, &LinkWorker::readDone, this,
        [this](quint64 id, int32_t start, QVector<int32_t> values, int32_t status) {
            --pending_;
            emit readFinished(id, start, values, status);
        },
        Qt::QueuedConnection);
    thread_.start();
    thread_.post(&LinkWorker::start);
}

Link::~Link() {
    shutdown();
}

void Link::shutdown(int waitMs) {
    if (shutDown_) return;
    shutDown_ = true;
    polling_ = false;
    // The worker stops after what was queued before (a write the operator just started). An
    // exchange stuck beyond every timeout is left to finish; its results no longer reach this.
    thread_.end(waitMs, [](LinkWorker& w) { w.stop(); });
}

int Link::silentMs() const {
    if (!polling_ || !sinceGoodBlock_.isValid()) return 0;
    const qint64 ms = sinceGoodBlock_.elapsed();
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(ms);
}

void Link::open(const PortSettings& settings) {
    settings_ = settings;
    if (shutDown_) return;
    polling_ = true;
    lastCycleMs_ = 0;
    sinceGoodBlock_.start();
    thread_.post(&LinkWorker::openPort, settings.port, settings.baud, settings.parity,
                 settings.address);
}

void Link::close() {
    if (shutDown_) return;
    polling_ = false;
    lastCycleMs_ = 0;
    thread_.post(&LinkWorker::closePort, settings_.port);
}

quint64 Link::writeHolding(int32_t reg, int32_t value, const QString& caption) {
    return request(reg, value, true, caption,
                   [reg, value](LinkWorker& w, quint64 id, int32_t port, int32_t addr) {
                       w.writeRegister(id, port, addr, reg, value);
                   });
}

quint64 Link::readHolding(int32_t start, int32_t qty) {
    return request(start, 0, false, QString(),
                   [start, qty](LinkWorker& w, quint64 id, int32_t port, int32_t addr) {
                       w.readRegisters(id, port, addr, start, qty);
                   });
}

quint64 Link::request(int32_t reg, int32_t value, bool isWrite, const QString& caption,
                      std::function<void(LinkWorker&, quint64, int32_t, int32_t)> call) {
    const quint64 id = nextId_++;
    if (isWrite) writeCaptions_.insert(id, caption);
    ++pending_;
    if (shutDown_) {
        refuse(id, reg, value, isWrite);
        return id;
    }
    // The port and address as they are now: a later change of the settings is not this request's.
    const int32_t port = settings_.port, addr = settings_.address;
    thread_.post(
        [id, port, addr, call = std::move(call)](LinkWorker& w) { call(w, id, port, addr); });
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
        emit writeReported(WriteReport{
            id, reg, value, kModbusFail, 0, writeCaptions_.take(id), {LineError::Kind::Stopped}});
    });
}

void Link::onImage(const InstrumentImage& image, const LinkStats& stats, bool blockRead) {
    image_ = image;
    if (blockRead && polling_) sinceGoodBlock_.start();
    onStats(stats);
    emit imagePublished();
}

void Link::onStats(const LinkStats& stats) {
    stats_ = stats;
    emit statsChanged();
}

// ---------------------------------------------------------------------------------------------

LinkWorker::LinkWorker(std::unique_ptr<ModbusRTU> bus) : bus_(std::move(bus)), pollCycle_(*bus_) {}

LinkWorker::~LinkWorker() = default;

void LinkWorker::start() {
    cycleTimer_ = new QTimer(this);
    cycleTimer_->setSingleShot(true);
    cycleTimer_->setTimerType(Qt::PreciseTimer);
    connect(cycleTimer_, &QTimer::timeout, this, [this] {
        if (!blockQueued_) readNextBlock();
    });
    reopenTimer_ = new QTimer(this);
    reopenTimer_->setInterval(kReopenMs);
    connect(reopenTimer_, &QTimer::timeout, this, &LinkWorker::reopenTick);
    cycleClock_.start();
}

void LinkWorker::stop() {
    polling_ = false;
    if (cycleTimer_) cycleTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    bus_->ClosePort_Modbus(port_);
}

QString LinkWorker::deviceName() const {
    const QString device = bus_->stats().device;
    return device.isEmpty() ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "端口 %1")).arg(port_)
                            : device;
}

LinkStats LinkWorker::currentStats() const {
    LinkStats s = bus_->stats();
    s.portOpen = portOpen_;
    s.deviceLost = deviceLost_;
    if (deviceLost_)
        s.openError = {};  // the reopening attempts are not the operator's opens
    else if (!portOpen_ && s.openError.isEmpty())
        s.openError = openError_;
    return s;
}

void LinkWorker::openPort(int32_t port, int32_t baud, int32_t parity, int32_t addr) {
    // A cycle running now is cut short: its remaining blocks would come from the new port or
    // address and mix two instruments in one image. The next cycle reads all of its blocks anew.
    if (cycleTimer_) cycleTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    pollCycle_.abort();
    deviceLost_ = false;
    silent_ = false;
    cycleStartMs_ = -1;
    port_ = port;
    baud_ = baud;
    parity_ = parity;
    addr_ = addr;
    const int32_t status = bus_->OpenPort_Modbus(port, baud, parity);
    portOpen_ = status == 0;
    openError_ = portOpen_ ? LineError{} : LineError{LineError::Kind::NotOpened, port};
    const LinkStats stats = currentStats();
    emit openDone(status);
    if (portOpen_)
        emit lineEvent(LinkEvent::Opened, deviceName());
    else
        emit lineEvent(LinkEvent::OpenFailed, stats.device, stats.openError);
    emit statsReady(stats);
    // A port that failed to open is polled all the same: every read then fails and says why.
    polling_ = true;
    queueNextBlock();
}

void LinkWorker::closePort(int32_t port) {
    const bool wasPolling = polling_;
    polling_ = false;
    if (cycleTimer_) cycleTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    pollCycle_.abort();
    portOpen_ = false;
    deviceLost_ = false;
    silent_ = false;
    cycleStartMs_ = -1;
    bus_->ClosePort_Modbus(port);
    if (wasPolling) emit lineEvent(LinkEvent::Closed, deviceName());
    emit statsReady(currentStats());
}

void LinkWorker::writeRegister(quint64 id, int32_t port, int32_t addr, int32_t reg, int32_t value) {
    int calls = 0;
    int32_t status = kModbusFail;
    LineError error;
    if (base::fitsRegister(value)) {
        status = writeWithRepeat(*bus_, port, addr, reg, value, &calls);
        checkDevice();
        if (status != 0) {
            error = deviceLost_ ? LineError{LineError::Kind::AwaitingDevice} : bus_->lastFailure();
            if (error.isEmpty()) error = {LineError::Kind::NoAnswer};
        }
    } else {
        error = {LineError::Kind::OutOfRange};
    }
    emit writeDone(id, reg, value, status, calls, error);
    emit statsReady(currentStats());
}

void LinkWorker::readRegisters(quint64 id, int32_t port, int32_t addr, int32_t start, int32_t qty) {
    QVector<int32_t> values;
    int32_t status = kModbusFail;
    if (qty >= 1 && qty <= 125) {
        values.resize(qty);
        status = bus_->Get_4X_DX(port, addr, start, qty, values.data());
        checkDevice();
    }
    emit readDone(id, start, values, status);
    emit statsReady(currentStats());
}

void LinkWorker::queueNextBlock() {
    if (blockQueued_) return;
    // Queued, so that requests handed over meanwhile run before the next block.
    blockQueued_ = true;
    QMetaObject::invokeMethod(this, &LinkWorker::readNextBlock, Qt::QueuedConnection);
}

void LinkWorker::readNextBlock() {
    blockQueued_ = false;
    if (!polling_ || deviceLost_) {
        // Closed or lost between two blocks: the cycle ends here and the image keeps its values.
        pollCycle_.abort();
        return;
    }
    if (!pollCycle_.inCycle()) {
        const qint64 now = cycleClock_.elapsed();
        if (cycleStartMs_ >= 0) emit cycleDone(static_cast<double>(now - cycleStartMs_));
        cycleStartMs_ = now;
        cycleReadAny_ = false;
        // Port and address are taken here, at the start of a cycle, for all of its blocks.
        pollCycle_.begin(port_, addr_);
    }
    const bool more = pollCycle_.step();
    const bool ok = pollCycle_.lastStatus() == 0;
    if (ok) {
        cycleReadAny_ = true;
        if (silent_) {
            silent_ = false;
            emit lineEvent(LinkEvent::Answering, QString());
        }
    }
    checkDevice();
    emit imageReady(pollCycle_.image(), currentStats(), ok);
    if (deviceLost_) return;
    if (more)
        queueNextBlock();
    else
        endCycle();
}

void LinkWorker::endCycle() {
    if (portOpen_ && !cycleReadAny_ && !silent_) {
        silent_ = true;
        emit lineEvent(LinkEvent::Silent, QString());
    }
    const qint64 elapsed = cycleClock_.elapsed() - cycleStartMs_;
    const qint64 wait = kPeriodMs - elapsed;
    // A cycle that overran its period is followed at once, after queued requests.
    if (wait <= 0)
        queueNextBlock();
    else
        cycleTimer_->start(static_cast<int>(wait));
}

void LinkWorker::checkDevice() {
    if (!portOpen_ || !bus_->deviceGone()) return;
    // The handle is dead for good (a replugged adapter gets a new one): close it and reopen the
    // same device with the same settings until it is back.
    portOpen_ = false;
    deviceLost_ = true;
    silent_ = false;
    pollCycle_.abort();
    if (cycleTimer_) cycleTimer_->stop();
    cycleStartMs_ = -1;
    bus_->ClosePort_Modbus(port_);
    emit lineEvent(LinkEvent::DeviceLost, deviceName());
    if (reopenTimer_) reopenTimer_->start();
}

void LinkWorker::reopenTick() {
    if (!deviceLost_ || !polling_) {
        reopenTimer_->stop();
        return;
    }
    if (bus_->OpenPort_Modbus(port_, baud_, parity_) != 0) {
        emit statsReady(currentStats());
        return;
    }
    reopenTimer_->stop();
    deviceLost_ = false;
    portOpen_ = true;
    emit lineEvent(LinkEvent::DeviceBack, deviceName());
    emit statsReady(currentStats());
    queueNextBlock();
}

}  // namespace comm
