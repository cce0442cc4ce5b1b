#include "record/recorder.h"

#include <utility>

#include "base/oledate.h"
#include "record/ring.h"

namespace record {

namespace {
QString connectionNameFor(const void* owner) {
    return QStringLiteral("mscom-%1").arg(reinterpret_cast<quintptr>(owner), 0, 16);
}
}  // namespace

Recorder::Recorder(QString dbPath, const Clock& clock, RecorderHandshake& handshake, LiveSource live,
             QObject* parent)
    : QObject(parent),
      store_(std::move(dbPath), connectionNameFor(this)),
      clock_(clock),
      handshake_(handshake),
      live_(std::move(live)),
      status_(QStringLiteral("记录未启动")) {
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &Recorder::tick);
}

Recorder::~Recorder() {
    timer_.stop();
    store_.close();
}

void Recorder::start() {
    if (!store_.isOpen()) {
        lastOpenAttempt_ = clock_.now();
        if (store_.open())
            setStatus(QStringLiteral("记录中"));
        else
            setFailure(store_.lastError());
    }
    timer_.start();
}

void Recorder::stop() {
    timer_.stop();
    store_.close();
    lastOpenAttempt_ = QDateTime();
    setStatus(QStringLiteral("记录已停止"));
}

double Recorder::secondsSinceLatest(const QDateTime& now) const {
    return secondsSince(base::oleDate(now.date()), base::oleTime(now.time()), handshake_.RecordDate,
                        handshake_.RecordTime);
}

double Recorder::okitime() const {
    return secondsSinceLatest(clock_.now());
}

void Recorder::tick() {
    const QDateTime now = clock_.now();

    // An unusable file is tried again once per clock second.
    if (!store_.isOpen() && now != lastOpenAttempt_) {
        lastOpenAttempt_ = now;
        if (!store_.open()) setFailure(store_.lastError());
    }

    // The counter row is read on every tick; when it cannot be read the number kept from the
    // previous tick goes on.
    if (store_.isOpen()) {
        if (const auto counter = store_.readCounter()) LastRecordNo = *counter;
    }
    LastRecordNo = ringCounter(LastRecordNo);

    if (secondsSinceLatest(now) < 1) return;

    LastRecordNo += 1;
    // Taken before the write, so that a failed store is not retried within the same second.
    handshake_.RecordTime = base::oleTime(now.time());
    handshake_.RecordDate = base::oleDate(now.date());

    Sample s;
    s.id = LastRecordNo;
    s.date = handshake_.RecordDate;
    s.time = handshake_.RecordTime;
    if (live_) s.values = live_();

    if (store_.isOpen()) {
        if (store_.storeSample(s)) {
            setStatus(QStringLiteral("记录中：第 %1 条").arg(LastRecordNo));
        } else {
            setFailure(store_.lastError());
            // A lock is waited out on the open connection; any other fault reopens the file
            // next second, which checks it again from the start.
            if (store_.lastFault() != SampleStore::Fault::Locked) {
                store_.close();
                lastOpenAttempt_ = now;
            }
        }
    }

    if (handshake_.RecordingEnabled) handshake_.RecordAdded = true;
}

void Recorder::setStatus(const QString& text) {
    if (text == status_) return;
    status_ = text;
    emit statusChanged();
}

void Recorder::setFailure(const QString& reason) {
    setStatus(QStringLiteral("记录已停止：%1，每秒重试").arg(reason));
}

}  // namespace record
