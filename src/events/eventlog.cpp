#include "events/eventlog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>
#include <iterator>
#include <mutex>

#include "base/workerthread.h"
#include "comm/link.h"
#include "store/exportfile.h"
#include "store/recorder.h"

namespace events {

namespace {

qint64 monotonicMs() {
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return clock.elapsed();
}

}  // namespace

QString eventLogStatusText(const EventLogStatus& s, base::Lang lang) {
    using base::wording;
    switch (s.state) {
        case EventLogStatus::State::Stored:
            break;
        case EventLogStatus::State::Stopped:
            return wording(QT_TRANSLATE_NOOP("velmars", "事件记录已停止：%1，每秒重试"), lang)
                .arg(wording(store::faultText(s.fault), lang));
        case EventLogStatus::State::Lost:
            return wording(QT_TRANSLATE_NOOP("velmars", "事件记录：%1 条因数据库不可用而丢失"),
                           lang)
                .arg(s.lost);
    }
    return {};
}

EventLog::EventLog(QString dbPath, QObject* parent)
    : QObject(parent),
      path_(std::move(dbPath)),
      thread_(QStringLiteral("events"), path_, base::uniqueName(QStringLiteral("events"))) {
    EventWriter* writer = thread_.worker();
    connect(writer, &EventWriter::statusReady, this, [this](const EventLogStatus& status) {
        if (status == status_) return;
        status_ = status;
        emit statusChanged();
    });
    connect(writer, &EventWriter::storedReady, this, [this](qint64 total) {
        stored_ = total;
        emit storedChanged();
    });
    connect(writer, &EventWriter::rowsReady, this, &EventLog::rowsLoaded);
    connect(writer, &EventWriter::exportDone, this, &EventLog::exported);
    connect(writer, &EventWriter::chainsChecked, this, [this](const store::ChainReport& report) {
        chainBreak_.reset();
        if (!report.intact) {
            chainBreak_ = chainBrokenEntry(report);
            log(*chainBreak_);
        }
        emit chainsChecked(report);
        emit statusChanged();
    });
}

EventLog::~EventLog() {
    // Behind the entries already handed over, so that they are stored first.
    thread_.end(5000, [](EventWriter& w) { w.stop(); });
}

QString EventLog::statusText(base::Lang lang) const {
    QString text = eventLogStatusText(status_, lang);
    if (chainBreak_)
        text +=
            (text.isEmpty() ? QString() : base::wording(QT_TRANSLATE_NOOP("velmars", "；"), lang)) +
            eventText(*chainBreak_, lang);
    return text;
}

void EventLog::start(bool readOnly) {
    if (started_) return;
    started_ = true;
    thread_.worker()->setReadOnly(readOnly);  // before the thread runs
    thread_.start();
    thread_.post(&EventWriter::flush);
}

void EventLog::viewOnly() {
    thread_.post(&EventWriter::becomeReadOnly);
}

void EventLog::watch(comm::Link& link) {
    lastImage_ = link.image();
    connect(&link, &comm::Link::writeReported, this,
            [this](const comm::WriteReport& r) { log(writeEntry(r)); });
    connect(&link, &comm::Link::linkEvent, this,
            [this](comm::LinkEvent e, const QString& detail, const comm::LineError& error) {
                log(linkEntry(e, detail, error));
            });
    comm::Link* l = &link;
    connect(&link, &comm::Link::imagePublished, this, [this, l] { imageSeen(l->image()); });
}

void EventLog::watch(store::Recorder& recorder) {
    recorderStatus_ = recorder.status();
    if (recorder.running())
        if (auto e = recorderEntry(store::RecorderStatus{}, recorderStatus_)) log(*e);
    store::Recorder* r = &recorder;
    connect(&recorder, &store::Recorder::statusChanged, this, [this, r] {
        const store::RecorderStatus now = r->status();
        if (auto e = recorderEntry(recorderStatus_, now)) log(*e);
        recorderStatus_ = now;
    });
    connect(&recorder, &store::Recorder::archiveNote, this,
            [this](const QString& code, const QStringList& args) {
                log(codedEntry(eventkind::kRecorder, code, args));
            });
}

void EventLog::log(EventEntry entry) {
    if (!entry.at.isValid()) entry.at = QDateTime::currentDateTime();
    emit logged(entry);
    thread_.post(&EventWriter::add, std::move(entry));
}

void EventLog::imageSeen(const comm::InstrumentImage& image) {
    for (EventEntry& e : imageEntries(lastImage_, image))
        log(std::move(e));
    lastImage_ = image;
}

quint64 EventLog::requestRows(const EventFilter& filter) {
    const quint64 ticket = nextTicket_++;
    thread_.post(&EventWriter::load, ticket, filter);
    return ticket;
}

quint64 EventLog::exportCsv(const QString& file, const EventFilter& filter) {
    const quint64 ticket = nextTicket_++;
    thread_.post(&EventWriter::exportCsv, ticket, file, filter);
    return ticket;
}

namespace {

std::mutex copiedRowsMutex;
std::function<CopiedRows()> makeCopiedRows;

}  // namespace

void setCopiedRowsSource(std::function<CopiedRows()> make) {
    const std::lock_guard lock(copiedRowsMutex);
    makeCopiedRows = std::move(make);
}

EventWriter::EventWriter(QString path, QString connectionName)
    : store_(std::move(path), std::move(connectionName)) {}

EventWriter::~EventWriter() {
    store_.close();
}

bool EventWriter::ensureOpen() {
    if (store_.isOpen()) return true;
    // A file that cannot be used is tried again once a second, not on every batch.
    const qint64 now = monotonicMs();
    if (lastOpenAttemptMs_ >= 0 && now - lastOpenAttemptMs_ < 1000) return false;
    lastOpenAttemptMs_ = now;
    if (store_.open(readOnly_)) {
        // The file this log writes is checked now and once a day; another program's is its own.
        if (!readOnly_ && !dailyCheck_) {
            dailyCheck_ = new QTimer(this);
            connect(dailyCheck_, &QTimer::timeout, this, &EventWriter::checkChains);
            dailyCheck_->start(kCheckEveryMs);
            QTimer::singleShot(0, this, &EventWriter::checkChains);
        }
        return true;
    }
    setStatus({EventLogStatus::State::Stopped, store_.fault()});
    return false;
}

void EventWriter::becomeReadOnly() {
    if (readOnly_) return;
    readOnly_ = true;
    waiting_.clear();
    if (dailyCheck_) dailyCheck_->stop();
    store_.close();
    lastOpenAttemptMs_ = -1;
}

void EventWriter::setStatus(const EventLogStatus& status) {
    if (status == status_) return;
    status_ = status;
    emit statusReady(status);
}

void EventWriter::add(const EventEntry& entry) {
    if (readOnly_) return;
    waiting_.push_back(entry);
    if (static_cast<int>(waiting_.size()) > kMaxWaiting) {
        const auto excess = static_cast<qsizetype>(waiting_.size()) - kMaxWaiting;
        waiting_.erase(waiting_.begin(), waiting_.begin() + excess);
        dropped_ += excess;
    }
    schedule(kFlushMs);
}

void EventWriter::schedule(int ms) {
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        connect(timer_, &QTimer::timeout, this, &EventWriter::flush);
    }
    if (!timer_->isActive() || timer_->remainingTime() > ms) timer_->start(ms);
}

