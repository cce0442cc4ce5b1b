// The live panel's texts on an arbitrary instrument image: any bit pattern in any register field,
// NaN and infinities included. Every shown text is defined.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "monitor/livetexts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    comm::InstrumentImage img;
    // The bytes fill the image from its start; the rest stays zero. Whole arrays of 32-bit fields,
    // so any pattern is a valid int32_t or float.
    std::memcpy(&img, data, size < sizeof img ? size : sizeof img);
    const monitor::LiveTexts t = monitor::liveTexts(img);
    for (const QString& s : t.programStatus)
        if (s.isEmpty()) std::abort();
    for (const QString& s : t.liveValues)
        if (s.isEmpty() || s.size() > 16) std::abort();
    for (const QString& s : t.outputs)
        if (s.isEmpty() || s.size() > 16) std::abort();
    for (int k = 0; k < 6; ++k) {
        if (t.states[k].text.isEmpty()) std::abort();
        if (t.states[k].active != (img.DiscreteBits[k] != 0)) std::abort();
        if (t.alarmSettings[k].isEmpty()) std::abort();
    }
    for (int k = 0; k < 48; ++k)
        if (monitor::hasParamField(k) == t.params[k].isEmpty()) std::abort();
    return 0;
}
