#pragma once
// One recording program per database: a lock file beside the database (PATH.lock) that names the
// process holding it. A lock left by a program that ended without letting go (a crash, a power
// cut) is taken over: its process no longer runs on this host.

#include <QLockFile>
#include <QString>
#include <memory>

namespace record {

class DatabaseLock {
  public:
    explicit DatabaseLock(QString dbPath);
    ~DatabaseLock();

    // Takes the lock without waiting; true when this program holds it now.
    bool tryLock();
    bool held() const;
    // Why the lock could not be taken, for the status bar and stderr:
    // "数据库 PATH 正由另一个程序记录（进程 N）".
    QString refusalText() const { return refusal_; }

  private:
    QString dbPath_;
    std::unique_ptr<QLockFile> lock_;
    QString refusal_;
};

}  // namespace record
