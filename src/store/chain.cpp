#include "store/chain.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "store/archive.h"
#include "store/chainheads.h"
#include "store/chainkey.h"
#include "store/rawquery.h"
#include "store/schema.h"

namespace store {

namespace {
// The event row a signature is stored with: [subject, meaning, user id, full name, digest].
const QString kSignedCode = QStringLiteral("report.signed");
}  // namespace

namespace chain {

namespace {

constexpr char kEventVersion = 1;
constexpr char kSecondVersion = 1;

void putInt(QByteArray* out, int64_t v) {
    char b[8];
    qToBigEndian<qint64>(v, b);
    out->append(b, 8);
}

void putBytes(QByteArray* out, const QByteArray& bytes) {
    putInt(out, bytes.size());
    out->append(bytes);
}

QByteArray sha256(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

}  // namespace

QByteArray zeroHash() {
    return QByteArray(kHashSize, '\0');
}

const std::vector<Field>& eventFields() {
    static const std::vector<Field> fields = {
        {"id", true},
        {"at", false},
        {"kind", false},
        {"text", false},
        {"reg", true},
        {"value", true},
        {"status", true},
        {"code", false},
        {"args", false},
        {"at_ms", true},
        // The audit trail's columns, added later: absent in the rows hashed before them.
        {"user_id", false},
        {"old_value", false},
        {"new_value", false},
        {"reason", false},
        {"utc_offset", true},
    };
    return fields;
}

QByteArray eventContent(const QVariantList& values) {
    QByteArray out(1, kEventVersion);
    const auto& fields = eventFields();
    for (size_t i = 0; i < fields.size() && i < size_t(values.size()); ++i) {
        const QVariant& v = values[qsizetype(i)];
        if (v.isNull()) continue;
        QByteArray value;
        if (fields[i].integer) {
            putInt(&value, v.toLongLong());
        } else {
            const QString text = v.toString();
            if (text.isEmpty()) continue;
            value = text.toUtf8();
        }
        putBytes(&out, QByteArray(fields[i].name));
        putBytes(&out, value);
    }
    return out;
}

QByteArray link(const QByteArray& previous, const QByteArray& content, const QByteArray& key) {
    return key.isEmpty() ? sha256(previous + content) : mac(key, previous + content);
}

StoredValue storedValueOf(const QVariant& bound) {
    StoredValue v;
    if (bound.isNull()) return v;
    if (bound.typeId() == QMetaType::LongLong || bound.typeId() == QMetaType::Int) {
        v.kind = StoredValue::Integer;
        v.integer = bound.toLongLong();
        return v;
    }
    v.real = bound.toDouble();
    // SQLite keeps a NaN as NULL.
    v.kind = std::isnan(v.real) ? StoredValue::Null : StoredValue::Real;
    return v;
}

QByteArray secondDigest(int64_t t, const StoredValue* values, int count) {
    QByteArray out(1, kSecondVersion);
    putInt(&out, t);
    for (int i = 0; i < count; ++i) {
        out.append(values[i].kind);
        if (values[i].kind == StoredValue::Integer) {
            putInt(&out, values[i].integer);
        } else if (values[i].kind == StoredValue::Real) {
            int64_t bits = 0;
            std::memcpy(&bits, &values[i].real, sizeof bits);
            putInt(&out, bits);
        }
    }
    return sha256(out);
}

QByteArray archivedRowDigest(const RawQuery& row) {
    StoredValue v[schema::kValueCount];
    for (int c = 0; c < schema::kValueCount; ++c) {
        if (row.isNull(2 + c)) continue;
        v[c].kind = row.isInteger(2 + c) ? StoredValue::Integer : StoredValue::Real;
        v[c].integer = row.integer(2 + c);
        v[c].real = row.real(2 + c);
    }
    return secondDigest(row.integer(0), v, schema::kValueCount);
}

void addDigest(QByteArray* sum, const QByteArray& digest) {
    if (sum->size() != kHashSize) *sum = zeroHash();
    unsigned carry = 0;
    for (int i = kHashSize - 1; i >= 0; --i) {
        const unsigned s = uchar(sum->at(i)) + uchar(digest.at(i)) + carry;
        (*sum)[i] = char(s & 0xff);
        carry = s >> 8;
    }
}

void subtractDigest(QByteArray* sum, const QByteArray& digest) {
    if (sum->size() != kHashSize) *sum = zeroHash();
    int borrow = 0;
    for (int i = kHashSize - 1; i >= 0; --i) {
        int d = int(uchar(sum->at(i))) - int(uchar(digest.at(i))) - borrow;
        borrow = d < 0;
        (*sum)[i] = char(d & 0xff);
    }
}

QByteArray hourHash(const QByteArray& previous, int64_t hour, int64_t count, const QByteArray& sum,
                    const QByteArray& key) {
    QByteArray out = previous;
    putInt(&out, hour);
    putInt(&out, count);
    out.append(sum);
    return key.isEmpty() ? sha256(out) : mac(key, out);
}

std::optional<std::optional<int64_t>> keyedFrom(Database& db, const QString& chain) {
    if (const auto seen = db.keyedSeen().from.find(chain); seen != db.keyedSeen().from.end())
        return std::optional<int64_t>(seen->second);
    if (!db.hasTable(QStringLiteral("chain_keyed"))) {
        if (db.fault() != Fault::None) return std::nullopt;
        return std::optional<int64_t>();
    }
    QSqlQuery q(db.db());
    q.prepare(QStringLiteral("SELECT first FROM chain_keyed WHERE chain = ?"));
    q.bindValue(0, chain);
    if (!q.exec()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    if (!q.next() || q.value(0).isNull()) return std::optional<int64_t>();
    const int64_t first = q.value(0).toLongLong();
    db.keyedSeen().from[chain] = first;
    db.keyedSeen().file = true;
    return std::optional<int64_t>(first);
}

namespace {
std::optional<bool> fileKeyed(Database& db);
bool putState(Database& db, const QString& chain, const State& s);
}  // namespace

std::optional<QByteArray> linkKey(Database& db, const QString& chain, int64_t at) {
    const QByteArray k = key();
    const auto from = keyedFrom(db, chain);
    if (!from) return std::nullopt;
    if (*from) return at >= **from ? k : QByteArray();
    if (k.isEmpty()) return QByteArray();
    const auto wasKeyed = fileKeyed(db);
    if (!wasKeyed) return std::nullopt;
    // The record's seals that hold as plain SHA-256 now, to be sealed with the key once the file
    // is keyed.
    std::vector<std::pair<QString, State>> plain;
    if (!*wasKeyed && db.hasTable(QStringLiteral("chain_state"))) {
        for (const QString& c : {kEventsChain, kHoursChain, kStaleChain, kRunsSeal}) {
            const auto s = state(db, c);
            if (!s) return std::nullopt;
            if (!s->seal.isEmpty() && s->seal == stateSeal(c, *s)) plain.emplace_back(c, *s);
        }
    }
    if (db.fault() != Fault::None) return std::nullopt;
    QSqlQuery q(db.db());
    if (!q.exec(schema::kCreateChainKeyedSql)) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO chain_keyed VALUES (?, ?)"));
    q.bindValue(0, chain);
    q.bindValue(1, qlonglong(at));
    if (!q.exec()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    db.keyedSeen().from[chain] = at;
    db.keyedSeen().file = true;
    for (const auto& [c, s] : plain)
        if (!putState(db, c, s)) return std::nullopt;
    return k;
}

bool makeAnchorTable(Database& db) {
    QSqlQuery q(db.db());
    return q.exec(schema::kCreateAnchorTableSql) || db.failFromSql(q.lastError());
}

std::optional<std::map<int64_t, Anchor>> anchors(Database& db, const QString& chain) {
    std::map<int64_t, Anchor> all;
    if (!db.hasTable(QStringLiteral("chain_anchor"))) {
        if (db.fault() != Fault::None) return std::nullopt;
        return all;
    }
    QSqlQuery q(db.db());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT at, hash, n, sum FROM chain_anchor WHERE chain = ?"))) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    q.bindValue(0, chain);
    if (!q.exec()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    while (q.next()) {
        Anchor a;
        a.at = q.value(0).toLongLong();
        a.hash = q.value(1).toByteArray();
        a.count = q.value(2).toLongLong();
        a.sum = q.value(3).toByteArray();
        all[a.at] = a;
    }
    return all;
}

std::optional<Anchor> anchor(Database& db, const QString& chain) {
    const auto all = anchors(db, chain);
    if (!all) return std::nullopt;
    return all->empty() ? Anchor{} : all->rbegin()->second;
}

bool setAnchor(Database& db, const QString& chain, const Anchor& a, bool replaceAll) {
    if (!makeAnchorTable(db)) return false;
    QSqlQuery q(db.db());
    if (replaceAll) {
        q.prepare(QStringLiteral("DELETE FROM chain_anchor WHERE chain = ?"));
        q.bindValue(0, chain);
        if (!q.exec()) return db.failFromSql(q.lastError());
    }
    if (!q.prepare(QStringLiteral("INSERT OR REPLACE INTO chain_anchor VALUES (?, ?, ?, ?, ?)")))
        return db.failFromSql(q.lastError());
    q.bindValue(0, chain);
    q.bindValue(1, qlonglong(a.at));
    q.bindValue(2, a.hash.isEmpty() ? zeroHash() : a.hash);
    q.bindValue(3, qlonglong(a.count));
    q.bindValue(4, a.sum.isEmpty() ? zeroHash() : a.sum);
    return q.exec() || db.failFromSql(q.lastError());
}

QString anchorName(const QString& chain, const Anchor& a) {
    const auto hex = [](const QByteArray& b) {
        return QString::fromLatin1((b.isEmpty() ? zeroHash() : b).toHex());
    };
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(chain)
        .arg(a.at)
        .arg(hex(a.hash))
        .arg(a.count)
        .arg(hex(a.sum));
}

std::optional<QStringList> anchorNames(Database& db) {
    QStringList names;
    for (const QString& c : {kEventsChain, kHoursChain}) {
        const auto all = anchors(db, c);
        if (!all) return std::nullopt;
        for (const auto& [at, a] : *all)
            names << anchorName(c, a);
    }
    return names;
}

namespace {

const QString kStateTable = QStringLiteral("chain_state");
bool putState(Database& db, const QString& chain, const State& s);

std::optional<int> applicationId(Database& db) {
    QSqlQuery q(db.db());
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    return q.value(0).toInt();
}

// The hash the chain's row or hour `at` holds now; empty when there is none.
std::optional<QByteArray> headHash(Database& db, const QString& chain, int64_t at) {
    QSqlQuery q(db.db());
    q.prepare(chain == kEventsChain
                  ? QStringLiteral("SELECT hash FROM events WHERE id = ?")
                  : QStringLiteral("SELECT hash FROM archive_hours WHERE hour = ?"));
    q.bindValue(0, qlonglong(at));
    if (!q.exec()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    return q.next() ? q.value(0).toByteArray() : QByteArray();
}

// Whether any of the file's links are keyed (its record's seals then are too). nullopt with db's
// fault.
std::optional<bool> fileKeyed(Database& db) {
    if (db.keyedSeen().file) return true;
    if (!db.hasTable(QStringLiteral("chain_keyed"))) {
        if (db.fault() != Fault::None) return std::nullopt;
        return false;
    }
    QSqlQuery q(db.db());
    if (!q.exec(QStringLiteral("SELECT 1 FROM chain_keyed WHERE first IS NOT NULL LIMIT 1"))) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    db.keyedSeen().file = q.next();
    return db.keyedSeen().file;
}

// What the writer seals the record with: the key in a keyed file (none where this program lacks
// it: its seals then no longer hold, and the record stays as it was), else plain SHA-256.
std::optional<QByteArray> sealKey(Database& db) {
    const auto keyed = fileKeyed(db);
    if (!keyed) return std::nullopt;
    return *keyed ? key() : QByteArray();
}

// Whether the writer finds the state's seal holding: a record changed beside the program is left
// as it is. nullopt with db's fault.
std::optional<bool> sealHolds(Database& db, const QString& chain, const State& s) {
    if (s.seal.isEmpty()) return false;
    const auto k = sealKey(db);
    if (!k) return std::nullopt;
    return s.seal == stateSeal(chain, s, *k);
}

bool putState(Database& db, const QString& chain, const State& s) {
    const auto k = sealKey(db);
    if (!k) return false;
    QSqlQuery q(db.db());
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO chain_state VALUES (?, ?, ?, ?, ?)"));
    q.bindValue(0, chain);
    q.bindValue(1,
                s.first ? QVariant(qlonglong(*s.first)) : QVariant(QMetaType(QMetaType::LongLong)));
    q.bindValue(2, qlonglong(s.last));
    q.bindValue(3,
                s.hash.isEmpty() ? QVariant(QMetaType(QMetaType::QByteArray)) : QVariant(s.hash));
    q.bindValue(4, stateSeal(chain, s, *k));
    return q.exec() || db.failFromSql(q.lastError());
}

}  // namespace

QByteArray staleDigest(int64_t t) {
    QByteArray out("stale");
    putInt(&out, t);
    return sha256(out);
}

bool ensureRecord(Database& db);

std::optional<QByteArray> tableDigest(Database& db, const QString& table) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(table.toUtf8());
    if (!db.hasTable(table)) {
        if (db.fault() != Fault::None) return std::nullopt;
        return h.result();
    }
    QSqlQuery q(db.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table))) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    while (q.next()) {
        QByteArray row;
        for (int i = 0; i < q.record().count(); ++i) {
            const QVariant v = q.value(i);
            if (v.isNull()) {
                row.append('0');
            } else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) {
                row.append('i');
                putInt(&row, v.toLongLong());
            } else if (v.typeId() == QMetaType::Double) {
                row.append('r');
                const double d = v.toDouble();
                int64_t bits = 0;
                std::memcpy(&bits, &d, sizeof bits);
                putInt(&row, bits);
            } else {
                row.append('t');
                putBytes(&row, v.typeId() == QMetaType::QByteArray ? v.toByteArray()
                                                                   : v.toString().toUtf8());
            }
        }
        putBytes(&row, QByteArray());
        h.addData(row);
    }
    if (q.lastError().isValid()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    return h.result();
}

bool seal(Database& db, const QString& table, const QByteArray& before) {
    if (!ensureRecord(db)) return false;
    const auto s = state(db, table);
    const auto now = tableDigest(db, table);
    if (!s || !now) return false;
    const auto holds = sealHolds(db, table, *s);
    if (!holds) return false;
    if (!*holds || s->hash != before) return true;
    State next = *s;
    next.hash = *now;
    return putState(db, table, next);
}

bool begin(Database& db, const QString& chain, int64_t first) {
    const auto s = state(db, chain);
    if (!s) return false;
    const auto holds = sealHolds(db, chain, *s);
    if (!holds) return false;
    if (s->first || !*holds) return true;
    State next = *s;
    next.first = first;
    return putState(db, chain, next);
}

QByteArray stateSeal(const QString& chain, const State& s, const QByteArray& key) {
    QByteArray out("chain_state");
    putBytes(&out, chain.toUtf8());
    out.append(char(s.first ? 1 : 0));
    putInt(&out, s.first.value_or(0));
    putInt(&out, s.last);
    putBytes(&out, s.hash);
    return key.isEmpty() ? sha256(out) : mac(key, out);
}

std::optional<State> state(Database& db, const QString& chain) {
    State s;
    if (!db.hasTable(kStateTable)) {
        if (db.fault() != Fault::None) return std::nullopt;
        return s;
    }
    QSqlQuery q(db.db());
    q.prepare(QStringLiteral("SELECT first, last, hash, seal FROM chain_state WHERE chain = ?"));
    q.bindValue(0, chain);
    if (!q.exec()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    if (!q.next()) return s;
    if (!q.value(0).isNull()) s.first = q.value(0).toLongLong();
    s.last = q.value(1).toLongLong();
    s.hash = q.value(2).toByteArray();
    s.seal = q.value(3).toByteArray();
    return s;
}

// Makes the file's record where it has none and never had one: every chain not begun, the runs
// sealed as they are. A file that had one and lost it stays without, so that every check finds
// it so.
bool ensureRecord(Database& db) {
    if (db.hasTable(kStateTable)) return true;
    if (db.fault() != Fault::None) return false;
    const auto mark = applicationId(db);
    if (!mark) return false;
    if (*mark == kChainedMark) return true;
    QSqlQuery q(db.db());
    if (!q.exec(schema::kCreateChainStateSql)) return db.failFromSql(q.lastError());
    for (const QString& c : {kEventsChain, kHoursChain, kStaleChain})
        if (!putState(db, c, State{})) return false;
    const auto runs = tableDigest(db, kRunsSeal);
    if (!runs || !putState(db, kRunsSeal, State{0, 0, *runs, {}})) return false;
    return q.exec(QStringLiteral("PRAGMA application_id = %1").arg(kChainedMark)) ||
           db.failFromSql(q.lastError());
}

bool advance(Database& db, const QString& chain, int64_t firstIfNew, int64_t headLast,
             const QByteArray& head, int64_t last, const QByteArray& hash) {
    if (!ensureRecord(db)) return false;
    const auto s = state(db, chain);
    if (!s) return false;
    // A record changed or removed beside the program is left as it is.
    const auto holds = sealHolds(db, chain, *s);
    if (!holds) return false;
    if (!*holds) return true;
    State next = *s;
    if (!s->first) {
        next.first = firstIfNew;
    } else if (s->last != headLast || s->hash != head) {
        // Rows another writer added after the recorded head leave it in place as a row of the
        // chain; anything else (the head gone or changed) is kept as the record says.
        if (chain != kEventsChain) return true;
        const auto now = headHash(db, chain, s->last);
        if (!now) return false;
        if (*now != s->hash) return true;
    }
    next.last = last;
    next.hash = hash;
    if (!putState(db, chain, next)) return false;
    // The protected record follows once the transaction commits.
    if (chain == kEventsChain || chain == kHoursChain) {
        Head h{last, 0, hash, {}};
        const auto from = keyedFrom(db, chain);
        if (!from) return false;
        h.keyedFrom = *from;
        if (chain == kHoursChain) {
            QSqlQuery q(db.db());
            q.prepare(QStringLiteral("SELECT n FROM archive_hours WHERE hour = ?"));
            q.bindValue(0, qlonglong(last));
            if (!q.exec()) return db.failFromSql(q.lastError());
            h.n = q.next() ? q.value(0).toLongLong() : 0;
        }
        db.noteHead(chain, h);
    }
    return true;
}

}  // namespace chain

void ChainVerifier::broken(const QString& chain, int64_t at, const QString& why) {
    report_.intact = false;
    report_.chain = chain;
    report_.at = at;
    report_.why = why;
    phase_ = Phase::Done;
}

bool ChainVerifier::step(int maxRows) {
    // The protected record is read before the file: it lags the file, never leads it.
    chain::Heads heads;
    if (phase_ == Phase::Start) {
        if (chain::HeadStore* store = chain::headStore()) {
            if (auto h = store->heads(chain::recordedName(db_.path()))) heads = std::move(*h);
        }
    }
    if (!db_.beginRead()) return false;
    bool ok = true;
    if (phase_ == Phase::Start) {
        const auto a = chain::anchors(db_, chain::kEventsChain);
        const auto events = chain::keyedFrom(db_, chain::kEventsChain);
        const auto hours = chain::keyedFrom(db_, chain::kHoursChain);
        key_ = chain::key();
        ok = a.has_value() && events && hours;
        if (ok) {
            eventsKeyed_ = *events;
            hoursKeyed_ = *hours;
        }
        // Where the protected record says a chain's keyed links began earlier, they did.
        for (auto [name, from] : {std::pair{chain::kEventsChain, &eventsKeyed_},
                                  std::pair{chain::kHoursChain, &hoursKeyed_}}) {
            const auto h = heads.find(name);
            if (!ok || h == heads.end() || !h->second.keyedFrom) continue;
            *from = *from ? std::min(**from, *h->second.keyedFrom) : *h->second.keyedFrom;
        }
        ok = ok && readRecord();
        if (ok && phase_ == Phase::Start && !heads.empty()) {
            const auto shortBy = chain::shortOf(db_, heads);
            ok = db_.fault() == Fault::None;
            if (ok && shortBy) {
                broken(shortBy->first, shortBy->second,
                       QStringLiteral("shorter than the service's record of its chains"));
                report_.behindHeads = true;
            }
        }
        if (ok && phase_ == Phase::Start) {
            eventAnchors_ = *a;
            previous_ = chain::zeroHash();
            phase_ = Phase::Events;
        }
    } else if (phase_ == Phase::Events) {
        ok = stepEvents(maxRows);
    } else if (phase_ == Phase::HoursStart) {
        QStringList cols;
        const auto a = chain::anchor(db_, chain::kHoursChain);
        ok = a.has_value() && db_.columns(QStringLiteral("archive_hours"), &cols);
        if (ok) {
            hasHoursTable_ = !cols.isEmpty();
            hoursAnchor_ = *a;
            // An anchor no chained row names counts as none: the hours it would hide show.
            if (!hoursAnchor_.hash.isEmpty() &&
                !trusted(chain::kHoursChain, hoursAnchor_, hoursState_))
                hoursAnchor_ = chain::Anchor{};
            previous_ = hoursAnchor_.hash.isEmpty() ? chain::zeroHash() : hoursAnchor_.hash;
            chained_ = false;
            nextHour_ = std::numeric_limits<int64_t>::min();
            phase_ = hasHoursTable_ ? Phase::Hours : Phase::Done;
            if (!hasHoursTable_ && hoursState_.first)
                broken(QStringLiteral("archive"), *hoursState_.first * chain::kHourSeconds,
                       QStringLiteral("hours' chain missing"));
        }
    } else if (phase_ == Phase::Hours) {
        ok = stepHours(maxRows);
    }
    db_.endRead();
    return ok;
}

bool ChainVerifier::stepEvents(int maxRows) {
    QStringList have;
    if (!db_.columns(QStringLiteral("events"), &have)) return false;
    if (have.isEmpty()) {
        if (eventsState_.first) {
            broken(QStringLiteral("events"), *eventsState_.first,
                   QStringLiteral("event chain missing"));
            return true;
        }
        phase_ = Phase::HoursStart;
        return endEvents();
    }
    QStringList cols;
    for (const chain::Field& f : chain::eventFields()) {
        const QString name = QString::fromLatin1(f.name);
        cols << (have.contains(name) ? name : QStringLiteral("NULL"));
    }
    cols << (have.contains(QStringLiteral("hash")) ? QStringLiteral("hash")
                                                   : QStringLiteral("NULL"));
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT %1 FROM events WHERE id >= ? ORDER BY id LIMIT ?")
                       .arg(cols.join(u", "))))
        return db_.failFromSql(q.lastError());
    q.bindValue(0, qlonglong(nextId_));
    q.bindValue(1, maxRows);
    if (!q.exec()) return db_.failFromSql(q.lastError());
    const int fieldCount = int(chain::eventFields().size());
    int seen = 0;
    while (q.next()) {
        ++seen;
        const int64_t id = q.value(0).toLongLong();
        nextId_ = id + 1;
        ++report_.rows;
        const auto seen = qScopeGuard([&] { lastId_ = id; });
        const QVariant hash = q.value(fieldCount);
        // Where retention removed the rows before, the row links to what they ended with, and
        // the row before them is the one met last.
        if (const auto a = eventAnchors_.find(id); a != eventAnchors_.end()) {
            if (a->second.count != lastId_) {
                broken(QStringLiteral("events"), id, QStringLiteral("rows before it missing"));
                return true;
            }
            if (!trusted(chain::kEventsChain, a->second, eventsState_))
                usedAnchors_.push_back(a->second);
            previous_ = a->second.hash;
            chained_ = chained_ || previous_ != chain::zeroHash();
        }
        if (const qint64 ms = q.value(9).toLongLong();
            !q.value(9).isNull() && (oldestEventMs_ < 0 || ms < oldestEventMs_))
            oldestEventMs_ = ms;
        if (hash.isNull()) {
            if (chained_ || (eventsState_.first && id >= *eventsState_.first)) {
                broken(QStringLiteral("events"), id, QStringLiteral("row without hash"));
                return true;
            }
            previous_ = chain::zeroHash();
            continue;
        }
        QVariantList values;
        for (int i = 0; i < fieldCount; ++i)
            values << q.value(i);
        if (!linkHolds(QStringLiteral("events"), eventsKeyed_, id, hash.toByteArray(),
                       [&](const QByteArray& key) {
                           return chain::link(previous_, chain::eventContent(values), key);
                       })) {
            broken(QStringLiteral("events"), id, QStringLiteral("row differs from its hash"));
            return true;
        }
        previous_ = hash.toByteArray();
        chained_ = true;
        // What the chained rows say of the tables beside the chain.
        const QString code = q.value(7).toString();
        if (code == chain::kAnchorsCode || code == kSignedCode) {
            QStringList args;
            for (const QJsonValue& v :
                 QJsonDocument::fromJson(q.value(8).toString().toUtf8()).array())
                args << v.toString();
            if (code == chain::kAnchorsCode)
                named_ += args;
            else
                signedRows_.emplace(args.mid(0, 5), id);
        }
    }
    if (q.lastError().isValid()) return db_.failFromSql(q.lastError());
    if (seen < maxRows) {
        phase_ = Phase::HoursStart;
        return endEvents();
    }
    return true;
}

bool ChainVerifier::linkHolds(const QString& chain, const std::optional<int64_t>& keyedFrom,
                              int64_t at, const QByteArray& stored,
                              const std::function<QByteArray(const QByteArray&)>& make) {
    if (!keyedFrom || at < *keyedFrom) return make(QByteArray()) == stored;
    if (!key_.isEmpty()) return make(key_) == stored;
    // Named before the record, which is only ever unchecked with them.
    if (!report_.unchecked.contains(chain)) {
        const qsizetype record = report_.unchecked.indexOf(QStringLiteral("record"));
        report_.unchecked.insert(record < 0 ? report_.unchecked.size() : record, chain);
    }
    return true;
}

bool ChainVerifier::sealHolds(const QString& chain, const chain::State& s) {
    if (s.seal.isEmpty()) return false;
    if (!eventsKeyed_ && !hoursKeyed_) return s.seal == chain::stateSeal(chain, s);
    if (!key_.isEmpty()) return s.seal == chain::stateSeal(chain, s, key_);
    if (!report_.unchecked.contains(QStringLiteral("record")))
        report_.unchecked << QStringLiteral("record");
    return true;
}

// The file's record of its chains: a file that says it is chained must still say how far.
bool ChainVerifier::readRecord() {
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return db_.failFromSql(q.lastError());
    const bool marked = q.value(0).toInt() == chain::kChainedMark;
    q.finish();
    const bool hasTable = db_.hasTable(QStringLiteral("chain_state"));
    if (db_.fault() != Fault::None) return false;
    recorded_ = marked || hasTable;
    if (!recorded_) return true;
    const auto events = chain::state(db_, chain::kEventsChain);
    const auto hours = chain::state(db_, chain::kHoursChain);
    const auto stale = chain::state(db_, chain::kStaleChain);
    const auto runs = chain::state(db_, chain::kRunsSeal);
    if (!events || !hours || !stale || !runs) return false;
    for (const auto& [name, s] :
         {std::pair{chain::kEventsChain, *events}, std::pair{chain::kHoursChain, *hours},
          std::pair{chain::kStaleChain, *stale}, std::pair{chain::kRunsSeal, *runs}}) {
        if (!sealHolds(name, s)) {
            broken(QStringLiteral("events"), 0,
                   QStringLiteral("record of the chains missing or changed"));
            return true;
        }
    }
    eventsState_ = *events;
    hoursState_ = *hours;
    staleState_ = *stale;
    const auto digest = chain::tableDigest(db_, chain::kRunsSeal);
    if (!digest) return false;
    if (*digest != runs->hash)
        broken(QStringLiteral("runs"), 0, QStringLiteral("runs differ from the file's record"));
    return true;
}

// Whether an anchor may stand for what was removed before it: one the file held before its
// record began, or one a chained row names.
bool ChainVerifier::trusted(const QString& name, const chain::Anchor& a,
                            const chain::State& s) const {
    if (!recorded_ || !s.first || a.at <= *s.first) return true;
    return named_.contains(chain::anchorName(name, a));
}

// Inside the read transaction of the events' last step: the head the record names, the anchors
// used, and the signatures against the chained rows that recorded them.
bool ChainVerifier::endEvents() {
    for (const chain::Anchor& a : usedAnchors_) {
        if (!named_.contains(chain::anchorName(chain::kEventsChain, a))) {
            broken(QStringLiteral("events"), a.at, QStringLiteral("rows before it missing"));
            return true;
        }
    }
    if (eventsState_.first && eventsState_.last >= *eventsState_.first) {
        QSqlQuery q(db_.db());
        q.prepare(QStringLiteral("SELECT hash FROM events WHERE id = ?"));
        q.bindValue(0, qlonglong(eventsState_.last));
        if (!q.exec()) return db_.failFromSql(q.lastError());
        if (!q.next() || q.value(0).toByteArray() != eventsState_.hash) {
            broken(QStringLiteral("events"), eventsState_.last,
                   QStringLiteral("newest rows missing"));
            return true;
        }
    }
    if (!db_.hasTable(QStringLiteral("signatures"))) return db_.fault() == Fault::None;
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT subject, meaning, user_id, full_name, digest, at_ms FROM "
                               "signatures ORDER BY id")))
        return db_.failFromSql(q.lastError());
    while (q.next()) {
        const QStringList key = {q.value(0).toString(), q.value(1).toString(),
                                 q.value(2).toString(), q.value(3).toString(),
                                 q.value(4).toString()};
        if (const auto row = signedRows_.find(key); row != signedRows_.end()) {
            signedRows_.erase(row);
            continue;
        }
        // A signature older than every row the log still holds lost its row to retention.
        if (oldestEventMs_ >= 0 && q.value(5).toLongLong() < oldestEventMs_) continue;
        broken(QStringLiteral("events"), 0, QStringLiteral("signature without its row"));
        return true;
    }
    if (q.lastError().isValid()) return db_.failFromSql(q.lastError());
    if (!signedRows_.empty()) {
        broken(QStringLiteral("events"), signedRows_.begin()->second,
               QStringLiteral("signature missing or changed"));
        return true;
    }
    return true;
}

