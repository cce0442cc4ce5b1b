// Windows: a test leaves the way the program does (shell::os::endProcess). Once its main has
// returned, the results are written; the system's unloading of the libraries that follows can
// deadlock on a lock a thread of the runtime held when the process ended it (under Wine the test
// then never exits and ctest waits for its timeout). Every test is linked with --wrap=main, so
// the C runtime calls this main, which ends the process with the test's status.
#include <windows.h>

#include <cstdio>

extern "C" int __real_main(int argc, char** argv);

extern "C" int __wrap_main(int argc, char** argv) {
    const int code = __real_main(argc, argv);
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
}
