#pragma once
// The instrument image: what the poll cycle last read. Element k of a register block holds register
// start + k; element k of DiscreteBits / CoilBits holds input or coil k + 1.

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

namespace comm {

// The blocks keep the sizes the data model reserves (501, 301, 101...), more than the registers
// read today, so that an index anywhere in that room stays defined.
struct InstrumentImage {
    std::array<int32_t, 501> InputRegsLow{};  // 3X 1..8 in 0..7
    std::array<float, 301> LiveValues{};      // 0..7 3X 1..8; 8, 9 control outputs (100 on, 0 off)
    std::array<int32_t, 21> InputRegsHigh{};  // 3X 4097..4112 in 0..15
    std::array<int32_t, 501> HoldingRegsLow{};  // 4X 1..8 in 0..7
    std::array<float, 301> HoldingValues{};     // 4X 1..8 in 0..7
    std::array<float, 101> ParamValues{};       // 4X 4097..4144 in 0..47
    std::array<int32_t, 33> HoldingRegs257{};   // 4X 257..264 in 0..7
    std::array<int32_t, 101> DiscreteBits{};    // 1X 1..16 in 0..15
    std::array<int32_t, 101> CoilBits{};        // 0X 1..16 in 0..15
};

// The image's live values are stale once no register block has been read for this long while
// the port is polled, and whenever it is not polled: they are then no reading of the instrument.
// silentMs: time since the last block read successfully (Link::silentMs()).
inline constexpr int kStaleAfterMs = 3000;
// The holding register as the image last read it; none for a register no block reads.
inline std::optional<int32_t> holdingRegister(const InstrumentImage& image, int32_t reg) {
    if (reg >= 1 && reg <= 8) return image.HoldingRegsLow[size_t(reg - 1)];
    if (reg >= 257 && reg <= 264) return image.HoldingRegs257[size_t(reg - 257)];
    if (reg >= 4097 && reg <= 4144)
        return int32_t(std::lround(image.ParamValues[size_t(reg - 4097)]));
    return std::nullopt;
}

inline constexpr bool valuesStale(bool polling, int silentMs) {
    return !polling || silentMs >= kStaleAfterMs;
}

}  // namespace comm
