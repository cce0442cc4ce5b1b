#pragma once
// Feeds the publisher from the fleet: each chamber as it is opened and started, its state on every
// change, word of its log's newly stored entries, and its removal. Lives on the UI thread beside
// the fleet; everything it hands on is queued to the publisher's thread.

#include <QObject>
#include <QSet>

namespace chamber {
class Chamber;
class Fleet;
}  // namespace chamber

namespace mqtt {

class Publisher;

class FleetFeed : public QObject {
    Q_OBJECT
  public:
    FleetFeed(chamber::Fleet& fleet, Publisher& publisher, QObject* parent = nullptr);

  private:
    void follow(chamber::Chamber* c);

    Publisher& publisher_;
    QSet<QString> followed_;
};

}  // namespace mqtt
