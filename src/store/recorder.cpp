#include "store/recorder.h"

#include <QCoreApplication>
#include <memory>
#include <utility>

#include "base/oledate.h"
#include "store/ring.h"
#include "store/storewriter.h"

namespace store {

namespace {
// How long leaving waits for the store thread to write what it holds.
constexpr int kShutdownWaitMs = 3000;

// Samples waiting for the disk beyond which the status bar says the disk is slow. They are kept
// in order and written as soon as the disk answers again.
constexpr size_t kSlowDiskBacklog = 3;
}  // namespace

Recorder::Recorder(QString dbPath, const Clock& clock, LiveSource live, QObject* parent)
    : QObject(parent),
      clock_(clock),
      live_(std::move(live)),
      thread_(QStringLiteral("sample store"), std::move(dbPath),
              base::uniqueName(QStringLiteral("recorder"))) {
    StoreWriter* writer = thread_.worker();
    connect(writer, &StoreWriter::written, this, &Recorder::sampleWritten);
    connect(writer, &StoreWriter::opened, this, &Recorder::storeOpened);
    connect(writer, &StoreWriter::archiveNote, this, &Recorder::archiveNote);
    thread_.start();
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &Recorder::tick);
}

Recorder::~Recorder() {
    timer_.stop();
    disconnect(thread_.worker(), nullptr, this, nullptr);
    // Queued behind the samples already handed over, so that they are written first. A store
    // still stuck after the wait is left to end on its own: the transaction it is in either
    // commits or never happened.
    thread_.end(kShutdownWaitMs, [](StoreWriter& w) { w.close(); });
}

void Recorder::start() {
    thread_.post(&StoreWriter::open);
    stopped_ = false;
    timer_.start();
}

void Recorder::refuse(const base::Phrase& why) {
    timer_.stop();
    stopped_ = true;
    setStatus({RecorderStatus::State::Refused, 0, 0, why});
}

void Recorder::stop() {
    timer_.stop();
    stopped_ = true;
    thread_.post(&StoreWriter::close);
    setStatus({RecorderStatus::State::Stopped, 0, 0, {}});
}

void Recorder::setRetention(const RetentionPolicy& policy) {
    thread_.post(&StoreWriter::setRetention, policy);
}

void Recorder::alsoRemoveOldDays(const SampleStore::AlsoRemove& alsoRemove) {
    thread_.post(&StoreWriter::setAlsoRemove, alsoRemove);
}

bool Recorder::waitForStore(int timeoutMs) {
    const bool ok = thread_.call([](StoreWriter&) {}, timeoutMs).has_value();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return ok;
}

double Recorder::secondsSinceLatestSample(const QDateTime& now) const {
    return secondsSince(base::oleDate(now.date()), base::oleTime(now.time()), latestDate_,
                        latestTime_);
}

double Recorder::secondsSinceLatestSample() const {
    return secondsSinceLatestSample(clock_.now());
}

void Recorder::tick() {
    const QDateTime now = clock_.now();
    if (secondsSinceLatestSample(now) < 1) return;

    // Taken before the write, so that a failed store is not retried within the same second.
    latestTime_ = base::oleTime(now.time());
    latestDate_ = base::oleDate(now.date());

    Sample s;
    s.date = latestDate_;
    s.time = latestTime_;
    s.at = now.toSecsSinceEpoch();
    if (live_) s.values = live_();
    s.stale = stale_ && stale_();
    thread_.post(&StoreWriter::write, s);
    pending_.push_back(s);
    if (pending_.size() > kSlowDiskBacklog) setStatus({RecorderStatus::State::SlowDisk, 0, 0, {}});
}

void Recorder::sampleWritten(int recordNo, bool stored, const QString& error, int waiting) {
    // The store thread reports its samples in the order it was given them.
    Sample s;
    if (!pending_.empty()) {
        s = pending_.front();
        pending_.pop_front();
    }
    s.id = recordNo;
    lastRecordNo_ = recordNo;
    // A stopped recorder keeps saying so; late results only move the number on.
    if (!stopped_) {
        using State = RecorderStatus::State;
        if (pending_.size() > kSlowDiskBacklog)
            setStatus({State::SlowDisk, 0, 0, {}});
        else
            setStatus({stored ? State::Recording : State::Failed, stored ? recordNo : 0, waiting,
                       stored ? base::Phrase{} : base::Phrase{error}});
    }
    emit sampleStored(s);
}

void Recorder::storeOpened(bool ok, const QString& error, int recordNo) {
    if (pending_.empty()) lastRecordNo_ = recordNo;
    if (stopped_) return;
    setStatus({ok ? RecorderStatus::State::Recording : RecorderStatus::State::Failed, 0, 0,
               ok ? base::Phrase{} : base::Phrase{error}});
}

void Recorder::setStatus(const RecorderStatus& status) {
    if (status == status_) return;
    status_ = status;
    emit statusChanged();
}

QString recorderStatusText(const RecorderStatus& s, base::Lang lang) {
    using State = RecorderStatus::State;
    using base::wording;
    // A reason without values is a fault's words, or one stored whole by an older version.
    const QString reason = s.reason.values.isEmpty() && s.reason.parts.empty()
                               ? wording(s.reason.words, lang)
                               : s.reason.text(lang);
    switch (s.state) {
        case State::NotStarted:
            return wording(QT_TRANSLATE_NOOP("velmars", "记录未启动"), lang);
        case State::Recording:
            if (s.recordNo == 0) return wording(QT_TRANSLATE_NOOP("velmars", "记录中"), lang);
            if (s.waiting == 0)
                return wording(QT_TRANSLATE_NOOP("velmars", "记录中：第 %1 条"), lang)
                    .arg(s.recordNo);
            return wording(QT_TRANSLATE_NOOP("velmars",
                                             "记录中：第 %1 条；补写中，内存中 %2 个样本待写入"),
                           lang)
                .arg(s.recordNo)
                .arg(s.waiting);
        case State::SlowDisk:
            return wording(QT_TRANSLATE_NOOP("velmars", "记录中：磁盘缓慢，样本排队待写入"), lang);
        case State::Stopped:
            return wording(QT_TRANSLATE_NOOP("velmars", "记录已停止"), lang);
        case State::Failed: {
            QString text =
                wording(QT_TRANSLATE_NOOP("velmars", "记录已停止：%1，每秒重试"), lang).arg(reason);
            if (s.waiting > 0)
                text += wording(QT_TRANSLATE_NOOP("velmars", "；内存中 %1 个样本待写入"), lang)
                            .arg(s.waiting);
            return text;
        }
        case State::Refused:
            return wording(QT_TRANSLATE_NOOP("velmars", "未记录：%1"), lang).arg(reason);
    }
    return {};
}

}  // namespace store
