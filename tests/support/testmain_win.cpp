// Windows: what every test's main gets around it (each test is linked with --wrap=main, so the C
// runtime calls this main first).
// - The settings file lies in XDG_CONFIG_HOME, as on POSIX systems, not in the user's %APPDATA%.
// - Qt Test writes its results, and Qt its messages, to the debugger's output unless the process
//   has a console window; under ctest (a pipe) they go to standard error and output instead.
// - The test leaves the way the program does (shell::os::endProcess): once its main has returned,
//   the results are written; the system's unloading of the libraries that follows can deadlock on
//   a lock a thread of the runtime held when the process ended it (under Wine the test then never
//   exits and ctest waits for its timeout).
#include <windows.h>

#include <QSettings>
#include <cstdio>

extern "C" int __real_main(int argc, char** argv);

extern "C" int __wrap_main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_FORCE_STDERR_LOGGING"))
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
    if (qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           qEnvironmentVariable("XDG_CONFIG_HOME"));
    const int code = __real_main(argc, argv);
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
}
