#include "chamber/fleet.h"

#include <algorithm>

#include "auth/audit.h"
#include "chamber/auditrow.h"
#include "chamber/teardown.h"
#include "comm/line.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "store/recorder.h"

namespace chamber {

namespace {}  // namespace

Fleet::Fleet(FleetSetup setup, QObject* parent)
    : QObject(parent),
      setup_(std::move(setup)),
      single_(setup_.chambers.isEmpty()),
      ports_(setup_.ports),
      confs_(setup_.chambers) {
    if (single_) {
        chambers_.push_back(make(ChamberConf{}));
        return;
    }
    lines_ = std::make_unique<comm::LineRegistry>(ports_, setup_.lineBus);
    turnarounds_ = readTurnarounds(*setup_.settingsFor(QString()));
    for (auto it = turnarounds_.cbegin(); it != turnarounds_.cend(); ++it)
        lines_->setTurnaroundMs(ports_.deviceFor(it.key()), it.value());
    for (const ChamberConf& conf : std::as_const(confs_))
        chambers_.push_back(make(conf));
}

Fleet::~Fleet() {
    // A chamber removed just before still writes its last; its threads are waited for.
    for (const QPointer<Teardown>& t : std::as_const(teardowns_))
        delete t.data();
}

std::unique_ptr<Chamber> Fleet::make(const ChamberConf& conf) {
    // A chamber of the list is what a profile of its name is: the same settings file and database.
    Setup s;
    s.name = single_ ? QString() : conf.name;
    s.dbPath = setup_.databaseFor(s.name);
    s.ports = ports_;
    s.clock = setup_.clock;
    s.settings = [for_ = setup_.settingsFor, name = s.name] { return for_(name); };
    s.given = setup_.given;
    if (single_) {
        s.bus = std::move(setup_.bus);
    } else {
        s.lines = lines_.get();
        s.linePort = conf.port;
        // The station's name stays each chamber's own: --station names the one chamber of a run.
        if (confs_.size() != 1) s.given.station.reset();
    }
    auto c = std::make_unique<Chamber>(std::move(s));
    if (!single_) c->link().setSettings(conf.portSettings());
    return c;
}

QList<Chamber*> Fleet::chambers() const {
    QList<Chamber*> out;
    for (const auto& c : chambers_)
        out << c.get();
    return out;
}

Chamber* Fleet::chamber(const QString& name) const {
    for (const auto& c : chambers_)
        if (c->name() == name) return c.get();
    return nullptr;
}

std::optional<ChamberConf> Fleet::conf(const QString& name) const {
    const int i = indexOf(name);
    if (i < 0) return std::nullopt;
    return confs_[i];
}

int Fleet::indexOf(const QString& name) const {
    for (qsizetype i = 0; i < confs_.size(); ++i)
        if (confs_[i].name == name) return static_cast<int>(i);
    return -1;
}

void Fleet::open() {
    if (opened_) return;
    opened_ = true;
    for (const auto& c : chambers_) {
        c->open();
        emit chamberOpened(c.get());
    }
}

void Fleet::start(bool connect) {
    if (started_) return;
    open();
    started_ = true;
    // The lines open when the program last ended open again.
    const QList<int> wasOpen =
        single_ ? QList<int>{} : readOpenLines(*setup_.settingsFor(QString()));
    for (std::size_t i = 0; i < chambers_.size(); ++i) {
        Chamber& c = *chambers_[i];
        c.start();
        if (!single_) {
            const ChamberConf& conf = confs_[static_cast<int>(i)];
            if (connect || wasOpen.contains(conf.port)) c.link().open(conf.portSettings());
        }
        emit chamberAdded(&c);
    }
}

void Fleet::audit(const QString& code, const QStringList& args, const base::Audit& by) {
    const events::EventEntry e = auditRow(code, args, by);
    for (const auto& c : chambers_)
        if (events::EventLog* log = c->eventLog()) log->log(e);
}

void Fleet::auditStart() {
    if (startAudited_) return;
    startAudited_ = true;
    if (!auditing()) return;
    for (const auto& c : chambers_) {
        // The chamber's own settings, then the program's.
        const QList<SettingChange> changes = c->settingChanges() + setup_.programChanges;
        if (events::EventLog* log = c->eventLog())
            for (const events::EventEntry& row : settingRows(changes))
                log->log(row);
    }
}

QList<events::EventEntry> Fleet::settingRows(const QList<SettingChange>& changes) const {
    // The settings the command line changed in the chamber's file, by the user it named.
    QList<events::EventEntry> rows;
    for (const SettingChange& change : changes) {
        base::Audit by;
        by.user = setup_.user;
        by.oldValue = change.before;
        by.newValue = change.after;
        by.reason = setup_.reason;
        rows << auditRow(QString::fromLatin1(auth::kSettingChanged),
                         {by.user, change.option, change.before, change.after}, by);
    }
    return rows;
}

void Fleet::save() {
    writeChambers(*setup_.settingsFor(QString()), confs_);
}

std::optional<Refusal> Fleet::decide(const auth::Actor& by, const QString& reason,
                                     base::Audit* audit) const {
    *audit = auth::auditOf(by, auth::Action::ConfigurationWrite, reason);
    const auth::Denial d = auth::denial(by, auth::Action::ConfigurationWrite);
    if (d == auth::Denial::None) return std::nullopt;
    Refusal r{Refusal::Kind::NotAllowed, {}};
    r.denial = d;
    return r;
}

std::optional<Refusal> Fleet::add(const ChamberConf& conf, const auth::Actor& asker,
                                  const QString& reason) {
    base::Audit by;
    if (auto refusal = decide(asker, reason, &by)) return refusal;
    by.newValue = comm::settingsText(conf.portSettings());
    // The one chamber of a program without a list takes no others.
    if (single_) return Refusal{Refusal::Kind::DuplicateName, conf.name};
    QList<ChamberConf> all = confs_;
    all << conf;
    if (auto refusal = checkChambers(all)) return refusal;
    confs_ = all;
    save();
    chambers_.push_back(make(conf));
    Chamber* c = chambers_.back().get();
    // Every chamber's log keeps it, the new one's too once it is open; with the command line's
    // settings (retention, forwarding, alerts), which reached the new chamber's file as they
    // reached the others': its log says so, as theirs did at the start.
    if (auditing()) {
        const events::EventEntry added = auditRow(QString::fromLatin1(auth::kChamberAdded),
                                                  {by.user, conf.name, by.newValue}, by);
        for (const auto& other : chambers_)
            if (other.get() != c)
                if (events::EventLog* log = other->eventLog()) log->log(added);
        QList<events::EventEntry>& rows = pending_[c];
        rows << added;
        if (startAudited_) rows << settingRows(c->settingChanges());
    }
    openWhenFree(c);
    // Added to a line that is open: polled at once, like the others on it.
    for (std::size_t j = 0; j + 1 < chambers_.size(); ++j)
        if (confs_[static_cast<int>(j)].port == conf.port && chambers_[j]->link().polling()) {
            c->link().open(conf.portSettings());
            break;
        }
    emit linesChanged();
    return std::nullopt;
}

void Fleet::openWhenFree(Chamber* c) {
    // One program records into a database at a time, and this one too only once: a chamber
    // removed a moment ago may still be writing into it.
    for (const QPointer<Teardown>& t : std::as_const(teardowns_)) {
        if (!t || t->done() || t->databasePath() != c->databasePath()) continue;
        connect(t.data(), &Teardown::finished, this, [this, waiting = QPointer<Chamber>(c)] {
            if (waiting) openWhenFree(waiting.data());
        });
        return;
    }
    openAndStart(c);
}

void Fleet::openAndStart(Chamber* c) {
    c->open();
    emit chamberOpened(c);
    if (events::EventLog* log = c->eventLog())
        for (const events::EventEntry& row : pending_.take(c))
            log->log(row);
    c->start();
    emit chamberAdded(c);
}

std::optional<Refusal> Fleet::change(const QString& name, ChamberConf conf,
                                     const auth::Actor& asker, const QString& reason) {
    base::Audit by;
    if (auto refusal = decide(asker, reason, &by)) return refusal;
    const int i = indexOf(name);
    if (i < 0) return Refusal{Refusal::Kind::BadName, name};
    conf.name = name;  // a chamber's name stays
    QList<ChamberConf> all = confs_;
    all[i] = conf;
    all = withLineSettings(all, i);
    if (auto refusal = checkChambers(all)) return refusal;
    const QList<ChamberConf> before = confs_;
    confs_ = all;
    save();
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
        Chamber& c = *chambers_[static_cast<std::size_t>(j)];
        comm::Link& link = c.link();
        const bool polling = link.polling();
        // On another device: to that device's line; the old one ends when nobody is left on it.
        if (ports_.deviceFor(before[j].port) != ports_.deviceFor(all[j].port))
            c.moveToPort(all[j].port);
        // A chamber being polled goes on with its new settings.
        if (polling)
            link.open(all[j].portSettings());
        else
            link.setSettings(all[j].portSettings());
        emit chamberChanged(&c, all[j]);
    }
    keepOpenLines();
    emit linesChanged();
    return std::nullopt;
}

