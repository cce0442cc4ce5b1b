// The simulated instrument's register map and dynamics, without any I/O.

#include "sim/instrument.h"

#include <gtest/gtest.h>

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

}  // namespace
