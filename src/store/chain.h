#pragma once
// Tamper evidence over what the file keeps: a hash chain over the event rows and one over the
// archived hours of samples. Each event row carries SHA-256(previous row's hash || its own
// content); each hour of the archive a row in archive_hours with the count and the sum (modulo
// 2^256) of its seconds' SHA-256, hashed together with the previous hour's hash. The sum does not
// depend on the order the seconds came in, so a clock set back inside an hour changes nothing.
// Retention keeps an anchor (chain_anchor) so that what remains still starts from a known value.
// Rows stored before the chains have no hash; a chain starts at its first hashed row.
//
// Once this program has chained a file, the file says so (chain_state, and a mark in the file's
// header): where each chain began, the newest row or hour it reached and that one's hash, each
// row sealed. A file that says it is chained never verifies with a chain missing, rows without
// hash from where it began, or a head short of the one recorded. Anchors that retention leaves
// are named by a chained event row written with them; an anchor past the chain's beginning that
// no such row names hides a removal and is not trusted.
//
// Without a key the chains carry no secret: they show changes made beside the program (a database
// tool, a disk fault), not those of someone who also recomputes every hash. A writer holding the
// service's key (chainkey.h) links with HMAC-SHA-256 under it instead, from a row or hour on that
// the file records per chain (chain_keyed): the rows before it verify as plain SHA-256, those
// from it only with the key.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "store/database.h"

namespace store {

class RawQuery;

namespace chain {

inline constexpr int kHashSize = 32;
inline constexpr int64_t kHourSeconds = 3600;

// The starting value of a chain without anchor: 32 zero bytes.
QByteArray zeroHash();

// The event log's columns that a row's hash covers, with whether each holds an integer or text.
// A column absent from a row (NULL, or empty text) is not serialized, so that columns added later
// join the content of new rows without changing that of the rows hashed before them.
struct Field {
    const char* name;
    bool integer;
};
const std::vector<Field>& eventFields();
// The row's content: a version byte, then for each present field its name and its value, each
// length-prefixed. values: in the order of eventFields().
QByteArray eventContent(const QVariantList& values);
// key: empty for a plain SHA-256 link, else the HMAC-SHA-256 under it.
QByteArray link(const QByteArray& previous, const QByteArray& content,
                const QByteArray& key = QByteArray());

// One archived second: its UTC second and its ten values as stored (NULL, integer or real).
struct StoredValue {
    enum Kind : char { Null = 0, Integer = 1, Real = 2 } kind = Null;
    int64_t integer = 0;
    double real = 0;
};
QByteArray secondDigest(int64_t t, const StoredValue* values, int count);
// The digest of the archive's row a query stands on (SELECT * FROM archive).
QByteArray archivedRowDigest(const RawQuery& row);
StoredValue storedValueOf(const QVariant& bound);
// sum += digest, both 32 bytes, big-endian, modulo 2^256.
void addDigest(QByteArray* sum, const QByteArray& digest);
void subtractDigest(QByteArray* sum, const QByteArray& digest);
// The hour's hash: previous hour's hash, the hour (UTC seconds / 3600), its count and its sum.
QByteArray hourHash(const QByteArray& previous, int64_t hour, int64_t count, const QByteArray& sum,
                    const QByteArray& key = QByteArray());

// From which event id or hour on the chain's links are keyed; nullopt inside: nowhere. nullopt
// with db's fault on a read error.
std::optional<std::optional<int64_t>> keyedFrom(Database& db, const QString& chain);
// Inside the caller's transaction, for a writer about to link the chain's row or hour `at`: the
// key to link it with (empty: plain SHA-256). A writer holding the key starts the keyed part of a
// chain that has none at `at`. nullopt with db's fault.
std::optional<QByteArray> linkKey(Database& db, const QString& chain, int64_t at);

inline int64_t hourOf(int64_t t) {
    return t >= 0 ? t / kHourSeconds : -((-t + kHourSeconds - 1) / kHourSeconds);
}

inline const QString kEventsChain = QStringLiteral("events");
inline const QString kHoursChain = QStringLiteral("hours");
// The stale marks join the hours' sums from the hour the file's record names (`first`): each
// archived second a stale mark covers adds staleDigest(t) to its hour's sum.
inline const QString kStaleChain = QStringLiteral("stale");
// The runs table is sealed whole: the record keeps the digest of its rows as the last write left
// them.
inline const QString kRunsSeal = QStringLiteral("runs");
// The digest of a table's rows in rowid order, each value with its type; of no rows where the
// table is missing. nullopt with db's fault.
std::optional<QByteArray> tableDigest(Database& db, const QString& table);
// Inside the caller's transaction, after a write to the table: the record takes its digest now,
// where it held the one from before the write (`before`); a table changed beside the program
// keeps the record's older digest.
bool seal(Database& db, const QString& table, const QByteArray& before);
QByteArray staleDigest(int64_t t);

// Where retention removed rows, what the row after them links to: `at` the id of that event row
// (one anchor per removed stretch, as rows a clock set back made older go out of order), or the
// first hour kept (one anchor); hash the value it links to. For an event row, count names the row
// kept before the removed ones (0: none); for the hours, count and sum are those of the seconds
// removed from hour `at` when the cut fell inside it.
struct Anchor {
    int64_t at = 0;
    QByteArray hash;
    int64_t count = 0;
    QByteArray sum;
};
// Makes the anchors' table where missing (a writable file).
bool makeAnchorTable(Database& db);
// The chain's anchors by `at`; nullopt with db's fault on a read error.
std::optional<std::map<int64_t, Anchor>> anchors(Database& db, const QString& chain);
// The one with the highest `at`: an Anchor with an empty hash when there is none.
std::optional<Anchor> anchor(Database& db, const QString& chain);
// Adds (or replaces) the anchor at a.at; replaceAll: the chain's others go.
bool setAnchor(Database& db, const QString& chain, const Anchor& a, bool replaceAll);
// An anchor as the row that names it writes it (its chain, place, hashes and count).
QString anchorName(const QString& chain, const Anchor& a);
// The event row that names the anchors retention left: [anchorName()...].
inline const QString kAnchorsCode = QStringLiteral("chain.anchors");
// The names of every anchor the file holds, of both chains; nullopt with db's fault.
std::optional<QStringList> anchorNames(Database& db);

// The file's record of a chain: where it began (`first`: an event id or an hour; none while the
// chain has not begun) and the newest row or hour it reached, with that one's hash.
struct State {
    std::optional<int64_t> first;
    int64_t last = 0;
    QByteArray hash;
    QByteArray seal;
};
// The value of the file header's application_id once the file's chains are recorded.
inline constexpr int kChainedMark = 0x766d6331;
// The record's seal of a chain's state: SHA-256, or HMAC-SHA-256 under the key in a file whose
// links are keyed (from the moment its first keyed link is written, every seal is keyed).
QByteArray stateSeal(const QString& chain, const State& s, const QByteArray& key = QByteArray());
// The chain's record; an empty State when the file has none. nullopt with db's fault.
std::optional<State> state(Database& db, const QString& chain);
// Inside the caller's transaction: the chain reached `last` with `hash` from `head` (the newest
// row or hour before, and its hash, as the writer linked from them). The record moves on only
// where it stood at that head (or at a row still holding the hash it names): a file whose
// chain was cut keeps saying how far it reached. firstIfNew: where the chain begins when it has
// not yet. Makes the record where missing.
bool advance(Database& db, const QString& chain, int64_t firstIfNew, int64_t headLast,
             const QByteArray& headHash, int64_t last, const QByteArray& hash);
// Inside the caller's transaction: where the chain has not begun, it begins at `first`.
bool begin(Database& db, const QString& chain, int64_t first);

}  // namespace chain

// What a verification found.
struct ChainReport {
    bool intact = true;
    int64_t rows = 0;   // event rows looked at
    int64_t hours = 0;  // archived hours looked at
    QString chain;      // the broken chain: "events", "archive" or "runs"
    int64_t at = 0;     // its first changed row: the event id, or the hour's first second (UTC)
    QString why;        // in a few words, for the developer and the command line
    // The file holds less than the service's protected record of its chains (chainheads.h).
    bool behindHeads = false;
    // Keyed chains ("events", "archive") that could not be checked for want of the key: where any
    // is, the file is not called intact, whatever else was found.
    QStringList unchecked;
};

// A roll-up bucket as the seconds it summarises give it (the verifier's own sum).
struct RollupCheck {
    int64_t n = 0, first = 0, last = 0;
    double min[10] = {}, max[10] = {}, sum[10] = {}, magnitude[10] = {};
    bool any[10] = {};
    void add(const RawQuery& row);
};

// Verifies the chains of an open file, step by step so that a background check holds no lock for
// long: each step reads at most a bounded number of rows in one read transaction.
class ChainVerifier {
  public:
    explicit ChainVerifier(Database& db) : db_(db) {}
    // False on a read error (the database's fault says why); done() once every chain was read.
    bool step(int maxRows = 20000);
    bool done() const { return phase_ == Phase::Done; }
    const ChainReport& report() const { return report_; }

