#pragma once
// The database layer every store of the sample file stands on: the file and how it is taken
// (made where missing, joined, or only read), the checks that leave a file that is not ours
// exactly as it is, the faults in the operator's words, and a transaction that rolls back unless
// committed.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <utility>

#include "store/chainheads.h"
#include "store/sqlitefile.h"

namespace store {

// Appends the lower-case names of table's columns (none when the file has no such table) through
// q; false when they cannot be read (q's error says why).
bool readColumns(QSqlQuery& q, const QString& table, QStringList* names);

// Why the last call of a store failed; faultText() gives the same in words.
enum class Fault {
    None,
    NotOpen,             // the store is not open
    Missing,             // the file is not there, and this store does not make it
    FolderNotCreatable,  // the file's folder is missing and cannot be made
    FileNotCreatable,    // the file is missing and cannot be made
    ReadOnly,            // the file (or its medium) cannot be written
    Locked,              // another connection or program holds the lock
    NotADatabase,        // the file is something else; it is left as it is
    Corrupt,             // the file is a damaged database; it is left as it is
    WrongTables,         // tables of another shape; they are left as they are
    IdNotUnique,         // pv_data's w_id is not a unique key: the ring could never overwrite
    DiskFull,
    Other,
};

// The operator's words for a fault, the same whichever store met the file.
QString faultText(Fault f);
// The fault an SQLite error stands for; fallback for the ones that name no cause.
Fault faultOf(const QSqlError& e, Fault fallback);

// Whether the user has marked the file read-only; such a file is left alone even where the
// process could override the mark (as the superuser can).
bool isReadOnlyFile(const QString& path);

// How a store takes its file.
enum class FileAccess {
    Create,    // read and written; the file and its folder are made where missing
    Existing,  // read and written, but a missing file is not made (one that others make)
    ReadOnly,  // an existing file, only read: nothing is made or changed
};

class Database {
  public:
    // connectionName must be unique among the process's connections. Nothing is opened yet.
    Database(QString path, QString connectionName);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the file after the checks that keep a file we must not write unchanged: a path that
    // is no plain file, a file marked read-only (also for a user whom the mark does not stop), a
    // file that does not start as an SQLite database. busyTimeoutMs: how long a statement waits
    // for a lock another connection holds. On failure fault() says why and nothing is open.
    bool open(FileAccess access, int busyTimeoutMs);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    bool readOnly() const { return access_ == FileAccess::ReadOnly; }
    QSqlDatabase db() const { return file_.db(); }
    QString path() const { return path_; }

    Fault fault() const { return fault_; }
    QString lastError() const { return faultText(fault_); }
    // Sets the fault and returns false, so that a failing step reads `return fail(...)`.
    bool fail(Fault f);
    // The fault of an SQLite error (logged for the developer), fallback where it names no cause.
    bool failFromSql(const QSqlError& e, Fault fallback = Fault::Other);
    // None again, and true: a call that succeeds clears the last one's fault.
    bool succeed();
    // NotOpen while the file is closed, else clears the fault.
    bool ready();

    // The column names of a table, lower case; none when the table is missing.
    bool columns(const QString& table, QStringList* names);
    bool hasTable(const QString& table);
    // Switches the file to WAL so that readers and the writers work side by side; synced: every
    // commit reaches the disk before it returns (survives a power cut, at one sync a commit).
    bool useWal(bool synced);
    void setBusyTimeout(int ms);

    // A read transaction: every read until endRead() sees one snapshot of the file.
    bool beginRead();
    void endRead();

    // The chains' heads the open transaction reached (chain.h), for the record taken once it
    // commits (chainheads.h).
    void noteHead(const QString& chain, const chain::Head& head) { heads_[chain] = head; }
    chain::Heads takeHeads() { return std::exchange(heads_, {}); }

    // The keyed points of the file's chains this connection has found (chain.cpp). A file's
    // points only ever appear, so one found holds until the connection closes or the
    // transaction that may have made it rolls back.
    struct KeyedSeen {
        bool file = false;                // some chain is keyed
        std::map<QString, int64_t> from;  // by chain: its first keyed link
    };
    KeyedSeen& keyedSeen() { return keyedSeen_; }
    void forgetKeyed() { keyedSeen_ = {}; }

  private:
    QString path_;
    chain::Heads heads_;
    KeyedSeen keyedSeen_;
    SqliteFile file_;
    FileAccess access_ = FileAccess::Create;
    Fault fault_ = Fault::None;
};

// A write transaction, begun at once (taking the write lock) and rolled back when it goes out of
// scope uncommitted. Statements run through the database's own connection.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Whether the transaction began; the database's fault says why not.
    bool ok() const { return open_; }
    // Commits; false (rolled back, with the database's fault) when the commit fails.
    bool commit();
    // Rolls back now, keeping the database's fault as the failed step left it.
    void rollback();

  private:
    Database& db_;
    bool open_ = false;
};

}  // namespace store
