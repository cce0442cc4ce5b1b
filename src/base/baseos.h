#pragma once
// What every program of the project needs of the operating system alike: the one file of this
// folder that differs between platforms.

#include <QStringList>

namespace base {

// The arguments after the program's name, as the user typed them. On Windows argv holds them in
// the ANSI code page, which cannot carry Chinese on most systems; the wide command line can.
QStringList arguments(int argc, char** argv);

// Lets the calling thread yield to the program's others when the processor is short: for threads
// that serve onlookers (the web server's), never the chambers' or the lines'.
void lowerThisThreadsPriority();

// Whether this process's account may change the file at path or replace it in its folder: such
// records are in that account's hands, whatever the program itself allows.
bool writableByThisAccount(const QString& path);

// Keeps Qt's regular expressions from making anything that lives until its thread ends: where the
// C++ runtime ends a thread's thread_local objects after freeing their storage (MinGW), each
// thread that matched a pattern and then ended corrupted the heap. Runs before main (tr.cpp).
void keepRegexStateOffThreads();

// Makes a new file at path that only this process's account (and, on Windows, SYSTEM and the
// Administrators) may read or write, so made before a byte goes in, then writes data and syncs it.
// False, with nothing left behind, when the file exists already or cannot be made or written.
bool createPrivateFile(const QString& path, const QByteArray& data);

}  // namespace base
