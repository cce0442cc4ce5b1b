#include <gtest/gtest.h>

#include "comm/pollcycle.h"
#include "fakemodbus.h"

using comm::PollCycle;
using testing_support::FakeModbus;

TEST(PollCycle, ReadsTheNineBlocksInOrder) {
    FakeModbus bus;
    PollCycle cycle(bus);
    int yields = 0, publishes = 0;
    cycle.runCycle(
        3, 7, [&] { ++yields; }, [&] { ++publishes; });
    const QStringList expected = {
        "Get_3X_DX(3,7,1,8)",     "Get_3X_DX(3,7,4097,16)", "Get_4X_DX(3,7,1,8)",
        "Get_4X_DX(3,7,4097,16)", "Get_4X_DX(3,7,4113,16)", "Get_4X_DX(3,7,4129,16)",
        "Get_4X_DX(3,7,257,8)",   "Get_1X_B16(3,7,1)",      "Get_0X_B16(3,7,1)",
    };
    EXPECT_EQ(bus.callTexts(), expected);
    EXPECT_EQ(yields, 8);
    EXPECT_EQ(publishes, 9);
}

TEST(PollCycle, CopiesBlocksIntoTheImage) {
    FakeModbus bus;
    for (int k = 0; k < 8; ++k)
        bus.setInput(1 + k, k == 3 ? -5 : 100 + k);
    for (int k = 0; k < 16; ++k)
        bus.setInput(4097 + k, 10 + k);
    for (int k = 0; k < 8; ++k)
        bus.setHolding(1 + k, 200 + k);
    for (int k = 0; k < 48; ++k)
        bus.setHolding(4097 + k, 1000 + k);
    for (int k = 0; k < 8; ++k)
        bus.setHolding(257 + k, 50 + k);
    PollCycle cycle(bus);
    cycle.runCycle(1, 1);
    const auto& im = cycle.image();
    EXPECT_EQ(im.LiveValues[0], 100.0f);
    EXPECT_EQ(im.LiveValues[3], -5.0f);
    EXPECT_EQ(im.InputRegsHigh[15], 25);
    EXPECT_EQ(im.HoldingValues[7], 207.0f);
    EXPECT_EQ(im.ParamValues[0], 1000.0f);
    EXPECT_EQ(im.ParamValues[47], 1047.0f);
    EXPECT_EQ(im.HoldingRegs257[7], 57);
}

TEST(PollCycle, ControlFlagsLagOneCycle) {
    FakeModbus bus;
    bus.setDiscreteBytes(0b11, 0);
    PollCycle cycle(bus);
    cycle.runCycle(1, 1);
    EXPECT_EQ(cycle.image().DiscreteBits[0], 1);
    EXPECT_EQ(cycle.image().LiveValues[8], 0.0f);  // copied before the discrete inputs were read
    cycle.runCycle(1, 1);
    EXPECT_EQ(cycle.image().LiveValues[8], 100.0f);
    EXPECT_EQ(cycle.image().LiveValues[9], 100.0f);
}

TEST(PollCycle, FailedParameterReadGivesZeros) {
    FakeModbus bus;
    for (int k = 0; k < 48; ++k)
        bus.setHolding(4097 + k, 7);
    PollCycle cycle(bus);
    cycle.runCycle(1, 1);
    EXPECT_EQ(cycle.image().ParamValues[20], 7.0f);
    bus.failReadsAt(4113);
    cycle.runCycle(1, 1);
    EXPECT_EQ(cycle.image().ParamValues[15], 7.0f);
    EXPECT_EQ(cycle.image().ParamValues[16], 0.0f);
    EXPECT_EQ(cycle.image().ParamValues[31], 0.0f);
    EXPECT_EQ(cycle.image().ParamValues[32], 7.0f);
}

TEST(PollCycle, FailedReadKeepsTheBlock) {
    FakeModbus bus;
    bus.setInput(1, 42);
    PollCycle cycle(bus);
    cycle.runCycle(1, 1);
    bus.setReadsFail(true);
    bus.setInput(1, 43);
    cycle.runCycle(1, 1);
    EXPECT_EQ(cycle.image().LiveValues[0], 42.0f);
}

TEST(PollCycle, UnpacksEveryByteAndIgnoresNonBytes) {
    struct Case {
        int32_t byte;
        std::array<int32_t, 8> expect;  // from all-set-to-9 start; 9 means unchanged
    };
    const Case cases[] = {
        {0, {0, 0, 0, 0, 0, 0, 0, 0}},   {254, {0, 1, 1, 1, 1, 1, 1, 1}},
        {255, {1, 1, 1, 1, 1, 1, 1, 1}}, {-1, {9, 9, 9, 9, 9, 9, 9, 9}},
        {256, {9, 9, 9, 9, 9, 9, 9, 9}}, {0b10100101, {1, 0, 1, 0, 0, 1, 0, 1}},
    };
    for (const auto& c : cases) {
        FakeModbus bus;
        bus.setDiscreteBytes(c.byte, c.byte);
        bus.setCoilBytes(c.byte, c.byte);
        PollCycle cycle(bus);
        cycle.image().DiscreteBits.fill(9);
        cycle.image().CoilBits.fill(9);
        cycle.runCycle(1, 1);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(cycle.image().DiscreteBits[i], c.expect[i]) << c.byte << " bit " << i;
            EXPECT_EQ(cycle.image().DiscreteBits[8 + i], c.expect[i]) << c.byte << " bit " << i;
            EXPECT_EQ(cycle.image().CoilBits[i], c.expect[i]) << c.byte << " bit " << i;
            EXPECT_EQ(cycle.image().CoilBits[8 + i], c.expect[i]) << c.byte << " bit " << i;
        }
    }
}
