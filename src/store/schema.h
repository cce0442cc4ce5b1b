#pragma once
// The tables of the sample database file as this program reads and writes them: the ring of
// sample records (pv_data), the counter row that names the latest of them (sl_void), the archive
// of every sample with its rollups (archive, archive_rollup, archive_meta, archive_stale,
// archive_hours), the event log (events), the hash chains' anchors and state (chain_anchor,
// chain_state), the test runs (runs), the signatures of reports (signatures), the alerts' outbox
// (alert_outbox) and the forwarding's cursor (forward_cursor). Every store takes its tables'
// statements from here; tables() lists them all with the file's version.

#include <QList>
#include <QString>
#include <QStringList>

namespace store {

// Places in the ring of sample records, numbered 1..kRingSize.
inline constexpr int kRingSize = 65500;

namespace schema {

// pv_data: w_id (the place in the ring), w_date, w_time, then the ten stored channels.
inline constexpr int kSampleColumnCount = 13;
inline constexpr int kFirstValueColumn = 3;
inline constexpr int kValueCount = 10;

// The ten channels' columns, in the order a sample holds them (LiveValues 0..9).
inline const QStringList& valueColumns() {
    static const QStringList columns = {
        QStringLiteral("pv1"),         QStringLiteral("pv2"),         QStringLiteral("sv1"),
        QStringLiteral("sv2"),         QStringLiteral("out1_pct"),    QStringLiteral("out2_pct"),
        QStringLiteral("alarm1_type"), QStringLiteral("alarm2_type"), QStringLiteral("control1"),
        QStringLiteral("control2"),
    };
    return columns;
}

// The retransmission outputs (channels 4 and 5) are stored as the instrument gives them, in
// tenths of a percent. What a person reads (an export, a report) shows them as a percentage.
inline constexpr double shownValue(int channel, double stored) {
    return channel == 4 || channel == 5 ? stored / 10.0 : stored;
}

// The ring's table as the store creates it.
inline QString createSamplesTableSql() {
    QString cols = QStringLiteral("w_id INTEGER PRIMARY KEY, w_date REAL, w_time REAL");
    for (const QString& v : valueColumns())
        cols += QStringLiteral(", %1 REAL").arg(v);
    return QStringLiteral("CREATE TABLE IF NOT EXISTS pv_data (%1)").arg(cols);
}

// sl_void's counter row is its first row; its first two columns both hold the latest place.
inline const QString kCreateCounterTableSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS sl_void (last_id INTEGER, last_id_copy INTEGER, spare INTEGER)");
inline const QString kCounterRowCondition =
    QStringLiteral("rowid = (SELECT min(rowid) FROM sl_void)");

// The archive: one row per stored second, keyed by UTC seconds and an insertion sequence. The
// value columns carry no type, so each keeps the INTEGER or REAL the archive's codec gave it.
inline QString createArchiveTableSql() {
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS archive (t INTEGER NOT NULL, seq INTEGER NOT NULL, %1, "
               "PRIMARY KEY (t, seq)) WITHOUT ROWID")
        .arg(valueColumns().join(QStringLiteral(", ")));
}
inline constexpr int kArchiveColumnCount = 2 + kValueCount;

// The rollup of one level's bucket: samples, first and last second, then per value its minimum,
// maximum and sum (the plain values, REAL).
inline QStringList rollupValueColumns() {
    QStringList cols;
    for (const QString& v : valueColumns())
        cols << v + QStringLiteral("_min") << v + QStringLiteral("_max")
             << v + QStringLiteral("_sum");
    return cols;
}
inline QString createRollupTableSql() {
    QString cols;
    for (const QString& c : rollupValueColumns())
        cols += QStringLiteral(", %1 REAL").arg(c);
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS archive_rollup (level INTEGER NOT NULL, t INTEGER NOT "
               "NULL, n INTEGER NOT NULL, first INTEGER NOT NULL, last INTEGER NOT NULL%1, "
               "PRIMARY KEY (level, t)) WITHOUT ROWID")
        .arg(cols);
}
inline constexpr int kRollupColumnCount = 5 + 3 * kValueCount;

// Facts about the archive, one row each: "adopted" once the ring the file held has been copied.
inline const QString kCreateArchiveMetaSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS archive_meta (key TEXT PRIMARY KEY, value) WITHOUT ROWID");

// The stretches of archived seconds stored while the instrument's values were stale (not read
// for a while), first..last in UTC seconds, both included. A file made before this table has
// none: its seconds read as confirmed, as they always did.
inline const QString kCreateStaleTableSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS archive_stale (first INTEGER PRIMARY KEY, last INTEGER NOT NULL)");

// The hash of each archived hour (see chain.h): hour = UTC seconds / 3600, n its seconds, sum the
// sum of their SHA-256 modulo 2^256, hash the link to the previous hour. A file made before this
// table has no hashed hours: its chain starts with the first hour stored after it.
inline const QString kCreateHoursTableSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS archive_hours (hour INTEGER PRIMARY KEY, n INTEGER NOT NULL, sum "
    "BLOB NOT NULL, hash BLOB NOT NULL)");

// The event log's table and its columns, in order. Each row keeps its text in Chinese, so older
// readers of the file show it as before; code, args (a JSON array of the values) and at_ms (UTC
// milliseconds) came later and are added to older files on open. Rows written before have none.
inline const QStringList& eventColumns() {
    static const QStringList columns = {
        QStringLiteral("id"),     QStringLiteral("at"),   QStringLiteral("kind"),
        QStringLiteral("text"),   QStringLiteral("reg"),  QStringLiteral("value"),
        QStringLiteral("status"), QStringLiteral("code"), QStringLiteral("args"),
        QStringLiteral("at_ms"),
    };
    return columns;
}
// The columns of files written before events had codes: the first ones of eventColumns().
inline constexpr int kEventColumnsBeforeCodes = 7;
// Each row's link in the event chain (see chain.h), after the columns above; rows of older files
// have none.
inline const QString kEventHashColumn = QStringLiteral("hash");
// The audit trail's columns, after the hash (older files get them added there): the user id, the
// value before and after, the reason, and the PC's offset from UTC in minutes. Rows written before
// them have none.
inline const QStringList& auditColumns() {
    static const QStringList columns = {
        QStringLiteral("user_id"), QStringLiteral("old_value"),  QStringLiteral("new_value"),
        QStringLiteral("reason"),  QStringLiteral("utc_offset"),
    };
    return columns;
}
inline const QString kCreateEventsTableSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, at TEXT, kind TEXT, text TEXT, "
    "reg INTEGER, value INTEGER, status INTEGER, code TEXT, args TEXT, at_ms INTEGER, hash BLOB, "
    "user_id TEXT, old_value TEXT, new_value TEXT, reason TEXT, utc_offset INTEGER)");
inline const QStringList& addAuditColumnsSql() {
    static const QStringList sql = {
        QStringLiteral("ALTER TABLE events ADD COLUMN user_id TEXT"),
        QStringLiteral("ALTER TABLE events ADD COLUMN old_value TEXT"),
        QStringLiteral("ALTER TABLE events ADD COLUMN new_value TEXT"),
        QStringLiteral("ALTER TABLE events ADD COLUMN reason TEXT"),
        QStringLiteral("ALTER TABLE events ADD COLUMN utc_offset INTEGER"),
    };
    return sql;
}
inline const QString kAddEventHashColumnSql =
    QStringLiteral("ALTER TABLE events ADD COLUMN hash BLOB");
inline const QStringList& addEventCodeColumnsSql() {
    static const QStringList sql = {
        QStringLiteral("ALTER TABLE events ADD COLUMN code TEXT"),
        QStringLiteral("ALTER TABLE events ADD COLUMN args TEXT"),
        QStringLiteral("ALTER TABLE events ADD COLUMN at_ms INTEGER"),
    };
    return sql;
}

// The shapes the event log's table has had, oldest first; Foreign for any other set of columns
// (a table of something else, left alone), None when the file has no such table.
enum class EventShape { None, BeforeCodes, Coded, Hashed, Audited, Foreign };
inline EventShape eventShape(const QStringList& columns) {
    const QStringList& coded = eventColumns();
    const QStringList hashed = coded + QStringList{kEventHashColumn};
    if (columns.isEmpty()) return EventShape::None;
    if (columns == coded.mid(0, kEventColumnsBeforeCodes)) return EventShape::BeforeCodes;
    if (columns == coded) return EventShape::Coded;
    if (columns == hashed) return EventShape::Hashed;
    if (columns == hashed + auditColumns()) return EventShape::Audited;
    return EventShape::Foreign;
}

// The test runs, one row each.
inline const QString kCreateRunsSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, name TEXT NOT NULL, order_id TEXT, "
    "operator TEXT, notes TEXT, station TEXT, port TEXT, address INTEGER, start_t INTEGER NOT "
    "NULL, "
    "end_t INTEGER, automatic INTEGER, band1_fixed INTEGER, band1_pm REAL, band1_low REAL, "
    "band1_high REAL, band2_fixed INTEGER, band2_pm REAL, band2_low REAL, band2_high REAL)");

