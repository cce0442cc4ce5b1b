#include "store/databaselock.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <utility>

namespace store {

namespace {

// QLockFile names the host by %COMPUTERNAME% on Windows (the upper-case NetBIOS name) and by its
// host name elsewhere; host names know no case.
bool thisHost(const QString& host) {
    return host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0 ||
           (!host.isEmpty() &&
            host.compare(qEnvironmentVariable("COMPUTERNAME"), Qt::CaseInsensitive) == 0);
}

}  // namespace

base::Phrase lockRefusal(const QString& path, const QString& pid, const QString& host) {
    base::Phrase p{
        QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库 %1 正由另一个程序记录（进程 %2%3）")),
        {path, pid}};
    if (host.isEmpty())
        p.values << QString();
    else
        p.parts.push_back({QStringLiteral(QT_TRANSLATE_NOOP("velmars", "，主机 %1")), {host}});
    return p;
}

QStringList lockRefusalValues(const base::Phrase& refusal) {
    if (refusal.values.size() < 2) return {};
    return {refusal.values[0], refusal.values[1],
            refusal.parts.empty() ? QString() : refusal.parts.front().values.value(0)};
}

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
    refusal_ = {};
    if (lock_->tryLock(0)) return Outcome::Held;
    if (lock_->error() != QLockFile::LockFailedError) return Outcome::Unavailable;
    qint64 pid = 0;
    QString host, app;
    lock_->getLockInfo(&pid, &host, &app);
    refusal_ = lockRefusal(QDir::toNativeSeparators(db.absoluteFilePath()), QString::number(pid),
                           thisHost(host) ? QString() : host);
    return Outcome::HeldElsewhere;
}

}  // namespace store