bool EventWriter::takeCopies() {
    if (!copies_) {
        const std::lock_guard lock(copiedRowsMutex);
        copies_ = makeCopiedRows ? makeCopiedRows() : CopiedRows();
    }
    if (!*copies_ || readOnly_) return true;
    std::optional<std::vector<EventEntry>> read = (*copies_)();
    if (!read) return false;
    std::vector<EventEntry> copies = std::move(*read);
    if (copies.empty()) return true;
    // Each copy goes before the first of the log's own entries stamped with its millisecond or
    // after it (a copy was in the other store when it was read, so on a tie it most likely came
    // first); both keep their own order.
    std::vector<EventEntry> merged;
    merged.reserve(waiting_.size() + copies.size());
    auto own = waiting_.begin();
    for (EventEntry& c : copies) {
        c.copied = true;
        while (own != waiting_.end() && !(c.at.isValid() && own->at.isValid() && c.at <= own->at))
            merged.push_back(std::move(*own++));
        merged.push_back(std::move(c));
    }
    std::move(own, waiting_.end(), std::back_inserter(merged));
    waiting_.swap(merged);
    return true;
}

void EventWriter::flush() {
    if (ensureOpen()) {
        if (!takeCopies() && !waiting_.empty()) {
            // The entries wait a little for rows of the source stamped before them; not for
            // ever: a source that stays unreadable holds back no audit trail.
            const qint64 now = monotonicMs();
            if (copiesFailedSinceMs_ < 0) copiesFailedSinceMs_ = now;
            if (!ending_ && now - copiesFailedSinceMs_ < kHoldForCopiesMs) {
                schedule(kCopiesRetryMs);
                return;
            }
        } else {
            copiesFailedSinceMs_ = -1;
        }
        if (*copies_ && !readOnly_) schedule(kCopiesEveryMs);
    } else {
        // Entries are kept for the next attempt, and the status line clears once the file can
        // be used again, whether or not anything is waiting.
        schedule(1000);
        return;
    }
    if (waiting_.empty()) {
        setStatus({});
        return;
    }
    std::vector<EventEntry> batch;
    batch.swap(waiting_);
    if (!store_.dropCopiesStored(batch) || !store_.append(batch)) {
        const store::Fault why = store_.fault();
        // The batch goes back in front of what arrived meanwhile (nothing did: same thread).
        waiting_.swap(batch);
        store_.close();
        setStatus({EventLogStatus::State::Stopped, why});
        schedule(1000);
        return;
    }
    stored_ += static_cast<qint64>(batch.size());
    if (dropped_ > 0)
        setStatus({EventLogStatus::State::Lost, store::Fault::None, dropped_});
    else
        setStatus({});
    emit storedReady(stored_);
}

