#pragma once
// The poll cycle: nine register blocks read in a fixed order into the instrument image. The cycle
// runs block by block so that the caller can let queued requests (an operator write, a program
// readback) run between two blocks, and publish the image after each one.

#include <array>
#include <cstdint>
#include <functional>

#include "comm/image.h"
#include "comm/modbusrtu.h"

namespace comm {

class PollCycle {
  public:
    static constexpr int kBlocks = 9;

    explicit PollCycle(ModbusRTU& bus) : bus_(bus) {}

    // Starts a cycle against port P and slave address A: the parameter scratch block starts at
    // zero.
    void begin(int32_t port, int32_t addr);
    // Reads the next block into the image. Returns true while further blocks remain in this cycle.
    bool step();
    // Status of the block the last step read: 0 or kModbusFail.
    int32_t lastStatus() const { return lastStatus_; }
    // Reads block 1..9 alone, ending a running cycle: the short poll of a chamber in the
    // background. Returns its status.
    int32_t readBlock(int32_t port, int32_t addr, int block);
    // Ends the running cycle without reading its remaining blocks.
    void abort() { next_ = 0; }
    bool inCycle() const { return next_ > 0 && next_ <= kBlocks; }
    int nextBlock() const { return next_; }

    // A whole cycle, calling yield between two blocks and publish after each block.
    void runCycle(int32_t port, int32_t addr, const std::function<void()>& yield = {},
                  const std::function<void()>& publish = {});

    // Fills byteBits() with the bits of b, bit 0 the least significant.
    void splitByte(int32_t b);

    const InstrumentImage& image() const { return image_; }
    InstrumentImage& image() { return image_; }
    const std::array<int32_t, 8>& byteBits() const { return byteBits_; }

  private:
    int32_t read(int block);
    // Unpacks a byte of states into eight flags when it is a byte (0..255); anything else leaves
    // them.
    void unpackInto(int32_t byte, std::array<int32_t, 101>& flags, int first);

    ModbusRTU& bus_;
    InstrumentImage image_;
    std::array<int32_t, 101> paramRegs_{};
    std::array<int32_t, 8> bitWords_{};
    std::array<int32_t, 8> byteBits_{};
    int32_t port_ = 0;
    int32_t addr_ = 0;
    int next_ = 0;  // 1..9 the block to read next, 0 when no cycle runs
    int32_t lastStatus_ = 0;
};

}  // namespace comm
