#include "base/baseos.h"

namespace base {

QStringList arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

}  // namespace base
