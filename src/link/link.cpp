#include "link/link.h"

#include <QMetaObject>
#include <QTimer>

#include "base/numberrule.h"

namespace comm {

Link::Link(std::unique_ptr<ModbusRTU> bus, QObject* parent) : QObject(parent) {
    qRegisterMetaType<comm::InstrumentImage>();
    qRegisterMetaType<comm::LinkStats>();
    qRegisterMetaType<comm::WriteReport>();
    qRegisterMetaType<QVector<int32_t>>();
    thread_.setObjectName(QStringLiteral("link"));
    worker_ = new LinkWorker(std::move(bus));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &LinkWorker::imageReady, this, &Link::onImage, Qt::QueuedConnection);
    connect(worker_, &LinkWorker::statsReady, this, &Link::onStats, Qt::QueuedConnection);
    connect(
        worker_, &LinkWorker::cycleDone, this,
        [this](double ms) {
            lastCycleMs_ = ms;
            emit cycleFinished(ms);
        },
        Qt::QueuedConnection);
    connect(
        worker_, &LinkWorker::openDone, this,
        [this](int32_t status) {
            commParams_(comm::kOpenStatusSlot) = status;
            emit opened(status);
        },
        Qt::QueuedConnection);
    connect(
        worker_, &LinkWorker::writeDone, this,
        [this](quint64 id, int32_t reg, int32_t value, int32_t status, int calls,
               const QString& error) {
            --pending_;
            emit writeFinished(id, reg, value, status, calls);
            WriteReport report{id, reg, value, status, calls, writeCaptions_.take(id), error};
            emit writeReported(report);
        },
        Qt::QueuedConnection);
    connect(
        worker_, &LinkWorker::readDone, this,
        [this](quint64 id, int32_t start, QVector<int32_t> values, int32_t status) {
            --pending_;
            emit readFinished(id, start, values, status);
        },
        Qt::QueuedConnection);
    thread_.start();
    QMetaObject::invokeMethod(worker_, &LinkWorker::start, Qt::QueuedConnection);
}

Link::~Link() {
    shutdown();
}

void Link::shutdown(int waitMs) {
    if (shutDown_) return;
    shutDown_ = true;
    polling_ = false;
    QMetaObject::invokeMethod(worker_, &LinkWorker::stop, Qt::QueuedConnection);
    thread_.quit();
    if (!thread_.wait(waitMs)) {
        // An exchange is stuck beyond every timeout: do not let the program hang on it.
        thread_.terminate();
        thread_.wait(1000);
    }
}

void Link::open() {
    const int32_t port = commParams_(comm::kPortSlot), baud = commParams_(comm::kBaudSlot),
                  parity = commParams_(comm::kParitySlot), addr = commParams_(comm::kAddressSlot);
    polling_ = true;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, port, baud, parity, addr] { w->doOpen(port, baud, parity, addr); },
        Qt::QueuedConnection);
}

void Link::close() {
    const int32_t port = commParams_(comm::kPortSlot);
    polling_ = false;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, port] { w->doClose(port); }, Qt::QueuedConnection);
}

quint64 Link::writeHolding(int32_t reg, int32_t value, const QString& caption) {
    const quint64 id = nextId_++;
    writeCaptions_.insert(id, caption);
    const int32_t port = commParams_(comm::kPortSlot), addr = commParams_(comm::kAddressSlot);
    ++pending_;
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, id, port, addr, reg, value] { w->doWrite(id, port, addr, reg, value); },
        Qt::QueuedConnection);
    return id;
}

quint64 Link::readHolding(int32_t start, int32_t qty) {
    const quint64 id = nextId_++;
    const int32_t port = commParams_(comm::kPortSlot), addr = commParams_(comm::kAddressSlot);
    ++pending_;
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, id, port, addr, start, qty] { w->doRead(id, port, addr, start, qty); },
        Qt::QueuedConnection);
    return id;
}

void Link::onImage(const InstrumentImage& image, const LinkStats& stats) {
    image_ = image;
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
    pace_ = new QTimer(this);
    pace_->setSingleShot(true);
    pace_->setTimerType(Qt::PreciseTimer);
    connect(pace_, &QTimer::timeout, this, &LinkWorker::beginCycle);
    cycleClock_.start();
}

void LinkWorker::stop() {
    polling_ = false;
    if (pace_) pace_->stop();
    bus_->ClosePort_Modbus(port_);
}

void LinkWorker::doOpen(int32_t port, int32_t baud, int32_t parity, int32_t addr) {
    const int32_t status = bus_->OpenPort_Modbus(port, baud, parity);
    port_ = port;
    addr_ = addr;
    emit openDone(status);
    emit statsReady(bus_->stats());
    // A port that failed to open is polled all the same: every read then fails and says why.
    if (!polling_) {
        polling_ = true;
        if (!pollCycle_.inCycle() && !stepQueued_) beginCycle();
    }
}

void LinkWorker::doClose(int32_t port) {
    polling_ = false;
    if (pace_) pace_->stop();
    bus_->ClosePort_Modbus(port);
    emit statsReady(bus_->stats());
}

void LinkWorker::doWrite(quint64 id, int32_t port, int32_t addr, int32_t reg, int32_t value) {
    int calls = 0;
    int32_t status = kModbusFail;
    QString error;
    if (base::fitsRegister(value)) {
        status = writeWithRepeat(*bus_, port, addr, reg, value, &calls);
        if (status != 0) {
            error = bus_->stats().lastError;
            if (error.isEmpty()) error = QStringLiteral("仪表无应答");
        }
    } else {
        error = QStringLiteral("超出寄存器范围");
    }
    emit writeDone(id, reg, value, status, calls, error);
    emit statsReady(bus_->stats());
}

void LinkWorker::doRead(quint64 id, int32_t port, int32_t addr, int32_t start, int32_t qty) {
    QVector<int32_t> values;
    int32_t status = kModbusFail;
    if (qty >= 1 && qty <= 125) {
        values.resize(qty);
        status = bus_->Get_4X_DX(port, addr, start, qty, values.data());
    }
    emit readDone(id, start, values, status);
    emit statsReady(bus_->stats());
}

void LinkWorker::beginCycle() {
    if (!polling_ || pollCycle_.inCycle()) return;
    const qint64 now = cycleClock_.elapsed();
    if (cycleStartMs_ >= 0) emit cycleDone(static_cast<double>(now - cycleStartMs_));
    cycleStartMs_ = now;
    pollCycle_.begin(port_, addr_);
    runStep();
}

void LinkWorker::runStep() {
    stepQueued_ = false;
    if (!polling_) {
        // Closed between two blocks: the cycle ends here and the image keeps its values.
        pollCycle_.abort();
        return;
    }
    const bool more = pollCycle_.step();
    emit imageReady(pollCycle_.image(), bus_->stats());
    if (more) {
        // Yield: requests queued meanwhile run before the next block.
        stepQueued_ = true;
        QMetaObject::invokeMethod(this, &LinkWorker::runStep, Qt::QueuedConnection);
    } else {
        scheduleNextCycle();
    }
}

void LinkWorker::scheduleNextCycle() {
    if (!polling_) return;
    const qint64 elapsed = cycleClock_.elapsed() - cycleStartMs_;
    const qint64 wait = kPeriodMs - elapsed;
    if (wait <= 0) {
        // The cycle overran its period: the next one follows at once, after queued requests.
        stepQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                stepQueued_ = false;
                beginCycle();
            },
            Qt::QueuedConnection);
    } else {
        pace_->start(static_cast<int>(wait));
    }
}

}  // namespace comm
