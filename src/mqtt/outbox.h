#pragma once
// The events and alerts of one chamber waiting for the broker. They wait where they already are:
// in the chamber's event log, in its database file. The outbox is the log past the newest entry
// the broker acknowledged (PUBACK), a mark kept in the same file (table mqtt_outbox, one row per
// broker, prefix and station), so an entry is never written twice, none is lost when the program
// stops between storing it and sending it, and after an outage or a restart the entries go out in
// the log's order from the mark on. Its bound is the log's own (kept as long as the samples).
// One connection of its own, used on the publisher's thread.

#include <QString>
#include <memory>
#include <vector>

#include "events/eventrules.h"
#include "store/sqlitefile.h"

namespace events {
class EventStore;
}

namespace mqtt {

class Outbox {
  public:
    // key names the broker, prefix and station the mark is kept for.
    Outbox(QString dbPath, QString key);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Opens the file once it exists with its event log. The first time a key is seen its mark is
    // the newest entry: a broker gets what happens from the day it was named, not years of log.
    bool open();
    bool isOpen() const { return open_; }
    void close();

    // The entries after id, oldest first, at most limit.
    std::vector<events::EventEntry> after(qint64 id, int limit);
    // How many entries follow id.
    qint64 countAfter(qint64 id);

    // The newest entry the broker acknowledged.
    qint64 acknowledged() const { return acked_; }
    void acknowledge(qint64 id);
    // Writes the mark when it moved; false when the file would not take it (it stays in memory
    // and is written next time).
    bool save();

  private:
    QString path_;
    QString key_;
    store::SqliteFile file_;
    std::unique_ptr<events::EventStore> events_;
    bool open_ = false;
    qint64 acked_ = 0;
    bool dirty_ = false;
};

}  // namespace mqtt
