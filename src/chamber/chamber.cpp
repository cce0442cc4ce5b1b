#include "chamber/chamber.h"

#include <QSysInfo>
#include <QTimeZone>
#include <cmath>
#include <iostream>

#include "alert/alerter.h"
#include "alert/alertsettings.h"
#include "events/eventlog.h"
#include "events/eventstore.h"
#include "forward/forwarder.h"
#include "forward/forwardsetup.h"
#include "link/libmodbusrtu.h"
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
      lock_(std::make_unique<record::DatabaseLock>(dbPath_)),
      link_(setup.lines ? setup.lines->lineFor(setup.linePort)
                        : std::make_shared<comm::Line>(
                              setup.bus ? std::move(setup.bus)
                                        : std::make_unique<comm::LibModbusRTU>(ports_))) {
    // The command line's values go into the settings file once, before anything reads it.
    if (settings_) settingChanges_ = mergeGiven(*settings_(), setup.given);
}

Chamber::~Chamber() = default;

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
    eventLog_ = std::make_unique<record::EventLog>(dbPath_);
    eventLog_->watch(link_);
    eventLog_->start(/*readOnly=*/!recording_);
    comm::Link* link = &link_;
    recorder_ = std::make_unique<record::Recorder>(dbPath_, clock_, [link] {
        std::array<float, 10> v{};
        for (int i = 0; i < 10; ++i)
            v[i] = link->image().LiveValues[i];
        return v;
    });
    recorder_->setStaleSource([link] { return link->valuesStale(); });
    makeRuns();
    if (recording_) makeForwarder();
    makeAlerts();
}

void Chamber::start() {
    runs_->start(/*readOnly=*/!recording_);
    if (recording_) {
        auto file = settings_();
        recorder_->setRetention(Settings::load(*file).retention());
        recorder_->alsoRemoveOldDays(&record::EventStore::removeBefore);
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
    using Lock = record::DatabaseLock::Outcome;
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
}

void Chamber::makeForwarder() {
    const auto setting = record::forward::readSetting(*settings_(), std::nullopt, std::nullopt,
                                                      [this] { return stationName(); });
    if (!setting) return;
    QString why;
    const auto target = record::forward::parseTarget(setting->url, &why);
    if (!target) {
        forwardAddressInvalid_ = true;
        return;
    }
    forwarder_ = std::make_unique<record::Forwarder>(
        record::ForwardConfig{*target, setting->station, dbPath_, QTimeZone::systemTimeZone()});
    // Samples or events the ring overwrote before the server took them are a gap in the plant's
    // records: the event log keeps when it was found.
    record::EventLog* log = eventLog_.get();
    connect(forwarder_.get(), &record::Forwarder::skipped, log,
            [log](qint64 samples, qint64 events, const QString&) {
                log->log(record::codedEntry(record::eventkind::kLink, record::forward::kSkippedCode,
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
            const QString named = record::forward::keptStationName(*settings());
            if (named.isEmpty() && !name.isEmpty()) return name;
            return named.isEmpty() || runs::isMadeStation(named, host)
                       ? runs::stationOf(host, port, address)
                       : named;
        });
    runs_->loadSettings();
}

void Chamber::makeAlerts() {
    alert::RuleConfig rules;
    alert::NotifySettings notify;
    alert::loadSettings(*settings_(), &rules, &notify);
    const QString station = forwarder_ ? forwarder_->station() : stationName();
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

}  // namespace chamber
