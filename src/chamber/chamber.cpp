#include "chamber/chamber.h"

#include <QSysInfo>
#include <QTimeZone>
#include <cmath>
#include <iostream>

#include "alert/alerter.h"
#include "alert/alertsettings.h"
#include "comm/libmodbusrtu.h"
#include "events/eventlog.h"
#include "events/eventstore.h"
#include "forward/forwarder.h"
#include "forward/forwardsetup.h"
#include "instrument/readings.h"
#include "runs/runcontrol.h"
#include "store/recorder.h"

namespace chamber {

Chamber::Chamber(Setup setup, QObject* parent)
    : QObject(parent),
      name_(std::move(setup.name)),
      dbPath_(std::move(setup.dbPath)),
      ports_(std::move(setup.ports)),
      clock_(*setup.clock),
      settings_(std::move(setup.settings)),
      lines_(setup.lines),
      lock_(std::make_unique<store::DatabaseLock>(dbPath_)),
      link_(setup.lines ? setup.lines->lineFor(setup.linePort)
                        : std::make_shared<comm::Line>(
                              setup.bus ? std::move(setup.bus)
                                        : std::make_unique<comm::LibModbusRTU>(ports_))) {
    connect(&link_, &comm::Link::statsChanged, this, &Chamber::linkFiguresChanged);
    connect(&link_, &comm::Link::cycleFinished, this, &Chamber::linkFiguresChanged);
    connect(&link_, &comm::Link::readFinished, this, &Chamber::holdingAnswered);
    // The command line's values go into the settings file once, before anything reads it.
    if (settings_) settingChanges_ = mergeGiven(*settings_(), setup.given);
}

Chamber::~Chamber() {
    // Nothing is published while the parts end.
    stateLook_.stop();
    publishDelay_.stop();
    disconnect(&publishDelay_, nullptr, this, nullptr);
}

void Chamber::moveToPort(int port) {
    if (lines_) link_.moveTo(lines_->lineFor(port));
}

QString Chamber::stationName() const {
    if (!name_.isEmpty()) return name_;
    const comm::PortSettings& s = link_.settings();
    const int port = s.port > 0 ? s.port : 1;
    const int address = s.address > 0 ? s.address : 1;
    return QStringLiteral("%1:%2:%3")
        .arg(QSysInfo::machineHostName(), ports_.deviceFor(port))
        .arg(address);
}

void Chamber::open() {
    if (eventLog_) return;
    takeLock();
    eventLog_ = std::make_unique<events::EventLog>(dbPath_);
    eventLog_->watch(link_);
    eventLog_->start(/*readOnly=*/!recording_);
    comm::Link* link = &link_;
    recorder_ = std::make_unique<store::Recorder>(
        dbPath_, clock_, [link] { return instrument::sampledValues(link->image()); });
    recorder_->setStaleSource([link] { return link->valuesStale(); });
    makeRuns();
    if (recording_) makeForwarder();
    makeAlerts();
    watchState();
    watchCommands();
}

void Chamber::start() {
    runs_->start(/*readOnly=*/!recording_);
    if (recording_) {
        auto file = settings_();
        recorder_->setRetention(Settings::load(*file).retention());
        recorder_->alsoRemoveOldDays(&events::EventStore::removeBefore);
        recorder_->start();
        eventLog_->watch(*recorder_);
        if (forwarder_) forwarder_->start();
    } else {
        recorder_->refuse(refusal());
    }
    alerter_->start();
}

void Chamber::takeLock() {
    // One program records into a database: a second one on the same file reads it and says so.
    using Lock = store::DatabaseLock::Outcome;
    const Lock outcome = lock_->tryLock();
    recording_ = outcome != Lock::HeldElsewhere;
    if (!recording_) std::cerr << refusal().text(base::Lang::Shown).toStdString() << std::endl;
    if (outcome != Lock::Unavailable) return;
    // The folder is not there yet: the recorder says why it cannot record, and the lock is taken
    // as soon as the folder can hold it.
    connect(&lockRetry_, &QTimer::timeout, this, [this] {
        const Lock now = lock_ ? lock_->tryLock() : Lock::Held;
        if (now == Lock::Unavailable) return;
        lockRetry_.stop();
        // Another program took the file meanwhile: it is its recorder, this one only views it.
        if (now == Lock::HeldElsewhere) stopRecording();
    });
    lockRetry_.start(1000);
}

void Chamber::stopRecording() {
    if (!recording_) return;
    recording_ = false;
    std::cerr << refusal().text(base::Lang::Stored).toStdString() << std::endl;
    if (recorder_) {
        recorder_->stop();
        recorder_->refuse(refusal());
    }
    if (eventLog_) eventLog_->viewOnly();
    forwarder_.reset();
    if (alerter_) alerter_->setForwarder(nullptr);
    emit recordingChanged(false);
}

void Chamber::makeForwarder() {
    const auto setting = forward::readSetting(*settings_(), std::nullopt, std::nullopt,
                                              [this] { return stationName(); });
    if (!setting) return;
    QString why;
    const auto target = forward::parseTarget(setting->url, &why);
    if (!target) {
        forwardAddressInvalid_ = true;
        return;
    }
    forwarder_ = std::make_unique<forward::Forwarder>(
        forward::ForwardConfig{*target, setting->station, dbPath_, QTimeZone::systemTimeZone()});
    // Samples or events the ring overwrote before the server took them are a gap in the plant's
    // records: the event log keeps when it was found.
    events::EventLog* log = eventLog_.get();
    connect(forwarder_.get(), &forward::Forwarder::skipped, log,
            [log](qint64 samples, qint64 events, const QString&) {
                log->log(events::codedEntry(events::eventkind::kLink, forward::kSkippedCode,
                                            {QString::number(samples), QString::number(events)}));
            });
}

void Chamber::makeRuns() {
    runs_ = std::make_unique<runs::RunControl>(dbPath_, clock_);
    runs_->setSettingsFile(settings_);
    runs_->setEventLog(eventLog_.get());
    runs_->watch(link_);
    // The station the forwarder names the program by, else the host, the device and the address
    // of the chamber the run is on.
    runs_->setDefaultStation(
        [settings = settings_, name = name_](const QString& port, int address) {
            const QString host = QSysInfo::machineHostName();
            const QString named = forward::keptStationName(*settings());
            if (named.isEmpty() && !name.isEmpty()) return name;
            return named.isEmpty() || runs::isMadeStation(named, host)
                       ? runs::stationOf(host, port, address)
                       : named;
        });
    runs_->loadSettings();
    connect(runs_.get(), &runs::RunControl::answered, this, &Chamber::runAnswered);
}

void Chamber::makeAlerts() {
    alert::RuleConfig rules;
    alert::NotifySettings notify;
    alert::loadSettings(*settings_(), &rules, &notify);
    station_ = forwarder_ ? forwarder_->station() : stationName();
    const QString& station = station_;
    // A viewer neither mails nor logs: the recording program does both for the chamber, and the
    // file is its own.
    const bool viewing = !recording_;
    alerter_ = std::make_unique<alert::Alerter>(
        alert::AlerterContext{link_, clock_, viewing ? nullptr : eventLog_.get(),
                              viewing ? QString() : dbPath_, station, /*deliver=*/!viewing},
        rules, notify);
    alerter_->keepListIn(settings_, dbPath_);
    alerter_->setRecorder(recorder_.get());
    alerter_->setForwarder(forwarder_.get());
    runs_->setAlerter(alerter_.get());
}

namespace {

constexpr int kPublishDelayMs = 200;

LinkState linkStateOf(const comm::Link& link) {
    if (!link.polling()) return LinkState::Closed;
    if (link.stats().deviceLost) return LinkState::DeviceLost;
    if (link.silentMs() >= comm::kStaleAfterMs) return LinkState::Silent;
    return LinkState::Polling;
}

AlertInfo alertInfoOf(const alert::ListedAlert& a) {
    AlertInfo info;
    info.id = a.id;
    info.kind = alert::kindKey(a.kind);
    info.firedAt = a.firedAt;
    info.active = a.active;
    info.acknowledged = a.acknowledged;
    info.value = a.value;
    info.valueText = a.valueText;
    return info;
}

}  // namespace

State Chamber::state() const {
    State s;
    s.name = name_;
    s.station = station_.isEmpty() ? stationName() : station_;
    const comm::InstrumentImage& im = link_.image();
    static const QString kUnits[2] = {QStringLiteral("°C"), QStringLiteral("%RH")};
    for (int k = 0; k < 2; ++k) {
        LoopState& loop = s.loops[size_t(k)];
        loop.pv = instrument::pv(im, k);
        loop.sv = instrument::sv(im, k);
        loop.retransmitPct = instrument::retransmitPct(im, k);
        loop.outputOn = instrument::outputOn(im, k);
        loop.sensorBroken = instrument::sensorOpen(im, k);
        // The registers count whole units, and every window shows them so.
        loop.decimals = 0;
        loop.unit = kUnits[k];
        s.alarms[size_t(k)].on = instrument::alarmOn(im, k);
        s.alarms[size_t(k)].type = int(std::lround(instrument::alarmTypeCode(im, k)));
    }
    s.program.code = instrument::programCode(im);
    s.program.state = instrument::programStateOf(s.program.code);
    s.program.segment = instrument::programSegment(im);
    s.program.segmentRemaining = im.InputRegsHigh[instrument::program::kSegmentRemaining];
    s.program.totalRemaining = im.InputRegsHigh[instrument::program::kTotalRemaining];
    s.program.cycles = im.InputRegsHigh[instrument::program::kCycles];

    s.stale = link_.valuesStale();
    const comm::PortSettings& ps = link_.settings();
    s.link.state = linkStateOf(link_);
    // Whole seconds, so that a healthy link's state does not change with every block read.
    s.link.silentMs = link_.silentMs() / 1000 * 1000;
    s.link.device = link_.stats().device.isEmpty() && ps.port > 0 ? ports_.deviceFor(ps.port)
                                                                  : link_.stats().device;
    s.link.address = ps.address > 0 ? ps.address : 1;
    static constexpr int kBauds[] = {4800, 9600, 19200};
    static constexpr char kParities[] = "NOE";
    s.link.baud = ps.baud >= 0 && ps.baud < 3 ? kBauds[ps.baud] : 0;
    s.link.parity = ps.parity >= 0 && ps.parity < 3 ? kParities[ps.parity] : 'N';

    if (recorder_) s.recorder = recorder_->status();
    if (runs_ && runs_->openRun()) {
        const runs::Run& r = *runs_->openRun();
        s.run = RunInfo{r.id, r.name, QDateTime::fromSecsSinceEpoch(r.start, QTimeZone::utc())};
    }
    if (alerter_) {
        for (const alert::ListedAlert& a : alerter_->listed())
            s.alerts.append(alertInfoOf(a));
        s.alertsRinging = alerter_->ringing();
    }
    return s;
}

void Chamber::halt() {
    if (recorder_) recorder_->stop();
    link_.close();
}

void Chamber::watchState() {
    connect(recorder_.get(), &store::Recorder::statusChanged, this,
            &Chamber::recorderStatusChanged);
    connect(recorder_.get(), &store::Recorder::sampleStored, this, &Chamber::sampleStored);
    publishDelay_.setSingleShot(true);
    publishDelay_.setInterval(kPublishDelayMs);
    connect(&publishDelay_, &QTimer::timeout, this, &Chamber::publishState);
    const auto changed = [this] {
        if (!publishDelay_.isActive()) publishDelay_.start();
    };
    connect(&link_, &comm::Link::imagePublished, this, changed);
    connect(&link_, &comm::Link::statsChanged, this, changed);
    connect(&link_, &comm::Link::opened, this, changed);
    connect(&link_, &comm::Link::linkEvent, this, changed);
    connect(recorder_.get(), &store::Recorder::statusChanged, this, changed);
    connect(runs_.get(), &runs::RunControl::changed, this, changed);
    // An alert shows, and an acknowledgement leaves the list, as soon as it happens.
    connect(alerter_.get(), &alert::Alerter::listChanged, this, &Chamber::publishState);
    connect(alerter_.get(), &alert::Alerter::ringingChanged, this, &Chamber::publishState);
    connect(&stateLook_, &QTimer::timeout, this, changed);
    stateLook_.start(1000);
    published_ = state();
}

void Chamber::publishState() {
    State now = state();
    if (now == published_) return;
    published_ = std::move(now);
    emit stateChanged(published_);
}

// ---------------------------------------------------------------------------------------------
// Reads of holding registers

namespace {

// Whether first..first+count-1 lies within one of the blocks a window reads back.
bool readable(int32_t first, int32_t count) {
    constexpr int32_t kBlocks[2][2] = {{4097, 4144}, {8193, 8240}};
    if (count < 1) return false;
    const int64_t last = int64_t(first) + count - 1;
    for (const auto& b : kBlocks)
        if (first >= b[0] && last <= b[1]) return true;
    return false;
}

}  // namespace

Ticket Chamber::readHolding(int32_t first, int32_t count, const auth::Actor& by) {
    if (!readable(first, count)) return {Outcome::Invalid, 0};
    if (!allows(by, auth::Action::Look)) return {Outcome::Refused, 0};
    if (!link_.polling()) return {Outcome::LinkClosed, 0};
    const quint64 ticket = nextTicket();
    reads_.insert(link_.readHolding(first, count), ticket);
    return {Outcome::Pending, ticket};
}

void Chamber::holdingAnswered(quint64 request, int32_t first, const QVector<int32_t>& values,
                              int32_t status) {
    const auto it = reads_.constFind(request);
    if (it == reads_.cend()) return;
    const quint64 ticket = *it;
    reads_.erase(it);
    const Outcome outcome = status == 0 ? Outcome::Done : Outcome::Failed;
    emit holdingRead(ticket, outcome, first,
                     outcome == Outcome::Done ? values : QVector<int32_t>{});
    emit commandFinished(ticket, outcome);
}

}  // namespace chamber
