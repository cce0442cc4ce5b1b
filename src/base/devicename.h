#pragma once
// Windows keeps some names for its devices in every folder: a file named CON, NUL or COM1, with any
// extension, is that device and not a file. Opening a database "com1.db" there opens the serial
// port. Pure, so that it answers the same on every system; the platform files decide where it
// applies.

#include <QString>

namespace base {

// The device a path's last part names on Windows ("COM1" for "D:\data\com1.db", "NUL" for
// "nul.tar.gz"), or an empty string for an ordinary file name. Case, any extension and blanks
// before the extension do not matter, as Windows ignores them; so does a path in the device
// folder ("\\.\COM10").
QString windowsDeviceName(const QString& path);

}  // namespace base
