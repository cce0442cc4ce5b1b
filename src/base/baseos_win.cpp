#include <windows.h>
// shellapi.h needs windows.h first
#include <shellapi.h>

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

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

void keepRegexStateOffThreads() {
    // Qt's JIT-compiled patterns take their stack from a thread_local that MinGW destroys after
    // freeing it; patterns matched without the JIT never touch it.
    if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT")) qputenv("QT_ENABLE_REGEXP_JIT", "0");
}

void lowerThisThreadsPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

namespace {

// Opens the file (or, with backup semantics, the folder) asking for the given access, which the
// file's ACL decides; nothing is changed. A file held open by another program counts as granted.
bool granted(const QString& path, DWORD access) {
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                    access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return true;
}

}  // namespace

bool writableByThisAccount(const QString& path) {
    const QFileInfo file(path);
    return granted(file.absoluteFilePath(), GENERIC_WRITE) ||
           granted(file.absolutePath(), FILE_ADD_FILE | FILE_DELETE_CHILD);
}

}  // namespace base
