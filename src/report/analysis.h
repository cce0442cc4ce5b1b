#pragma once
// The report's figures, from the stored seconds themselves: per channel the minimum, maximum,
// mean and standard deviation; for the two process values the time inside the tolerance band
// and the longest excursion; the data's completeness and its gaps, each with its cause read from
// the event log.

#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "events/eventrules.h"
#include "instrument/band.h"
#include "store/archive.h"
#include "store/csvexport.h"

namespace report {

// The channels the report lists, as indexes of a sample's values.
inline constexpr std::array<int, 6> kReportChannels = {0, 1, 2, 3, 4, 5};
QString channelCaption(int channel);  // "PV1", "SV2", "OUT1" ...

struct ChannelStats {
    int64_t count = 0;
    double min = 0, max = 0, mean = 0, stddev = 0;  // population standard deviation
    // The process values only: samples inside the band and the longest stretch of consecutive
    // samples outside it (its first and last second; none when every sample was inside).
    bool hasBand = false;
    int64_t inside = 0;
    int64_t excursionFirst = 0, excursionLast = 0;
    int64_t excursionSeconds() const {
        return excursionLast >= excursionFirst && excursionFirst
                   ? excursionLast - excursionFirst + 1
                   : 0;
    }
};

// A stretch of seconds with no reading, first to last (both missing), and why. A second stored
// while the instrument's values were stale holds no reading either.
struct Gap {
    int64_t first = 0, last = 0;
    QString cause;  // in the chosen language
    int64_t seconds() const { return last - first + 1; }
};

inline constexpr int64_t kGapReportedAbove = 10;  // seconds
// A start logged as a gap ends lies at most this many seconds after the gap's last second.
inline constexpr int64_t kGapEndSlack = 2;

struct Figures {
    int64_t from = 0, to = 0;  // the span, UTC seconds, both included
    int64_t expected = 0;      // seconds in the span
    int64_t recorded = 0;      // distinct seconds with a sample
    int64_t samples = 0;       // samples with a reading (a clock set back gives one second two)
    int64_t stale = 0;         // seconds stored stale, counted as missing
    std::vector<ChannelStats> channels;  // in kReportChannels order
    std::vector<Gap> gaps;               // longer than kGapReportedAbove, in time order
    double completePercent() const { return expected > 0 ? 100.0 * recorded / expected : 0; }
};

// Takes the span's samples in time order, one at a time.
class Analyzer {
  public:
    Analyzer(int64_t from, int64_t to, instrument::ToleranceBand band1,
             instrument::ToleranceBand band2);
    void add(const store::ArchivedSample& s);
    // The figures; each gap's cause from the events of the span (in time order, local times).
    Figures finish(const std::vector<events::EventEntry>& events) const;

  private:
    struct Running {
        int64_t n = 0;
        double min = 0, max = 0, mean = 0, m2 = 0;  // Welford's running mean and squares
        int64_t inside = 0, outFirst = 0, outLast = 0, bestFirst = 0, bestLast = 0;
        bool out = false;
    };
    int64_t from_, to_;
    std::array<instrument::ToleranceBand, 2> bands_;
    std::array<Running, kReportChannels.size()> run_;
    int64_t recorded_ = 0, samples_ = 0, previous_ = 0;
    bool any_ = false;
    std::vector<std::pair<int64_t, int64_t>> holes_;
    std::vector<store::StaleSpan> stale_;  // the stale seconds seen, as stretches
};

// Why no sample was stored from first to last, from the events around it: the recorder stopped
// (its own words, such as a full disk), the instrument was silent or its port closed, or else the
// program was not running. stale: seconds of the gap were stored with stale values, so the
// program ran; the line's word for the silence within the gap names it too. In the language;
// Figures hold it as shown.
QString gapCause(int64_t first, int64_t last, const std::vector<events::EventEntry>& events,
                 bool stale = false, base::Lang lang = base::Lang::Stored);

// The same, nullopt where the log names no cause (gapCause then says the program was not running).
std::optional<QString> knownGapCause(int64_t first, int64_t last,
                                     const std::vector<events::EventEntry>& events, bool stale,
                                     base::Lang lang);
// The cause a CSV copy gives the missing seconds first..last: as the report names it, but empty
// for a short gap the log says nothing about (a second skipped while recording).
QString csvGapCause(int64_t first, int64_t last, const std::vector<events::EventEntry>& events,
                    base::Lang lang = base::Lang::Shown);
// csvGapCause from the events of the database file at path, read when a gap asks for them.
store::GapCause gapCausesOf(const QString& path, base::Lang lang = base::Lang::Shown);

// "12:34:56" for a number of seconds, hours not wrapped ("100:00:00").
QString durationText(int64_t seconds);

// How long a run or a span lasts, from its first second to its last: the time between them, as
// a clock tells it. A run from 10:00:00 to 10:04:35 lasts 0:04:35 (it holds 276 seconds of
// samples), a day from 00:00:00 to the next 00:00:00 lasts 24:00:00. Every duration of a run or a
// span that is shown uses it.
inline int64_t spanDuration(int64_t from, int64_t to) {
    return to > from ? to - from : 0;
}

// A number of the span's seconds (samples, one a second, both ends counted) as a time, never
// longer than the span's duration: a span of 0:01:33 holds 94 seconds, and all of them in the
// band are 0:01:33 in the band, not 0:01:34.
inline int64_t clockSeconds(int64_t seconds, const Figures& f) {
    return std::clamp<int64_t>(seconds, 0, spanDuration(f.from, f.to));
}

}  // namespace report
