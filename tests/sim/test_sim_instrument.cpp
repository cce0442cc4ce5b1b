// The simulated instrument's register map and dynamics, without any I/O.

#include "sim/instrument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

using sim::Access;
using sim::Area;
using sim::Instrument;

TEST(Instrument, MapBounds) {
    struct Case {
        Area area;
        int first;
        int count;
        bool ok;
    };
    const Case cases[] = {
        {Area::InputRegisters, 1, 8, true},
        {Area::InputRegisters, 1, 9, false},
        {Area::InputRegisters, 0, 1, false},
        {Area::InputRegisters, 4097, 16, true},
        {Area::InputRegisters, 4112, 2, false},
        {Area::InputRegisters, 9, 1, false},
        {Area::HoldingRegisters, 1, 8, true},
        {Area::HoldingRegisters, 257, 8, true},
        {Area::HoldingRegisters, 256, 2, false},
        {Area::HoldingRegisters, 4097, 48, true},
        {Area::HoldingRegisters, 4144, 1, true},
        {Area::HoldingRegisters, 4145, 1, false},
        {Area::HoldingRegisters, 8193, 48, true},
        {Area::HoldingRegisters, 8240, 2, false},
        {Area::HoldingRegisters, 5, 0, false},
        {Area::HoldingRegisters, 2147483647, 2, false},
        {Area::DiscreteInputs, 1, 16, true},
        {Area::DiscreteInputs, 16, 2, false},
        {Area::Coils, 1, 16, true},
        {Area::Coils, 17, 1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Instrument::inMap(c.area, c.first, c.count), c.ok)
            << int(c.area) << " " << c.first << " " << c.count;
    }
    Instrument inst;
    uint16_t regs[48] = {};
    uint8_t bits[16] = {};
    EXPECT_EQ(inst.readRegisters(Area::HoldingRegisters, 9, 1, regs), Access::IllegalAddress);
    EXPECT_EQ(inst.readBits(Area::Coils, 1, 17, bits), Access::IllegalAddress);
    EXPECT_EQ(inst.writeRegisters(Area::HoldingRegisters, 8240, 2, regs), Access::IllegalAddress);
    EXPECT_EQ(inst.writeRegisters(Area::InputRegisters, 1, 1, regs), Access::IllegalFunction);
    EXPECT_FALSE(inst.setHoldingRegister(9, 1));
    EXPECT_EQ(inst.holdingRegister(9), 0);
}

TEST(Instrument, StoresSixteenBitPatterns) {
    Instrument inst;
    const int values[][2] = {{-1999, -1999}, {32767, 32767}, {-32768, -32768},
                             {65535, -1},    {65536, 0},     {0x12345, 0x2345}};
    for (const auto& v : values) {
        ASSERT_TRUE(inst.setHoldingRegister(8201, v[0]));
        EXPECT_EQ(inst.holdingRegister(8201), v[1]) << v[0];
    }
    const uint16_t pattern[2] = {0x8000, 0xFFFF};
    ASSERT_EQ(inst.writeRegisters(Area::HoldingRegisters, 257, 2, pattern), Access::Ok);
    uint16_t back[2] = {};
    ASSERT_EQ(inst.readRegisters(Area::HoldingRegisters, 257, 2, back), Access::Ok);
    EXPECT_EQ(back[0], 0x8000);
    EXPECT_EQ(back[1], 0xFFFF);
}

// An instrument with noise off, so readings are exact.
Instrument quiet() {
    Instrument inst;
    inst.setNoise(0);
    return inst;
}

TEST(Instrument, PvFollowsSvWithFirstOrderLag) {
    Instrument inst = quiet();
    EXPECT_EQ(inst.inputRegister(1), 250);
    EXPECT_EQ(inst.inputRegister(2), 500);
    inst.setHoldingRegister(1, 1000);
    EXPECT_EQ(inst.inputRegister(3), 1000);  // working SV follows the setting at once
    inst.step(Instrument::kTimeConstant);
    // One time constant: 63.2 % of the way from 250 to 1000.
    EXPECT_EQ(inst.inputRegister(1), 724);
    EXPECT_EQ(inst.inputRegister(4098), 724);
    inst.step(100);
    EXPECT_EQ(inst.inputRegister(1), 1000);
    // Loop 2 heads for its own SV; time scale speeds everything up.
    inst.setHoldingRegister(2, 0);
    inst.setTimeScale(10);
    inst.step(1);
    EXPECT_EQ(inst.inputRegister(2), 221);  // 600 * e^-1: PV2 had reached the factory SV2
}