std::optional<Refusal> Fleet::setLineOpen(int port, bool open, const auth::Actor& asker) {
    base::Audit by;
    if (auto refusal = decide(asker, {}, &by)) return refusal;
    for (qsizetype j = 0; j < confs_.size(); ++j) {
        if (confs_[j].port != port) continue;
        comm::Link& link = chambers_[static_cast<std::size_t>(j)]->link();
        if (open)
            link.open(confs_[j].portSettings());
        else
            link.close();
    }
    keepOpenLines();
    emit linesChanged();
    return std::nullopt;
}

void Fleet::keepOpenLines() {
    if (single_) return;
    QList<int> open;
    for (qsizetype j = 0; j < confs_.size(); ++j)
        if (chambers_[static_cast<std::size_t>(j)]->link().polling() &&
            !open.contains(confs_[j].port))
            open << confs_[j].port;
    writeOpenLines(*setup_.settingsFor(QString()), open);
}

std::optional<Refusal> Fleet::setTurnaround(int port, int ms, const auth::Actor& asker,
                                            const QString& reason) {
    base::Audit change;
    if (auto refusal = decide(asker, reason, &change)) return refusal;
    if (single_ || port < 1 || port > 20) return Refusal{Refusal::Kind::BadPort, {}, port};
    ms = std::clamp(ms, 0, 1000);
    change.oldValue = QString::number(turnarounds_.value(port));
    change.newValue = QString::number(ms);
    if (auditing())
        audit(QString::fromLatin1(auth::kTurnaround),
              {change.user, QString::number(port), change.oldValue, change.newValue}, change);
    writeTurnaround(*setup_.settingsFor(QString()), port, ms);
    turnarounds_[port] = ms;
    lines_->setTurnaroundMs(ports_.deviceFor(port), ms);
    return std::nullopt;
}

