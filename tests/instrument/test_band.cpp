// A tolerance band's edges: both limits count as inside, and once PV was out it is back only
// inside the band narrowed by the hysteresis, around SV and with fixed limits alike.
#include <gtest/gtest.h>

#include <limits>

#include "instrument/band.h"

using instrument::ToleranceBand;

TEST(ToleranceBand, EdgesWithAndWithoutHysteresis) {
    const ToleranceBand aroundSv{false, 2, 0, 0,
                                 0.5};                // SV 300: 298 .. 302, back at 298.5 .. 301.5
    const ToleranceBand fixed{true, 2, 500, 550, 1};  // back at 501 .. 549
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        ToleranceBand band;
        double pv, sv;
        bool wasOutside, outside;
    } cases[] = {
        {"on the high edge", aroundSv, 302, 300, false, false},
        {"just above", aroundSv, 302.05, 300, false, true},
        {"on the low edge", aroundSv, 298, 300, false, false},
        {"just below", aroundSv, 297.95, 300, false, true},
        {"back inside, not inside the narrower band", aroundSv, 301.55, 300, true, true},
        {"on the narrower band's high edge", aroundSv, 301.5, 300, true, false},
        {"on the narrower band's low edge", aroundSv, 298.5, 300, true, false},
        {"back inside below, not far enough", aroundSv, 298.45, 300, true, true},
        {"fixed: SV does not count", fixed, 520, 0, false, false},
        {"fixed: on the low limit", fixed, 500, 520, false, false},
        {"fixed: above", fixed, 550.1, 520, false, true},
        {"fixed: back, within the hysteresis", fixed, 500.9, 520, true, true},
        {"fixed: back at the narrower limit", fixed, 549, 520, true, false},
        {"a negative hysteresis counts as none", {false, 2, 0, 0, -1}, 302, 300, true, false},
        // A hysteresis of half the band or more narrows it by half: there is a way back.
        {"narrow band: back at SV", {false, 0.25, 0, 0, 0.5}, 300, 300, true, false},
        {"narrow band: back at a quarter", {false, 0.25, 0, 0, 0.5}, 300.125, 300, true, false},
        {"narrow band: not far enough", {false, 0.25, 0, 0, 0.5}, 300.2, 300, true, true},
        {"fixed, as wide as twice the hysteresis", {true, 0, 10, 12, 1}, 11.5, 0, true, false},
        {"a PV that is no number is out", aroundSv, nan, 300, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.band.outside(c.pv, c.sv, c.wasOutside), c.outside) << c.name;
        if (!c.wasOutside) {
            EXPECT_EQ(c.band.contains(c.pv, c.sv), !c.outside) << c.name;
        }
    }
    EXPECT_EQ(aroundSv.lowAt(300), 298);
    EXPECT_EQ(fixed.highAt(300), 550);
}
