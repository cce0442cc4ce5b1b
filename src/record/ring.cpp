#include "record/ring.h"

#include <cmath>

#include "base/numberrule.h"

namespace record {

double secondsSince(double todayDate, double nowTime, double recordDate, double recordTime) {
    const double days = (todayDate - recordDate) + (nowTime - recordTime);
    return std::fabs(base::roundHalfEven(days * 24.0 * 60.0 * 60.0));
}

}  // namespace record
