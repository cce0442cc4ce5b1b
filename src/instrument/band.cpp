#include "instrument/band.h"

#include <algorithm>

namespace instrument {

bool ToleranceBand::outside(double pv, double sv, bool wasOutside) const {
    const double h = wasOutside ? std::max(0.0, hysteresis) : 0.0;
    return !(pv >= lowAt(sv) + h && pv <= highAt(sv) - h);
}

}  // namespace instrument