TEST(Instrument, NoiseIsSmallAndSeeded) {
    Instrument a(7), b(7);
    for (int i = 0; i < 50; ++i) {
        a.step(0.1);
        b.step(0.1);
        EXPECT_EQ(a.inputRegister(1), b.inputRegister(1));
        EXPECT_LE(std::abs(a.inputRegister(1) - a.processValue(1)), 1.0);
    }
}

TEST(Instrument, ControlOutputSwitchesWithHysteresis) {
    Instrument inst = quiet();
    inst.setHoldingRegister(4121, 10);  // output 1 hysteresis
    inst.setHoldingRegister(4125, 20);  // output 2 hysteresis
    inst.setHoldingRegister(2, 300);
    // SV1 = 300 (factory). Heating: on below 290, off from 300, unchanged between.
    const std::pair<double, bool> steps[] = {{285, true},  {295, true},  {299, true}, {300, false},
                                             {295, false}, {290, false}, {289, true}, {310, false}};
    for (const auto& [pv, on] : steps) {
        inst.setProcessValue(1, pv);
        inst.setProcessValue(2, pv - 10);  // 20 counts of hysteresis on loop 2
        EXPECT_EQ(inst.discreteInput(1), on) << pv;
        EXPECT_EQ(inst.coil(1), on) << pv;
    }
    inst.setProcessValue(2, 285);
    EXPECT_FALSE(inst.discreteInput(2));  // 280 < 285 < 300: still off from 300
    inst.setProcessValue(2, 279);
    EXPECT_TRUE(inst.discreteInput(2));
}

TEST(Instrument, AlarmModes) {
    struct Case {
        int mode;
        int setValue;
        int hyst;
        std::vector<std::pair<int, bool>> pvSteps;  // SV1 is 300
    };
    const Case cases[] = {
        {1, 1000, 10, {{1000, false}, {1001, true}, {995, true}, {990, false}}},
        {2, 100, 10, {{100, false}, {99, true}, {105, true}, {110, false}}},
        {3, 50, 5, {{350, false}, {351, true}, {346, true}, {345, false}, {200, false}}},
        {4, 50, 5, {{250, false}, {249, true}, {254, true}, {255, false}, {400, false}}},
        {5, 50, 5, {{351, true}, {300, false}, {249, true}, {255, false}, {346, false}}},
        {0, 0, 0, {{5000, false}, {-1999, false}}},
        {9, 0, 0, {{5000, false}}},
    };
    for (const Case& c : cases) {
        Instrument inst = quiet();
        inst.setHoldingRegister(4129, c.mode);
        inst.setHoldingRegister(257, c.setValue);
        inst.setHoldingRegister(258, c.hyst);
        EXPECT_EQ(inst.inputRegister(7), c.mode);
        for (const auto& [pv, on] : c.pvSteps) {
            inst.setProcessValue(1, pv);
            EXPECT_EQ(inst.discreteInput(3), on) << "mode " << c.mode << " pv " << pv;
        }
    }
    // Alarm 2 watches loop 2 by default, loop 1 when its channel is 0.
    Instrument inst = quiet();
    inst.setHoldingRegister(4130, 1);
    inst.setHoldingRegister(260, 400);
    EXPECT_EQ(inst.inputRegister(8), 1);
    EXPECT_TRUE(inst.discreteInput(4));  // PV2 500 > 400
    EXPECT_FALSE(inst.discreteInput(3));
    inst.setHoldingRegister(4132, 0);
    EXPECT_FALSE(inst.discreteInput(4));  // PV1 250
}

