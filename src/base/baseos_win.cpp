#include <windows.h>
// shellapi.h needs windows.h first
#include <shellapi.h>

#include "base/baseos.h"

namespace base {

QStringList arguments(int, char**) {
    QStringList args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return args;
    for (int i = 1; i < count; ++i)
        args << QString::fromWCharArray(wide[i]);
    LocalFree(wide);
    return args;
}

void lowerThisThreadsPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace base
