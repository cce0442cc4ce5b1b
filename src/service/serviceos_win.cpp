#include <windows.h>
// aclapi.h, sddl.h and shlobj.h need windows.h first
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <cstdio>
#include <future>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "service/serviceos.h"

namespace service::os {

namespace {

// The name the service is installed under, and its event source.
const wchar_t kServiceName[] = L"velmars";
// How long the service manager is told a start or a stop may take before it counts as hung.
constexpr DWORD kWaitHintMs = 30000;
// How long a shutdown waits for the service's last commit.
constexpr DWORD kPreshutdownMs = 60000;
// After a failure: restarted after 5 s twice, then after a minute; the count starts again after a
// day without failures.
constexpr DWORD kRestartDelaysMs[] = {5000, 5000, 60000};
constexpr DWORD kFailureCountResetS = 24 * 3600;
// The data folder: the system, administrators and the service's account (Local Service) change
// it, users read it; nothing is inherited from ProgramData, where every user may create files.
const wchar_t kDataFolderAcl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;LS)(A;OICI;FRFX;;;BU)";

struct Manager {
    std::mutex lock;
    SERVICE_STATUS_HANDLE handle = nullptr;  // set while running as a service
    SERVICE_STATUS status{};
    HANDLE finished = nullptr;  // set when the program's body has returned
    int exitCode = 0;
    QPointer<QObject> context;
    std::function<void()> stop;
};

Manager& manager() {
    static Manager m;
    return m;
}

bool asService() {
    std::lock_guard<std::mutex> hold(manager().lock);
    return manager().handle != nullptr;
}

void setState(DWORD state, DWORD exitCode = NO_ERROR, DWORD specific = 0) {
    Manager& m = manager();
    std::lock_guard<std::mutex> hold(m.lock);
    if (!m.handle) return;
    m.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m.status.dwCurrentState = state;
    m.status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN : 0;
    m.status.dwWin32ExitCode = exitCode;
    m.status.dwServiceSpecificExitCode = specific;
    m.status.dwWaitHint =
        state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? kWaitHintMs : 0;
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
        ++m.status.dwCheckPoint;
    else
        m.status.dwCheckPoint = 0;
    SetServiceStatus(m.handle, &m.status);
}

// The stop asked for, run on the main thread.
void requestStop() {
    Manager& m = manager();
    std::lock_guard<std::mutex> hold(m.lock);
    if (!m.context || !m.stop) return;
    QMetaObject::invokeMethod(m.context.data(), m.stop, Qt::QueuedConnection);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    switch (code) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_PRESHUTDOWN:
            setState(SERVICE_STOP_PENDING);
            requestStop();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

BOOL WINAPI consoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT &&
        type != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    requestStop();
    return TRUE;
}

std::promise<bool>* startedAs = nullptr;

// Runs on the service manager's thread: the program's body runs on the main thread meanwhile.
void WINAPI serviceMain(DWORD, LPWSTR*) {
    Manager& m = manager();
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kServiceName, control, nullptr);
    {
        std::lock_guard<std::mutex> hold(m.lock);
        m.handle = handle;
    }
    setState(SERVICE_START_PENDING);
    startedAs->set_value(handle != nullptr);
    if (!handle) return;
    WaitForSingleObject(m.finished, INFINITE);
    const int code = m.exitCode;
    setState(SERVICE_STOPPED, code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR,
             static_cast<DWORD>(code));
}

void toEventLog(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    static HANDLE source = RegisterEventSourceW(nullptr, kServiceName);
    if (!source) return;
    const WORD kind = type == QtCriticalMsg || type == QtFatalMsg ? EVENTLOG_ERROR_TYPE
                      : type == QtWarningMsg                      ? EVENTLOG_WARNING_TYPE
                                                                  : EVENTLOG_INFORMATION_TYPE;
    const QString line = context.category && qstrcmp(context.category, "default") != 0
                             ? QString::fromLatin1(context.category) + QStringLiteral(": ") + text
                             : text;
    const std::wstring wide = line.toStdWString();
    const wchar_t* strings[] = {wide.c_str()};
    ReportEventW(source, kind, 0, 0, nullptr, 1, 0, strings, nullptr);
}

}  // namespace

QString defaultDataFolder() {
    // The system's own answer, not the environment's: a service and the installer see different
    // environments, and %ProgramData% may be missing or point elsewhere in either.
    wchar_t path[MAX_PATH] = {};
    QString programData = SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path) == S_OK
                              ? QString::fromWCharArray(path)
                              : qEnvironmentVariable("ProgramData");
    if (programData.isEmpty()) programData = QStringLiteral("C:\\ProgramData");
    return QDir(QDir::fromNativeSeparators(programData)).filePath(QStringLiteral("velmars"));
}

void routeMessages() {
    // Where standard error leads somewhere (a console, a pipe, a file) the messages go there;
    // a service has none, and its messages go to the event log.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN) {
        if (qEnvironmentVariableIsEmpty("QT_FORCE_STDERR_LOGGING"))
            qputenv("QT_FORCE_STDERR_LOGGING", "1");
        qSetMessagePattern(QStringLiteral("%{if-category}%{category}: %{endif}%{message}"));
        return;
    }
    qInstallMessageHandler(toEventLog);
}