TEST(Instrument, RetransmissionScaling) {
    struct Case {
        int source, upper, lower;
        double pv1, pv2;
        int expected;
    };
    const Case cases[] = {
        {1, 5000, 0, 2500, 0, 500},    {1, 5000, 0, -10, 0, 0},       {1, 5000, 0, 6000, 0, 1000},
        {1, 2000, 1000, 1250, 0, 250}, {2, 2000, 1000, 0, 1999, 999}, {0, 5000, 0, 2500, 2500, 0},
        {1, 1000, 1000, 1000, 0, 0},   {1, 1000, 2000, 1250, 0, 750}, {3, 5000, 0, 2500, 2500, 0},
    };
    for (const Case& c : cases) {
        for (int ch = 1; ch <= 2; ++ch) {
            Instrument inst = quiet();
            const int base = ch == 1 ? 4138 : 4142;
            inst.setHoldingRegister(base, c.source);
            inst.setHoldingRegister(base + 1, c.upper);
            inst.setHoldingRegister(base + 2, c.lower);
            inst.setProcessValue(1, c.pv1);
            inst.setProcessValue(2, c.pv2);
            EXPECT_EQ(inst.inputRegister(4 + ch), c.expected)
                << "ch " << ch << " source " << c.source << " pv " << c.pv1;
        }
    }
}

TEST(Instrument, SensorOpen) {
    Instrument inst = quiet();
    inst.setHoldingRegister(4115, 1300);  // input 2 upper limit
    inst.setSensorOpen(2, true);
    EXPECT_TRUE(inst.discreteInput(6));
    EXPECT_FALSE(inst.discreteInput(5));
    EXPECT_EQ(inst.inputRegister(2), 1300);
    EXPECT_EQ(inst.inputRegister(4100), 1300);
    EXPECT_FALSE(inst.discreteInput(2));  // open-input state 0: output open
    inst.setHoldingRegister(4128, 1);
    EXPECT_TRUE(inst.discreteInput(2));
    inst.setSensorOpen(1, true);
    EXPECT_EQ(inst.inputRegister(1), 5000);
    EXPECT_EQ(inst.inputRegister(5), 1000);  // retransmission follows the full-scale PV
    inst.setSensorOpen(2, false);
    EXPECT_FALSE(inst.discreteInput(6));
    EXPECT_EQ(inst.inputRegister(2), 500);
    inst.setSensorOpen(3, true);  // no such loop: ignored
}

// Reads the program status as {state, segment, segment left, total left, cycles}.
std::vector<int> status(const Instrument& inst) {
    return {inst.inputRegister(4097), inst.inputRegister(4102), inst.inputRegister(4103),
            inst.inputRegister(4104), inst.inputRegister(4105)};
}
std::vector<int> sv(const Instrument& inst) {
    return {inst.inputRegister(3), inst.inputRegister(4)};
}

// Three segments in seconds, started from the SV settings, the last SV kept at the end.
Instrument withProgram(int cycles) {
    Instrument inst = quiet();
    inst.setTimeScale(10);
    inst.setHoldingRegister(1, 100);
    inst.setHoldingRegister(2, 200);
    const int block[] = {2, 2, cycles, 0, 1, 1};
    for (int i = 0; i < 6; ++i)
        inst.setHoldingRegister(8193 + i, block[i]);
    const int seg[3][3] = {{400, 500, 30}, {400, 500, 20}, {150, 250, 10}};
    for (int k = 1; k <= 3; ++k) {
        for (int j = 0; j < 3; ++j)
            inst.setHoldingRegister(8197 + 4 * k + j, seg[k - 1][j]);
    }
    return inst;
}

using V = std::vector<int>;