std::optional<Refusal> Fleet::remove(const QString& name, const auth::Actor& asker,
                                     const QString& reason) {
    base::Audit by;
    if (auto refusal = decide(asker, reason, &by)) return refusal;
    const int i = indexOf(name);
    if (single_ || i < 0) return Refusal{Refusal::Kind::BadName, name};
    by.oldValue = comm::settingsText(confs_[i].portSettings());
    // Recorded first, so that the chamber's own log keeps it too.
    if (auditing())
        audit(QString::fromLatin1(auth::kChamberRemoved), {by.user, name, by.oldValue}, by);
    emit chamberRemoved(name);
    // Its database stays where it is: adding the chamber again shows everything it kept.
    Chamber& c = *chambers_[static_cast<std::size_t>(i)];
    if (store::Recorder* recorder = c.recorder()) recorder->stop();
    c.link().close();
    pending_.remove(&c);
    std::unique_ptr<Chamber> gone = std::move(chambers_[static_cast<std::size_t>(i)]);
    confs_.removeAt(i);
    chambers_.erase(chambers_.begin() + i);
    save();
    keepOpenLines();
    // Its threads write their last and end off the UI thread: a line that no longer answers
    // keeps nobody waiting.
    teardowns_.removeAll(nullptr);
    auto* teardown = new Teardown(std::move(gone), this);
    connect(teardown, &Teardown::finished, teardown, &QObject::deleteLater);
    teardowns_ << teardown;
    emit linesChanged();
    return std::nullopt;
}

void Fleet::stop() {
    // The lines open now open again at the next start.
    keepOpenLines();
    for (const auto& c : chambers_) {
        if (store::Recorder* recorder = c->recorder()) recorder->stop();
        c->link().close();
    }
}

QList<Teardown*> Fleet::teardowns() const {
    QList<Teardown*> out;
    for (const QPointer<Teardown>& t : teardowns_)
        if (t && !t->done()) out << t.data();
    return out;
}

}  // namespace chamber
