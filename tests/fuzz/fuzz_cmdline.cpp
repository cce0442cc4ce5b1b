// The command-line parser on arbitrary argument lists (arguments separated by NUL bytes).
#include <cstdint>
#include <cstdlib>

#include "service/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList args;
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& part : all.split('\0'))
        args << QString::fromUtf8(part);
    const shell::ParseResult r = shell::parseCommandLine(args);
    if (r.options.has_value() == !r.error.isEmpty()) std::abort();  // exactly one of the two
    if (r.error.contains(u'\n')) std::abort();                      // one line on stderr
    if (r.options) {
        for (int n : r.options->ports.keys())
            if (n < 1 || n > 20) std::abort();
        if (r.options->quitAfter && !(*r.options->quitAfter >= 0)) std::abort();
    }
    return 0;
}
