#include "store/databaselock.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <utility>

namespace record {

DatabaseLock::DatabaseLock(QString dbPath) : dbPath_(std::move(dbPath)) {}

DatabaseLock::~DatabaseLock() = default;

bool DatabaseLock::held() const {
    return lock_ && lock_->isLocked();
}

DatabaseLock::Outcome DatabaseLock::tryLock() {
    if (held()) return Outcome::Held;
    const QFileInfo db(dbPath_);
    QDir().mkpath(db.absolutePath());
    lock_ = std::make_unique<QLockFile>(db.absoluteFilePath() + QStringLiteral(".lock"));
    // Never stale by age: a program may record for months. A lock whose process is gone from
    // this host is stale, and QLockFile takes it over.
    lock_->setStaleLockTime(0);
    refusal_.clear();
    if (lock_->tryLock(0)) return Outcome::Held;
    if (lock_->error() != QLockFile::LockFailedError) return Outcome::Unavailable;
    qint64 pid = 0;
    QString host, app;
    lock_->getLockInfo(&pid, &host, &app);
    refusal_ =
        QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库 %1 正由另一个程序记录（进程 %2%3）"))
            .arg(QDir::toNativeSeparators(db.absoluteFilePath()))
            .arg(pid)
            .arg(host.isEmpty() || host == QSysInfo::machineHostName()
                     ? QString()
                     : QStringLiteral(QT_TRANSLATE_NOOP("velmars", "，主机 %1")).arg(host));
    return Outcome::HeldElsewhere;
}

}  // namespace record
