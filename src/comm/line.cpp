#include "comm/line.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "base/numberrule.h"
#include "comm/libmodbusrtu.h"

namespace comm {

namespace {

// The short poll's steps, in order: the discrete inputs first, so that the control outputs the
// input registers' block derives are of the same poll. The program block (3X 4097..4112) is read
// on its own once no short poll is due, so that it never delays the short polls after it.
constexpr int kShortBlocks[] = {8, 1};
constexpr int kShortSteps = 2;
constexpr int kProgramBlock = 2;

}  // namespace

LineWorker::LineWorker(std::unique_ptr<ModbusRTU> bus) : bus_(std::move(bus)) {}

LineWorker::~LineWorker() = default;

void LineWorker::start() {
    pumpTimer_ = new QTimer(this);
    pumpTimer_->setSingleShot(true);
    pumpTimer_->setTimerType(Qt::PreciseTimer);
    connect(pumpTimer_, &QTimer::timeout, this, [this] {
        if (!pumpQueued_) pump();
    });
    reopenTimer_ = new QTimer(this);
    reopenTimer_->setInterval(kReopenMs);
    connect(reopenTimer_, &QTimer::timeout, this, &LineWorker::reopenTick);
    clock_.start();
}

void LineWorker::stop() {
    clients_.clear();
    if (pumpTimer_) pumpTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    bus_->ClosePort_Modbus(port_);
}

void LineWorker::attach(quint64 client, LineClient* out) {
    out->setParent(this);
    if (clients_.count(client)) return;
    Client* before = focused();
    clients_.emplace(client, std::make_unique<Client>(*bus_, out));
    focusMoved(before);
}

void LineWorker::detach(quint64 client) {
    const auto it = clients_.find(client);
    if (it == clients_.end()) return;
    Client* before = focused();
    if (before == it->second.get()) before = nullptr;
    clients_.erase(it);
    if (focus_ == client) focus_ = 0;
    focusMoved(before);
    if (anyPolling()) return;
    if (pumpTimer_) pumpTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    portOpen_ = false;
    deviceLost_ = false;
    bus_->ClosePort_Modbus(port_);
}

void LineWorker::setFocus(quint64 client, bool focus) {
    Client* before = focused();
    if (focus)
        focus_ = client;
    else if (focus_ == client)
        focus_ = 0;
    focusMoved(before);
}

void LineWorker::focusMoved(Client* before) {
    Client* after = focused();
    if (before == after) return;
    // The one handed back to the short poll is due at once; the one focused starts a whole cycle.
    const qint64 now = clock_.elapsed();
    for (Client* c : {before, after}) {
        if (!c) continue;
        c->cycle.abort();
        c->shortStep = 0;
        c->dueMs = now;
        c->nextCycleMs = now;
        c->cycleStartMs = -1;
    }
    queuePump();
}

void LineWorker::setTurnaroundMs(int ms) {
    turnaroundMs_ = std::clamp(ms, 0, 1000);
}

LineWorker::Client* LineWorker::client(quint64 id) {
    const auto it = clients_.find(id);
    return it == clients_.end() ? nullptr : it->second.get();
}

quint64 LineWorker::focusedId() const {
    if (clients_.count(focus_)) return focus_;
    // A chamber alone on its line is polled as it always was.
    return clients_.size() == 1 ? clients_.begin()->first : 0;
}

LineWorker::Client* LineWorker::focused() {
    return client(focusedId());
}

bool LineWorker::anyPolling() const {
    return std::any_of(clients_.begin(), clients_.end(),
                       [](const auto& c) { return c.second->polling; });
}

QString LineWorker::deviceName() const {
    const QString device = bus_->stats().device;
    return device.isEmpty() ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "端口 %1")).arg(port_)
                            : device;
}

LinkStats LineWorker::currentStats(const Client& c) const {
    LinkStats s = bus_->stats();
    s.exchanges = c.exchanges;
    s.failures = c.failures;
    s.lastError = c.lastError;
    s.lastOk = c.lastOk;
    // The line's state, as far as this client uses it: one that closed sees it closed.
    s.portOpen = portOpen_ && c.polling;
    s.deviceLost = deviceLost_ && c.polling;
    if (deviceLost_)
        s.openError = {};  // the reopening attempts are not the operator's opens
    else if (!portOpen_ && s.openError.isEmpty())
        s.openError = openError_;
    return s;
}

void LineWorker::emitStatsToAll() {
    for (const auto& [id, c] : clients_)
        emit c->out->statsReady(currentStats(*c));
}

