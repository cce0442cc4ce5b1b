// The configuration readback on any float a register pair may decode to, and the value a box
// writes for any text: a list shows one of its words or nothing, a number shows its text, and a
// written value always fits one register.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/numberrule.h"
#include "config/paramtable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const auto& table = config::parameterTable();
    const config::Param& p = table[data[0] % table.size()];
    float value;
    std::memcpy(&value, data + 1, sizeof value);
    const std::optional<QString> text = config::readbackText(p, value);
    if (p.kind == config::Kind::List) {
        if (text && !p.options->readback.contains(*text)) std::abort();
    } else if (!text || text->isEmpty()) {
        std::abort();
    }

    const QString typed =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 5), qsizetype(size - 5));
    if (const auto v = config::textValue(p.k, typed).value; v && !base::fitsRegister(*v))
        std::abort();
    if (const auto code = config::listCode(p, typed)) {
        if (p.kind != config::Kind::List || *code < 0 || *code >= p.options->entries.size())
            std::abort();
    }
    return 0;
}