// The signatures of reports; the file itself refuses to change or drop one, whoever asks.
inline const QString kCreateSignaturesSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS signatures (id INTEGER PRIMARY KEY, subject TEXT NOT NULL, "
    "digest TEXT NOT NULL, user_id TEXT NOT NULL, full_name TEXT NOT NULL, meaning TEXT NOT NULL, "
    "at_ms INTEGER NOT NULL, utc_offset INTEGER NOT NULL)");
inline const QStringList& freezeSignaturesSql() {
    static const QStringList sql = {
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS signatures_never_changed BEFORE UPDATE ON "
                       "signatures BEGIN SELECT RAISE(ABORT, 'a signature is never changed'); END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS signatures_never_removed BEFORE DELETE ON "
                       "signatures BEGIN SELECT RAISE(ABORT, 'a signature is never removed'); END"),
    };
    return sql;
}

// The notifications waiting to go out, and those sent lately.
inline const QString kCreateOutboxSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS alert_outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "created INTEGER NOT NULL, channel TEXT NOT NULL, target TEXT NOT NULL, "
    "subject TEXT NOT NULL, payload BLOB NOT NULL, attempts INTEGER NOT NULL DEFAULT 0, "
    "next_try INTEGER NOT NULL, sent INTEGER, last_error TEXT)");