int32_t LineWorker::exchange(Client& c, const std::function<int32_t()>& call) {
    // Some instruments need a pause before the line turns to another of them.
    if (turnaroundMs_ > 0 && lastAddr_ != 0 && lastAddr_ != c.addr) QThread::msleep(turnaroundMs_);
    const LinkStats before = bus_->stats();
    const int32_t status = call();
    const LinkStats after = bus_->stats();
    if (after.exchanges != before.exchanges) {
        lastAddr_ = c.addr;
        c.exchanges += after.exchanges - before.exchanges;
        c.failures += after.failures - before.failures;
        c.lastError = after.lastError;
        c.lastOk = after.lastOk;
    }
    return status;
}

void LineWorker::resetClient(Client& c) {
    c.cycle.abort();
    c.silent = false;
    c.cycleStartMs = -1;
    c.nextCycleMs = 0;
    c.shortStep = 0;
    c.dueMs = 0;
    c.highDueMs = 0;
    c.retryMs = 0;
}

void LineWorker::openPort(quint64 id, int32_t port, int32_t baud, int32_t parity, int32_t addr) {
    Client* c = client(id);
    if (!c) return;
    bool othersPolling = false;
    for (const auto& [other, oc] : clients_)
        othersPolling = othersPolling || (other != id && oc->polling);
    c->addr = addr;
    resetClient(*c);
    c->polling = true;
    // Joining a line the others keep open: its device and settings stay. Opening alone re-opens
    // without a close; a cycle running then is cut short, and the next one reads every block anew.
    if (othersPolling && (portOpen_ || deviceLost_) && baud == baud_ && parity == parity_) {
        emit c->out->openDone(portOpen_ ? 0 : kModbusFail);
        if (portOpen_) emit c->out->lineEvent(LinkEvent::Opened, deviceName());
        emit c->out->statsReady(currentStats(*c));
        queuePump();
        return;
    }
    if (pumpTimer_) pumpTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    for (auto& [other, oc] : clients_)
        if (other != id && oc->polling) resetClient(*oc);
    deviceLost_ = false;
    port_ = port;
    baud_ = baud;
    parity_ = parity;
    lastAddr_ = 0;
    const int32_t status = bus_->OpenPort_Modbus(port, baud, parity);
    portOpen_ = status == 0;
    openError_ = portOpen_ ? LineError{} : LineError{LineError::Kind::NotOpened, port};
    const LinkStats stats = currentStats(*c);
    emit c->out->openDone(status);
    if (portOpen_)
        emit c->out->lineEvent(LinkEvent::Opened, deviceName());
    else
        emit c->out->lineEvent(LinkEvent::OpenFailed, stats.device, stats.openError);
    emitStatsToAll();
    // A port that failed to open is polled all the same: every read then fails and says why.
    queuePump();
}

void LineWorker::closePort(quint64 id, int32_t port) {
    Client* c = client(id);
    if (!c) return;
    const bool wasPolling = c->polling;
    c->polling = false;
    resetClient(*c);
    if (anyPolling()) {
        if (wasPolling) emit c->out->lineEvent(LinkEvent::Closed, deviceName());
        emit c->out->statsReady(currentStats(*c));
        return;
    }
    if (pumpTimer_) pumpTimer_->stop();
    if (reopenTimer_) reopenTimer_->stop();
    portOpen_ = false;
    deviceLost_ = false;
    bus_->ClosePort_Modbus(port);
    if (wasPolling) emit c->out->lineEvent(LinkEvent::Closed, deviceName());
    emit c->out->statsReady(currentStats(*c));
}

void LineWorker::writeRegister(quint64 id, quint64 request, int32_t port, int32_t addr, int32_t reg,
                               int32_t value) {
    Client* c = client(id);
    if (!c) return;
    int calls = 0;
    int32_t status = kModbusFail;
    LineError error;
    if (base::fitsRegister(value)) {
        // The client's address for the turnaround is the one this request goes to.
        const int32_t polled = c->addr;
        c->addr = addr;
        status =
            exchange(*c, [&] { return writeWithRepeat(*bus_, port, addr, reg, value, &calls); });
        c->addr = polled;
        checkDevice();
        if (status != 0) {
            error = deviceLost_ ? LineError{LineError::Kind::AwaitingDevice} : bus_->lastFailure();
            if (error.isEmpty()) error = {LineError::Kind::NoAnswer};
        }
    } else {
        error = {LineError::Kind::OutOfRange};
    }
    emit c->out->writeDone(request, reg, value, status, calls, error);
    emit c->out->statsReady(currentStats(*c));
}

