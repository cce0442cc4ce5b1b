#include "runs/runs.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <utility>

#include "report/signatures.h"
#include "runs/logging.h"
#include "store/chain.h"
#include "store/schema.h"

namespace runs {

namespace {

constexpr int kRunsBusyTimeoutMs = 2000;

const QString kRunColumns = QStringLiteral(
    "id, name, order_id, operator, notes, station, port, address, start_t, end_t, automatic, "
    "band1_fixed, band1_pm, band1_low, band1_high, band2_fixed, band2_pm, band2_low, band2_high");

Run runFrom(const QSqlQuery& q) {
    Run r;
    r.id = q.value(0).toLongLong();
    r.name = q.value(1).toString();
    r.orderId = q.value(2).toString();
    r.operatorName = q.value(3).toString();
    r.notes = q.value(4).toString();
    r.station = q.value(5).toString();
    r.port = q.value(6).toString();
    r.address = q.value(7).toInt();
    r.start = q.value(8).toLongLong();
    if (!q.value(9).isNull()) r.end = q.value(9).toLongLong();
    r.automatic = q.value(10).toBool();
    for (int k = 0; k < 2; ++k) {
        instrument::ToleranceBand& b = k == 0 ? r.band1 : r.band2;
        b.fixed = q.value(11 + 4 * k).toBool();
        b.plusMinus = q.value(12 + 4 * k).toDouble();
        b.low = q.value(13 + 4 * k).toDouble();
        b.high = q.value(14 + 4 * k).toDouble();
    }
    return r;
}

}  // namespace

RunStore::RunStore(QString path, QString connectionName)
    : db_(std::move(path), std::move(connectionName)) {}

RunStore::~RunStore() {
    close();
}

bool RunStore::refuse(base::Phrase why) {
    refusal_ = std::move(why);
    return false;
}

// The file open with its runs table; clears the last call's fault.
bool RunStore::ready() {
    refusal_ = {};
    return db_.ready() && (hasTable_ || db_.fail(store::Fault::NotOpen));
}

bool RunStore::open(bool readOnly) {
    close();
    refusal_ = {};
    if (!db_.open(readOnly ? store::FileAccess::ReadOnly : store::FileAccess::Create,
                  kRunsBusyTimeoutMs))
        return false;
    QStringList columns;
    QSqlQuery q(db_.db());
    const bool ok =
        (readOnly || q.exec(store::schema::kCreateRunsSql) || db_.failFromSql(q.lastError())) &&
        db_.columns(QStringLiteral("runs"), &columns);
    q = QSqlQuery();
    if (!ok) {
        const store::Fault f = db_.fault();
        close();
        return db_.fail(f);
    }
    hasTable_ = !columns.isEmpty();
    return true;
}

bool RunStore::besideSamples(const QString& path, const QString& connectionName) {
    // The layer refuses a pv_data of another shape; an absent one is no sample file either.
    store::Database probe(path, connectionName);
    return probe.open(store::FileAccess::ReadOnly, kRunsBusyTimeoutMs) &&
           probe.hasTable(QStringLiteral("pv_data"));
}

void RunStore::close() {
    db_.close();
    hasTable_ = false;
}

bool RunStore::nameInUse(const QString& name, bool* inUse) {
    QSqlQuery q(db_.db());
    q.prepare(QStringLiteral("SELECT count(*) FROM runs WHERE name = ?"));
    q.bindValue(0, name);
    if (!q.exec() || !q.next()) return db_.failFromSql(q.lastError());
    *inUse = q.value(0).toLongLong() > 0;
    return true;
}

bool RunStore::start(Run& run, bool makeNameUnique) {
    if (!ready()) return false;
    store::Transaction t(db_);
    if (!t.ok()) return false;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM runs WHERE end_t IS NULL")) || !q.next())
        return db_.failFromSql(q.lastError());
    if (q.value(0).toInt() > 0)
        return refuse({QStringLiteral(QT_TRANSLATE_NOOP("velmars", "已有试验正在进行"))});
    q.finish();
    const auto before = store::chain::tableDigest(db_, QStringLiteral("runs"));
    if (!before) return false;
    // Names are unique: a report or a reader asks for a run by its name.
    QString name = run.name;
    for (int n = 2;; ++n) {
        bool inUse = false;
        if (!nameInUse(name, &inUse)) return false;
        if (!inUse) break;
        if (!makeNameUnique) {
            return refuse(
                {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "试验名称已被使用：%1")), {run.name}});
        }
        name = QStringLiteral("%1 (%2)").arg(run.name).arg(n);
    }
    q.prepare(QStringLiteral("INSERT INTO runs (%1) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, NULL, ?, "
                             "?, ?, ?, ?, ?, ?, ?, ?)")
                  .arg(kRunColumns));
    const QVariantList values = {name,        run.orderId,          run.operatorName,
                                 run.notes,   run.station,          run.port,
                                 run.address, qlonglong(run.start), run.automatic};
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    int i = static_cast<int>(values.size());
    for (const instrument::ToleranceBand* b : {&run.band1, &run.band2}) {
        q.bindValue(i++, b->fixed);
        q.bindValue(i++, b->plusMinus);
        q.bindValue(i++, b->low);
        q.bindValue(i++, b->high);
    }
    if (!q.exec()) return db_.failFromSql(q.lastError());
    const qint64 id = q.lastInsertId().toLongLong();
    q = QSqlQuery();
    if (!store::chain::seal(db_, store::chain::kRunsSeal, *before) || !t.commit()) return false;
    run.id = id;
    run.name = name;
    run.end.reset();
    qCDebug(lcRuns, "run %lld started: %s", qlonglong(id), qUtf8Printable(name));
    return true;
}

