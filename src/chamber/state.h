#pragma once
// What a chamber is and does at one moment, as plain values: the instrument's loops, alarms and
// program, the link to it, the recorder, the open run and the listed alerts. Every window and
// remote client reads a chamber through this one picture (Chamber::state(), stateChanged).

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "base/tr.h"
#include "instrument/programstate.h"
#include "store/recorder.h"

namespace chamber {

// port closed / answering / no block read for kStaleAfterMs / device gone
enum class LinkState { Closed, Polling, Silent, DeviceLost };

struct LoopState {              // loop 0: temperature "°C", loop 1: humidity "%RH"
    double pv = 0;              // measured value (3X 1 / 3X 2)
    double sv = 0;              // working set value (3X 3 / 3X 4)
    double retransmitPct = 0;   // retransmission output in percent (3X 5 / 3X 6, stored in tenths)
    bool outputOn = false;      // control output (1X 1 / 1X 2)
    bool sensorBroken = false;  // sensor state (1X 5 / 1X 6)
    int decimals = 0;           // decimals the value is shown with
    QString unit;               // "°C" or "%RH"
    bool operator==(const LoopState&) const = default;
};

struct AlarmState {
    bool on = false;  // 1X 3 / 1X 4
    int type = 0;     // 3X 7 / 3X 8
    bool operator==(const AlarmState&) const = default;
};

struct ProgramStatus {
    std::optional<instrument::ProgramState> state;  // nullopt: an undocumented code
    int32_t code = 0;                               // 3X 4097
    int segment = 0;                                // 3X 4102
    int segmentRemaining = 0;                       // 3X 4103
    int totalRemaining = 0;                         // 3X 4104
    int cycles = 0;                                 // 3X 4105
    bool operator==(const ProgramStatus&) const = default;
};

struct LinkStatus {
    LinkState state = LinkState::Closed;
    int silentMs = 0;  // since the last register block was read
    QString device;    // the port's device, e.g. /dev/ttyUSB0 or host:port
    int address = 1;   // slave address
    int baud = 0;
    char parity = 'N';
    bool operator==(const LinkStatus&) const = default;
};

struct RunInfo {
    qint64 id = 0;
    QString name;
    QDateTime startedAt;
    bool operator==(const RunInfo&) const = default;
};

struct AlertInfo {  // one listed alert (alert::ListedAlert, reduced)
    QString id;
    QString kind;  // kind as a stable code word (e.g. "band", "silent", ...)
    QDateTime firedAt;
    bool active = true;
    bool acknowledged = false;
    std::optional<double> value;
    base::Phrase valueText;  // the value as the alert list shows it, put into words where shown
    bool operator==(const AlertInfo&) const = default;
};

struct State {
    QString name;     // the chamber's name ("" for the one chamber of a program)
    QString station;  // station name
    std::array<LoopState, 2> loops;
    std::array<AlarmState, 2> alarms;
    ProgramStatus program;
    bool stale = true;  // values not read for kStaleAfterMs, or port closed
    LinkStatus link;
    store::RecorderStatus recorder;
    std::optional<RunInfo> run;  // the open run
    QList<AlertInfo> alerts;
    bool alertsRinging = false;  // the alerts' sound repeats until silenced
    bool operator==(const State&) const = default;
};

// One JSON form of the state for every remote client (web API, MQTT): keys in lowerCamelCase,
// times ISO 8601 UTC, values as numbers rounded to their decimals, units as strings.
QJsonObject stateJson(const State& s);

}  // namespace chamber

Q_DECLARE_METATYPE(chamber::State)
