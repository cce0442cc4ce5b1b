#include "store/sqlitefile.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlQuery>
#include <utility>

namespace store {

namespace {

// Files this process has open through SQLite, with their number of connections. Connections
// open on several threads (the chart's on the UI thread, the recorder's and the event log's on
// their own), so the table is taken under one lock.
QHash<QString, int>& openFiles() {
    static QHash<QString, int> files;
    return files;
}
QMutex& openFilesLock() {
    static QMutex lock;
    return lock;
}

}  // namespace

int openFileCount(const QString& canonicalPath) {
    QMutexLocker hold(&openFilesLock());
    return openFiles().value(canonicalPath);
}

bool lookIfNotHeld(const QString& canonicalPath, const std::function<void()>& look) {
    QMutexLocker hold(&openFilesLock());
    if (openFiles().value(canonicalPath) != 0) return false;
    look();
    return true;
}

SqliteFile::SqliteFile(QString connectionName) : connectionName_(std::move(connectionName)) {}

SqliteFile::~SqliteFile() {
    close();
}

bool SqliteFile::open(const QString& path, bool readOnly, int busyTimeoutMs) {
    close();
    error_ = QSqlError();
    if (QSqlDatabase::contains(connectionName_)) {
        // Another owner's: adding ours would remove it under that owner's statements.
        error_ = QSqlError(QStringLiteral("connection name in use"), connectionName_,
                           QSqlError::ConnectionError);
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
        db.setDatabaseName(path);
        QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs);
        if (readOnly) options += QStringLiteral(";QSQLITE_OPEN_READONLY");
        db.setConnectOptions(options);
        if (!db.open()) {
            error_ = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connectionName_);
            return false;
        }
        driver_ = db.driver();
    }
    open_ = true;
    // Counted before the first statement takes a lock on the file.
    registeredPath_ = QFileInfo(path).canonicalFilePath();
    if (!registeredPath_.isEmpty()) {
        QMutexLocker hold(&openFilesLock());
        ++openFiles()[registeredPath_];
    }
    return true;
}

void SqliteFile::close() {
    // Only the connection this file opened, while it is there: a name that another owner holds
    // now stays theirs.
    if (!driver_.isNull()) {
        QSqlDatabase::database(connectionName_, false).close();
        QSqlDatabase::removeDatabase(connectionName_);
    }
    driver_.clear();
    open_ = false;
    if (!registeredPath_.isEmpty()) {
        QMutexLocker hold(&openFilesLock());
        auto& files = openFiles();
        if (--files[registeredPath_] <= 0) files.remove(registeredPath_);
        registeredPath_.clear();
    }
}

QSqlDatabase SqliteFile::db() const {
    if (driver_.isNull()) return QSqlDatabase();
    return QSqlDatabase::database(connectionName_, false);
}

bool SqliteFile::beginRead() {
    QSqlQuery q(db());
    if (q.exec(QStringLiteral("BEGIN"))) return true;
    error_ = q.lastError();
    return false;
}

void SqliteFile::endRead() {
    QSqlQuery(db()).exec(QStringLiteral("COMMIT"));
}

}  // namespace store
