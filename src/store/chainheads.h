#pragma once
// The service's own record of how far each chain of each file it writes has reached: the newest
// row or hour and its hash, kept in its data folder where only its account may write. A file that
// holds less (its newest rows deleted, a table dropped, an older copy put back) is found against
// it. The record is taken after each commit, so it may lag the file (a kill between the two) but
// never lead it: a file longer than its record is fine.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace store {

class Database;

namespace chain {

// Where a chain stood: its newest event id or hour, the count of that hour's seconds (hours), its
// hash, and from where its links are keyed.
struct Head {
    int64_t last = 0;
    int64_t n = 0;
    QByteArray hash;
    std::optional<int64_t> keyedFrom;
    bool operator==(const Head&) const = default;
};
// By chain ("events", "hours").
using Heads = std::map<QString, Head>;

// The record's file in a data folder.
QString headsPath(const QString& dir);

class HeadStore {
  public:
    ~HeadStore();
    // The service's: made (private to its account) where missing. Null where it cannot be.
    static std::unique_ptr<HeadStore> openToWrite(const QString& dir);
    // A reader's (--verify): null where there is none or it cannot be read.
    static std::unique_ptr<HeadStore> openToRead(const QString& dir);

    // The heads recorded for the file; empty when there are none. nullopt on a read error.
    std::optional<Heads> heads(const QString& file);
    // After a commit of db: the chains' new heads, where the file still holds those recorded
    // (a file found shorter keeps its record as it was, so that every check finds it so).
    void advance(Database& db, const Heads& reached);

  private:
    struct File;  // the SQLite file's connection
    explicit HeadStore(std::unique_ptr<File> file);
    bool put(const QString& file, const QString& chain, const Head& h);
    std::unique_ptr<File> file_;
    std::mutex lock_;
    std::map<QString, Heads> cache_;
};

// The process's record, where it keeps one (the service); null: none.
void setHeadStore(HeadStore* store);
HeadStore* headStore();

// The name a file is recorded under.
QString recordedName(const QString& path);

// Whether the file holds every head recorded: nullopt where it does, else the chain and the row
// or hour (as ChainReport::at gives it) it falls short of. Inside the caller's read; a read error
// sets db's fault and reads as holding.
std::optional<std::pair<QString, int64_t>> shortOf(Database& db, const Heads& heads);

// Called by a transaction that committed: hands the heads it reached to the process's record.
void committed(Database& db);

}  // namespace chain
}  // namespace store