bool tellManager(const QByteArray& message) {
    if (!asService()) return false;
    for (const QByteArray& line : message.split('\n')) {
        if (line == "READY=1")
            setState(SERVICE_RUNNING);
        else if (line == "STOPPING=1")
            setState(SERVICE_STOP_PENDING);
        else if (line.startsWith("STATUS="))
            qInfo("%s", line.mid(7).constData());
    }
    return true;
}

qint64 watchdogUsec() {
    // The service manager has no watchdog: recovery restarts the service when it fails.
    return 0;
}

void onStopRequest(QObject* context, std::function<void()> stop) {
    Manager& m = manager();
    {
        std::lock_guard<std::mutex> hold(m.lock);
        m.context = context;
        m.stop = std::move(stop);
    }
    SetConsoleCtrlHandler(consoleControl, TRUE);
}

QString channelName(const QString& dataFolder) {
    // A pipe of the folder's own, so that services on other folders do not meet.
    const QByteArray folder = QDir::cleanPath(dataFolder).toLower().toUtf8();
    return QStringLiteral("velmars-") +
           QString::fromLatin1(
               QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16));
}

bool listenChannel(QLocalServer& server, const QString& dataFolder, QString* why) {
    // Every user of this computer may connect; the service decides what each may do.
    const QString name = channelName(dataFolder);
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(name)) {
        if (why) *why = QStringLiteral("%1: %2").arg(name, server.errorString());
        return false;
    }
    return true;
}

bool fromAnotherComputer(const QLocalSocket& socket) {
    // The system names the client's computer only for a remote client; for a local one the call
    // fails (ERROR_PIPE_LOCAL).
    wchar_t name[256] = {};
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    return pipe && pipe != INVALID_HANDLE_VALUE &&
           GetNamedPipeClientComputerNameW(pipe, name, sizeof name);
}

QString peerOf(const QLocalSocket& socket) {
    // The client's process, from the pipe's handle; its account is the process's.
    ULONG pid = 0;
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    if (pipe && pipe != INVALID_HANDLE_VALUE && GetNamedPipeClientProcessId(pipe, &pid))
        return QStringLiteral("pid %1").arg(pid);
    return QStringLiteral("unknown");
}

int runAsService(const std::function<int()>& body) {
    Manager& m = manager();
    m.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::promise<bool> started;
    startedAs = &started;
    std::future<bool> asServiceFuture = started.get_future();
    // The service manager's dispatcher keeps its thread until the service has stopped; started
    // from a console it answers at once that there is no service manager to talk to.
    std::thread dispatcher([&started] {
        static SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), serviceMain},
                                               {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table)) started.set_value(false);
    });
    if (!asServiceFuture.get()) {
        dispatcher.join();
        return body();
    }
    const int code = body();
    m.exitCode = code;
    SetEvent(m.finished);
    dispatcher.join();
    return code;
}

void restrictNewFiles() {
    // The data folder's ACL, set by the installer, decides who reads what is made there.
}

int configureInstalledService() {
    const auto fail = [](const char* what) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "velmars-service: %s failed (error %lu)\n", what, error);
        // The installer shows no console: the code is the process's exit code too.
        return error > 1 ? int(error) : 1;
    };
    // The data folder first: it needs nothing of the service manager.
    const QString folder = QDir::toNativeSeparators(defaultDataFolder());
    if (!QDir().mkpath(QDir::fromNativeSeparators(folder))) {
        std::fprintf(stderr, "velmars-service: cannot make %s\n", qUtf8Printable(folder));
        return 1;
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kDataFolderAcl, SDDL_REVISION_1, &sd,
                                                              nullptr))
        return fail("reading the data folder's ACL");
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    std::wstring path = folder.toStdWString();
    const DWORD set =
        SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
    LocalFree(sd);
    if (set != ERROR_SUCCESS) {
        SetLastError(set);
        return fail("setting the data folder's ACL");
    }
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm) return fail("OpenSCManager");
    SC_HANDLE svc = OpenServiceW(scm, kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START);
    // The installer may still be registering it.
    for (int tries = 0; !svc && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST && tries < 50;
         ++tries) {
        Sleep(100);
        svc = OpenServiceW(scm, kServiceName, SERVICE_CHANGE_CONFIG | SERVICE_START);
    }
    if (!svc) {
        CloseServiceHandle(scm);
        return fail("OpenService");
    }
    SC_ACTION actions[std::size(kRestartDelaysMs)];
    for (size_t i = 0; i < std::size(kRestartDelaysMs); ++i)
        actions[i] = {SC_ACTION_RESTART, kRestartDelaysMs[i]};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = kFailureCountResetS;
    failure.cActions = DWORD(std::size(actions));
    failure.lpsaActions = actions;
    // An exit with an error code counts as a failure too, not only a crash.
    SERVICE_FAILURE_ACTIONS_FLAG onErrors{TRUE};
    SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownMs};
    int code = 0;
    if (!ChangeServiceConfig2W(svc, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
        code = fail("setting the restarts");
    else if (!ChangeServiceConfig2W(svc, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrors) &&
             GetLastError() != ERROR_INVALID_LEVEL)
        code = fail("setting the restarts on errors");
    // A service manager without that level (Wine's) restarts after crashes only.
    else if (!ChangeServiceConfig2W(svc, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown))
        code = fail("setting the time at shutdown");
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return code;
}

}  // namespace service::os
