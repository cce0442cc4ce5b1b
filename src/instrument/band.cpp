#include "instrument/band.h"

#include <algorithm>

namespace instrument {

bool ToleranceBand::outside(double pv, double sv, bool wasOutside) const {
    const double low = lowAt(sv), high = highAt(sv);
    double h = wasOutside ? std::max(0.0, hysteresis) : 0.0;
    // A hysteresis of half the band or more (a run's narrow band with the alerts' hysteresis)
    // would leave nothing to come back into, and the alert would never end: it then takes half
    // of each half.
    if (h > 0 && 2 * h >= high - low) h = (high - low) / 4;
    return !(pv >= low + h && pv <= high - h);
}

}  // namespace instrument