// The roll-up of one bucket as its seconds give it; missing values (NULL) left out.
void RollupCheck::add(const RawQuery& row) {
    const int64_t t = row.integer(0);
    first = n == 0 ? t : std::min(first, t);
    last = n == 0 ? t : std::max(last, t);
    ++n;
    for (int k = 0; k < schema::kValueCount; ++k) {
        if (row.isNull(2 + k)) continue;
        const double v =
            static_cast<float>(row.isInteger(2 + k) ? row.integer(2 + k) / 100.0 : row.real(2 + k));
        if (std::isnan(v)) continue;
        min[k] = any[k] ? std::min(min[k], v) : v;
        max[k] = any[k] ? std::max(max[k], v) : v;
        sum[k] += v;
        magnitude[k] += std::fabs(v);
        any[k] = true;
    }
}

// Adds the stale marks of the hour's archived seconds to its sum.
bool ChainVerifier::addStaleMarks(int64_t hour, QByteArray* total) {
    if (!db_.hasTable(QStringLiteral("archive_stale"))) return db_.fault() == Fault::None;
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT t FROM archive WHERE t >= ? AND t < ? AND EXISTS (SELECT 1 "
                       "FROM archive_stale WHERE first <= t AND last >= t)"));
    q.bindValue(0, qlonglong(hour * chain::kHourSeconds));
    q.bindValue(1, qlonglong((hour + 1) * chain::kHourSeconds));
    if (!q.exec()) return db_.failFromSql(q.lastError());
    while (q.next())
        chain::addDigest(total, chain::staleDigest(q.value(0).toLongLong()));
    return !q.lastError().isValid() || db_.failFromSql(q.lastError());
}

