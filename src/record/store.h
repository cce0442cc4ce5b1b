#pragma once
// The sample store: an SQLite file with the ring of sample records (pv_data) and the counter row
// (sl_void). Each owner (the recorder, the main window) has its own connection for its whole life.

#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "record/ring.h"
#include "record/schema.h"
#include "record/sqlitefile.h"

class QSqlError;
class QSqlQuery;

namespace record {

struct Sample {
    int id = 0;                                       // w_id, 1..65500
    double date = 0;                                  // w_date: whole days since 1899-12-30
    double time = 0;                                  // w_time: fraction of a day, whole seconds
    std::array<float, schema::kValueCount> values{};  // LiveValues 0..9 when stored
};

class SampleStore {
  public:
    // Why the last call failed; lastError() gives the same in words.
    enum class Fault {
        None,
        NotOpen,             // the store is not open
        FolderNotCreatable,  // the file's folder is missing and cannot be made
        FileNotCreatable,    // the file is missing and cannot be made
        ReadOnly,            // the file (or its medium) cannot be written
        Locked,              // another connection or program holds the lock
        NotADatabase,        // the file is something else; it is left as it is
        Corrupt,             // the file is a damaged database; it is left as it is
        WrongTables,         // pv_data or sl_void have another shape; they are left as they are
        IdNotUnique,         // pv_data's w_id is not a unique key: the ring could never overwrite
        DiskFull,
        Other,
    };

    // How a commit reaches the disk.
    enum class Commit {
        Fast,    // atomic against a crash of the program; a power cut may take the latest commits
        Synced,  // each commit synced before it returns: survives a power cut too (the recorder's)
    };

    // How open() takes the file.
    enum class Access {
        ReadWrite,  // made where missing, with its folder, tables and counter row
        ReadOnly,   // an existing ring only read: nothing is created or changed (the forwarder)
    };

    // connectionName must be unique per owner. Nothing is opened until open().
    SampleStore(QString path, QString connectionName, Commit commit = Commit::Fast);
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    // Opens the file, creating the folder, the file, the tables and the counter row where missing.
    // A file that is not a database, or cannot be opened or written, is never overwritten or
    // deleted: open() then returns false and lastError() says why (in Chinese, for the status bar).
    bool open(Access access = Access::ReadWrite);
    void close();
    bool isOpen() const;
    QString lastError() const { return lastError_; }
    Fault lastFault() const { return fault_; }
    QString path() const { return path_; }

    // A read transaction: the reads until endRead() see one snapshot of the file.
    bool beginRead();
    void endRead();

    // The read calls set lastFault() to None when they succeed.
    // Column 0 of the counter row; nullopt when it cannot be read or holds no number.
    std::optional<int> readCounter();
    // Writes the sample (overwriting the record with its id, or adding it) and sets both counter
    // columns to its id, in one transaction: either both land or neither.
    bool storeSample(const Sample& s);
    // Stores s as the record after the one the counter row names, reading the counter, writing the
    // sample and setting the counter in one transaction, and sets s.id to that number. When the
    // counter row cannot be read (or the transaction cannot begin), fallbackCounter stands for it,
    // so s.id still advances by one.
    bool storeNextSample(Sample& s, int fallbackCounter);
    // Records with first <= w_id <= last (first <= last), ordered by w_date, w_time.
    std::vector<Sample> loadBetween(int first, int last);
    // Records outside first..last, ordered by w_date, w_time (a window across the ring's wrap).
    std::vector<Sample> loadNotBetween(int first, int last);
    // The records at `count` ring places from `first` on, in ring order (wrapping after the last
    // place); empty places are left out. nullopt when they cannot be read.
    std::optional<std::vector<Sample>> loadPlaces(int first, int count);
    // One record by number, nullopt when there is none.
    std::optional<Sample> loadRecord(int id);

  private:
    QString path_;
    Commit commit_;
    SqliteFile file_;
    QString lastError_;
    bool open_ = false;
    Fault fault_ = Fault::None;

    struct Connection;
    std::unique_ptr<Connection> conn_;

    bool fail(Fault f);
    bool failFromSql(const QSqlError& e, Fault fallback);
    bool inspectTables(QStringList* pvColumns, QStringList* counterColumns);
    bool checkShapes(const QStringList& pvColumns, const QStringList& counterColumns);
    bool createTablesAndPrepare(const QStringList& pvColumns, QStringList counterColumns);
    bool prepareStatements(const QStringList& counterColumns);
    bool readable();
    bool idIsUniqueKey(const QStringList& pvColumns, bool* unique);
    std::optional<int> counterFrom(QSqlQuery& q);
    bool writeInTransaction(const Sample& s);
    std::vector<Sample> loadWindow(QSqlQuery& q, int first, int last);
};

// The operator's words for a fault of a database file; the event log uses them too, so that the
// status line reads the same whichever store met the file.
QString faultText(SampleStore::Fault f);

}  // namespace record
