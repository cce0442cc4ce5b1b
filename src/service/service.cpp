#include "service/service.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <optional>

#include "auth/sessionkeeper.h"
#include "auth/userstore.h"
#include "base/datafolder.h"
#include "chamber/fleetstart.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "mqtt/status.h"
#ifdef VELMARS_HAVE_MQTT
#include "mqtt/publisher.h"
#endif
#include "service/logging.h"
#include "service/serviceevents.h"
#include "service/serviceos.h"
#include "sim/server.h"
#include "store/chainkey.h"
#include "store/recorder.h"
#include "web/host.h"

namespace service {

QString optionNotTaken(const shell::Options& o) {
    const std::pair<bool, const char*> windowOnly[] = {
        {o.connect, "--connect"},
        {o.quitAfter.has_value(), "--quit-after"},
        {!o.screenshot.isEmpty(), "--screenshot"},
        {o.clockSpeed != 1.0, "--clock-speed"},
        {!o.exportCsv.isEmpty(), "--export-csv"},
        {!o.exportEvents.isEmpty(), "--export-events"},
        {o.verify, "--verify"},
        {!o.report.isEmpty(), "--report"},
        {!o.sign.isEmpty(), "--sign"},
        {!o.createAdmin.isEmpty(), "--create-admin"},
        {o.accessControl.has_value(), "--access-control"},
        {!o.user.isEmpty(), "--user"},
        {o.language.has_value(), "--lang"},
        // The service has no one at its input: the broker's login is kept in its settings file.
        {o.mqttLogin, "--mqtt-login"},
        {!o.makeToken.isEmpty(), "--make-token"},
        {!o.revokeToken.isEmpty(), "--revoke-token"},
    };
    for (const auto& [given, name] : windowOnly)
        if (given) return QString::fromLatin1(name);
    return {};
}

QString serviceUsageText() {
    return QStringLiteral(
               "usage: velmars-service [options]\n"
               "Runs every chamber of the settings without a window and records it, as a service "
               "of\n"
               "the system's service manager or in a console until Ctrl+C.\n"
               "  --data DIR            the folder of the settings, the databases and the local "
               "channel\n"
               "                        (default %1)\n"
               "  --chamber NAME=PORT,ADDRESS[,BAUD[,PARITY]]  a chamber (repeatable), kept in "
               "the\n"
               "                        settings for the next start\n"
               "  --port N=DEVICE       port number N (1..20) names DEVICE (repeatable)\n"
               "  --db PATH             the database of the one chamber of a service without "
               "chambers\n"
               "  --profile NAME        the settings file and database of the profile NAME\n"
               "  --simulate            run the simulated instrument; port 1 names it\n"
               "  --forward URL, --station NAME, --keep-days N, --keep-free-gb G, --notify-mail "
               "URL,\n"
               "  --notify-from ADDR, --notify-to ADDR[,ADDR...], --notify-webhook URL,\n"
               "  --notify-silent-after SECONDS,\n"
               "  --http [ADDRESS:]PORT, --tls-cert FILE --tls-key FILE,\n"
               "  --mqtt URL, --mqtt-prefix PREFIX, --mqtt-discovery\n"
               "                        as for velmars, kept in the settings (the broker's "
               "login and the\n"
               "                        web's tokens too: velmars --data DIR --mqtt-login, "
               "--make-token)\n"
               "  --help                this text\n")
        .arg(QDir::toNativeSeparators(os::defaultDataFolder()));
}

QString statusLine(int recording, int chambers, const QString& serving,
                   const mqtt::Status* broker) {
    const QString noun = chambers == 1 ? QStringLiteral("chamber") : QStringLiteral("chambers");
    QString line =
        recording == chambers
            ? QStringLiteral("%1 %2 recording").arg(chambers).arg(noun)
            : QStringLiteral("%1 of %2 %3 recording").arg(recording).arg(chambers).arg(noun);
    if (!serving.isEmpty()) {
        QString url = serving;
        if (url.endsWith(u'/')) url.chop(1);
        line += QStringLiteral("; serving ") + url;
    }
    if (broker) line += QStringLiteral("; ") + mqtt::statusText(*broker, base::Lang::Stored);
    return line;
}

Service::Service(shell::Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      lineWatch_([this] { return mono_.elapsed(); }, kLineStuckMs) {
    mono_.start();
}

Service::~Service() {
    // The hosted clients end first, then the chambers (their threads write their last), then
    // their lines and the simulator; the folder is let go last.
    publishing_.reset();
    web_.reset();
    channel_.reset();
    fleet_.reset();
    sim_.reset();
    store::chain::setHeadStore(nullptr);
    store::chain::setKey(QByteArray());
    heads_.reset();
}

QString Service::databasePath(const QString& name) {
    return chamber::databasePath(base::givenDataFolder(), name);
}

bool Service::start() {
    const QString folder = base::givenDataFolder();
    if (!QDir().mkpath(folder)) {
        error_ = QStringLiteral("cannot make the data folder %1").arg(folder);
        return false;
    }
    // One service per folder: a second one would find every database held and record nothing.
    // The lock's file outlives a service that did not stop (killed, crashed, the power gone).
    const QString lockPath = QDir(folder).filePath(QStringLiteral("service.lock"));
    const bool endedUnclean = QFileInfo::exists(lockPath);
    folderLock_ = std::make_unique<QLockFile>(lockPath);
    folderLock_->setStaleLockTime(0);
    if (!folderLock_->tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        folderLock_->getLockInfo(&pid, &host, &app);
        error_ = folderLock_->error() == QLockFile::LockFailedError
                     ? QStringLiteral("another service records into %1 (process %2)")
                           .arg(QDir::toNativeSeparators(folder))
                           .arg(pid)
                     : QStringLiteral("cannot lock the data folder %1")
                           .arg(QDir::toNativeSeparators(folder));
        exitCode_ = 2;
        return false;
    }
    // The chains' key: made at the first start; one that is there but unusable is never
    // replaced (every row linked under it would stop verifying), and nothing is recorded.
    const store::chain::KeyFile key = store::chain::takeKey(folder);
    if (!key.usable()) {
        error_ = store::chain::keyProblemText(key, folder);
        qCCritical(lcService).noquote() << error_;
        exitCode_ = 1;
        return false;
    }
    store::chain::setKey(key.key);
    // Without its record of the chains' heads the service still records; a file put back or cut
    // short is then found by the chains alone.
    heads_ = store::chain::HeadStore::openToWrite(folder);
    if (!heads_)
        qCCritical(lcService).noquote()
            << "cannot keep the chains' heads in" << store::chain::headsPath(folder);
    store::chain::setHeadStore(heads_.get());
    if (!makeFleet()) return false;
    fleet_->open();
    for (chamber::Chamber* c : fleet_->chambers()) {
        if (!c->recording()) {
            // The desktop program (or another service with a folder of its own) records into it.
            error_ = c->refusal().text(base::Lang::Stored);
            exitCode_ = 2;
            return false;
        }
    }
    // The start, and the cause of the gap before it, are in every chamber's log before the
    // service counts as started.
    startEntries_ = endedUnclean ? 2 : 1;
    for (chamber::Chamber* c : fleet_->chambers()) {
        if (endedUnclean)
            c->eventLog()->log(events::codedEntry(events::eventkind::kRecorder, kUncleanCode));
        c->eventLog()->log(events::codedEntry(events::eventkind::kRecorder, kStartedCode));
        connect(c->eventLog(), &events::EventLog::storedChanged, this, &Service::recordingChanged);
    }
    // Then the settings the command line changed, in the audit trail under access control.
    fleet_->setAuditing([this] { return standing().controlled; });
    fleet_->auditStart();
    // Every line is polled: the service records every chamber whoever looks at it.
    fleet_->start(/*connect=*/true);
    for (chamber::Chamber* c : fleet_->chambers()) {
        connect(c->recorder(), &store::Recorder::statusChanged, this, &Service::recordingChanged);
        if (fleet_->single()) c->link().open(chamber::ChamberConf{}.portSettings());
    }
    // Without its channel the service still records; the windows then cannot attach.
    channel_ = std::make_unique<Channel>(
        *fleet_, [this] { return standing(); },
        QDir(folder).filePath(QString::fromLatin1(auth::kUserStoreFileName)));
    if (QString why; !channel_->listen(folder, &why))
        qCCritical(lcService).noquote() << "no local channel:" << why;
    qCInfo(lcService).noquote() << "recording" << fleet_->chambers().size() << "chamber(s) into"
                                << QDir::toNativeSeparators(folder);
    startHosted();
    recordingChanged();
    if (const qint64 usec = os::watchdogUsec(); usec > 0) {
        // Pinged at half the interval, as the service manager recommends.
        watchdog_.setInterval(static_cast<int>(std::clamp<qint64>(usec / 2000, 1, 1 << 30)));
        connect(&watchdog_, &QTimer::timeout, this, &Service::watchdogTick);
        watchdog_.start();
        watchdogTick();
    }
    return true;
}

bool Service::makeFleet() {
    const chamber::FleetOptions o = fleetOptions(options_, base::givenDataFolder());
    QList<chamber::SettingChange> changes;
    const QList<chamber::ChamberConf> confs = chambersOfRun(options_, o, &changes);
    std::optional<chamber::FleetStart> start =
        chamber::makeFleetSetup(o, confs, std::move(changes), &error_);
    if (!start) return false;
    sim_ = std::move(start->sim);
    accounts_ = std::move(start->accounts);
    start->setup.clock = &clock_;
    fleet_ = std::make_unique<chamber::Fleet>(std::move(start->setup));
    return true;
}

void Service::startHosted() {
    // Without the web server or the broker the service still records; its status says so.
    QString why;
    web_ = startWebHost(
        *fleet_, options_, [] { return chamber::settingsFileFor(QString()); },
        QDir(base::givenDataFolder()).filePath(QString::fromLatin1(auth::kUserStoreFileName)),
        &why);
    if (web_) {
        qCInfo(lcService).noquote() << "serving" << web_->url();
        followStanding();
        // Access control switched, or the idle lock changed, by a window or the command line.
        standingTimer_.setInterval(2000);
        connect(&standingTimer_, &QTimer::timeout, this, &Service::followStanding);
        standingTimer_.start();
    } else if (!why.isEmpty()) {
        qCCritical(lcService).noquote() << "no web server:" << why;
    }
    publishing_ = startPublishing(*fleet_, options_, *chamber::settingsFileFor(QString()));
#ifdef VELMARS_HAVE_MQTT
    if (publishing_.publisher)
        connect(publishing_.publisher.get(), &mqtt::Publisher::statusChanged, this, [this] {
            qCInfo(lcService).noquote() << publishing_.publisher->statusText(base::Lang::Stored);
            recordingChanged();
        });
#endif
}

void Service::followStanding() {
    if (!web_) return;
    const auth::Standing s = standing();
    web_->setAccessControl(s.controlled);
    web_->setIdleMinutes(users_ && s.controlled ? users_->idleLockMinutes() : 0);
}

auth::Standing Service::standing() {
    auth::Standing s;
    const QString path =
        QDir(base::givenDataFolder()).filePath(QString::fromLatin1(auth::kUserStoreFileName));
    // No store: access control was never switched on here.
    if (!QFileInfo::exists(path)) return s;
    if (!users_) users_ = std::make_unique<auth::UserStore>(path, QStringLiteral("service-users"));
    if (users_->state() != auth::StoreState::Ready &&
        users_->open(false) != auth::StoreState::Ready) {
        // A store that cannot be read lets nobody change anything.
        s.controlled = true;
        s.storeUsable = false;
        users_.reset();
        return s;
    }
    s.controlled = users_->accessControl();
    return s;
}

int Service::recordingCount() const {
    int n = 0;
    if (!fleet_) return 0;
    for (const chamber::Chamber* c : fleet_->chambers()) {
        const store::Recorder* r = c->recorder();
        // A chamber records once its first sample and the service's start are in the file.
        if (r && r->status().recording() && r->status().recordNo > 0 &&
            c->eventLog()->storedCount() >= startEntries_)
            ++n;
    }
    return n;
}

void Service::recordingChanged() {
    if (stopping_) return;
    const int recording = recordingCount();
    const int total = static_cast<int>(fleet_->chambers().size());
    std::optional<mqtt::Status> broker;
#ifdef VELMARS_HAVE_MQTT
    if (publishing_.publisher) broker = publishing_.publisher->status();
#endif
    const QString line =
        statusLine(recording, total, web_ ? web_->url() : QString(), broker ? &*broker : nullptr);
    if (line == lastStatus_) return;
    lastStatus_ = line;
    qCInfo(lcService).noquote() << line;
    QByteArray message = "STATUS=" + line.toUtf8();
    if (!ready_ && recording == total) {
        ready_ = true;
        message.prepend("READY=1\n");
        emit readyChanged();
    }
    os::tellManager(message);
}

void Service::watchdogTick() {
    // This runs on the main loop, so its being called shows the loop alive; the lines' threads
    // answer their probes.
    std::vector<LineWatch::Target> targets;
    for (const chamber::Chamber* c : fleet_->chambers()) {
        std::weak_ptr<comm::Line> line = c->link().line();
        targets.push_back({c->link().line().get(), [line](std::function<void()> fn) {
                               const auto l = line.lock();
                               if (!l || l->shutDown()) return false;
                               l->post([fn = std::move(fn)](comm::LineWorker&) { fn(); });
                               return true;
                           }});
    }
    const int stuckBefore = lineWatch_.stuckCount();
    if (lineWatch_.check(targets)) {
        os::tellManager("WATCHDOG=1");
    } else if (lineWatch_.stuckCount() != stuckBefore) {
        qCCritical(lcService).noquote()
            << lineWatch_.stuckCount() << "line thread(s) stuck: the watchdog is no longer fed";
    }
}

void Service::stop() {
    if (stopping_) return;
    stopping_ = true;
    watchdog_.stop();
    standingTimer_.stop();
    os::tellManager("STOPPING=1");
    qCInfo(lcService) << "stopping";
    // "offline" published (bounded) and the web server closed before the chambers stop.
    publishing_.reset();
    if (web_) web_->stop();
    if (channel_) channel_->close();
    if (fleet_) {
        for (chamber::Chamber* c : fleet_->chambers())
            if (events::EventLog* log = c->eventLog())
                log->log(events::codedEntry(events::eventkind::kRecorder, kStoppedCode));
        fleet_->stop();
    }
    // The chambers' threads write their last as they are ended, after the loop.
    QCoreApplication::exit(0);
    emit stopped();
}

}  // namespace service
