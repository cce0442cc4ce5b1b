#include <windows.h>
// shellapi.h needs windows.h first
#include <shellapi.h>
// sddl.h too
#include <sddl.h>

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>
#include <string>
#include <vector>

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

namespace {

// The string form of this process's account's SID; empty where it cannot be read.
std::wstring ownSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    std::wstring sid;
    LPWSTR text = nullptr;
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

}  // namespace

bool createPrivateFile(const QString& path, const QByteArray& data) {
    const std::wstring sid = ownSid();
    if (sid.empty()) return false;
    // Protected (no inherited entries): full control for this account, SYSTEM and Administrators.
    const std::wstring sddl = L"D:P(A;;FA;;;" + sid + L")(A;;FA;;;SY)(A;;FA;;;BA)";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                              nullptr))
        return false;
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    const HANDLE h = CreateFileW(native.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(sd);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok =
        data.isEmpty() || (WriteFile(h, data.constData(), DWORD(data.size()), &written, nullptr) &&
                           written == DWORD(data.size()));
    ok = FlushFileBuffers(h) && ok;
    ok = CloseHandle(h) && ok;
    if (!ok) DeleteFileW(native.c_str());
    return ok;
}

}  // namespace base
