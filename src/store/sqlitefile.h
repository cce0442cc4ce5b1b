#pragma once
// The one way this program opens a database file through SQLite: a named Qt SQL connection that
// counts the file among the process's open files for as long as it is open.
//
// POSIX record locks belong to the process, and closing any handle on a file drops all of them:
// opening and closing a file that one of our connections holds would silently release that
// connection's locks, and another program could then checkpoint and delete the log we are
// writing into. So a file counted here is never opened by other means.

#include <QPointer>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QString>
#include <functional>

namespace store {

// Database files this process holds open through SQLite, by canonical path, from any thread.
int openFileCount(const QString& canonicalPath);
// Runs look() under the registry's lock when no connection of this process holds the file, so
// that no connection opens it meanwhile; false when one does (look() is not run then).
bool lookIfNotHeld(const QString& canonicalPath, const std::function<void()>& look);

class SqliteFile {
  public:
    // connectionName must be unique among the process's connections. Nothing is opened yet.
    // A connection of that name another owner holds is never replaced nor closed from here: its
    // statements would be left without their driver.
    explicit SqliteFile(QString connectionName);
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    // Opens the file (creating it when it is missing, unless readOnly) and counts it among the
    // open files before any statement runs. busyTimeoutMs: how long a statement waits for a lock
    // another connection holds. On failure error() says why and nothing is left open.
    bool open(const QString& path, bool readOnly, int busyTimeoutMs);
    void close();
    // False too once the connection was removed by other means than close().
    bool isOpen() const { return open_ && !driver_.isNull(); }
    // The connection this file opened; an invalid one while it is not open.
    QSqlDatabase db() const;
    QSqlError error() const { return error_; }

    // A read transaction: every read until endRead() sees one snapshot of the file.
    bool beginRead();
    void endRead();

  private:
    QString connectionName_;
    QString registeredPath_;
    QSqlError error_;
    bool open_ = false;
    // The driver of the connection this file opened: gone once that connection is removed, so
    // that a connection of the same name made since is never taken for this file's.
    QPointer<QSqlDriver> driver_;
};

}  // namespace store
