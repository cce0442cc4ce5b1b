#include "shell/application.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QSysInfo>
#include <QTimer>
#include <algorithm>

#include "alert/alerter.h"
#include "auth/accesswindows.h"
#include "auth/adminwindow.h"
#include "auth/guard.h"
#include "auth/sessionkeeper.h"
#include "auth/userstore.h"
#include "base/tr.h"
#include "chamber/chamber.h"
#include "chamber/fleetstart.h"
#include "chamber/teardown.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "forward/status.h"
#ifdef VELMARS_HAVE_MQTT
#include "mqtt/fleetfeed.h"
#include "mqtt/publisher.h"
#include "mqtt/setup.h"
#include "mqtt/statuslabel.h"
#endif
#include "overview/overviewwindow.h"
#include "report/analysis.h"
#include "report/signatures.h"
#include "service/hosted.h"
#include "service/serviceevents.h"
#include "shell/accesscommand.h"
#include "shell/mainwindow.h"
#include "shell/settings.h"
#include "shell/shellos.h"
#include "shell/splashwindow.h"
#include "sim/server.h"
#include "store/csvexport.h"
#include "store/recorder.h"
#include "ui/widgets.h"
#include "web/host.h"

namespace shell {

namespace {

QDateTime wholeSecondsNow() {
    return store::SystemClock().now();
}

// A clock that starts at the current time and runs a given factor faster.
class FastClock : public store::Clock {
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

void addEventTexts() {
    events::addEventTexts(&auth::auditText);
    events::addEventTexts(&alert::eventText);
    events::addEventTexts(&forward::eventText);
    // A signature's rows read in the language wherever they are shown, signed in this run or not.
    events::addEventTexts(&report::signedEventText);
    // The service's starts and stops, in the chambers' logs it records.
    events::addEventTexts(&service::eventText);
    // Each gap of a CSV copy says why it is there, from the file's own log.
    store::setGapCauseSource(
        [](const QString& db, base::Lang lang) { return report::gapCausesOf(db, lang); });
}

Application::Application(Options options, std::unique_ptr<comm::ModbusRTU> bus,
                         const store::Clock* clock, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      pendingBus_(std::move(bus)),
      clock_(clock ? clock : &systemClock_) {
    addEventTexts();
    // The broker's login from standard input, before any window waits on it.
    if (options_.mqttLogin) {
        options_.mqttUser = readPassword(base::Tr::tr("MQTT 用户名："));
        options_.mqttPassword = readPassword(base::Tr::tr("MQTT 密码："));
    }
    if (!clock && options_.clockSpeed > 1.0) {
        fastClock_ = std::make_unique<FastClock>(options_.clockSpeed);
        clock_ = fastClock_.get();
    }
    setProfile(options_.profile);
    // The chambers of this run: the command line's, kept for the next; else the settings file's.
    // A profile or a database of its own is one chamber, as always. The command line's changes
    // to the list and to the hosted clients' settings, with what the file kept, are recorded.
    confs_ = service::chambersOfRun(options_, fleetOptions(), &programChanges_);
}

chamber::FleetOptions Application::fleetOptions() const {
    chamber::FleetOptions o = service::fleetOptions(options_, os::dataFolder());
    // The windows' logins and the first administrator make the store.
    o.accountsAlways = true;
    o.monoMs = monoMs_;
    return o;
}

Application::~Application() {
    events::setCopiedRowsSource(nullptr);
}

QString Application::defaultDatabasePath(const QString& profile) {
    return chamber::databasePath(os::dataFolder(), profile);
}

bool Application::makeChambers() {
    if (fleet_) return true;
    std::optional<chamber::FleetStart> start =
        chamber::makeFleetSetup(fleetOptions(), confs_, programChanges_, &error_);
    if (!start) return false;
    sim_ = std::move(start->sim);
    keeper_ = std::move(start->accounts);
    start->setup.clock = clock_;
    start->setup.bus = std::move(pendingBus_);
    fleet_ = std::make_unique<chamber::Fleet>(std::move(start->setup));
    fleet_->setAuditing([this] { return auditing(); });
    connect(fleet_.get(), &chamber::Fleet::chamberRemoved, this, &Application::closeChamberWindow);
    connect(fleet_.get(), &chamber::Fleet::chamberChanged, this,
            [this](chamber::Chamber* c, const overview::ChamberConf& conf) {
                if (auto it = windows_.find(c->name()); it != windows_.end())
                    it->second->showPortSettings(conf.portSettings());
            });
    connect(fleet_.get(), &chamber::Fleet::linesChanged, this, [this] {
        if (overview_) updateOverview();
    });
    return true;
}

void Application::startAccess() {
    if (guard_) return;
    guard_ = std::make_unique<auth::Guard>();
    doorman_ = std::make_unique<auth::Doorman>(*keeper_, *guard_);
    // Each failed login raises one alert, the PC's and not a chamber's: it goes to the first
    // chamber's alerter, so that nobody gets one message per chamber. (The user store's rows reach
    // every chamber's log through the logs themselves: see storeRows.)
    connect(keeper_.get(), &auth::SessionKeeper::audited, this, [this](const auth::AccessEvent& e) {
        QString account;
        // Rows from before the start are copied where missing; only a failure now is alerted.
        if (e.seq <= keeper_->view().seqAtOpen || !auth::isFailedLogin(e, &account)) return;
        for (chamber::Chamber* c : fleet_->chambers())
            if (alert::Alerter* a = c->alerter()) {
                a->raise(alert::Kind::LoginFailed, {account});
                return;
            }
    });
    connect(keeper_.get(), &auth::SessionKeeper::changed, this, &Application::noteStart);
    clockMono_.start();
    clockWatch_.feed(QDateTime::currentMSecsSinceEpoch(), clockMono_.elapsed());
    clockTimer_.setInterval(auth::ClockWatch::kCheckMs);
    connect(&clockTimer_, &QTimer::timeout, this, &Application::checkClock);
    clockTimer_.start();
}

auth::Actor Application::atThePc() const {
    if (!keeper_) return {};
    return auth::Actor::atThePc(keeper_->view().userId, keeper_->view().standing);
}

bool Application::auditing() const {
    return keeper_ && keeper_->view().standing.controlled;
}

void Application::audit(const QString& code, const QStringList& args, const base::Audit& by) {
    fleet_->audit(code, args, by);
}

void Application::noteStart() {
    if (startNoted_ || !keeper_ || !keeper_->view().opened || !fleet_ ||
        !fleet_->owned().front()->eventLog())
        return;
    startNoted_ = true;
    if (!auditing()) return;
    audit(QString::fromLatin1(auth::kProgramStarted), {});
    fleet_->auditStart();
}

void Application::checkClock() {
    const qint64 wall = QDateTime::currentMSecsSinceEpoch();
    const auto jump = clockWatch_.feed(wall, clockMono_.elapsed());
    if (jump && auditing())
        audit(
            QString::fromLatin1(auth::kClockJumped),
            {QString::number(wall - *jump), QString::number(wall), QString::number(*jump / 1000)});
}

void Application::openAdmin() {
    if (!keeper_) return;
    if (!admin_) {
        QWidget* over = mainWindow() && mainWindow()->isVisible()
                            ? static_cast<QWidget*>(mainWindow())
                            : overview_.get();
        admin_ = new auth::AdminWindow(*keeper_, over);
        admin_->setAttribute(Qt::WA_DeleteOnClose);
    }
    admin_->show();
    admin_->raise();
    admin_->activateWindow();
}

bool Application::start() {
    if (!makeChambers()) return false;
    startAccess();

    if (options_.quitAfter) {
        QTimer::singleShot(static_cast<int>(*options_.quitAfter * 1000), this, [this] {
            // A slow start (a loaded machine) may still show the splash: the program then leaves
            // as soon as its first window is up, through the same path and with its screenshot.
            const auto quit = [this] {
                if (!options_.screenshot.isEmpty()) {
                    QWidget* shown = main_ ? static_cast<QWidget*>(main_.get())
                                     : lastShown_ && lastShown_->isVisible()
                                         ? static_cast<QWidget*>(lastShown_.data())
                                         : overview_.get();
                    if (shown) shown->grab().save(options_.screenshot);
                }
                if (main_)
                    main_->exitProgram();
                else
                    leaveAll();
            };
            if (main_ || overview_)
                quit();
            else if (confs_.isEmpty())
                connect(this, &Application::mainWindowShown, this, quit, Qt::SingleShotConnection);
            else
                connect(this, &Application::overviewShown, this, quit, Qt::SingleShotConnection);
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
    if (!makeChambers()) return false;
    startAccess();
    showMainWindow();
    return true;
}

MainWindow* Application::mainWindow() const {
    return main_ ? main_.get() : lastShown_.data();
}

void Application::showMainWindow() {
    if (!confs_.isEmpty()) {
        showOverview();
        return;
    }
    if (main_) return;
    chamber::Chamber& chamber = *fleet_->owned().front();
    fleet_->open();
    main_ = std::make_unique<MainWindow>(chamber);
    main_->setExitAction([this] { leave(); });
    main_->setAccessAction([this] { openAdmin(); });
    if (!options_.profile.isEmpty()) ui::setChamberName(main_.get(), options_.profile);
    main_->fitToScreen();
    main_->show();
    // Without a window manager nothing else gives the first window the keyboard.
    main_->activateWindow();
    doorman_->addWindow(main_.get());
    main_->load();
    fleet_->start();
    startMqtt();
    noteStart();
    if (options_.connect) main_->connectAtStart();
    startWeb();
    emit mainWindowShown();
}

void Application::showOverview() {
    if (overview_) return;
    fleet_->start(options_.connect);
    startMqtt();
    overview_ = std::make_unique<overview::OverviewWindow>();
    overview_->setExitAction([this] { leaveAll(); });
    overview_->setTurnarounds(fleet_->turnarounds());
    overview_->setPorts(fleet_->ports());
    connect(overview_.get(), &overview::OverviewWindow::turnaroundChanged, this,
            [this](int port, int ms, const base::Audit& by) {
                fleet_->setTurnaround(port, ms, atThePc(), by.reason);
            });
    connect(overview_.get(), &overview::OverviewWindow::openRequested, this,
            &Application::showChamberWindow);
    connect(overview_.get(), &overview::OverviewWindow::accessRequested, this,
            &Application::openAdmin);
    // The dialog said why a chamber is refused.
    connect(overview_.get(), &overview::OverviewWindow::added, this,
            [this](const overview::ChamberConf& conf, const base::Audit& by) {
                fleet_->add(conf, atThePc(), by.reason);
            });
    connect(overview_.get(), &overview::OverviewWindow::changed, this,
            [this](int i, const overview::ChamberConf& conf, const base::Audit& by) {
                const QList<overview::ChamberConf>& confs = fleet_->confs();
                if (i >= 0 && i < confs.size() && conf.name == confs[i].name)
                    fleet_->change(conf.name, conf, atThePc(), by.reason);
            });
    connect(overview_.get(), &overview::OverviewWindow::removed, this,
            [this](int i, const base::Audit& by) {
                if (i >= 0 && i < fleet_->confs().size())
                    fleet_->remove(fleet_->confs()[i].name, atThePc(), by.reason);
            });
    connect(overview_.get(), &overview::OverviewWindow::lineRequested, this,
            [this](int i, bool open) {
                if (i >= 0 && i < fleet_->confs().size())
                    fleet_->setLineOpen(fleet_->confs()[i].port, open, atThePc());
            });
    updateOverview();
    overview_->show();
    overview_->activateWindow();
    doorman_->addWindow(overview_.get());
    noteStart();
    startWeb();
    emit overviewShown();
}

void Application::updateOverview() {
    QList<overview::OverviewWindow::Entry> entries;
    const QList<overview::ChamberConf>& confs = fleet_->confs();
    for (qsizetype i = 0; i < confs.size(); ++i)
        entries << overview::OverviewWindow::Entry{
            confs[i], fleet_->owned()[static_cast<std::size_t>(i)].get()};
    overview_->setChambers(entries);
}

void Application::showChamberWindow(int i) {
    if (i < 0 || i >= fleet_->confs().size()) return;
    chamber::Chamber& chamber = *fleet_->owned()[static_cast<std::size_t>(i)];
    // Added again while its namesake still lets go of the database: not yet opened.
    if (!chamber.eventLog()) return;
    std::unique_ptr<MainWindow>& w = windows_[chamber.name()];
    if (!w) {
        w = std::make_unique<MainWindow>(chamber);
        ui::setChamberName(w.get(), chamber.name());
        showServing(w.get());
        w->setAccessAction([this] { openAdmin(); });
        // Leaving the chamber's window goes back to the overview; the chamber records on.
        w->setReturnAction([this, c = &chamber] {
            // Its line's other chambers share the time it had.
            c->setFocused(false);
            if (overview_) {
                overview_->show();
                overview_->activateWindow();
            }
        });
        // Its port settings are the chamber list's: taken there, for the whole line.
        w->setSettingsAction([this, name = chamber.name()](const comm::PortSettings& settings,
                                                           const base::Audit& by) {
            std::optional<overview::ChamberConf> conf = fleet_->conf(name);
            if (!conf) return QString();
            conf->setPortSettings(settings);
            const auto refusal = fleet_->change(name, *conf, atThePc(), by.reason);
            return refusal ? overview::refusalText(*refusal) : QString();
        });
        showMqttStatus(*w);
        w->fitToScreen();
        w->load();
        w->showPortSettings(chamber.link().polling() ? chamber.link().settings()
                                                     : fleet_->confs()[i].portSettings());
    }
    lastShown_ = w.get();
    // The chamber shown gets its line's whole poll cycle, its readbacks and its writes.
    chamber.setFocused(true);
    overview_->hide();
    w->show();
    doorman_->addWindow(w.get());
    w->raise();
    w->activateWindow();
    emit mainWindowShown();
}

void Application::closeChamberWindow(const QString& name) {
    if (auto it = windows_.find(name); it != windows_.end()) {
        it->second->setExitAction(nullptr);
        it->second->exitProgram();
        windows_.erase(it);
    }
}

void Application::leaveAll() {
    // The lines open now open again at the next start.
    fleet_->stop();
    for (auto& [name, w] : windows_) {
        w->setExitAction(nullptr);
        w->exitProgram();
    }
    if (overview_) {
        overview_->allowClose();
        overview_->close();
    }
    leave();
}

void Application::startWeb() {
    if (web_) return;
    QString error;
    web_ = service::startWebHost(
        *fleet_, options_, [] { return settingsFileFor(QString()); }, userStorePath(), &error);
    if (!web_) {
        if (!error.isEmpty()) qWarning("%s", qUtf8Printable(error));
        return;
    }
    const auto follow = [this] {
        web_->setAccessControl(keeper_->view().standing.controlled);
        web_->setIdleMinutes(keeper_->view().idleMinutes);
    };
    follow();
    connect(keeper_.get(), &auth::SessionKeeper::changed, web_.get(), follow);
    if (main_) showServing(main_.get());
    for (auto& [name, w] : windows_)
        showServing(w.get());
}

void Application::showServing(QMainWindow* w) {
    if (!web_) return;
    auto* label = new QLabel(base::Tr::tr("网页：%1").arg(web_->url()), w);
    label->setObjectName(QStringLiteral("webServing"));
    w->statusBar()->addPermanentWidget(label);
}

void Application::startMqtt() {
#ifdef VELMARS_HAVE_MQTT
    if (mqtt_ || !fleet_) return;
    service::Publishing started =
        service::startPublishing(*fleet_, options_, *settingsFileFor(QString()));
    if (!started.publisher) return;
    mqtt_ = std::move(started.publisher);
    mqttFeed_ = std::move(started.feed);
    if (main_) showMqttStatus(*main_);
#endif
}

void Application::showMqttStatus([[maybe_unused]] MainWindow& w) {
#ifdef VELMARS_HAVE_MQTT
    if (mqtt_) (new mqtt::StatusLabel(w.statusBar()))->follow(*mqtt_);
#endif
}

void Application::leave() {
#ifdef VELMARS_HAVE_MQTT
    // "offline" published and acknowledged (bounded) before the program ends.
    mqttFeed_.reset();
    mqtt_.reset();
#endif
    if (auditing()) audit(QString::fromLatin1(auth::kProgramEnded), {});
    if (web_) web_->stop();
    emit exited();
    QCoreApplication::exit(0);
}

}  // namespace shell
