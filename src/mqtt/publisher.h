#pragma once
// The publisher: every chamber's state, events and alerts on an MQTT broker, read-only.
//
//   PREFIX/STATION/status          "online", retained; "offline" at a clean stop and as the will
//   PREFIX/STATION/CHAMBER/state   the chamber's state as JSON, retained, at most once a second
//                                  while it changes, at least once a minute
//   PREFIX/STATION/CHAMBER/event   each entry of the chamber's log, QoS 1, with its id there
//   PREFIX/STATION/CHAMBER/alert   each alert raised, back to normal or acknowledged, the same way
//   homeassistant/.../config       with discovery: what Home Assistant needs to show the chambers
//
// The worker runs on a thread of its own and owns the connection (driven by that thread's event
// loop) and the outboxes (the chambers' database files): the UI thread never waits on the network
// or the disk. The only topic it subscribes to is Home Assistant's status, which makes it send
// the discovery again; nothing received ever reaches an instrument.

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "base/workerthread.h"
#include "mqtt/client.h"
#include "mqtt/outbox.h"
#include "mqtt/pacer.h"
#include "mqtt/status.h"

class QTimer;

namespace mqtt {

// Lives on the publisher's thread; tests use it on their own thread.
class PublishWorker : public QObject {
    Q_OBJECT
  public:
    static constexpr int kTickMs = 250;
    // Messages of QoS 1 a chamber has on the way at once.
    static constexpr int kMaxInFlight = 50;
    static constexpr qint64 kMaxRetryMs = 30000;
    static constexpr int kStopWaitMs = 2000;

    // mono: a monotonic clock in milliseconds for the state's pace and the retries; the
    // process's when empty.
    explicit PublishWorker(Config config, std::function<qint64()> mono = {});
    ~PublishWorker() override;

    Status status() const { return status_; }
    // The newest entry of the chamber's log the broker acknowledged; -1 for no such chamber.
    qint64 acknowledged(const QString& chamber) const;

  public slots:
    // Connects, and ticks every kTickMs from then on.
    void start();
    // The chamber of that name, its log's outbox in dbPath ("": none, another program records
    // into its file). Added again, it takes the new file's outbox from that file's mark on.
    void addChamber(const QString& name, const QString& dbPath);
    // Its retained topics cleared (the discovery's too), its outbox closed.
    void removeChamber(const QString& name);
    // The chamber's newest state (compact JSON).
    void setState(const QString& name, const QByteArray& json);
    // The chamber's log stored new entries.
    void eventsStored(const QString& name);
    // Publishes what is due and reconnects when it is time.
    void tick();
    // "offline" published, acknowledged within kStopWaitMs, the connection closed cleanly, the
    // marks kept.
    void finish();

  signals:
    void statusChanged(const mqtt::Status& status);

  private:
    struct Chamber {
        QString name;
        std::unique_ptr<Outbox> outbox;
        StatePacer pacer;
        qint64 sentUpTo = 0;          // the newest entry handed to the connection
        std::map<qint64, bool> sent;  // entries on the way: acknowledged yet?
        bool saveDue = false;
    };

    qint64 now() const;
    void connectNow();
    void onConnected();
    void onLost(Fault fault);
    void onAcknowledged(int mid);
    void onReceived(const QString& topic, const QByteArray& payload);
    void publishState(Chamber& c);
    void sendEvents(Chamber& c);
    void sendDiscovery(const QString& chamber);
    void clearRetained(const QString& chamber);
    QString key() const;
    void updatePending();
    void setStatus(Status s);

    Config config_;
    std::function<qint64()> mono_;
    std::map<QString, Chamber> chambers_;
    // Chambers removed while the broker was away: their retained topics are cleared once back.
    std::set<QString> removed_;
    QHash<int, std::pair<QString, qint64>> events_;  // message id → chamber, entry id
    std::unique_ptr<Client> client_;
    QTimer* timer_ = nullptr;
    int failures_ = 0;
    qint64 retryAtMs_ = 0;
    int ticks_ = 0;
    bool finished_ = false;
    Status status_;
};

// The UI side: owns the thread, keeps the latest status for the status bar.
class Publisher : public QObject {
    Q_OBJECT
  public:
    explicit Publisher(Config config, QObject* parent = nullptr);
    ~Publisher() override;

    void start();
    void addChamber(const QString& name, const QString& dbPath);
    void removeChamber(const QString& name);
    void setState(const QString& name, const QByteArray& json);
    void eventsStored(const QString& name);
    // "offline" published and the connection closed (bounded), the thread ended.
    void shutdown();

    Status status() const { return status_; }
    QString statusText(base::Lang lang = base::Lang::Shown) const {
        return mqtt::statusText(status_, lang);
    }

  signals:
    void statusChanged();

  private:
    base::WorkerThread<PublishWorker> thread_;
    Status status_;
};

}  // namespace mqtt
