#pragma once
// The folder a program keeps its settings, databases and local channel in when one is named
// (--data DIR); without one each program keeps its own default.

#include <QString>

namespace base {

// Names the folder for the rest of the run; an empty name goes back to the defaults.
void setDataFolder(const QString& dir);
// The folder named, as an absolute path; empty when none was.
QString givenDataFolder();

// Whether this process is the service that keeps the records under an account of its own (the
// boundary of trust): the records it writes are out of reach of the people they record.
void setKeptByService(bool kept);
bool keptByService();

}  // namespace base