bool RunStore::mayChange(int64_t id) {
    const auto isSigned = report::SignatureStore::isSigned(db_, report::runSubject(id));
    if (!isSigned) return false;
    return !*isSigned || refuse(report::signedRunRefusal());
}

bool RunStore::stop(int64_t end) {
    if (!ready()) return false;
    store::Transaction t(db_);
    if (!t.ok()) return false;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT id FROM runs WHERE end_t IS NULL")))
        return db_.failFromSql(q.lastError());
    while (q.next())
        if (!mayChange(q.value(0).toLongLong())) return false;
    const auto before = store::chain::tableDigest(db_, QStringLiteral("runs"));
    if (!before) return false;
    q.prepare(QStringLiteral("UPDATE runs SET end_t = max(?, start_t) WHERE end_t IS NULL"));
    q.bindValue(0, qlonglong(end));
    if (!q.exec()) return db_.failFromSql(q.lastError());
    if (q.numRowsAffected() < 1)
        return refuse({QStringLiteral(QT_TRANSLATE_NOOP("velmars", "没有正在进行的试验"))});
    q = QSqlQuery();
    if (!store::chain::seal(db_, store::chain::kRunsSeal, *before) || !t.commit()) return false;
    qCDebug(lcRuns, "run ended at %lld", qlonglong(end));
    return true;
}

bool RunStore::remove(int64_t id) {
    if (!ready()) return false;
    store::Transaction t(db_);
    if (!t.ok() || !mayChange(id)) return false;
    const auto before = store::chain::tableDigest(db_, QStringLiteral("runs"));
    if (!before) return false;
    QSqlQuery q(db_.db());
    q.prepare(QStringLiteral("DELETE FROM runs WHERE id = ? AND end_t IS NOT NULL"));
    q.bindValue(0, qlonglong(id));
    if (!q.exec()) return db_.failFromSql(q.lastError());
    if (q.numRowsAffected() < 1)
        return refuse({QStringLiteral(QT_TRANSLATE_NOOP("velmars", "没有此已结束的试验"))});
    q = QSqlQuery();
    return store::chain::seal(db_, store::chain::kRunsSeal, *before) && t.commit();
}

std::vector<Run> RunStore::select(const QString& where, const QString& value, int limit) {
    std::vector<Run> runs;
    refusal_ = {};
    if (!db_.ready() || !hasTable_) return runs;
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM runs %2 ORDER BY start_t DESC, id DESC LIMIT %3")
                  .arg(kRunColumns, where)
                  .arg(limit));
    if (!value.isNull()) q.bindValue(0, value);
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return runs;
    }
    while (q.next())
        runs.push_back(runFrom(q));
    return runs;
}

std::optional<Run> RunStore::openRun() {
    const auto runs = select(QStringLiteral("WHERE end_t IS NULL"), QString(), 1);
    return runs.empty() ? std::nullopt : std::optional<Run>(runs.front());
}

std::vector<Run> RunStore::list() {
    return select(QString(), QString(), -1);
}

std::optional<Run> RunStore::find(const QString& name) {
    const auto runs = select(QStringLiteral("WHERE name = ?"), name, -1);
    if (runs.size() > 1) {
        refuse({QStringLiteral(
                    QT_TRANSLATE_NOOP("velmars", "有 %1 个名为“%2”的试验，无法确定是哪一个")),
                {QString::number(runs.size()), name}});
        return std::nullopt;
    }
    return runs.empty() ? std::nullopt : std::optional<Run>(runs.front());
}

}  // namespace runs
