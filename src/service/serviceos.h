#pragma once
// What the service needs of the operating system and its service manager: the one file of this
// folder that differs between platforms.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class QLocalServer;
class QLocalSocket;
class QObject;

namespace service::os {

// The folder of the settings, the databases and the local channel when --data names none: the
// machine's own, not a user's.
QString defaultDataFolder();

// Sends Qt's messages (the logging categories) where a service's messages belong: standard
// error, which the service manager keeps in its journal; the system's event log where there is
// no console to read them.
void routeMessages();

// Tells the service manager the lines of message ("READY=1", "STATUS=...", "WATCHDOG=1",
// "STOPPING=1"). False when no manager listens or it could not be told.
bool tellManager(const QByteArray& message);

// The watchdog interval the service manager asks for, in microseconds; 0 when it asks for none.
qint64 watchdogUsec();

// Calls stop on context's thread (the main thread) once the system asks the program to end:
// SIGTERM or SIGINT, the service manager's stop or shutdown, Ctrl+C in a console.
void onStopRequest(QObject* context, std::function<void()> stop);

// Runs body (which runs the event loop) as a service of the service manager when it started the
// program, else as a program in its console. Returns body's exit code.
int runAsService(const std::function<int()>& body);

// The local channel of the data folder, as QLocalServer and QLocalSocket name it.
QString channelName(const QString& dataFolder);

// Listens on the local channel of the data folder, reachable by this computer's users only: the
// socket DIR/velmars.sock, read and written by the service's account and its group (0660); on
// Windows a named pipe of its own for the folder. A channel left behind by a service that ended
// without closing it is taken over. False with why when it cannot.
bool listenChannel(QLocalServer& server, const QString& dataFolder, QString* why);

// The account of the process at the other end of a channel's connection, as the system tells it
// ("uid 1000 pid 4242" on Linux, "pid 4242" on Windows); "unknown" when it does not.
QString peerOf(const QLocalSocket& socket);
// A connection from another computer (a named pipe reached over the network): the channel is
// this computer's users' only. Never on a Unix socket.
bool fromAnotherComputer(const QLocalSocket& socket);

// Files made from now on are at most readable by the owner's group.
void restrictNewFiles();

// What the installer asks of the installed service once it was registered (Windows): restarts
// after a failure, time at shutdown for the last commit, and the data folder written by the
// service and administrators, read by users. 0 when done; otherwise why on standard error and 1;
// 2 where the service manager has nothing to configure.
int configureInstalledService();

}  // namespace service::os
