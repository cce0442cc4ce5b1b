#pragma once
// Alert rules as pure functions of what the program observes: the instrument's alarm and sensor
// bits, how long it has been silent, PV against its band, and the recorder's and forwarder's
// state. An alert fires once its condition has held for its delay and says "back to normal" once
// the condition has been gone for a short hold (band rules also release only inside a narrower
// band), so a value on the edge does not flap. Fired alerts stay listed until they are both back
// to normal and acknowledged.

#include <QDateTime>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "base/tr.h"
#include "instrument/band.h"

namespace alert {

enum class Kind {
    Alarm1,
    Alarm2,
    Sensor1,
    Sensor2,
    Silent,
    Band1,
    Band2,
    Recording,
    Forwarding,
    // Raised by something that happened, not by a condition that holds: listed until acknowledged.
    LoginFailed,
    ChainBroken,
};
// The kinds with a rule (and a line in the alert settings).
inline constexpr int kKindCount = 9;
inline constexpr std::array<Kind, kKindCount> kAllKinds{
    Kind::Alarm1, Kind::Alarm2, Kind::Sensor1,   Kind::Sensor2,   Kind::Silent,
    Kind::Band1,  Kind::Band2,  Kind::Recording, Kind::Forwarding};
inline constexpr std::array<Kind, 2> kRaisedKinds{Kind::LoginFailed, Kind::ChainBroken};

// The stable name of the kind (webhook documents, settings keys), and back (none when unknown).
QString kindKey(Kind kind);
std::optional<Kind> kindOfKey(const QString& key);
// What the operator reads: "仪表报警1", "仪表无应答"...
QString kindTitle(Kind kind);
// What to do about it, one sentence.
QString kindAdvice(Kind kind);
// The value an alert of the kind fired or returned with, from the numbers it holds ("PV1 23.4
// （范围 …）" from 1, 23.4 and the limits); empty for a kind whose value is a word of its own. A
// silence's seconds may be followed by the device that went away.
base::Phrase kindValue(Kind kind, const QStringList& values);

struct Rule {
    bool enabled = true;
    int delaySec = 0;  // the condition holds this long before the alert fires
};

struct RuleConfig {
    std::array<Rule, kKindCount> rules{};
    // PV against its band: SV ± plusMinus, or fixed limits; back to normal only inside the band
    // narrowed by its hysteresis.
    std::array<instrument::ToleranceBand, 2> bands{};
    double forwardBehindMin = 30;  // forwarding further behind than this counts

    RuleConfig();
    Rule& rule(Kind k) { return rules[static_cast<int>(k)]; }
    const Rule& rule(Kind k) const { return rules[static_cast<int>(k)]; }
};

// How long a condition has to be gone before the alert is back to normal.
inline constexpr qint64 kClearHoldMs = 5000;

// One look at the program's state.
struct Observation {
    QDateTime at;
    bool polling = false;  // the port is open and the instrument is polled
    // Since the instrument last answered (since the program started when it never has); an
    // open or a close of the port does not restart it.
    int silentMs = 0;
    bool recording = false;  // the chamber records its seconds, polled or not
    QString lostDevice;      // the port's device while it is gone (unplugged), else empty
    // Whether the image below is current: no answer for a while means its values are stale.
    bool imageFresh = false;
    std::array<bool, 4> bits{};  // alarm 1, alarm 2, sensor 1 open, sensor 2 open
    std::array<double, 2> pv{};  // PV1, PV2
    std::array<double, 2> sv{};  // SV1, SV2
    bool recordingStopped = false;
    std::optional<double> forwardBehindMin;  // unset without a forwarder
};

struct Transition {
    Kind kind;
    bool fired = true;       // false: back to normal
    base::Phrase valueText;  // the value that made it (or that it returned with)
    std::optional<double> value;
    QString id;                 // the listed alert's
    bool acknowledged = false;  // back to normal: whether it was acknowledged before
    bool repeated = false;      // a failed login counted into the alert already open, not a new one
};

// A fired alert as the bar lists it.
struct ListedAlert {
    QString id;  // kind and firing time, unique within a station
    Kind kind;
    QDateTime firedAt;
    base::Phrase valueText;
    std::optional<double> value;
    bool active = true;
    bool acknowledged = false;
    QDateTime clearedAt;
    // Reminders while it stays unacknowledged.
    qint64 lastNotifiedMs = 0;
    bool escalated = false;
    bool raised = false;  // a raised kind's: leaves the list once acknowledged
    int count = 1;        // failed logins counted into this alert until it is acknowledged
};

struct Reminder {
    QString id;
    bool escalation = false;  // false: a repeat to the usual recipients
};

class Engine {
  public:
    explicit Engine(RuleConfig config = {});

    void setConfig(const RuleConfig& config);
    const RuleConfig& config() const { return config_; }
    // The band of the open run for loop 0 or 1, overriding the configured one; nullopt returns
    // to it.
    void setRunBand(int loop, std::optional<instrument::ToleranceBand> band);
    instrument::ToleranceBand bandOf(int loop) const;

    // The alerts that fire or return to normal with this observation, in kind order.
    std::vector<Transition> observe(const Observation& o);

    // An alert of a raised kind, at once: the transition that fires it.
    Transition raise(Kind kind, const QDateTime& at, const base::Phrase& valueText);

    // Takes the alerts listed when the program last ended: each stays listed as it was, and an
    // active one returns to normal only once its condition is seen gone.
    void restore(std::vector<ListedAlert> alerts);

    // Active or unacknowledged alerts, oldest first.
    const std::vector<ListedAlert>& listed() const { return listed_; }
    const ListedAlert* find(const QString& id) const;
    // Marks the alert acknowledged; one that is back to normal leaves the list. False when no
    // listed alert has the id or it was acknowledged already.
    bool acknowledge(const QString& id);

    // Alerts still active and unacknowledged whose repeat (every repeatMs since the last notice)
    // or escalation (once, escalateMs after firing) is due at nowMs; 0 turns either off.
    std::vector<Reminder> dueReminders(qint64 nowMs, qint64 repeatMs, qint64 escalateMs);

  private:
    struct State {
        bool active = false;
        qint64 pendingSinceMs = -1;   // condition true while inactive
        qint64 clearingSinceMs = -1;  // condition false while active
    };
    // nullopt: not known now (a stale image, no forwarder); the state then stays as it is.
    std::optional<bool> condition(Kind k, const Observation& o, bool active,
                                  base::Phrase* valueText, std::optional<double>* value) const;

    RuleConfig config_;
    std::array<std::optional<instrument::ToleranceBand>, 2> runBands_;
    std::array<State, kKindCount> states_{};
    std::vector<ListedAlert> listed_;
};

}  // namespace alert
