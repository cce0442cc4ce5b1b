#pragma once
// The topics the publisher writes to. A station's or chamber's name becomes one topic level in a
// form that is the same every time and never holds what MQTT gives a meaning ('+', '#', '/'), nor
// a control character: those and '%' itself are written as %XX, so that two names never share a
// topic. The one chamber of a program, which has no name, is "_".

#include <QString>

namespace mqtt {

QString topicLevel(const QString& name);

// PREFIX/STATION/status: "online" while connected, "offline" at a clean stop and as the will.
QString statusTopic(const QString& prefix, const QString& station);
// PREFIX/STATION/CHAMBER/LEAF (state, event, alert).
QString chamberTopic(const QString& prefix, const QString& station, const QString& chamber,
                     const QString& leaf);

// A prefix the operator may give: one or more levels, no wildcard, no empty level, not a
// broker's own ($...). Empty when it is fine, else the reason (English, for the command line).
QString prefixProblem(const QString& prefix);

// An identifier as Home Assistant takes it in its topics and unique ids: letters, digits, '-';
// everything else (the '_' too) as _XX in hex, so that it is the same every time and unique.
QString discoveryId(const QString& name);

}  // namespace mqtt
