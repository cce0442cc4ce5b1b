#include "mqtt/fleetfeed.h"

#include <QJsonDocument>

#include "chamber/chamber.h"
#include "chamber/fleet.h"
#include "chamber/statejson.h"
#include "events/eventlog.h"
#include "mqtt/publisher.h"

namespace mqtt {

FleetFeed::FleetFeed(chamber::Fleet& fleet, Publisher& publisher, QObject* parent)
    : QObject(parent), publisher_(publisher) {
    // A chamber whose namesake still lets go of the database is not open yet: it comes with
    // chamberAdded.
    for (chamber::Chamber* c : fleet.chambers())
        if (c->eventLog()) follow(c);
    connect(&fleet, &chamber::Fleet::chamberAdded, this, &FleetFeed::follow);
    connect(&fleet, &chamber::Fleet::chamberRemoved, this, [this](const QString& name) {
        followed_.remove(name);
        publisher_.removeChamber(name);
    });
}

void FleetFeed::follow(chamber::Chamber* c) {
    const QString name = c->name();
    if (followed_.contains(name)) return;
    followed_.insert(name);
    // A chamber only viewed here (another program records into its file) has its events sent by
    // that program: here they would go twice. The chamber's recorder changes hands with its log's
    // outbox, which goes on from the mark the broker acknowledged last.
    const QString path = c->databasePath();
    publisher_.addChamber(name, c->recording() ? path : QString());
    connect(c, &chamber::Chamber::recordingChanged, this, [this, name, path](bool recording) {
        publisher_.addChamber(name, recording ? path : QString());
    });
    const auto send = [this, name](const chamber::State& s) {
        publisher_.setState(name,
                            QJsonDocument(chamber::stateJson(s)).toJson(QJsonDocument::Compact));
    };
    connect(c, &chamber::Chamber::stateChanged, this, send);
    send(c->state());
    if (events::EventLog* log = c->eventLog())
        connect(log, &events::EventLog::storedChanged, this,
                [this, name] { publisher_.eventsStored(name); });
}

}  // namespace mqtt
