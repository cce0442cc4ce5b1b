#include "shell/application.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QTimer>
#include <iostream>

#include "alert/alerter.h"
#include "events/eventlog.h"
#include "forward/forwarder.h"
#include "link/libmodbusrtu.h"
#include "shell/alertsetup.h"
#include "shell/forwardsetup.h"
#include "shell/mainwindow.h"
#include "shell/runcontrol.h"
#include "shell/settings.h"
#include "shell/shellos.h"
#include "shell/splashwindow.h"
#include "sim/server.h"
#include "store/databaselock.h"
#include "store/recorder.h"

namespace shell {

namespace {

QDateTime wholeSecondsNow() {
    return record::SystemClock().now();
}

// A clock that starts at the current time and runs a given factor faster.
class FastClock : public record::Clock {
  public:
    explicit FastClock(double factor) : start_(wholeSecondsNow()), factor_(factor) {
        elapsed_.start();
    }
    QDateTime now() const override {
        const qint64 secs = static_cast<qint64>(elapsed_.elapsed() * factor_ / 1000.0);
        return start_.addSecs(secs);
    }

  private:
    QDateTime start_;
    QElapsedTimer elapsed_;
    double factor_;
};

}  // namespace

Application::Application(Options options, std::unique_ptr<comm::ModbusRTU> bus,
                         const record::Clock* clock, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      pendingBus_(std::move(bus)),
      clock_(clock ? clock : &systemClock_) {
    if (!clock && options_.clockSpeed > 1.0) {
        fastClock_ = std::make_unique<FastClock>(options_.clockSpeed);
        clock_ = fastClock_.get();
    }
    setProfile(options_.profile);
    dbPath_ = options_.db.isEmpty() ? defaultDatabasePath(options_.profile) : options_.db;
    for (auto it = options_.ports.cbegin(); it != options_.ports.cend(); ++it)
        ports_.setExplicit(it.key(), it.value());
}

Application::~Application() {
    // The main window goes first: its chart and the recorder hold database connections, and the
    // link thread must stop before the simulator it talks to.
    delete main_;
    main_ = nullptr;
    // The rest ends member by member (see the header): a start or an end of a run is stored
    // before the alerts and the log it feeds go; the alerts before the recorder and forwarder they
    // look at; the event log stores what is still waiting; the forwarder sends what is left while
    // the server answers; the link stops before the simulator.
}

QString Application::defaultDatabasePath(const QString& profile) {
    return QDir(os::dataFolder())
        .filePath(profile.isEmpty() ? QStringLiteral("Rdatabj.db")
                                    : QStringLiteral("Rdatabj-%1.db").arg(profile));
}

bool Application::startLink() {
    if (link_) return true;
    if (options_.simulate) {
        sim::ServerOptions simOptions;
        simOptions.demoStart = true;
        if (options_.logWrites)  // the server's thread writes whole lines
            simOptions.writeLog = [](const std::string& line) { std::cout << line << std::endl; };
        sim_ = std::make_unique<sim::SimServer>(simOptions);
        std::string why;
        if (!sim_->start(&why)) {
            error_ = QStringLiteral("simulated instrument: %1").arg(QString::fromStdString(why));
            return false;
        }
        if (!ports_.hasExplicit(1)) ports_.setExplicit(1, QString::fromStdString(sim_->device()));
    }
    if (!pendingBus_) pendingBus_ = std::make_unique<comm::LibModbusRTU>(ports_);
    link_ = std::make_unique<comm::Link>(std::move(pendingBus_));
    return true;
}

bool Application::start() {
    if (!startLink()) return false;

    if (options_.quitAfter) {
        QTimer::singleShot(static_cast<int>(*options_.quitAfter * 1000), this, [this] {
            if (main_ && !options_.screenshot.isEmpty()) main_->grab().save(options_.screenshot);
            if (main_)
                main_->exitProgram();
            else
                leave();
        });
    }
    splash_ = new SplashWindow;
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    connect(splash_, &SplashWindow::finished, this, [this] {
        if (splash_) splash_->close();
        showMainWindow();
    });
    splash_->show();
    splash_->start();
    return true;
}

bool Application::startWithoutSplash() {
    if (!startLink()) return false;
    showMainWindow();
    return true;
}

void Application::showMainWindow() {
    if (main_) return;
    // One program records into a database: a second one on the same file reads it and says so.
    dbLock_ = std::make_unique<record::DatabaseLock>(dbPath_);
    using Lock = record::DatabaseLock::Outcome;
    const Lock lock = dbLock_->tryLock();
    const bool recording = lock != Lock::HeldElsewhere;
    if (!recording) std::cerr << dbLock_->refusalText().toStdString() << std::endl;
    if (lock == Lock::Unavailable) {
        // The folder is not there yet: the recorder says why it cannot record, and the lock is
        // taken as soon as the folder can hold it.
        auto* retry = new QTimer(this);
        connect(retry, &QTimer::timeout, this, [this, retry] {
            if (dbLock_->tryLock() != record::DatabaseLock::Outcome::Unavailable)
                retry->deleteLater();
        });
        retry->start(1000);
    }
    // The event log is up before anything can happen: the first write or line event lands in it.
    eventLog_ = std::make_unique<record::EventLog>(dbPath_);
    eventLog_->watch(*link_);
    eventLog_->start(/*readOnly=*/!recording);
    main_ = new MainWindow(MainContext{*link_, ports_, *clock_, dbPath_, nullptr});
    main_->setEventLog(eventLog_.get());
    main_->setExitAction([this] { leave(); });
    if (!options_.profile.isEmpty())
        main_->setWindowTitle(main_->windowTitle() + QStringLiteral("— ") + options_.profile);
    main_->fitToScreen();
    main_->show();
    main_->load();
    // The recorder comes up after the main window, with its own connection to the database.
    comm::Link* link = link_.get();
    recorder_ = std::make_unique<record::Recorder>(dbPath_, *clock_, [link] {
        std::array<float, 10> v{};
        for (int i = 0; i < 10; ++i)
            v[i] = link->image().LiveValues[i];
        return v;
    });
    recorder_->setStaleSource(
        [link] { return comm::valuesStale(link->polling(), link->silentMs()); });
    main_->setRecorder(recorder_.get());
    startRuns(!recording);
    if (!recording) {
        recorder_->refuse(dbLock_->refusalText());
        startAlerts(/*viewing=*/true);
        if (options_.connect) main_->openPort();
        emit mainWindowShown();
        return;
    }
    recorder_->setRetention(readRetentionSetting(options_.keepDays, options_.keepFreeGb));
    recorder_->start();
    eventLog_->watch(*recorder_);
    startForwarding();
    startAlerts(/*viewing=*/false);
    if (options_.connect) main_->openPort();
    emit mainWindowShown();
}

void Application::startForwarding() {
    const std::optional<ForwardSetting> setting =
        readForwardSetting(options_.forward, options_.station, [this] { return stationName(); });
    if (!setting) return;
    auto* status = new ForwardStatus(main_->statusBar());
    QString why;
    const auto target = record::forward::parseTarget(setting->url, &why);
    if (!target) {
        status->showInvalidAddress();
        return;
    }
    forwarder_ = std::make_unique<record::Forwarder>(
        record::ForwardConfig{*target, setting->station, dbPath_, QTimeZone::systemTimeZone()});
    status->follow(*forwarder_);
    logSkippedRecords(*forwarder_);
    forwarder_->start();
}

void Application::startAlerts(bool viewing) {
    alert::RuleConfig rules;
    alert::NotifySettings notify;
    readAlertSettings(options_, &rules, &notify);
    const QString station = forwarder_ ? forwarder_->station() : stationName();
    // A viewer neither mails nor logs: the recording program does both for the chamber, and the
    // file is its own.
    alerter_ = std::make_unique<alert::Alerter>(
        alert::AlerterContext{*link_, *clock_, viewing ? nullptr : eventLog_.get(),
                              viewing ? QString() : dbPath_, station, /*deliver=*/!viewing},
        rules, notify);
    alerter_->setRecorder(recorder_.get());
    alerter_->setForwarder(forwarder_.get());
    runs_->setAlerter(alerter_.get());
    addAlertBar(*main_, *alerter_);
    alerter_->start();
}

void Application::startRuns(bool readOnly) {
    runs_ = std::make_unique<RunControl>(dbPath_, *clock_);
    runs_->setEventLog(eventLog_.get());
    runs_->watch(*link_);
    // The station the forwarder names the program by, else the host, the device and the address
    // of the chamber the run is on.
    runs_->setDefaultStation([](const QString& port, int address) {
        const QString host = QSysInfo::machineHostName();
        const QString named =
            settingsFile()->value(QStringLiteral("forward/station")).toString().trimmed();
        return named.isEmpty() || isMadeStation(named, host) ? stationOf(host, port, address)
                                                             : named;
    });
    runs_->loadSettings();
    runs_->start(readOnly);
    main_->setRunControl(runs_.get());
}

QString Application::stationName() const {
    // The host, the device and the slave address the window starts with.
    const comm::PortSettings& s = link_->settings();
    const int port = s.port > 0 ? s.port : 1;
    const int address = s.address > 0 ? s.address : 1;
    return QStringLiteral("%1:%2:%3")
        .arg(QSysInfo::machineHostName(), ports_.deviceFor(port))
        .arg(address);
}

void Application::logSkippedRecords(const record::Forwarder& forwarder) {
    // Samples or events the ring overwrote before the server took them are a gap in the plant's
    // records: the event log keeps when it was found.
    record::EventLog* log = eventLog_.get();
    if (!log) return;
    connect(&forwarder, &record::Forwarder::skipped, log,
            [log](qint64, qint64, const QString& text) {
                record::EventEntry e;
                e.kind = record::eventkind::kLink;
                e.text = text;
                log->log(e);
            });
}

void Application::leave() {
    emit exited();
    QCoreApplication::exit(0);
}

}  // namespace shell
