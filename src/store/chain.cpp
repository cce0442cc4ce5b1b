#include "store/chain.h"

#include <QCryptographicHash>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "store/rawquery.h"
#include "store/schema.h"

namespace record {

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

QByteArray link(const QByteArray& previous, const QByteArray& content) {
    return sha256(previous + content);
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

QByteArray hourHash(const QByteArray& previous, int64_t hour, int64_t count,
                    const QByteArray& sum) {
    QByteArray out = previous;
    putInt(&out, hour);
    putInt(&out, count);
    out.append(sum);
    return sha256(out);
}

bool makeAnchorTable(Database& db) {
    QSqlQuery q(db.db());
    return q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS chain_anchor (chain TEXT NOT NULL, at "
                                 "INTEGER NOT NULL, hash BLOB NOT NULL, n INTEGER, sum BLOB, "
                                 "PRIMARY KEY (chain, at))")) ||
           db.failFromSql(q.lastError());
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

}  // namespace chain

void ChainVerifier::broken(const QString& chain, int64_t at, const QString& why) {
    report_.intact = false;
    report_.chain = chain;
    report_.at = at;
    report_.why = why;
    phase_ = Phase::Done;
}

bool ChainVerifier::step(int maxRows) {
    if (!db_.beginRead()) return false;
    bool ok = true;
    if (phase_ == Phase::Start) {
        const auto a = chain::anchors(db_, chain::kEventsChain);
        ok = a.has_value();
        if (ok) {
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
            previous_ = a->hash.isEmpty() ? chain::zeroHash() : a->hash;
            chained_ = false;
            nextHour_ = std::numeric_limits<int64_t>::min();
            phase_ = hasHoursTable_ ? Phase::Hours : Phase::Done;
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
        phase_ = Phase::HoursStart;
        return true;
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
            previous_ = a->second.hash;
            chained_ = chained_ || previous_ != chain::zeroHash();
        }
        if (hash.isNull()) {
            if (chained_) {
                broken(QStringLiteral("events"), id, QStringLiteral("row without hash"));
                return true;
            }
            previous_ = chain::zeroHash();
            continue;
        }
        QVariantList values;
        for (int i = 0; i < fieldCount; ++i)
            values << q.value(i);
        if (chain::link(previous_, chain::eventContent(values)) != hash.toByteArray()) {
            broken(QStringLiteral("events"), id, QStringLiteral("row differs from its hash"));
            return true;
        }
        previous_ = hash.toByteArray();
        chained_ = true;
    }
    if (q.lastError().isValid()) return db_.failFromSql(q.lastError());
    if (seen < maxRows) phase_ = Phase::HoursStart;
    return true;
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
        // Seconds between the hashed hours, or after the last, carry no hash.
        if (chained_) {
            QSqlQuery gap(db_.db());
            gap.prepare(QStringLiteral("SELECT min(t) FROM archive WHERE t >= ? AND t < ?"));
            gap.bindValue(0, qlonglong(nextHour_ * chain::kHourSeconds));
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
        const QSqlError e = seconds.run([&](const RawQuery& row) {
            chain::addDigest(&total, chain::archivedRowDigest(row));
            ++count;
            return true;
        });
        if (e.isValid()) return db_.failFromSql(e);
        read += int(count) + 1;
        ++report_.hours;
        if (count != n || total != sum) {
            broken(QStringLiteral("archive"), hour * chain::kHourSeconds,
                   QStringLiteral("seconds differ from the hour's hash"));
            return true;
        }
        if (chain::hourHash(previous_, hour, n, sum) != hash) {
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

}  // namespace record