  private:
    bool stepEvents(int maxRows);
    bool stepHours(int maxRows);
    void broken(const QString& chain, int64_t at, const QString& why);
    bool readRecord();
    // Whether the record's seal of the chain's state holds; true (noting the record unchecked)
    // where it is keyed and the key cannot be read.
    bool sealHolds(const QString& chain, const chain::State& s);
    bool endEvents();
    bool trusted(const QString& chain, const chain::Anchor& a, const chain::State& s) const;

    enum class Phase { Start, Events, HoursStart, Hours, Done };
    Database& db_;
    Phase phase_ = Phase::Start;
    ChainReport report_;
    QByteArray previous_;
    bool chained_ = false;  // a hashed row was met: every later row must carry one
    int64_t nextId_ = 0;
    int64_t lastId_ = 0;  // the event row met last
    std::map<int64_t, chain::Anchor> eventAnchors_;
    int64_t nextHour_ = 0;
    chain::Anchor hoursAnchor_;
    bool hasHoursTable_ = false;
    // The file's record of its chains (empty States for a file without one).
    bool recorded_ = false;
    chain::State eventsState_, hoursState_, staleState_;
    // Where each chain's keyed links begin, and the key to check them with.
    std::optional<int64_t> eventsKeyed_, hoursKeyed_;
    QByteArray key_;
    // Whether the link of the row or hour `at` checks out; true (noting the chain unchecked)
    // where it is keyed and there is no key.
    bool linkHolds(const QString& chain, const std::optional<int64_t>& keyedFrom, int64_t at,
                   const QByteArray& stored,
                   const std::function<QByteArray(const QByteArray&)>& make);
    bool addStaleMarks(int64_t hour, QByteArray* total);
    std::optional<bool> rollupsMatch(int64_t hour,
                                     const std::map<std::pair<int, int64_t>, RollupCheck>& buckets);
    QStringList named_;                       // anchors named by chained rows
    std::vector<chain::Anchor> usedAnchors_;  // event anchors past the beginning, used
    // Signatures as the chained rows recorded them: subject, meaning, user, name, digest.
    std::multimap<QStringList, int64_t> signedRows_;
    qint64 oldestEventMs_ = -1;  // the oldest event row's moment: rows before it went
};

}  // namespace store
