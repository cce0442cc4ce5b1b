#pragma once
// What the program's shell needs of the operating system: the one file of this folder that differs
// between platforms.

#include <QString>
#include <QStringList>

namespace shell::os {

// Sends Qt's messages (the developer's logging categories) to standard error wherever that leads
// somewhere, a pipe or a file as well as a terminal. Called before the first message.
void messagesToStandardError();

// Places the settings file in the user's folder for them before any is read: on POSIX systems Qt
// follows XDG_CONFIG_HOME; on Windows the folder is %APPDATA% as the environment names it.
void placeSettings();

// Files and folders the program makes from now on (databases, their journals, exports, reports,
// settings) are not readable by every user of the PC: at most by the owner's group. On Windows the
// user's own profile folder already keeps others out.
void restrictNewFiles();

// The folder the database goes into when no --db names one (it may not exist yet). Needs the
// application's and organisation's names set.
QString dataFolder();

// Makes standard output carry bytes as written (an export to "-"); Windows' C runtime would
// otherwise turn every line feed into a carriage return and a line feed.
void binaryStandardOutput();

// Called once the program has ended its threads, closed its files and destroyed the application:
// returns the exit code for main to return, or ends the process with it where leaving the ordinary
// way is unsafe.
int endProcess(int code);

// The device that a file path given by the user names instead of a file ("COM1" for
// "D:\com1.db" on Windows), or an empty string where it names a file.
QString deviceFileName(const QString& path);

// Switches off (or back on) the echo of the terminal that standard input is, so a password typed
// there stays unseen; false when standard input is no terminal (a pipe, a file).
bool echoInput(bool on);

}  // namespace shell::os
