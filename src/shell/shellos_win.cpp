#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <QFileInfo>
#include <QSettings>
#include <cstdio>

#include "base/datafolder.h"
#include "base/devicename.h"
#include "shell/settings.h"
#include "shell/shellos.h"

namespace shell::os {

void messagesToStandardError() {
    // Qt writes its messages to the debugger's output unless the process has a console window,
    // so a program started with its standard error on a pipe or in a file (by a script, a service
    // or a test) would lose them. Where standard error leads somewhere, they go there as on Linux.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN &&
        qEnvironmentVariableIsEmpty("QT_FORCE_STDERR_LOGGING"))
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
}

void placeSettings() {
    // The same folder as Qt's own choice unless the environment points elsewhere.
    const QString appData = qEnvironmentVariable("APPDATA");
    if (!appData.isEmpty()) QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, appData);
}

void restrictNewFiles() {}

void binaryStandardOutput() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

QString dataFolder() {
    // %APPDATA%\velmars, where the settings file (velmars.ini) lies too: the user's own profile,
    // which Windows lets no other user read. A folder named by --data holds both.
    if (const QString given = base::givenDataFolder(); !given.isEmpty()) return given;
    return QFileInfo(settingsFile()->fileName()).absolutePath();
}

int endProcess(int code) {
    // By now every thread of ours has ended and every file is closed. The system's own unloading
    // of the libraries after main can deadlock on a lock that a thread of the runtime held when
    // the process ended it (seen under Wine: the window gone, the records stopped, the process
    // never exiting), so the process ends here, with what is buffered for the console written.
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
}

QString deviceFileName(const QString& path) {
    return base::windowsDeviceName(path);
}

bool echoInput(bool on) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return false;
    return SetConsoleMode(in, on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~DWORD(ENABLE_ECHO_INPUT)));
}

}  // namespace shell::os
