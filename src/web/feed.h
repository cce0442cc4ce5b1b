#pragma once
// Keeps the hub up to date from the fleet, on the chambers' thread: each chamber's state as it is
// published, its numbers for the metrics, and a stream message for each state change, logged
// event and new or changed alert. Chambers added later are followed too; removed ones dropped.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <optional>

#include "chamber/fleet.h"
#include "chamber/state.h"
#include "events/eventrules.h"
#include "web/hub.h"

namespace web {

// The metrics' numbers of a state; previous: the chamber's last ones (for the samples counter).
Gauges gaugesOf(const chamber::State& s, const std::optional<Gauges>& previous, qint64 nowSecs);
// An event as the API and the stream give it.
QJsonObject eventJson(const events::EventEntry& e);

class Feed : public QObject {
    Q_OBJECT
  public:
    Feed(chamber::Fleet& fleet, Hub& hub, QObject* parent = nullptr);

    void follow(chamber::Chamber* c);
    void drop(const QString& name);

  private:
    void take(chamber::Chamber* c, const chamber::State& s);

    chamber::Fleet& fleet_;
    Hub& hub_;
    QHash<QString, chamber::State> last_;
    QHash<QString, Gauges> gauges_;
};

}  // namespace web