TEST(Instrument, ProgramRunsPausesAndEnds) {
    Instrument inst = withProgram(1);
    EXPECT_EQ(status(inst), (V{0, 0, 0, 0, 0}));
    inst.setHoldingRegister(3, 1);
    EXPECT_EQ(inst.programState(), sim::ProgramState::Running);
    EXPECT_EQ(status(inst), (V{1, 1, 30, 60, 0}));
    EXPECT_EQ(sv(inst), (V{100, 200}));
    inst.step(1.0);  // 10 s into the 30 s ramp
    EXPECT_EQ(status(inst), (V{1, 1, 20, 50, 0}));
    EXPECT_EQ(sv(inst), (V{200, 300}));
    EXPECT_EQ(inst.inputRegister(4099), 200);
    EXPECT_EQ(inst.inputRegister(4101), 300);
    inst.step(0.25);  // 12.5 s: remaining times round up
    EXPECT_EQ(status(inst), (V{1, 1, 18, 48, 0}));
    inst.step(1.75);  // 30 s: segment 2 holds its targets
    EXPECT_EQ(status(inst), (V{1, 2, 20, 30, 0}));
    EXPECT_EQ(sv(inst), (V{400, 500}));

    inst.setHoldingRegister(3, 2);  // pause: time stands still
    inst.step(5);
    EXPECT_EQ(status(inst), (V{2, 2, 20, 30, 0}));
    EXPECT_EQ(inst.holdingRegister(3), 2);
    inst.setHoldingRegister(3, 1);  // resume
    inst.step(2.5);                 // 25 s: 5 s into segment 3, ramping down
    EXPECT_EQ(status(inst), (V{1, 3, 5, 5, 0}));
    EXPECT_EQ(sv(inst), (V{275, 375}));
    inst.step(0.5);
    EXPECT_EQ(status(inst), (V{3, 3, 0, 0, 1}));
    EXPECT_EQ(inst.holdingRegister(3), 3);  // the command register shows the end
    EXPECT_EQ(sv(inst), (V{150, 250}));     // last SV kept
    inst.step(10);
    EXPECT_EQ(sv(inst), (V{150, 250}));

    inst.setHoldingRegister(3, 0);  // stop: SVs go back to the settings
    EXPECT_EQ(status(inst), (V{0, 0, 0, 0, 1}));
    EXPECT_EQ(sv(inst), (V{100, 200}));
    inst.setHoldingRegister(3, 2);  // pause while stopped changes nothing
    EXPECT_EQ(inst.holdingRegister(3), 0);
    inst.setHoldingRegister(3, 7);  // not a command: stored, ignored
    EXPECT_EQ(inst.holdingRegister(3), 7);
    EXPECT_EQ(inst.inputRegister(4097), 0);
}

TEST(Instrument, EndCommandAndOutputZero) {
    Instrument inst = withProgram(1);
    inst.setHoldingRegister(3, 1);
    inst.step(1.5);  // 15 s: SV1 250, SV2 350
    inst.setHoldingRegister(3, 3);
    EXPECT_EQ(status(inst), (V{3, 3, 0, 0, 0}));
    EXPECT_EQ(sv(inst), (V{250, 350}));
    // With "output zero" at the end the SVs drop to 0 and the outputs stay off.
    inst.setHoldingRegister(8198, 0);
    EXPECT_EQ(sv(inst), (V{0, 0}));
    inst.setProcessValue(1, -100);
    EXPECT_FALSE(inst.discreteInput(1));
    // Run again restarts from segment 1 with a fresh cycle count.
    inst.setHoldingRegister(3, 1);
    EXPECT_EQ(status(inst), (V{1, 1, 30, 60, 0}));
}

TEST(Instrument, ProgramCyclesAndStartsFromPv) {
    Instrument inst = withProgram(0);  // endless
    inst.setHoldingRegister(3, 1);
    inst.step(6.0 * 3 + 0.5);  // three cycles of 60 s, then 5 s into the fourth
    EXPECT_EQ(status(inst), (V{1, 1, 25, 55, 3}));
    // The new cycle ramps from the last targets (150, 250) to segment 1's (400, 500).
    EXPECT_EQ(sv(inst), (V{192, 292}));

    Instrument twice = withProgram(2);
    twice.setHoldingRegister(3, 1);
    twice.step(100);
    EXPECT_EQ(status(twice), (V{3, 3, 0, 0, 2}));

    // Start value 0 starts the ramp from the measured PV; minutes round up.
    Instrument fromPv = withProgram(1);
    fromPv.setHoldingRegister(8197, 0);
    fromPv.setHoldingRegister(8193, 1);
    fromPv.setProcessValue(1, 700);
    fromPv.setHoldingRegister(3, 1);
    EXPECT_EQ(sv(fromPv)[0], 700);
    fromPv.setTimeScale(1);
    fromPv.step(90);  // 1.5 of 30 minutes
    EXPECT_EQ(status(fromPv), (V{1, 1, 29, 59, 0}));
}

TEST(Instrument, ZeroTimeProgramDoesNotHang) {
    Instrument inst = withProgram(0);
    for (int k = 1; k <= 3; ++k)
        inst.setHoldingRegister(8199 + 4 * k, 0);
    inst.setHoldingRegister(3, 1);
    inst.step(1);
    EXPECT_EQ(inst.inputRegister(4097), 1);
    // Segment count and unit registers with any pattern still give a defined program.
    inst.setHoldingRegister(8194, -5);
    inst.setHoldingRegister(8193, 99);
    inst.setHoldingRegister(8203, -30);
    inst.step(1);
    EXPECT_GE(inst.inputRegister(4102), 1);
}

}  // namespace