void LineWorker::readRegisters(quint64 id, quint64 request, int32_t port, int32_t addr,
                               int32_t start, int32_t qty) {
    Client* c = client(id);
    if (!c) return;
    QVector<int32_t> values;
    int32_t status = kModbusFail;
    if (qty >= 1 && qty <= 125) {
        values.resize(qty);
        const int32_t polled = c->addr;
        c->addr = addr;
        status =
            exchange(*c, [&] { return bus_->Get_4X_DX(port, addr, start, qty, values.data()); });
        c->addr = polled;
        checkDevice();
    }
    emit c->out->readDone(request, start, values, status);
    emit c->out->statsReady(currentStats(*c));
}

void LineWorker::queuePump() {
    if (pumpQueued_) return;
    // Queued, so that requests handed over meanwhile run before the next block.
    pumpQueued_ = true;
    QMetaObject::invokeMethod(this, &LineWorker::pump, Qt::QueuedConnection);
}

void LineWorker::pump() {
    pumpQueued_ = false;
    if (!pumpTimer_) return;
    pumpTimer_->stop();
    if (deviceLost_ || !anyPolling()) {
        // Closed or lost between two blocks: the cycles end here and the images keep their values.
        for (auto& [id, c] : clients_) {
            c->cycle.abort();
            c->shortStep = 0;
        }
        return;
    }
    const qint64 now = clock_.elapsed();
    Client* f = focused();
    // A short poll running goes on, else the one due longest.
    Client* shortOne = nullptr;
    for (auto& [id, c] : clients_) {
        if (c.get() == f || !c->polling) continue;
        if (c->shortStep > 0) {
            shortOne = c.get();
            break;
        }
        if (c->dueMs <= now && (!shortOne || c->dueMs < shortOne->dueMs)) shortOne = c.get();
    }
    if (shortOne) {
        shortStep(*shortOne, now);
        return;
    }
    Client* programOne = nullptr;
    for (auto& [id, c] : clients_) {
        if (c.get() == f || !c->polling || c->retryMs > 0) continue;
        if (c->highDueMs <= now && (!programOne || c->highDueMs < programOne->highDueMs))
            programOne = c.get();
    }
    if (programOne) {
        programStep(*programOne, now);
        return;
    }
    if (f && f->polling && (f->cycle.inCycle() || f->nextCycleMs <= now)) {
        focusedStep(*f);
        return;
    }
    // Nothing due: wait for the focused cycle's next start or the next short poll.
    qint64 next = -1;
    for (auto& [id, c] : clients_) {
        if (!c->polling) continue;
        qint64 at = c.get() == f ? c->nextCycleMs : c->dueMs;
        if (c.get() != f && c->retryMs == 0) at = std::min(at, c->highDueMs);
        if (next < 0 || at < next) next = at;
    }
    if (next >= 0) pumpTimer_->start(static_cast<int>(std::max<qint64>(0, next - now)));
}

void LineWorker::publish(Client& c, bool blockRead) {
    emit c.out->imageReady(c.cycle.image(), currentStats(c), blockRead);
}

void LineWorker::focusedStep(Client& c) {
    if (!c.cycle.inCycle()) {
        const qint64 now = clock_.elapsed();
        if (c.cycleStartMs >= 0) emit c.out->cycleDone(static_cast<double>(now - c.cycleStartMs));
        c.cycleStartMs = now;
        c.cycleReadAny = false;
        // Port and address are taken here, at the start of a cycle, for all of its blocks.
        c.cycle.begin(port_, c.addr);
    }
    bool more = false;
    exchange(c, [&] {
        more = c.cycle.step();
        return c.cycle.lastStatus();
    });
    const bool ok = c.cycle.lastStatus() == 0;
    if (ok) {
        c.cycleReadAny = true;
        if (c.silent) {
            c.silent = false;
            emit c.out->lineEvent(LinkEvent::Answering, QString());
        }
    }
    checkDevice();
    publish(c, ok);
    if (deviceLost_) return;
    if (!more) endCycle(c);
    if (!more && !c.cycleReadAny && portOpen_ && !c.silent) {
        c.silent = true;
        emit c.out->lineEvent(LinkEvent::Silent, QString());
    }
    queuePump();
}

void LineWorker::endCycle(Client& c) {
    // A cycle that overran its period is followed at once, after queued requests.
    c.nextCycleMs = c.cycleStartMs + kPeriodMs;
}

