#include "store/ring.h"

#include <algorithm>
#include <cmath>

#include "base/numberrule.h"

namespace store {

std::vector<QPair<int, int>> ringRanges(int first, int count) {
    std::vector<QPair<int, int>> out;
    if (count <= 0) return out;
    count = std::min(count, kRingSize);
    const int last = ringStep(first, count - 1);
    if (last >= first) {
        out.push_back({first, last});
    } else {
        out.push_back({first, kRingSize});
        out.push_back({1, last});
    }
    return out;
}

double secondsSince(double todayDate, double nowTime, double recordDate, double recordTime) {
    const double days = (todayDate - recordDate) + (nowTime - recordTime);
    return std::fabs(base::roundHalfEven(days * 24.0 * 60.0 * 60.0));
}

}  // namespace store
