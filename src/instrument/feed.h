#pragma once
// What a window that shows the instrument's registers, and reads some of them itself, is given:
// wherever the instrument is kept (a chamber of this program, or one a service runs), the window
// sees only these.

#include <QtGlobal>
#include <cstdint>
#include <functional>

#include "comm/image.h"

namespace instrument {

struct Feed {
    // The registers as last read by the poll cycle.
    std::function<const comm::InstrumentImage&()> image;
    // Hands a read of count holding registers from first to the instrument: the id its values
    // come back with, 0 when it was not handed over (the port is closed, for one).
    std::function<quint64(int32_t first, int32_t count)> readHolding;
};

}  // namespace instrument
