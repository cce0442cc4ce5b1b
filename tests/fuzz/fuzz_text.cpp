// Float and integer caption texts for every bit pattern: they must read back as the same value.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= sizeof(float)) {
        float f;
        std::memcpy(&f, data, sizeof f);
        const QString t = base::floatText(f);
        if (t.isEmpty() || t.size() > 16) std::abort();
        if (std::isfinite(f)) {
            bool ok = false;
            const float back = t.toFloat(&ok);
            if (!ok) std::abort();
            // At most 7 significant digits: equal within the seventh digit.
            if (f != 0 && std::fabs(back - f) > std::fabs(f) * 1e-6f) std::abort();
        }
    }
    if (size >= sizeof(int64_t)) {
        int64_t i;
        std::memcpy(&i, data, sizeof i);
        bool ok = false;
        if (base::intText(i).toLongLong(&ok) != i || !ok) std::abort();
    }
    return 0;
}
