#include "runs/runcontrol.h"

#include "report/signatures.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSysInfo>
#include <cmath>

#include "alert/alerter.h"
#include "base/devicename.h"
#include "base/tr.h"
#include "base/workerthread.h"
#include "comm/link.h"
#include "events/eventlog.h"
#include "report/signatures.h"
#include "store/store.h"

namespace runs {

namespace {

// The form and the choice of automatic runs in the settings file.
namespace key {
const QString kAutomatic = QStringLiteral("run/automatic");
struct Text {
    const char* key;
    QString runs::Run::*field;
};
constexpr Text kTexts[] = {{"run/name", &runs::Run::name},
                           {"run/order", &runs::Run::orderId},
                           {"run/operator", &runs::Run::operatorName},
                           {"run/notes", &runs::Run::notes},
                           {"run/station", &runs::Run::station}};
// A loop's band: "run/band1Fixed", "run/band1PlusMinus", "run/band1Low", "run/band1High".
QString band(int loop, const char* field) {
    return QStringLiteral("run/band%1%2").arg(loop + 1).arg(QLatin1String(field));
}
}  // namespace key

}  // namespace

AutoStep autoStep(std::optional<instrument::ProgramState> before,
                  std::optional<instrument::ProgramState> after) {
    using instrument::ProgramState;
    if (before == after || !after) return AutoStep::None;
    switch (*after) {
        case ProgramState::Running:
            return AutoStep::Start;
        case ProgramState::Stopped:
        case ProgramState::Ended:
            return AutoStep::Stop;
        case ProgramState::Paused:
            break;
    }
    return AutoStep::None;
}

QString automaticRunName(const QDateTime& start) {
    return base::Tr::tr("试验 %1").arg(start.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

QString stationOf(const QString& host, const QString& port, int address) {
    const qsizetype colon = port.indexOf(QStringLiteral(": "));
    const QString device = colon < 0 ? port.trimmed() : port.mid(colon + 2).trimmed();
    return QStringLiteral("%1:%2:%3").arg(host, device).arg(address);
}

bool isMadeStation(const QString& station, const QString& host) {
    static const QRegularExpression tail(QStringLiteral(":\\d+$"));
    return station.startsWith(host + u':') && station.size() > host.size() + 1 &&
           tail.match(station).hasMatch() && station.count(u':') >= 2;
}

QString defaultReportPath(const runs::Run& run, const QString& folder) {
    QString name = run.name.trimmed();
    // What no common file system takes in a name, and the control characters.
    for (QChar& c : name)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c)) c = u'_';
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    if (name.isEmpty()) name = QStringLiteral("run");
    const QString date =
        QDateTime::fromSecsSinceEpoch(run.start).toString(QStringLiteral("yyyy-MM-dd"));
    // A run named "COM1.2" would propose com1.2-DATE.pdf, which Windows takes for the port.
    if (!base::windowsDeviceName(QStringLiteral("%1-%2.pdf").arg(name, date)).isEmpty())
        name.replace(u'.', u'_');
    return QDir(folder).filePath(QStringLiteral("%1-%2.pdf").arg(name, date));
}

report::ReportRequest reportRequest(const runs::Run& run, const QString& dbPath, int64_t now) {
    report::ReportRequest request;
    request.dbPath = dbPath;
    request.from = run.start;
    request.to = run.end.value_or(now);
    report::ReportSubject& s = request.subject;
    s.name = run.name;
    s.orderId = run.orderId;
    s.operatorName = run.operatorName;
    s.notes = run.notes;
    s.station = run.station;
    s.port = run.port;
    s.address = run.address;
    s.open = !run.end;
    s.bands = {run.band1, run.band2};
    request.signatureSubject = report::runSubject(run.id);
    return request;
}

// ---------------------------------------------------------------------------------------------

RunControl::RunControl(QString dbPath, const store::Clock& clock, QObject* parent)
    : QObject(parent),
      path_(std::move(dbPath)),
      clock_(clock),
      thread_(QStringLiteral("runs"), path_, base::uniqueName(QStringLiteral("runs"))) {
    connect(thread_.worker(), &RunWorker::stateReady, this, &RunControl::onState);
}

RunControl::~RunControl() {
    if (alerter_)
        for (int loop = 0; loop < 2; ++loop)
            alerter_->setRunBand(loop, std::nullopt);
    // Behind the requests already handed over, so that a start or an end is stored first.
    thread_.end(5000, [](RunWorker& w) { w.close(); });
}

void RunControl::start(bool readOnly) {
    if (started_) return;
    started_ = true;
    readOnly_ = readOnly;
    thread_.start();
    thread_.post(&RunWorker::open, readOnly);
}

void RunControl::reload() {
    if (started_) thread_.post(&RunWorker::open, readOnly_);
}

void RunControl::setAlerter(alert::Alerter* alerter) {
    alerter_ = alerter;
    applyBands();
}

void RunControl::watch(comm::Link& link) {
    // The state the program starts with is not a change: a run left open stays open until the
    // program is seen to stop, and a program already running starts no second run.
    programState_ = instrument::programStateOf(link.image());
    comm::Link* l = &link;
    connect(&link, &comm::Link::imagePublished, this, [this, l] { imageSeen(l->image()); });
}

void RunControl::imageSeen(const comm::InstrumentImage& image) {
    const std::optional<instrument::ProgramState> now = instrument::programStateOf(image);
    const std::optional<instrument::ProgramState> before = programState_.value_or(now);
    programState_ = now;
    if (!automatic_ || readOnly_ || !loaded_) return;
    switch (autoStep(before, now)) {
        case AutoStep::Start:
            if (!state_.open) startRun(draft_, /*automatic=*/true);
            break;
        case AutoStep::Stop:
            // A run the operator started is the operator's to end.
            if (state_.open && state_.open->automatic) stopRun();
            break;
        case AutoStep::None:
            break;
    }
}

void RunControl::loadSettings() {
    if (!settingsFile_) return;
    const auto file = settingsFile_();
    for (const key::Text& k : key::kTexts)
        draft_.*k.field = file->value(QLatin1String(k.key)).toString();
    // Earlier versions kept the station made from the port the program started with; it names
    // whatever port the run is on now.
    if (isMadeStation(draft_.station, QSysInfo::machineHostName())) draft_.station.clear();
    for (int loop = 0; loop < 2; ++loop) {
        instrument::ToleranceBand& b = loop == 0 ? draft_.band1 : draft_.band2;
        b.fixed = file->value(key::band(loop, "Fixed"), b.fixed).toBool();
        // A hand-edited value that is no number keeps the default.
        for (auto [field, value] : {std::pair{"PlusMinus", &b.plusMinus}, std::pair{"Low", &b.low},
                                    std::pair{"High", &b.high}}) {
            bool ok = false;
            const double v = file->value(key::band(loop, field)).toDouble(&ok);
            if (ok && std::isfinite(v)) *value = v;
        }
    }
    automatic_ = file->value(key::kAutomatic, false).toBool();
}

void RunControl::saveSettings() const {
    if (!settingsFile_) return;
    const auto file = settingsFile_();
    for (const key::Text& k : key::kTexts)
        file->setValue(QLatin1String(k.key), draft_.*k.field);
    for (int loop = 0; loop < 2; ++loop) {
        const instrument::ToleranceBand& b = loop == 0 ? draft_.band1 : draft_.band2;
        file->setValue(key::band(loop, "Fixed"), b.fixed);
        file->setValue(key::band(loop, "PlusMinus"), b.plusMinus);
        file->setValue(key::band(loop, "Low"), b.low);
        file->setValue(key::band(loop, "High"), b.high);
    }
    file->setValue(key::kAutomatic, automatic_);
}

bool RunControl::allowed(const base::Audit& by) {
    if (by.refusal.isEmpty()) return true;
    lastError_ = base::Phrase{by.refusal};
    emit changed();
    return false;
}

quint64 RunControl::startRun(runs::Run form, bool automatic, const base::Audit& by) {
    if (!started_ || readOnly_ || !allowed(by)) return 0;
    const QDateTime now = clock_.now();
    form.id = 0;
    form.start = now.toSecsSinceEpoch();
    form.end.reset();
    form.automatic = automatic;
    sent_.push_back(form);
    startedBy_.push_back(by);
    startIds_.push_back(nextRequest_++);
    form.name = form.name.trimmed();
    // A name the operator typed is refused when in use; one made here is made unique.
    const bool makeNameUnique = automatic || form.name.isEmpty();
    if (form.name.isEmpty()) form.name = automaticRunName(now);
    if (chamber_) std::tie(form.port, form.address) = chamber_();
    form.station = form.station.trimmed();
    if (form.station.isEmpty() && defaultStation_)
        form.station = defaultStation_(form.port, form.address);
    ++pending_;
    lastError_ = {};
    thread_.post(&RunWorker::start, std::move(form), makeNameUnique);
    emit changed();
    return startIds_.back();
}

quint64 RunControl::stopRun(const base::Audit& by) {
    if (!started_ || readOnly_ || !allowed(by)) return 0;
    stoppedBy_.push_back(by);
    stopIds_.push_back(nextRequest_++);
    ++pending_;
    lastError_ = {};
    thread_.post(&RunWorker::stop, qint64(clock_.now().toSecsSinceEpoch()));
    emit changed();
    return stopIds_.back();
}

void RunControl::onState(const RunsState& state, const base::Phrase& error, RunWorker::Kind kind) {
    const std::optional<runs::Run> before = state_.open;
    if (kind != RunWorker::Kind::Read && pending_ > 0) --pending_;
    std::optional<runs::Run> sent;
    base::Audit by;
    const auto takeFirst = [](auto& queue, auto& into) {
        if (queue.empty()) return;
        into = queue.front();
        queue.erase(queue.begin());
    };
    quint64 request = 0;
    if (kind == RunWorker::Kind::Started) {
        takeFirst(sent_, sent);
        takeFirst(startedBy_, by);
        takeFirst(startIds_, request);
    }
    if (kind == RunWorker::Kind::Stopped) {
        takeFirst(stoppedBy_, by);
        takeFirst(stopIds_, request);
    }
    loaded_ = true;
    state_ = state;
    lastError_ = error;
    if (error.isEmpty()) {
        if (kind == RunWorker::Kind::Started && state_.open)
            logLine(QStringLiteral("run.started"), state_.open->name, by);
        if (kind == RunWorker::Kind::Stopped && before)
            logLine(QStringLiteral("run.ended"), before->name, by);
        // The texts of the run just started leave the form, unless edited meanwhile.
        if (sent) {
            bool cleared = false;
            for (QString runs::Run::*field : {&runs::Run::name, &runs::Run::orderId,
                                              &runs::Run::operatorName, &runs::Run::notes}) {
                if (draft_.*field != (*sent).*field || (draft_.*field).isEmpty()) continue;
                (draft_.*field).clear();
                cleared = true;
            }
            if (cleared) {
                saveSettings();
                emit draftChanged();
            }
        }
    }
    applyBands();
    emit changed();
    if (request) emit answered(request, error.isEmpty());
}

void RunControl::applyBands() {
    if (!alerter_) return;
    for (int loop = 0; loop < 2; ++loop) {
        if (!state_.open) {
            alerter_->setRunBand(loop, std::nullopt);
            continue;
        }
        // The run's limits with the hysteresis the alerts are set to.
        instrument::ToleranceBand b = loop == 0 ? state_.open->band1 : state_.open->band2;
        b.hysteresis = alerter_->rules().bands[loop].hysteresis;
        alerter_->setRunBand(loop, b);
    }
}

void RunControl::logLine(const QString& code, const QString& name, const base::Audit& by) {
    if (!log_) return;
    events::EventEntry e = events::codedEntry(events::eventkind::kRun, code, {name});
    e.at = clock_.now();
    e.user = by.user;
    e.reason = by.reason;
    log_->log(e);
}

// ---------------------------------------------------------------------------------------------

RunWorker::RunWorker(QString path, QString connectionName)
    : path_(path),
      connectionName_(connectionName),
      store_(std::move(path), std::move(connectionName)) {}

bool RunWorker::ensureOpen(bool write) {
    if (open_ && (writable_ || !write)) return true;
    // A file that is not there yet is made by the recorder, with its tables, not here.
    if (!QFileInfo::exists(path_)) {
        error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件不存在：%1")), {path_}};
        return false;
    }
    // A file marked read-only is left exactly as it is, not even read through SQLite, which may
    // leave its journal files beside it. The file of another program's recording is only read.
    if (!readOnly_ && store::isReadOnlyFile(path_)) {
        error_ = {store::faultText(store::SampleStore::Fault::ReadOnly)};
        return false;
    }
    if (write) {
        // Runs are written only beside the recorder's samples: a file of another program, or
        // one the recorder has refused, gets no table of ours.
        if (readOnly_ ||
            !runs::RunStore::besideSamples(path_, connectionName_ + QStringLiteral("-probe"))) {
            error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "不是记录数据库：%1")), {path_}};
            return false;
        }
        store_.close();
    }
    open_ = store_.open(/*readOnly=*/!write);
    writable_ = open_ && write;
    error_ = open_ ? base::Phrase{} : store_.failure();
    return open_;
}

void RunWorker::open(bool readOnly) {
    readOnly_ = readOnly;
    // Another program's file is opened anew for each read: the runs table it has made since
    // shows then.
    if (open_ && !writable_) close();
    // Until the recorder has made the file there are no runs; that is no fault.
    report(ensureOpen(false) || !QFileInfo::exists(path_) ? base::Phrase{} : error_, Kind::Read);
}

void RunWorker::start(const runs::Run& run, bool makeNameUnique) {
    runs::Run stored = run;
    if (!ensureOpen(true)) return report(error_, Kind::Started);
    report(store_.start(stored, makeNameUnique) ? base::Phrase{} : store_.failure(), Kind::Started);
}

void RunWorker::stop(qint64 end) {
    if (!ensureOpen(true)) return report(error_, Kind::Stopped);
    report(store_.stop(end) ? base::Phrase{} : store_.failure(), Kind::Stopped);
}

void RunWorker::close() {
    store_.close();
    open_ = writable_ = false;
}

void RunWorker::report(const base::Phrase& error, Kind kind) {
    RunsState state;
    if (open_) {
        state.open = store_.openRun();
        state.runs = store_.list();
    }
    emit stateReady(state, error, kind);
}

}  // namespace runs