void EventWriter::load(quint64 ticket, const EventFilter& filter) {
    flush();
    QVector<EventEntry> rows;
    if (store_.isOpen()) store_.forEach(filter, [&](const EventEntry& e) { rows.push_back(e); });
    emit rowsReady(ticket, rows);
}

void EventWriter::exportCsv(quint64 ticket, const QString& file, const EventFilter& filter) {
    flush();
    if (!store_.isOpen()) {
        emit exportDone(ticket, -1, {store_.lastError()});
        return;
    }
    const store::ExportOutcome done = store::exportTo(file, [&](QIODevice& out, QString* error) {
        const qint64 count = writeEventsCsv(store_, filter, out);
        if (count < 0) *error = store_.lastError();
        return count < 0 ? std::nullopt : std::optional<qint64>(count);
    });
    if (!done.rows) {
        emit exportDone(
            ticket, -1,
            done.writeError.isEmpty()
                ? base::Phrase{done.readError}
                : base::Phrase{QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法写入文件 %1")),
                               {file}});
        return;
    }
    emit exportDone(ticket, *done.rows, {});
}

void EventWriter::checkChains() {
    if (verifier_) return;
    checkDb_ = std::make_unique<store::Database>(store_.path(),
                                                 base::uniqueName(QStringLiteral("events-check")));
    if (!checkDb_->open(store::FileAccess::ReadOnly, 2000)) {
        checkDb_.reset();
        return;
    }
    verifier_ = std::make_unique<store::ChainVerifier>(*checkDb_);
    QTimer::singleShot(0, this, &EventWriter::checkStep);
}

void EventWriter::checkStep() {
    if (!verifier_) return;
    // A read error (the file busy or gone) ends this round quietly: the next day's tries again.
    const bool read = verifier_->step(kCheckRows);
    if (read && !verifier_->done()) {
        QTimer::singleShot(0, this, &EventWriter::checkStep);
        return;
    }
    const store::ChainReport report = verifier_->report();
    verifier_.reset();
    checkDb_.reset();
    if (read) emit chainsChecked(report);
}

void EventWriter::stop() {
    verifier_.reset();
    checkDb_.reset();
    if (dailyCheck_) dailyCheck_->stop();
    if (!waiting_.empty()) {
        lastOpenAttemptMs_ = -1;
        ending_ = true;  // nothing waits for the copied rows' source any more
        flush();
    }
    if (timer_) timer_->stop();
    store_.close();
}

}  // namespace events
