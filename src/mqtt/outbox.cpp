#include "mqtt/outbox.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

#include "base/workerthread.h"
#include "events/eventstore.h"

namespace mqtt {

namespace {
constexpr int kBusyMs = 2000;
}

Outbox::Outbox(QString dbPath, QString key)
    : path_(std::move(dbPath)),
      key_(std::move(key)),
      file_(base::uniqueName(QStringLiteral("mqtt-outbox"))) {}

Outbox::~Outbox() {
    close();
}

bool Outbox::open() {
    if (open_) return true;
    // The chamber's recorder and log make the file; the outbox never does.
    if (!QFileInfo(path_).isFile()) return false;
    events_ = std::make_unique<events::EventStore>(path_,
                                                   base::uniqueName(QStringLiteral("mqtt-events")));
    if (!events_->open(/*readOnly=*/true) || !events_->hasTable()) {
        events_.reset();
        return false;
    }
    if (!file_.open(path_, /*readOnly=*/false, kBusyMs)) {
        events_.reset();
        return false;
    }
    QSqlQuery q(file_.db());
    // Checkpoints are the recorder's business.
    q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
    bool ok =
        q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS mqtt_outbox (target TEXT PRIMARY "
                              "KEY, acknowledged INTEGER NOT NULL)"));
    if (ok) {
        q.prepare(QStringLiteral("SELECT acknowledged FROM mqtt_outbox WHERE target = ?"));
        q.addBindValue(key_);
        ok = q.exec();
    }
    if (!ok) {
        q = QSqlQuery();
        file_.close();
        events_.reset();
        return false;
    }
    if (q.next()) {
        // A mark in memory that is newer (the file was closed and opened again) stays.
        acked_ = std::max(acked_, q.value(0).toLongLong());
    } else {
        const auto span = events_->idSpan();
        acked_ = std::max(acked_, span ? span->second : 0);
        dirty_ = true;
    }
    open_ = true;
    save();
    return true;
}

void Outbox::close() {
    if (open_) save();
    events_.reset();
    file_.close();
    open_ = false;
}

std::vector<events::EventEntry> Outbox::after(qint64 id, int limit) {
    if (!open_) return {};
    events::EventFilter f;
    f.afterId = id;
    f.newestFirst = false;
    f.limit = limit;
    return events_->load(f);
}

qint64 Outbox::countAfter(qint64 id) {
    if (!open_) return 0;
    events::EventFilter f;
    f.afterId = id;
    return events_->count(f).value_or(0);
}

void Outbox::acknowledge(qint64 id) {
    if (id <= acked_) return;
    acked_ = id;
    dirty_ = true;
}

bool Outbox::save() {
    if (!dirty_) return true;
    if (!file_.isOpen()) return false;
    QSqlQuery q(file_.db());
    q.prepare(
        QStringLiteral("INSERT INTO mqtt_outbox (target, acknowledged) VALUES (?, ?) ON "
                       "CONFLICT(target) DO UPDATE SET acknowledged = excluded.acknowledged"));
    q.addBindValue(key_);
    q.addBindValue(acked_);
    if (!q.exec()) return false;
    dirty_ = false;
    return true;
}

}  // namespace mqtt