// Whether the hour's roll-up rows are those its seconds give: the same buckets, counts and
// ends, and (where stored) the same minimum, maximum and sum.
std::optional<bool> ChainVerifier::rollupsMatch(
    int64_t hour, const std::map<std::pair<int, int64_t>, RollupCheck>& buckets) {
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT * FROM archive_rollup WHERE level > 0 AND t >= ? AND t < ?"));
    q.bindValue(0, qlonglong(hour * chain::kHourSeconds));
    q.bindValue(1, qlonglong((hour + 1) * chain::kHourSeconds));
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    size_t rows = 0;
    while (q.next()) {
        ++rows;
        const auto b = buckets.find({q.value(0).toInt(), q.value(1).toLongLong()});
        if (b == buckets.end()) return false;
        const RollupCheck& c = b->second;
        if (q.value(2).toLongLong() != c.n || q.value(3).toLongLong() != c.first ||
            q.value(4).toLongLong() != c.last)
            return false;
        for (int k = 0; k < schema::kValueCount; ++k) {
            const QVariant lo = q.value(5 + 3 * k), hi = q.value(6 + 3 * k),
                           total = q.value(7 + 3 * k);
            // A value missing in every second leaves nothing to compare.
            if (!c.any[k]) continue;
            if (!lo.isNull() && lo.toDouble() != c.min[k]) return false;
            if (!hi.isNull() && hi.toDouble() != c.max[k]) return false;
            if (!total.isNull() &&
                std::fabs(total.toDouble() - c.sum[k]) > 1e-9 * (c.magnitude[k] + 1))
                return false;
        }
    }
    if (q.lastError().isValid()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    return rows == buckets.size();
}

bool ChainVerifier::stepHours(int maxRows) {
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    RawQuery seconds;
    if (!seconds.prepare(db_.db(), "SELECT * FROM archive WHERE t >= ? AND t < ? ORDER BY t, seq"))
        return db_.fail(Fault::Other);
    // The newest hour may have taken seconds since the last step looked at it: the next one links
    // to its hash as it is now.
    if (chained_) {
        if (!q.prepare(QStringLiteral("SELECT hash FROM archive_hours WHERE hour = ?")))
            return db_.failFromSql(q.lastError());
        q.bindValue(0, qlonglong(nextHour_ - 1));
        if (!q.exec()) return db_.failFromSql(q.lastError());
        if (q.next()) previous_ = q.value(0).toByteArray();
        q.finish();
    }
    int read = 0;
    while (read < maxRows) {
        if (!q.prepare(
                QStringLiteral("SELECT hour, n, sum, hash FROM archive_hours WHERE hour >= ? "
                               "ORDER BY hour LIMIT 1")))
            return db_.failFromSql(q.lastError());
        q.bindValue(0, qlonglong(nextHour_));
        if (!q.exec()) return db_.failFromSql(q.lastError());
        const bool more = q.next();
        const int64_t hour = more ? q.value(0).toLongLong() : std::numeric_limits<int64_t>::max();
        const int64_t n = more ? q.value(1).toLongLong() : 0;
        const QByteArray sum = more ? q.value(2).toByteArray() : QByteArray();
        const QByteArray hash = more ? q.value(3).toByteArray() : QByteArray();
        q.finish();
        // Seconds between the hashed hours, or after the last, carry no hash; nor do seconds
        // from the hour the record says the chain began.
        const bool begun = hoursState_.first && (!more || hour > *hoursState_.first);
        if (chained_ || begun) {
            const int64_t from =
                chained_ ? nextHour_ : std::max(nextHour_, hoursState_.first.value_or(0));
            QSqlQuery gap(db_.db());
            gap.prepare(QStringLiteral("SELECT min(t) FROM archive WHERE t >= ? AND t < ?"));
            gap.bindValue(0, qlonglong(from * chain::kHourSeconds));
            gap.bindValue(1, more ? qlonglong(hour * chain::kHourSeconds)
                                  : std::numeric_limits<qlonglong>::max());
            if (!gap.exec() || !gap.next()) return db_.failFromSql(gap.lastError());
            if (!gap.value(0).isNull()) {
                const int64_t t = gap.value(0).toLongLong();
                broken(QStringLiteral("archive"), chain::hourOf(t) * chain::kHourSeconds,
                       QStringLiteral("hour without hash"));
                return true;
            }
        }
        if (!more) {
            phase_ = Phase::Done;
            // The record as it stands now: the writer may have gone on since the first step.
            if (recorded_) {
                const auto now = chain::state(db_, chain::kHoursChain);
                if (!now) return false;
                if (!sealHolds(chain::kHoursChain, *now)) {
                    broken(QStringLiteral("events"), 0,
                           QStringLiteral("record of the chains missing or changed"));
                    return true;
                }
                hoursState_ = *now;
            }
            if (hoursState_.first) {
                q.prepare(QStringLiteral("SELECT hash FROM archive_hours WHERE hour = ?"));
                q.bindValue(0, qlonglong(hoursState_.last));
                if (!q.exec()) return db_.failFromSql(q.lastError());
                if (!q.next() || q.value(0).toByteArray() != hoursState_.hash)
                    broken(QStringLiteral("archive"), hoursState_.last * chain::kHourSeconds,
                           QStringLiteral("newest hours missing"));
            }
            return true;
        }
        int64_t count = 0;
        QByteArray total = chain::zeroHash();
        if (hour == hoursAnchor_.at && !hoursAnchor_.hash.isEmpty()) {
            count = hoursAnchor_.count;
            total = hoursAnchor_.sum.size() == chain::kHashSize ? hoursAnchor_.sum : total;
        }
        seconds.bind(1, hour * chain::kHourSeconds);
        seconds.bind(2, (hour + 1) * chain::kHourSeconds);
        // From the hour the record names on, the stale marks are in the sum and the roll-ups
        // must be those of the seconds.
        const bool full = staleState_.first && hour >= *staleState_.first;
        std::map<std::pair<int, int64_t>, RollupCheck> buckets;
        const QSqlError e = seconds.run([&](const RawQuery& row) {
            chain::addDigest(&total, chain::archivedRowDigest(row));
            ++count;
            if (full) {
                for (int level = 1; level < int(archive::kLevelSeconds.size()); ++level) {
                    const int64_t width = archive::kLevelSeconds[size_t(level)];
                    const int64_t t = row.integer(0);
                    buckets[{level, t - ((t % width) + width) % width}].add(row);
                }
            }
            return true;
        });
        if (e.isValid()) return db_.failFromSql(e);
        read += int(count) + 1;
        ++report_.hours;
        if (full) {
            if (!addStaleMarks(hour, &total)) return false;
            const auto same = rollupsMatch(hour, buckets);
            if (!same) return false;
            if (!*same) {
                broken(QStringLiteral("archive"), hour * chain::kHourSeconds,
                       QStringLiteral("roll-ups differ from the seconds"));
                return true;
            }
        }
        if (count != n || total != sum) {
            broken(QStringLiteral("archive"), hour * chain::kHourSeconds,
                   QStringLiteral("seconds differ from the hour's hash"));
            return true;
        }
        if (!linkHolds(QStringLiteral("archive"), hoursKeyed_, hour, hash,
                       [&](const QByteArray& key) {
                           return chain::hourHash(previous_, hour, n, sum, key);
                       })) {
            broken(QStringLiteral("archive"), hour * chain::kHourSeconds,
                   QStringLiteral("hour's hash changed"));
            return true;
        }
        previous_ = hash;
        chained_ = true;
        nextHour_ = hour + 1;
    }
    return true;
}

}  // namespace store
