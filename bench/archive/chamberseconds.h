#pragma once
// The seconds a chamber records, for the benchmarks that fill an archive: temperature and
// humidity following their set values (weekdays 40 °C / 93 %RH, weekends 25 °C / 50 %RH) with
// noise, the outputs working, a one-second spike now and then.

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "base/oledate.h"
#include "store/store.h"

namespace bench {

using store::Sample;

inline constexpr int64_t kDay = 86400;
inline const int64_t kStart = QDateTime(QDate(2025, 1, 1), QTime(0, 0)).toSecsSinceEpoch();

// A chamber's day: temperature and humidity following their set values with noise, the outputs
// working, a one-second spike now and then; every value a multiple of 0.1 as the instrument
// gives them.
inline Sample sampleAt(int64_t at, std::mt19937& gen) {
    std::normal_distribution<float> noise(0, 0.3f);
    const int64_t s = at - kStart;
    const float sv1 = (s / kDay) % 7 < 5 ? 40.0f : 25.0f;
    const float sv2 = (s / kDay) % 7 < 5 ? 93.0f : 50.0f;
    auto tenth = [](float v) { return std::round(v * 10) / 10; };
    Sample out;
    const QDateTime local = QDateTime::fromSecsSinceEpoch(at);
    out.date = base::oleDate(local.date());
    out.time = base::oleTime(local.time());
    out.at = at;
    out.values = {tenth(sv1 + noise(gen) + (s % 9973 == 0 ? 15.0f : 0.0f)),
                  tenth(sv2 + 2 * noise(gen)),
                  sv1,
                  sv2,
                  tenth(50 + 40 * std::sin(s / 600.0f)),
                  tenth(30 + 20 * std::cos(s / 900.0f)),
                  1,
                  2,
                  static_cast<float>(s % 4 < 2),
                  static_cast<float>(s % 10 < 3)};
    return out;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace bench