// How far each server has taken the file's samples and events; a cursor table from before the
// archive gets the archive's columns (migrate.h).
inline const QString kCreateForwardCursorSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS forward_cursor (target TEXT PRIMARY KEY, sample_id "
    "INTEGER, sample_date REAL, sample_time REAL, event_id INTEGER, archive_t INTEGER, "
    "archive_seq INTEGER)");
inline const QStringList& addArchiveCursorColumnsSql() {
    static const QStringList sql = {
        QStringLiteral("ALTER TABLE forward_cursor ADD COLUMN archive_t INTEGER"),
        QStringLiteral("ALTER TABLE forward_cursor ADD COLUMN archive_seq INTEGER"),
    };
    return sql;
}

// The hash chains (chain.h): the anchors handed out, and each chain's state with its seal. The
// state's table is made once, when the file starts being chained.
inline const QString kCreateAnchorTableSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS chain_anchor (chain TEXT NOT NULL, at INTEGER NOT NULL, hash BLOB "
    "NOT NULL, n INTEGER, sum BLOB, PRIMARY KEY (chain, at))");
inline const QString kCreateChainStateSql = QStringLiteral(
    "CREATE TABLE chain_state (chain TEXT PRIMARY KEY, first INTEGER, last INTEGER NOT NULL, hash "
    "BLOB, seal BLOB NOT NULL)");

// From which event id or hour on each chain's links are keyed (chain.h).
inline const QString kCreateChainKeyedSql = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS chain_keyed (chain TEXT PRIMARY KEY, first INTEGER NOT NULL)");

// Every table the file may hold, with the statement that makes it.
struct Table {
    QString name;
    QString create;
};
inline const QList<Table>& tables() {
    static const QList<Table> all = {
        {QStringLiteral("pv_data"), createSamplesTableSql()},
        {QStringLiteral("sl_void"), kCreateCounterTableSql},
        {QStringLiteral("archive"), createArchiveTableSql()},
        {QStringLiteral("archive_rollup"), createRollupTableSql()},
        {QStringLiteral("archive_meta"), kCreateArchiveMetaSql},
        {QStringLiteral("archive_stale"), kCreateStaleTableSql},
        {QStringLiteral("archive_hours"), kCreateHoursTableSql},
        {QStringLiteral("events"), kCreateEventsTableSql},
        {QStringLiteral("chain_anchor"), kCreateAnchorTableSql},
        {QStringLiteral("chain_state"), kCreateChainStateSql},
        {QStringLiteral("chain_keyed"), kCreateChainKeyedSql},
        {QStringLiteral("runs"), kCreateRunsSql},
        {QStringLiteral("signatures"), kCreateSignaturesSql},
        {QStringLiteral("alert_outbox"), kCreateOutboxSql},
        {QStringLiteral("forward_cursor"), kCreateForwardCursorSql},
    };
    return all;
}

// The version of the file's shape (PRAGMA user_version), given once its tables are as above:
// 0 for a file of an older program, 1 once the event log has its audit columns, 2 once the
// forwarding cursor has its archive columns, 3 once it has the table of its keyed chains.
// migrate.h takes an older file there, step by step,
// when it is opened for writing.
inline constexpr int kFileVersion = 3;

}  // namespace schema
}  // namespace store
