// The program window's readback on any register value and field, and the value an entry box or a
// list writes for any text: texts are defined, written values fit one register.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/numberrule.h"
#include "program/programrules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    int32_t value;
    std::memcpy(&value, data + 1, sizeof value);
    const int index = data[0] % program::kReadbackSize;
    if (program::readbackText(index, value).isEmpty()) std::abort();
    if (program::timeUnitCaption(value).has_value() != (value >= 0 && value <= 2)) std::abort();

    const QString typed =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 5), qsizetype(size - 5));
    if (const auto v = program::entryValue(typed).value; v && !base::fitsRegister(*v)) std::abort();
    for (const QStringList& entries :
         {program::powerFailEntries(), program::timeUnitEntries(), program::endOutputEntries(),
          program::segmentCountEntries(), program::startValueEntries()}) {
        if (const auto code = program::listCode(entries, typed))
            if (*code < 0 || *code >= entries.size()) std::abort();
    }
    return 0;
}