void LineWorker::shortStep(Client& c, qint64 now) {
    if (c.shortStep == 0) c.shortStep = 1;
    const int block = kShortBlocks[c.shortStep - 1];
    const int32_t status = exchange(c, [&] { return c.cycle.readBlock(port_, c.addr, block); });
    const bool ok = status == 0;
    checkDevice();
    if (deviceLost_) {
        publish(c, ok);
        return;
    }
    if (c.shortStep == 1 && !ok) {
        // Not answering: try again later with one exchange, so that it costs the others little.
        c.retryMs = c.retryMs == 0 ? kFirstRetryMs : std::min(2 * c.retryMs, kLongestRetryMs);
        c.dueMs = now + c.retryMs;
        c.shortStep = 0;
        publish(c, false);
        if (!c.silent && portOpen_) {
            c.silent = true;
            emit c.out->lineEvent(LinkEvent::Silent, QString());
        }
        queuePump();
        return;
    }
    if (ok && c.silent) {
        c.silent = false;
        emit c.out->lineEvent(LinkEvent::Answering, QString());
    }
    if (c.shortStep == 1) c.retryMs = 0;
    if (++c.shortStep > kShortSteps) {
        c.shortStep = 0;
        // Due a period after it was due, so that a late poll does not shift the ones after it;
        // one that fell a whole period behind starts afresh.
        c.dueMs += kBackgroundPeriodMs;
        if (c.dueMs <= now) c.dueMs = now + kBackgroundPeriodMs;
    }
    publish(c, ok);
    queuePump();
}

void LineWorker::programStep(Client& c, qint64 now) {
    const bool ok =
        exchange(c, [&] { return c.cycle.readBlock(port_, c.addr, kProgramBlock); }) == 0;
    c.highDueMs = now + kBackgroundHighPeriodMs;
    checkDevice();
    publish(c, ok);
    if (!deviceLost_) queuePump();
}

void LineWorker::checkDevice() {
    if (!portOpen_ || !bus_->deviceGone()) return;
    // The handle is dead for good (a replugged adapter gets a new one): close it and reopen the
    // same device with the same settings until it is back, for every chamber on the line at once.
    portOpen_ = false;
    deviceLost_ = true;
    for (auto& [id, c] : clients_)
        if (c->polling) resetClient(*c);
    if (pumpTimer_) pumpTimer_->stop();
    bus_->ClosePort_Modbus(port_);
    const QString device = deviceName();
    for (auto& [id, c] : clients_)
        if (c->polling) emit c->out->lineEvent(LinkEvent::DeviceLost, device);
    if (reopenTimer_) reopenTimer_->start();
}

void LineWorker::reopenTick() {
    if (!deviceLost_ || !anyPolling()) {
        reopenTimer_->stop();
        return;
    }
    if (bus_->OpenPort_Modbus(port_, baud_, parity_) != 0) {
        emitStatsToAll();
        return;
    }
    reopenTimer_->stop();
    deviceLost_ = false;
    portOpen_ = true;
    lastAddr_ = 0;
    const QString device = deviceName();
    for (auto& [id, c] : clients_)
        if (c->polling) emit c->out->lineEvent(LinkEvent::DeviceBack, device);
    emitStatsToAll();
    queuePump();
}

// ---------------------------------------------------------------------------------------------

Line::Line(std::unique_ptr<ModbusRTU> bus) : thread_(QStringLiteral("link"), std::move(bus)) {
    thread_.start();
    thread_.post(&LineWorker::start);
}

Line::~Line() {
    shutdown();
}

void Line::setTurnaroundMs(int ms) {
    thread_.post(&LineWorker::setTurnaroundMs, ms);
}

int Line::turnaroundMs(int waitMs) {
    return thread_.call([](LineWorker& w) { return w.turnaroundMs(); }, waitMs).value_or(-1);
}

void Line::shutdown(int waitMs) {
    // The worker stops after what was queued before (a write the operator just started). An
    // exchange stuck beyond every timeout is left to finish; its results no longer reach anyone.
    thread_.end(waitMs, [](LineWorker& w) { w.stop(); });
}

// ---------------------------------------------------------------------------------------------

LineRegistry::LineRegistry(PortMap ports, BusFactory factory)
    : ports_(std::move(ports)), factory_(std::move(factory)) {
    if (!factory_)
        factory_ = [this](const QString&) { return std::make_unique<LibModbusRTU>(ports_); };
}

std::shared_ptr<Line> LineRegistry::lineFor(int port) {
    return line(ports_.deviceFor(port));
}

std::shared_ptr<Line> LineRegistry::line(const QString& device) {
    if (auto held = lines_.value(device).lock()) return held;
    auto made = std::make_shared<Line>(factory_(device));
    if (const int ms = turnaroundMs_.value(device); ms > 0) made->setTurnaroundMs(ms);
    lines_.insert(device, made);
    return made;
}

void LineRegistry::setTurnaroundMs(const QString& device, int ms) {
    turnaroundMs_.insert(device, ms);
    if (auto held = lines_.value(device).lock()) held->setTurnaroundMs(ms);
}

}  // namespace comm
