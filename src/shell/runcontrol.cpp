#include "shell/runcontrol.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <cmath>

#include "alert/alerter.h"
#include "base/tr.h"
#include "base/workerthread.h"
#include "events/eventlog.h"
#include "instrument/programstate.h"
#include "link/link.h"
#include "shell/settings.h"
#include "store/schema.h"
#include "store/sqlitefile.h"
#include "store/store.h"

namespace shell {

namespace {

const QString kAutomaticKey = QStringLiteral("run/automatic");

// The form's fields in the settings file.
struct TextKey {
    const char* key;
    QString record::Run::*field;
};
constexpr TextKey kTextKeys[] = {{"run/name", &record::Run::name},
                                 {"run/order", &record::Run::orderId},
                                 {"run/operator", &record::Run::operatorName},
                                 {"run/notes", &record::Run::notes},
                                 {"run/station", &record::Run::station}};

}  // namespace

AutoStep autoStep(int32_t before, int32_t after) {
    using instrument::ProgramState;
    const std::optional<ProgramState> state = instrument::programStateOf(after);
    if (before == after || !state) return AutoStep::None;
    switch (*state) {
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

QString defaultReportPath(const record::Run& run, const QString& folder) {
    QString name = run.name.trimmed();
    // What no common file system takes in a name, and the control characters.
    for (QChar& c : name)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c)) c = u'_';
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    if (name.isEmpty()) name = QStringLiteral("run");
    const QString date =
        QDateTime::fromSecsSinceEpoch(run.start).toString(QStringLiteral("yyyy-MM-dd"));
    return QDir(folder).filePath(QStringLiteral("%1-%2.pdf").arg(name, date));
}

// ---------------------------------------------------------------------------------------------

RunControl::RunControl(QString dbPath, const record::Clock& clock, QObject* parent)
    : QObject(parent),
      path_(std::move(dbPath)),
      clock_(clock),
      thread_(QStringLiteral("runs"), path_, base::uniqueName(QStringLiteral("runs"))) {
    qRegisterMetaType<shell::RunsState>();
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

void RunControl::setAlerter(alert::Alerter* alerter) {
    alerter_ = alerter;
    applyBands();
}

void RunControl::watch(comm::Link& link) {
    // The state the program starts with is not a change: a run left open stays open until the
    // program is seen to stop, and a program already running starts no second run.
    programState_ = link.image().InputRegsHigh[0];
    comm::Link* l = &link;
    connect(&link, &comm::Link::imagePublished, this, [this, l] { imageSeen(l->image()); });
}

void RunControl::imageSeen(const comm::InstrumentImage& image) {
    const int32_t now = image.InputRegsHigh[0];
    const int32_t before = programState_.value_or(now);
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
    const auto file = settingsFile();
    for (const TextKey& k : kTextKeys)
        draft_.*k.field = file->value(QLatin1String(k.key)).toString();
    // Earlier versions kept the station made from the port the program started with; it names
    // whatever port the run is on now.
    if (isMadeStation(draft_.station, QSysInfo::machineHostName())) draft_.station.clear();
    for (int loop = 0; loop < 2; ++loop) {
        instrument::ToleranceBand& b = loop == 0 ? draft_.band1 : draft_.band2;
        const QString g = QStringLiteral("run/band%1").arg(loop + 1);
        b.fixed = file->value(g + QStringLiteral("Fixed"), b.fixed).toBool();
        bool ok = false;
        // A hand-edited value that is no number keeps the default.
        for (auto [key, value] : {std::pair{QStringLiteral("PlusMinus"), &b.plusMinus},
                                  std::pair{QStringLiteral("Low"), &b.low},
                                  std::pair{QStringLiteral("High"), &b.high}}) {
            const double v = file->value(g + key).toDouble(&ok);
            if (ok && std::isfinite(v)) *value = v;
        }
    }
    automatic_ = file->value(kAutomaticKey, false).toBool();
}

void RunControl::saveSettings() const {
    const auto file = settingsFile();
    for (const TextKey& k : kTextKeys)
        file->setValue(QLatin1String(k.key), draft_.*k.field);
    for (int loop = 0; loop < 2; ++loop) {
        const instrument::ToleranceBand& b = loop == 0 ? draft_.band1 : draft_.band2;
        const QString g = QStringLiteral("run/band%1").arg(loop + 1);
        file->setValue(g + QStringLiteral("Fixed"), b.fixed);
        file->setValue(g + QStringLiteral("PlusMinus"), b.plusMinus);
        file->setValue(g + QStringLiteral("Low"), b.low);
        file->setValue(g + QStringLiteral("High"), b.high);
    }
    file->setValue(kAutomaticKey, automatic_);
}

void RunControl::startRun(record::Run form, bool automatic) {
    if (!started_ || readOnly_) return;
    const QDateTime now = clock_.now();
    form.id = 0;
    form.start = now.toSecsSinceEpoch();
    form.end.reset();
    form.automatic = automatic;
    sent_.push_back(form);
    form.name = form.name.trimmed();
    // A name the operator typed is refused when in use; one made here is made unique.
    const bool makeNameUnique = automatic || form.name.isEmpty();
    if (form.name.isEmpty()) form.name = automaticRunName(now);
    if (chamber_) std::tie(form.port, form.address) = chamber_();
    form.station = form.station.trimmed();
    if (form.station.isEmpty() && defaultStation_)
        form.station = defaultStation_(form.port, form.address);
    ++pending_;
    lastError_.clear();
    thread_.post(&RunWorker::start, std::move(form), makeNameUnique);
    emit changed();
}

void RunControl::stopRun() {
    if (!started_ || readOnly_) return;
    ++pending_;
    lastError_.clear();
    thread_.post(&RunWorker::stop, qint64(clock_.now().toSecsSinceEpoch()));
    emit changed();
}

void RunControl::onState(const RunsState& state, const QString& error, int kind) {
    const std::optional<record::Run> before = state_.open;
    if (kind != RunWorker::Read && pending_ > 0) --pending_;
    std::optional<record::Run> sent;
    if (kind == RunWorker::Started && !sent_.empty()) {
        sent = sent_.front();
        sent_.erase(sent_.begin());
    }
    loaded_ = true;
    state_ = state;
    lastError_ = error;
    if (error.isEmpty()) {
        if (kind == RunWorker::Started && state_.open)
            logLine(QStringLiteral("run.started"), state_.open->name);
        if (kind == RunWorker::Stopped && before)
            logLine(QStringLiteral("run.ended"), before->name);
        // The texts of the run just started leave the form, unless edited meanwhile.
        if (sent) {
            bool cleared = false;
            for (QString record::Run::*field : {&record::Run::name, &record::Run::orderId,
                                                &record::Run::operatorName, &record::Run::notes}) {
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

void RunControl::logLine(const QString& code, const QString& name) {
    if (!log_) return;
    record::EventEntry e = record::codedEntry(record::eventkind::kRun, code, {name});
    e.at = clock_.now();
    log_->log(e);
}

// ---------------------------------------------------------------------------------------------

RunWorker::RunWorker(QString path, QString connectionName)
    : path_(path),
      connectionName_(connectionName),
      store_(std::move(path), std::move(connectionName)) {}

bool RunWorker::isRecordFile() {
    record::SqliteFile probe(connectionName_ + QStringLiteral("-probe"));
    if (!probe.open(path_, /*readOnly=*/true, 2000)) return false;
    bool samples = false;
    {
        QSqlQuery q(probe.db());
        samples = q.exec(QStringLiteral("SELECT * FROM pv_data LIMIT 0")) &&
                  q.record().count() == record::schema::kSampleColumnCount;
    }
    probe.close();
    return samples;
}

bool RunWorker::ensureOpen(bool write) {
    if (open_ && (writable_ || !write)) return true;
    // A file that is not there yet is made by the recorder, with its tables, not here.
    if (!QFileInfo::exists(path_)) {
        error_ = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件不存在：%1")).arg(path_);
        return false;
    }
    // A file marked read-only is left exactly as it is, not even read through SQLite, which may
    // leave its journal files beside it. The file of another program's recording is only read.
    if (!readOnly_ && record::isReadOnlyFile(path_)) {
        error_ = record::faultText(record::SampleStore::Fault::ReadOnly);
        return false;
    }
    if (write) {
        // Runs are written only beside the recorder's samples: a file of another program, or
        // one the recorder has refused, gets no table of ours.
        if (readOnly_ || !isRecordFile()) {
            error_ = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "不是记录数据库：%1")).arg(path_);
            return false;
        }
        store_.close();
    }
    open_ = store_.open(/*readOnly=*/!write);
    writable_ = open_ && write;
    error_ = open_ ? QString() : store_.lastError();
    return open_;
}

void RunWorker::open(bool readOnly) {
    readOnly_ = readOnly;
    // Until the recorder has made the file there are no runs; that is no fault.
    report(ensureOpen(false) || !QFileInfo::exists(path_) ? QString() : error_, Read);
}

void RunWorker::start(const record::Run& run, bool makeNameUnique) {
    record::Run stored = run;
    if (!ensureOpen(true)) return report(error_, Started);
    report(store_.start(stored, makeNameUnique) ? QString() : store_.lastError(), Started);
}

void RunWorker::stop(qint64 end) {
    if (!ensureOpen(true)) return report(error_, Stopped);
    report(store_.stop(end) ? QString() : store_.lastError(), Stopped);
}

void RunWorker::close() {
    store_.close();
    open_ = writable_ = false;
}

void RunWorker::report(const QString& error, int kind) {
    RunsState state;
    if (open_) {
        state.open = store_.openRun();
        state.runs = store_.list();
    }
    emit stateReady(state, error, kind);
}

}  // namespace shell
