#include "report/analysis.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <memory>

#include "base/workerthread.h"
#include "events/eventstore.h"

namespace report {

QString channelCaption(int channel) {
    static const char* const kNames[] = {"PV1", "PV2", "SV1", "SV2", "OUT1", "OUT2"};
    return channel >= 0 && channel < 6 ? QString::fromLatin1(kNames[channel])
                                       : store::schema::valueColumns().value(channel);
}

Analyzer::Analyzer(int64_t from, int64_t to, instrument::ToleranceBand band1,
                   instrument::ToleranceBand band2)
    : from_(std::min(from, to)), to_(std::max(from, to)), bands_{band1, band2} {}

void Analyzer::add(const store::ArchivedSample& s) {
    if (s.at < from_ || s.at > to_) return;
    if (s.stale) {
        // No reading: the second stays a hole, known to be stale.
        if (!stale_.empty() && s.at >= stale_.back().first && s.at <= stale_.back().second + 1) {
            stale_.back().second = std::max(stale_.back().second, s.at);
        } else {
            stale_.emplace_back(s.at, s.at);
        }
        return;
    }
    ++samples_;
    if (!any_ || s.at != previous_) {
        const int64_t expectedNext = any_ ? previous_ + 1 : from_;
        if (s.at > expectedNext) holes_.emplace_back(expectedNext, s.at - 1);
        ++recorded_;
        previous_ = std::max(previous_, s.at);
        any_ = true;
    }
    for (size_t i = 0; i < kReportChannels.size(); ++i) {
        const double v =
            store::schema::shownValue(kReportChannels[i], s.values[kReportChannels[i]]);
        Running& r = run_[i];
        ++r.n;
        r.min = r.n == 1 ? v : std::min(r.min, v);
        r.max = r.n == 1 ? v : std::max(r.max, v);
        const double delta = v - r.mean;
        r.mean += delta / static_cast<double>(r.n);
        r.m2 += delta * (v - r.mean);
        if (i >= bands_.size()) continue;
        // The process value of loop i against its band around the same second's set value.
        if (bands_[i].contains(v, s.values[2 + i])) {
            ++r.inside;
            r.out = false;
            continue;
        }
        if (!r.out) r.outFirst = s.at;
        r.out = true;
        r.outLast = s.at;
        if (r.outLast - r.outFirst > r.bestLast - r.bestFirst || r.bestFirst == 0) {
            r.bestFirst = r.outFirst;
            r.bestLast = r.outLast;
        }
    }
}

Figures Analyzer::finish(const std::vector<events::EventEntry>& events) const {
    Figures f;
    f.from = from_;
    f.to = to_;
    f.expected = to_ - from_ + 1;
    f.recorded = recorded_;
    f.samples = samples_;
    for (const auto& [first, last] : stale_)
        f.stale += last - first + 1;
    for (size_t i = 0; i < kReportChannels.size(); ++i) {
        const Running& r = run_[i];
        ChannelStats c;
        c.count = r.n;
        c.min = r.min;
        c.max = r.max;
        c.mean = r.mean;
        c.stddev = r.n > 0 ? std::sqrt(r.m2 / static_cast<double>(r.n)) : 0;
        c.hasBand = i < bands_.size();
        c.inside = r.inside;
        c.excursionFirst = r.bestFirst;
        c.excursionLast = r.bestLast;
        f.channels.push_back(c);
    }
    std::vector<std::pair<int64_t, int64_t>> holes = holes_;
    if (!any_)
        holes.emplace_back(from_, to_);
    else if (previous_ < to_)
        holes.emplace_back(previous_ + 1, to_);
    size_t nextStale = 0;
    for (const auto& [first, last] : holes) {
        if (last - first + 1 <= kGapReportedAbove) continue;
        const bool stale = store::inStaleSpan(stale_, &nextStale, first) ||
                           (nextStale < stale_.size() && stale_[nextStale].first <= last);
        f.gaps.push_back({first, last, gapCause(first, last, events, stale, base::Lang::Shown)});
    }
    return f;
}

namespace {

// The service's word, at its start, that its last run ended without stopping (killed, crashed,
// the power gone): the cause of the gap it ends.
const QLatin1String kEndedUncleanCode("service.unclean");
// Its word that it starts: the end of a gap, never its cause (a run of a second or two before a
// stop puts it within the seconds just before the gap).
const QLatin1String kStartedCode("service.started");

}  // namespace

QString gapCause(int64_t first, int64_t last, const std::vector<events::EventEntry>& events,
                 bool stale, base::Lang lang) {
    if (auto known = knownGapCause(first, last, events, stale, lang)) return *known;
    return base::wording(QT_TRANSLATE_NOOP("velmars", "程序未运行"), lang);
}

QString csvGapCause(int64_t first, int64_t last, const std::vector<events::EventEntry>& events,
                    base::Lang lang) {
    // A second or a few skipped while the program ran have no cause to name; a longer gap with
    // none in the log is the program not running, as the report says.
    if (last - first + 1 > kGapReportedAbove) return gapCause(first, last, events, false, lang);
    return knownGapCause(first, last, events, false, lang).value_or(QString());
}

std::optional<QString> knownGapCause(int64_t first, int64_t last,
                                     const std::vector<events::EventEntry>& events, bool stale,
                                     base::Lang lang) {
    // The recorder's own line from the gap's start on names its cause best (a stop said as it
    // happened, or a start after a run that never said it stopped, logged as the gap ends: the
    // first sample may be stored in the same second); then the line's state when the gap began;
    // with neither, nothing was running to record, unless stale seconds were stored: then the
    // line's first word of silence within the gap, or the silence itself.
    const events::EventEntry* recorder = nullptr;
    const events::EventEntry* link = nullptr;
    const events::EventEntry* silentWithin = nullptr;
    bool linkDown = false;
    for (const events::EventEntry& e : events) {
        const int64_t at = e.at.toSecsSinceEpoch();
        if (at > last + kGapEndSlack) break;
        if (e.kind == events::eventkind::kRecorder && at >= first - 2 && !recorder &&
            !events::recorderResumed(e) && e.code != kStartedCode &&
            (at <= last || e.code == kEndedUncleanCode))
            recorder = &e;
        if (at > last) continue;
        if (e.kind == events::eventkind::kLink && at <= first) {
            linkDown = events::linkWentDown(e);
            link = &e;
        } else if (!silentWithin && events::linkWentDown(e)) {
            silentWithin = &e;
        }
    }
    if (recorder) return events::eventText(*recorder, lang);
    if (linkDown) return events::eventText(*link, lang);
    if (stale)
        return silentWithin
                   ? events::eventText(*silentWithin, lang)
                   : base::wording(QT_TRANSLATE_NOOP("velmars", "未读到仪表数值，数值过期"), lang);
    return std::nullopt;
}

store::GapCause gapCausesOf(const QString& path, base::Lang lang) {
    struct Log {
        explicit Log(const QString& path)
            : store(path, base::uniqueName(QStringLiteral("gap-causes"))) {}
        events::EventStore store;
        bool opened = false, usable = false;
    };
    auto log = std::make_shared<Log>(path);
    return [log, lang](qint64 first, qint64 last) -> QString {
        if (!log->opened) {
            log->opened = true;
            log->usable = log->store.open(/*readOnly=*/true) && log->store.hasTable();
        }
        if (!log->usable) return {};
        // The line's state when the gap began is its last word before it: an hour back is
        // enough to find it, and keeps each gap's read small.
        events::EventFilter filter;
        filter.from = QDateTime::fromSecsSinceEpoch(first - 3600);
        filter.to = QDateTime::fromSecsSinceEpoch(last + kGapEndSlack);
        filter.newestFirst = false;
        return csvGapCause(first, last, log->store.load(filter), lang);
    };
}

QString durationText(int64_t seconds) {
    seconds = std::max<int64_t>(seconds, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
        .arg(seconds % 60, 2, 10, QChar(u'0'));
}

}  // namespace report
