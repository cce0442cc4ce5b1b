#pragma once
// What the web server answers from: a copy of each chamber's state and numbers, replaced on the
// chambers' thread whenever a chamber publishes a new state, and the recent stream messages
// (state changes, events, alerts) with rising ids for the clients that follow them. The server's
// threads only read it; nothing here reaches a chamber.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "web/metrics.h"

namespace web {

struct ChamberEntry {
    QString name;
    QJsonObject state;  // the chamber's state in its JSON form
    Gauges gauges;
    QString
        dbPath;  // its database file, read on the server's threads with connections of their own
};

struct StreamMessage {
    qint64 id = 0;
    QByteArray event;  // "state", "event", "alert"
    QByteArray data;   // one line of JSON
};

class Hub {
  public:
    // How many stream messages are kept for clients resuming with Last-Event-ID.
    static constexpr std::size_t kKeep = 2000;

    void setChamber(ChamberEntry entry);
    void removeChamber(const QString& name);
    // In the order they were first set.
    QList<ChamberEntry> chambers() const;
    std::optional<ChamberEntry> chamber(const QString& name) const;

    // Adds a message for the stream's clients and wakes them; its id.
    qint64 publish(const QByteArray& event, const QByteArray& data);
    qint64 lastId() const;
    // The messages after id; waits up to waitMs when there are none yet. *missed: messages after
    // id were dropped already (the client gets what is kept).
    QList<StreamMessage> after(qint64 id, int waitMs, bool* missed = nullptr);
    // Wakes every waiting client for good: the server stops.
    void close();
    bool closed() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QList<ChamberEntry> chambers_;
    std::deque<StreamMessage> messages_;
    qint64 nextId_ = 1;
    bool closed_ = false;
};

}  // namespace web
