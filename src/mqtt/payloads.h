#pragma once
// What the publisher writes: each event of a chamber's log as JSON, whether it is one of the
// alerts' (raised, back to normal, acknowledged) that go to the alert topic, and the retained
// configurations through which Home Assistant finds the chambers' values by itself.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include "base/tr.h"
#include "events/eventrules.h"

namespace mqtt {

// {"id", "at" (ISO 8601 UTC, milliseconds), "kind", "code", "args", "text", and where the entry
// has them "reg", "value", "status", "user", "oldValue", "newValue", "reason"}. The text is in the
// language the program speaks; the code and its values are what a consumer should go by.
QJsonObject eventJson(const events::EventEntry& e, base::Lang lang = base::Lang::Shown);

// Whether the entry goes to the alert topic rather than the event topic: an alert raised, back to
// normal, acknowledged, escalated or repeated. Its deliveries and settings are events.
bool isAlert(const events::EventEntry& e);

struct Message {
    QString topic;
    QByteArray payload;
};

// The retained discovery configurations of one chamber: a sensor for each loop's measured and set
// value, a binary sensor for each alarm and one for the link, all of one device. discoveryPrefix
// is Home Assistant's ("homeassistant").
QList<Message> discoveryMessages(const QString& discoveryPrefix, const QString& prefix,
                                 const QString& station, const QString& chamber);

}  // namespace mqtt
