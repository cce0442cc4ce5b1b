#include "shell/application.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <iostream>

#include "access/accesswindows.h"
#include "access/adminwindow.h"
#include "access/guard.h"
#include "access/sessionkeeper.h"
#include "alert/alerter.h"
#include "chamber/chamber.h"
#include "chamber/teardown.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "forward/status.h"
#include "overview/overviewwindow.h"
#include "report/signatures.h"
#include "shell/accesscommand.h"
#include "shell/auditrow.h"
#include "shell/mainwindow.h"
#include "shell/settings.h"
#include "shell/shellos.h"
#include "shell/splashwindow.h"
#include "sim/server.h"
#include "store/exportfile.h"
#include "store/recorder.h"
#include "ui/widgets.h"

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

void addEventTexts() {
    record::addEventTexts(&auth::auditText);
    record::addEventTexts(&alert::eventText);
    record::addEventTexts(&record::forward::eventText);
    // A signature's rows read in the language wherever they are shown, signed in this run or not.
    record::addEventTexts(&report::signedEventText);
}

Application::Application(Options options, std::unique_ptr<comm::ModbusRTU> bus,
                         const record::Clock* clock, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      pendingBus_(std::move(bus)),
      clock_(clock ? clock : &systemClock_) {
    addEventTexts();
    if (!clock && options_.clockSpeed > 1.0) {
        fastClock_ = std::make_unique<FastClock>(options_.clockSpeed);
        clock_ = fastClock_.get();
    }
    setProfile(options_.profile);
    // The chambers of this run: the command line's, kept for the next; else the settings file's.
    // A profile or a database of its own is one chamber, as always.
    if (!options_.chambers.isEmpty()) {
        chamberListChange_ = chamberListChange(options_, *settingsFileFor(QString()));
        confs_ = options_.chambers;
        saveChambers();
    } else if (options_.profile.isEmpty() && options_.db.isEmpty()) {
        confs_ = overview::readChambers(*settingsFileFor(QString()));
    }
}

Application::~Application() {
    record::setExportWatcher(nullptr);
    // A chamber deleted just before leaving still writes its last; its threads are waited for.
    for (const QPointer<chamber::Teardown>& t : std::as_const(teardowns_))
        delete t.data();
}

QList<chamber::Teardown*> Application::teardowns() const {
    QList<chamber::Teardown*> out;
    for (const QPointer<chamber::Teardown>& t : teardowns_)
        if (t && !t->done()) out << t.data();
    return out;
}

QString Application::defaultDatabasePath(const QString& profile) {
    return QDir(os::dataFolder())
        .filePath(profile.isEmpty() ? QStringLiteral("Rdatabj.db")
                                    : QStringLiteral("Rdatabj-%1.db").arg(profile));
}

bool Application::startSimulator(comm::PortMap& ports, const QList<int>& addresses) {
    sim::ServerOptions simOptions;
    simOptions.demoStart = true;
    // Each chamber on port 1 is an instrument of its own at its address.
    simOptions.addresses.assign(addresses.begin(), addresses.end());
    if (options_.logWrites)  // the server's thread writes whole lines
        simOptions.writeLog = [](const std::string& line) { std::cout << line << std::endl; };
    sim_ = std::make_unique<sim::SimServer>(simOptions);
    std::string why;
    if (!sim_->start(&why)) {
        error_ = QStringLiteral("simulated instrument: %1").arg(QString::fromStdString(why));
        return false;
    }
    if (!ports.hasExplicit(1)) ports.setExplicit(1, QString::fromStdString(sim_->device()));
    return true;
}

std::unique_ptr<chamber::Chamber> Application::makeChamber(const overview::ChamberConf& conf) {
    // A chamber is what a profile of its name is: the same settings file and database.
    chamber::Setup setup;
    setup.name = conf.name;
    setup.dbPath = defaultDatabasePath(conf.name);
    setup.ports = ports_;
    setup.lines = lines_.get();
    setup.linePort = conf.port;
    setup.clock = clock_;
    setup.settings = [name = conf.name] { return settingsFileFor(name); };
    settingChanges_[conf.name] = settingChanges(options_, *settingsFileFor(conf.name));
    // The station's name stays each chamber's own: --station names the one chamber of a run.
    setup.given = {options_.forward,
                   confs_.size() == 1 ? options_.station : std::nullopt,
                   {options_.notifyMail, options_.notifyFrom, options_.notifyTo,
                    options_.notifyWebhook, options_.notifySilentAfter},
                   options_.keepDays,
                   options_.keepFreeGb};
    auto c = std::make_unique<chamber::Chamber>(std::move(setup));
    c->link().setSettings(conf.portSettings());
    return c;
}

bool Application::makeChambers() {
    if (!chambers_.empty()) return true;
    for (auto it = options_.ports.cbegin(); it != options_.ports.cend(); ++it)
        ports_.setExplicit(it.key(), it.value());
    if (!confs_.isEmpty()) {
        if (options_.simulate) {
            QList<int> addresses;
            for (const overview::ChamberConf& conf : confs_)
                if (conf.port == 1) addresses << conf.address;
            if (!startSimulator(ports_, addresses)) return false;
        }
        lines_ = std::make_unique<comm::LineRegistry>(ports_);
        turnarounds_ = overview::readTurnarounds(*settingsFileFor(QString()));
        for (auto it = turnarounds_.cbegin(); it != turnarounds_.cend(); ++it)
            lines_->setTurnaroundMs(ports_.deviceFor(it.key()), it.value());
        for (const overview::ChamberConf& conf : confs_)
            chambers_.push_back(makeChamber(conf));
        return true;
    }
    if (options_.simulate && !startSimulator(ports_, {})) return false;
    settingChanges_[QString()] = settingChanges(options_, *settingsFile());
    chamber::Setup setup;
    setup.dbPath = options_.db.isEmpty() ? defaultDatabasePath(options_.profile) : options_.db;
    setup.ports = ports_;
    setup.bus = std::move(pendingBus_);
    setup.clock = clock_;
    setup.settings = settingsFile;
    setup.given = {options_.forward,
                   options_.station,
                   {options_.notifyMail, options_.notifyFrom, options_.notifyTo,
                    options_.notifyWebhook, options_.notifySilentAfter},
                   options_.keepDays,
                   options_.keepFreeGb};
    chambers_.push_back(std::make_unique<chamber::Chamber>(std::move(setup)));
    return true;
}

void Application::startAccess() {
    if (keeper_) return;
    guard_ = std::make_unique<auth::Guard>();
    keeper_ = std::make_unique<auth::SessionKeeper>(userStorePath(), monoMs_);
    doorman_ = std::make_unique<auth::Doorman>(*keeper_, *guard_);
    // The user store's rows (logins, failures, locks, accounts, switching) go into every
    // chamber's log; each failed login raises one alert, the PC's and not a chamber's: it goes
    // to the first chamber's alerter, so that nobody gets one message per chamber.
    connect(keeper_.get(), &auth::SessionKeeper::audited, this, [this](const auth::AccessEvent& e) {
        accessRows_ << e;
        for (const auto& c : chambers_)
            copyAccessRow(*c, e);
        QString account;
        // Rows from before the start are copied where missing; only a failure now is alerted.
        if (e.seq <= keeper_->view().seqAtOpen || !auth::isFailedLogin(e, &account)) return;
        for (const auto& c : chambers_)
            if (alert::Alerter* a = c->alerter()) {
                a->raise(alert::Kind::LoginFailed, {account});
                return;
            }
    });
    connect(keeper_.get(), &auth::SessionKeeper::changed, this, &Application::noteStart);
    record::setExportWatcher([this](const QString& what, const QString& path) {
        if (!auditing()) return;
        base::Audit by;
        by.user = keeper_->view().userId;
        audit(QString::fromLatin1(auth::kExported), {by.user, what, path}, by);
    });
    clockMono_.start();
    clockWatch_.feed(QDateTime::currentMSecsSinceEpoch(), clockMono_.elapsed());
    clockTimer_.setInterval(auth::ClockWatch::kCheckMs);
    connect(&clockTimer_, &QTimer::timeout, this, &Application::checkClock);
    clockTimer_.start();
    keeper_->open();
}

bool Application::auditing() const {
    return keeper_ && keeper_->view().standing.controlled;
}

void Application::openChamber(chamber::Chamber& c) {
    c.open();
    for (const auth::AccessEvent& e : std::as_const(accessRows_))
        copyAccessRow(c, e);
}

void Application::copyAccessRow(chamber::Chamber& c, const auth::AccessEvent& e) {
    record::EventLog* log = c.eventLog();
    if (!log) return;
    record::EventEntry row = auditRow(auth::auditCode(e), auth::auditArgs(e));
    row.at = QDateTime::fromMSecsSinceEpoch(e.atMs);
    row.user = e.user;
    row.copied = true;
    log->log(row);
}

void Application::audit(const QString& code, const QStringList& args, const base::Audit& by) {
    const record::EventEntry e = auditRow(code, args, by);
    for (const auto& c : chambers_)
        if (record::EventLog* log = c->eventLog()) log->log(e);
}

void Application::noteStart() {
    if (startNoted_ || !keeper_ || !keeper_->view().opened || chambers_.empty() ||
        !chambers_.front()->eventLog())
        return;
    startNoted_ = true;
    if (!auditing()) return;
    audit(QString::fromLatin1(auth::kProgramStarted), {});
    for (const auto& c : chambers_) {
        QList<SettingChange> changes = settingChanges_.value(c->name());
        if (chamberListChange_) changes.prepend(*chamberListChange_);
        logSettingChanges(*c, changes);
    }
}

void Application::logSettingChanges(chamber::Chamber& c, const QList<SettingChange>& changes) {
    // The settings the command line changed in the chamber's file, by the administrator it named,
    // into that chamber's log.
    record::EventLog* log = c.eventLog();
    if (!log) return;
    for (const SettingChange& change : changes) {
        base::Audit by;
        by.user = options_.user;
        by.oldValue = change.before;
        by.newValue = change.after;
        by.reason = options_.reason;
        log->log(auditRow(QString::fromLatin1(auth::kSettingChanged),
                          {by.user, change.option, change.before, change.after}, by));
    }
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
    chamber::Chamber& chamber = *chambers_.front();
    openChamber(chamber);
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
    chamber.start();
    noteStart();
    if (options_.connect) main_->connectAtStart();
    emit mainWindowShown();
}

void Application::showOverview() {
    if (overview_) return;
    // The lines open when the program last ended open again.
    const QList<int> wasOpen = overview::readOpenLines(*settingsFileFor(QString()));
    for (std::size_t i = 0; i < chambers_.size(); ++i) {
        openChamber(*chambers_[i]);
        chambers_[i]->start();
        const overview::ChamberConf& conf = confs_[static_cast<int>(i)];
        if (options_.connect || wasOpen.contains(conf.port))
            chambers_[i]->link().open(conf.portSettings());
    }
    overview_ = std::make_unique<overview::OverviewWindow>();
    overview_->setExitAction([this] { leaveAll(); });
    overview_->setTurnarounds(turnarounds_);
    overview_->setPorts(ports_);
    connect(overview_.get(), &overview::OverviewWindow::turnaroundChanged, this,
            &Application::setTurnaround);
    connect(overview_.get(), &overview::OverviewWindow::openRequested, this,
            &Application::showChamberWindow);
    connect(overview_.get(), &overview::OverviewWindow::accessRequested, this,
            &Application::openAdmin);
    connect(overview_.get(), &overview::OverviewWindow::added, this, &Application::addChamber);
    connect(overview_.get(), &overview::OverviewWindow::changed, this, &Application::changeChamber);
    connect(overview_.get(), &overview::OverviewWindow::removed, this, &Application::removeChamber);
    connect(overview_.get(), &overview::OverviewWindow::lineRequested, this,
            [this](int i, bool open) {
                if (i >= 0 && i < confs_.size()) setLineOpen(confs_[i].port, open);
            });
    updateOverview();
    overview_->show();
    overview_->activateWindow();
    doorman_->addWindow(overview_.get());
    noteStart();
    emit overviewShown();
}

void Application::updateOverview() {
    QList<overview::OverviewWindow::Entry> entries;
    for (qsizetype i = 0; i < confs_.size(); ++i)
        entries << overview::OverviewWindow::Entry{confs_[i], chambers_[i].get()};
    overview_->setChambers(entries);
}

void Application::showChamberWindow(int i) {
    if (i < 0 || i >= confs_.size()) return;
    chamber::Chamber& chamber = *chambers_[i];
    // Added again while its namesake still lets go of the database: not yet opened.
    if (!chamber.eventLog()) return;
    std::unique_ptr<MainWindow>& w = windows_[chamber.name()];
    if (!w) {
        w = std::make_unique<MainWindow>(chamber);
        ui::setChamberName(w.get(), chamber.name());
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
            const int at = indexOf(name);
            if (at < 0) return QString();
            overview::ChamberConf conf = confs_[at];
            conf.setPortSettings(settings);
            const auto refusal = applyChamber(at, conf, by);
            return refusal ? overview::refusalText(*refusal) : QString();
        });
        w->fitToScreen();
        w->load();
        w->showPortSettings(chamber.link().polling() ? chamber.link().settings()
                                                     : confs_[i].portSettings());
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

void Application::saveChambers() {
    overview::writeChambers(*settingsFileFor(QString()), confs_);
}

void Application::setTurnaround(int port, int ms, const base::Audit& by) {
    if (port < 1 || port > 20) return;
    ms = std::clamp(ms, 0, 1000);
    if (auditing())
        audit(QString::fromLatin1(auth::kTurnaround),
              {by.user, QString::number(port), by.oldValue, QString::number(ms)}, by);
    overview::writeTurnaround(*settingsFileFor(QString()), port, ms);
    turnarounds_[port] = ms;
    if (lines_) lines_->setTurnaroundMs(ports_.deviceFor(port), ms);
}

void Application::addChamber(const overview::ChamberConf& conf, const base::Audit& by) {
    QList<overview::ChamberConf> all = confs_;
    all << conf;
    if (overview::checkChambers(all)) return;  // the dialog said why
    confs_ = all;
    saveChambers();
    chambers_.push_back(makeChamber(conf));
    openWhenFree(chambers_.back().get());
    // Added to a line that is open: polled at once, like the others on it.
    for (std::size_t j = 0; j + 1 < chambers_.size(); ++j)
        if (confs_[static_cast<int>(j)].port == conf.port && chambers_[j]->link().polling()) {
            chambers_.back()->link().open(conf.portSettings());
            break;
        }
    updateOverview();
    // Every chamber's log keeps it, the new one's too once it opens.
    if (auditing())
        audit(QString::fromLatin1(auth::kChamberAdded), {by.user, conf.name, by.newValue}, by);
    // The command line's settings (retention, forwarding, alerts) reach the new chamber's file as
    // they reached the others': its log says so, as theirs did at the start.
    if (auditing() && startNoted_)
        logSettingChanges(*chambers_.back(), settingChanges_.value(conf.name));
}

void Application::openWhenFree(chamber::Chamber* c) {
    // One program records into a database at a time, and this one too only once: a chamber
    // deleted a moment ago may still be writing into it.
    for (const QPointer<chamber::Teardown>& t : std::as_const(teardowns_)) {
        if (!t || t->done() || t->databasePath() != c->databasePath()) continue;
        connect(t.data(), &chamber::Teardown::finished, this,
                [this, waiting = QPointer<chamber::Chamber>(c)] {
                    if (waiting) openWhenFree(waiting.data());
                });
        return;
    }
    openChamber(*c);
    c->start();
}

void Application::changeChamber(int i, const overview::ChamberConf& conf, const base::Audit& by) {
    if (i < 0 || i >= confs_.size() || conf.name != confs_[i].name) return;
    applyChamber(i, conf, by);
}

int Application::indexOf(const QString& name) const {
    for (qsizetype i = 0; i < confs_.size(); ++i)
        if (confs_[i].name == name) return static_cast<int>(i);
    return -1;
}

std::optional<overview::Refusal> Application::applyChamber(int i, overview::ChamberConf conf,
                                                           const base::Audit& by) {
    if (i < 0 || i >= confs_.size()) return std::nullopt;
    conf.name = confs_[i].name;  // a chamber's name stays
    QList<overview::ChamberConf> all = confs_;
    all[i] = conf;
    all = overview::withLineSettings(all, i);
    if (const auto refusal = overview::checkChambers(all)) return refusal;
    const QList<overview::ChamberConf> before = confs_;
    confs_ = all;
    saveChambers();
    // The chamber changed first, then the others of its line: the first open at the new baud
    // rate or parity re-opens the line, the others join it.
    QList<int> order{i};
    for (int j = 0; j < static_cast<int>(all.size()); ++j)
        if (j != i) order << j;
    for (int j : order) {
        if (before[j] == all[j]) continue;
        base::Audit change = by;
        change.oldValue = comm::settingsText(before[j].portSettings());
        change.newValue = comm::settingsText(all[j].portSettings());
        if (auditing())
            audit(QString::fromLatin1(auth::kChamberChanged),
                  {change.user, all[j].name, change.oldValue, change.newValue}, change);
        chamber::Chamber& c = *chambers_[static_cast<std::size_t>(j)];
        comm::Link& link = c.link();
        const bool polling = link.polling();
        if (ports_.deviceFor(before[j].port) != ports_.deviceFor(all[j].port))
            c.moveToPort(all[j].port);
        // A chamber being polled goes on with its new settings.
        if (polling)
            link.open(all[j].portSettings());
        else
            link.setSettings(all[j].portSettings());
        if (auto it = windows_.find(all[j].name); it != windows_.end())
            it->second->showPortSettings(all[j].portSettings());
    }
    updateOverview();
    keepOpenLines();
    return std::nullopt;
}

void Application::setLineOpen(int port, bool open) {
    for (qsizetype j = 0; j < confs_.size(); ++j) {
        if (confs_[j].port != port) continue;
        comm::Link& link = chambers_[static_cast<std::size_t>(j)]->link();
        if (open)
            link.open(confs_[j].portSettings());
        else
            link.close();
    }
    keepOpenLines();
    updateOverview();
}

void Application::keepOpenLines() {
    QList<int> open;
    for (qsizetype j = 0; j < confs_.size(); ++j)
        if (chambers_[static_cast<std::size_t>(j)]->link().polling() &&
            !open.contains(confs_[j].port))
            open << confs_[j].port;
    overview::writeOpenLines(*settingsFileFor(QString()), open);
}

void Application::removeChamber(int i, const base::Audit& by) {
    if (i < 0 || i >= confs_.size()) return;
    // Recorded first, so that the chamber's own log keeps it too.
    if (auditing())
        audit(QString::fromLatin1(auth::kChamberRemoved), {by.user, confs_[i].name, by.oldValue},
              by);
    // Its database stays where it is: adding the chamber again shows everything it kept.
    chamber::Chamber& chamber = *chambers_[i];
    if (auto it = windows_.find(chamber.name()); it != windows_.end()) {
        it->second->setExitAction(nullptr);
        it->second->exitProgram();
        windows_.erase(it);
    }
    if (record::Recorder* recorder = chamber.recorder()) recorder->stop();
    chamber.link().close();
    std::unique_ptr<chamber::Chamber> gone = std::move(chambers_[i]);
    confs_.removeAt(i);
    chambers_.erase(chambers_.begin() + i);
    saveChambers();
    updateOverview();
    // Its threads write their last and end off the UI thread: a line that no longer answers
    // keeps nobody waiting.
    teardowns_.removeAll(nullptr);
    auto* teardown = new chamber::Teardown(std::move(gone), this);
    connect(teardown, &chamber::Teardown::finished, teardown, &QObject::deleteLater);
    teardowns_ << teardown;
}

void Application::leaveAll() {
    // The lines open now open again at the next start.
    if (!confs_.isEmpty()) keepOpenLines();
    for (auto& [name, w] : windows_) {
        w->setExitAction(nullptr);
        w->exitProgram();
    }
    for (auto& c : chambers_) {
        if (record::Recorder* recorder = c->recorder()) recorder->stop();
        c->link().close();
    }
    if (overview_) {
        overview_->allowClose();
        overview_->close();
    }
    leave();
}

void Application::leave() {
    if (auditing()) audit(QString::fromLatin1(auth::kProgramEnded), {});
    emit exited();
    QCoreApplication::exit(0);
}

}  // namespace shell
