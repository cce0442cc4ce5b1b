#pragma once
// The Prometheus text exposition of every chamber: one family per measure, one sample per chamber
// (and loop), the chamber's name as a label.

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace web {

// The numbers of one chamber the metrics show, taken from its state on the chambers' thread.
struct Gauges {
    QString chamber;
    std::array<double, 2> pv{}, sv{}, retransmitPct{};
    std::array<bool, 2> outputOn{}, sensorBroken{}, alarm{};
    bool stale = true;
    QString link;  // closed, polling, silent, device_lost
    double silentSeconds = 0;
    QString recorder;            // not_started, recording, slow_disk, stopped, failed, refused
    double samplesRecorded = 0;  // since the program started (a counter)
    std::optional<double> lastSampleSeconds;  // UTC seconds of the latest sample stored
    int alertsOpen = 0;
    bool runOpen = false;
    int recordNo = 0;  // the ring's record last stored (1..kRing), 0 before the first
    static constexpr int kRing = 65500;
    bool operator==(const Gauges&) const = default;
};

inline constexpr std::array<const char*, 4> kLinkStates = {"closed", "polling", "silent",
                                                           "device_lost"};
inline constexpr std::array<const char*, 6> kRecorderStates = {
    "not_started", "recording", "slow_disk", "stopped", "failed", "refused"};

// A label value as the text format wants it: backslash, double quote and line feed escaped.
QByteArray escapeLabel(const QString& value);
QByteArray metricsText(const QList<Gauges>& chambers, const QString& version);

}  // namespace web
