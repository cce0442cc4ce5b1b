#pragma once
// One recording program per database: a lock file beside the database (PATH.lock) that names the
// process holding it. A lock left by a program that ended without letting go (a crash, a power
// cut) is taken over: its process no longer runs on this host.

#include <QLockFile>
#include <QString>
#include <memory>

#include "base/tr.h"

namespace store {

// Why a database is not recorded into: the file, the process that records into it and that
// process's host where it is another machine (empty otherwise).
base::Phrase lockRefusal(const QString& path, const QString& pid, const QString& host);
// The values a refusal was made of, in lockRefusal's order (as the event log keeps them).
QStringList lockRefusalValues(const base::Phrase& refusal);

class DatabaseLock {
  public:
    explicit DatabaseLock(QString dbPath);
    ~DatabaseLock();

    enum class Outcome {
        Held,           // this program holds it now
        HeldElsewhere,  // another running program holds it
        Unavailable,    // no lock file can be made (its folder is missing or not writable):
                        // the database cannot be recorded into either, and the recorder says why
    };
    // Takes the lock without waiting.
    Outcome tryLock();
    bool held() const;
    // Why the lock is held elsewhere, for the status bar and stderr:
    // "数据库 PATH 正由另一个程序记录（进程 N）".
    base::Phrase refusal() const { return refusal_; }

  private:
    QString dbPath_;
    std::unique_ptr<QLockFile> lock_;
    base::Phrase refusal_;
};

}  // namespace store
