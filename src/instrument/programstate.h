#pragma once
// The states of the instrument's program as it reports them in 3X 4097.

#include <cstdint>
#include <optional>

#include "comm/image.h"

namespace instrument {

enum class ProgramState : int32_t { Stopped = 0, Running = 1, Paused = 2, Ended = 3 };

// The state a code names; nullopt for a code the instrument does not document.
inline std::optional<ProgramState> programStateOf(int32_t code) {
    if (code < 0 || code > 3) return std::nullopt;
    return static_cast<ProgramState>(code);
}

// The state an image of the instrument shows.
inline std::optional<ProgramState> programStateOf(const comm::InstrumentImage& image) {
    return programStateOf(image.InputRegsHigh[0]);
}

}  // namespace instrument
