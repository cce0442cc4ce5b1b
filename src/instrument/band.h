#pragma once
// The tolerance band a loop's process value should stay in: plus or minus a value around the
// loop's working set value, or fixed limits. A run keeps one per loop for its report; the alerts
// watch PV against one, and once PV has left it, count it back only inside the band narrowed by
// the hysteresis on each side, so that a value on the edge does not flap.

namespace instrument {

struct ToleranceBand {
    bool fixed = false;        // fixed limits rather than around SV
    double plusMinus = 2.0;    // around SV when !fixed
    double low = 0, high = 0;  // when fixed
    double hysteresis = 0.4;   // how far inside PV has to come back once it was out

    // The limits for the set value sv.
    double lowAt(double sv) const { return fixed ? low : sv - plusMinus; }
    double highAt(double sv) const { return fixed ? high : sv + plusMinus; }
    // PV within the limits, both edges included. A PV that is no number is never inside.
    bool contains(double pv, double sv) const { return !outside(pv, sv, false); }
    // Whether PV counts as out of the band, given whether it was out at the last look: once out,
    // it stays out until it is inside the band narrowed by the hysteresis on each side (a
    // negative hysteresis counts as none; one that would leave no band narrows it by half).
    bool outside(double pv, double sv, bool wasOutside) const;

    bool operator==(const ToleranceBand&) const = default;
};

}  // namespace instrument
