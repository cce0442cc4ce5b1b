#include "store/csvexport.h"

#include "base/tr.h"

#include <QByteArray>
#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtNumeric>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>

#include "base/oledate.h"
#include "base/text.h"
#include "store/archive.h"
#include "store/schema.h"
#include "store/store.h"

namespace store {

namespace {

// Half a second in days: records hold whole seconds, so a bound matches the record of its second.
constexpr double kHalfSecond = 0.5 / 86400.0;
constexpr qint64 kProgressEvery = 4096;
constexpr qint64 kFlushBytes = 256 * 1024;

void appendNumber(QByteArray& out, double v, CsvForm form) {
    char buf[32];
    std::to_chars_result r;
    if (!std::isfinite(v)) return;  // a value that is no number is left empty
    const float f = static_cast<float>(v);
    // A stored reading is a float, written in its shortest form. A reading divided by ten (the
    // outputs' percentages) has no more digits than the reading: at most seven significant ones
    // (4.56, not 4.5600000000000005).
    if (static_cast<double>(f) == v)
        r = std::to_chars(buf, buf + sizeof buf, f);
    else if (form == CsvForm::Copy)
        r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 7);
    else
        r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

void appendDigits(char* at, int v, int width) {
    for (int i = width - 1; i >= 0; --i) {
        at[i] = char('0' + v % 10);
        v /= 10;
    }
}

// The record's SQL condition and its bound values for a range.
QString whereClause(const ExportRange& range) {
    QString w = QStringLiteral(" WHERE w_date <> 0");
    if (range.from) w += QStringLiteral(" AND w_date + w_time >= :from");
    if (range.to) w += QStringLiteral(" AND w_date + w_time <= :to");
    return w;
}

void bindRange(QSqlQuery& q, const ExportRange& range) {
    auto ole = [](const QDateTime& t) { return base::oleDate(t.date()) + base::oleTime(t.time()); };
    if (range.from) q.bindValue(QStringLiteral(":from"), ole(*range.from) - kHalfSecond);
    if (range.to) q.bindValue(QStringLiteral(":to"), ole(*range.to) + kHalfSecond);
}

// The same for the archive, whose rows are keyed by UTC seconds.
QString archiveWhereClause(const ExportRange& range) {
    QStringList w;
    if (range.from) w << QStringLiteral("t >= :from");
    if (range.to) w << QStringLiteral("t <= :to");
    return w.isEmpty() ? QString() : QStringLiteral(" WHERE ") + w.join(QStringLiteral(" AND "));
}

void bindArchiveRange(QSqlQuery& q, const ExportRange& range) {
    if (range.from) q.bindValue(QStringLiteral(":from"), range.from->toSecsSinceEpoch());
    if (range.to) q.bindValue(QStringLiteral(":to"), range.to->toSecsSinceEpoch());
}

// The archive's stretches of stale seconds that meet the range, in time order; none when the file
// has no table of them. nullopt on a read error.
std::optional<std::vector<StaleSpan>> staleSpansIn(const QSqlDatabase& db,
                                                   const ExportRange& range) {
    std::vector<StaleSpan> spans;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'archive_stale'")))
        return std::nullopt;
    if (!q.next()) return spans;
    QStringList w;
    if (range.from) w << QStringLiteral("last >= :from");
    if (range.to) w << QStringLiteral("first <= :to");
    q.prepare(
        QStringLiteral("SELECT first, last FROM archive_stale") +
        (w.isEmpty() ? QString() : QStringLiteral(" WHERE ") + w.join(QStringLiteral(" AND "))) +
        QStringLiteral(" ORDER BY first"));
    bindArchiveRange(q, range);
    if (!q.exec()) return std::nullopt;
    while (q.next())
        spans.emplace_back(q.value(0).toLongLong(), q.value(1).toLongLong());
    if (q.lastError().isValid()) return std::nullopt;
    return spans;
}

// Local date and time of UTC seconds as OLE day and fraction. The zone's offset is looked up once
// per quarter hour of rows rather than for every row: zones change their offsets only on whole
// quarter hours.
class LocalSeconds {
  public:
    // The offset from UTC of the last moment given to ole().
    int offset() const { return offset_; }
    std::pair<double, double> ole(qint64 utc) {
        const qint64 quarter = utc - ((utc % 900) + 900) % 900;
        if (quarter != quarter_) {
            quarter_ = quarter;
            offset_ = QDateTime::fromSecsSinceEpoch(quarter).offsetFromUtc();
        }
        const qint64 local = utc + offset_;
        const qint64 days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
        // 25569: the OLE day of 1970-01-01.
        return {static_cast<double>(days + 25569),
                static_cast<double>(local - days * 86400) / 86400.0};
    }

  private:
    qint64 quarter_ = -1;
    int offset_ = 0;
};

}  // namespace

QByteArray csvHeader(CsvForm form, base::Lang lang) {
    // The Chinese header is what files and tools of the Chinese program rely on; a translation
    // names the same columns in its language.
    if (form == CsvForm::Digest) lang = base::Lang::Stored;
    QByteArray h =
        QByteArray("\xEF\xBB\xBF") +
        base::wording(
            QT_TRANSLATE_NOOP("velmars",
                              "日期时间,PV1,PV2,SV1,SV2,变送1,变送2,ALM1类型,ALM2类型,输出1,输出2"),
            lang)
            .toUtf8() +
        ',' + base::wording(QT_TRANSLATE_NOOP("velmars", "数据状态"), lang).toUtf8();
    if (form == CsvForm::Copy)
        h += ',' + base::wording(QT_TRANSLATE_NOOP("velmars", "时间（含时区）"), lang).toUtf8();
    return h + QByteArray("\r\n");
}

QByteArray csvStaleMark(base::Lang lang) {
    return base::wording(QT_TRANSLATE_NOOP("velmars", "数值过期"), lang).toUtf8();
}

namespace {

std::mutex gapCauseMutex;
GapCauseSource makeGapCause;

}  // namespace

void setGapCauseSource(GapCauseSource make) {
    const std::lock_guard lock(gapCauseMutex);
    makeGapCause = std::move(make);
}

QByteArray csvGapMark(qint64 seconds, const QString& cause, base::Lang lang) {
    const QString text =
        cause.isEmpty()
            ? base::wording(QT_TRANSLATE_NOOP("velmars", "缺失 %1 秒"), lang).arg(seconds)
            : base::wording(QT_TRANSLATE_NOOP("velmars", "缺失 %1 秒：%2"), lang)
                  .arg(QString::number(seconds), cause);
    // The cell stays one cell: a cause with the separator or a quote in it is quoted.
    QByteArray cell = text.toUtf8();
    if (cell.contains(',') || cell.contains('"') || cell.contains('\n') || cell.contains('\r'))
        cell = '"' + cell.replace('"', "\"\"") + '"';
    return cell;
}

void appendCsvRow(QByteArray& out, double date, double time, const double (&values)[10],
                  const QByteArray& state, std::optional<int> offsetSeconds, CsvForm form) {
    // Whole seconds of the day; a time that rounds up to midnight belongs to the next day.
    qint64 days = static_cast<qint64>(std::floor(date));
    qint64 secs = std::llround(std::clamp(time, 0.0, 1.0) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    const QDate d = QDate(1899, 12, 30).addDays(days);
    char buf[20];  // YYYY-MM-DD HH:MM:SS
    appendDigits(buf, std::clamp(d.year(), 0, 9999), 4);
    buf[4] = '-';
    appendDigits(buf + 5, d.month(), 2);
    buf[7] = '-';
    appendDigits(buf + 8, d.day(), 2);
    buf[10] = ' ';
    appendDigits(buf + 11, int(secs / 3600), 2);
    buf[13] = ':';
    appendDigits(buf + 14, int(secs / 60 % 60), 2);
    buf[16] = ':';
    appendDigits(buf + 17, int(secs % 60), 2);
    out.append(buf, 19);
    for (double v : values) {
        out.append(',');
        appendNumber(out, v, form);
    }
    out.append(',');
    out.append(state);
    if (form == CsvForm::Copy) {
        if (!offsetSeconds)
            offsetSeconds =
                QDateTime(d, QTime(0, 0).addSecs(static_cast<int>(secs))).offsetFromUtc();
        out.append(',');
        out.append(buf, 19);
        out.append(' ');
        out.append(base::utcOffsetText(*offsetSeconds).toLatin1());
    }
    out.append("\r\n", 2);
}

std::optional<QDateTime> parseExportTime(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    const QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid()) return std::nullopt;
    return t;
}

CsvExport::CsvExport(QString dbPath, QString connectionName)
    : path_(std::move(dbPath)), file_(std::move(connectionName)) {}

CsvExport::CsvExport(SampleStore& store)
    : path_(store.path()), file_(QString()), shared_(store.database()) {}

CsvExport::~CsvExport() = default;

bool CsvExport::open() {
    if (open_) return true;
    const bool shared = shared_.isValid();
    const QFileInfo info(path_);
    if (!info.exists() || !info.isFile()) {
        error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件不存在：%1")), {path_}};
        return false;
    }
    // Read-only and never created; a short wait for a writer's lock.
    if (!shared && !file_.open(path_, /*readOnly=*/true, 2000)) {
        error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库无法打开：%1")),
                  {file_.error().text()}};
        return false;
    }
    {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("SELECT * FROM pv_data LIMIT 0")) ||
            q.record().count() < schema::kFirstValueColumn + schema::kValueCount) {
            error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "不是记录数据库：%1")), {path_}};
            q = QSqlQuery();
            if (!shared) file_.close();
            return false;
        }
        // The archive, when the file has one, holds the ring's records and every older one;
        // an empty one beside a ring with records has not taken them in yet.
        archive_ = q.exec(QStringLiteral("SELECT * FROM archive LIMIT 0")) &&
                   q.record().count() == schema::kArchiveColumnCount;
        if (archive_ &&
            q.exec(QStringLiteral("SELECT NOT EXISTS (SELECT 1 FROM archive) AND EXISTS (SELECT 1 "
                                  "FROM pv_data WHERE w_date > 0)")) &&
            q.next() && q.value(0).toBool())
            archive_ = false;
    }
    open_ = true;
    return true;
}

std::optional<qint64> CsvExport::count(const ExportRange& range) {
    if (!open_ && !open()) return std::nullopt;
    QSqlQuery q(db());
    if (archive_) {
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM archive") + archiveWhereClause(range));
        bindArchiveRange(q, range);
    } else {
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM pv_data") + whereClause(range));
        bindRange(q, range);
    }
    if (!q.exec() || !q.next()) {
        error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "读取记录失败：%1")),
                  {q.lastError().text()}};
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

std::optional<qint64> CsvExport::write(QIODevice& out, const ExportRange& range,
                                       const std::function<bool(qint64)>& progress,
                                       QIODevice* digest) {
    stopped_ = false;
    if (!open_ && !open()) return std::nullopt;
    std::vector<StaleSpan> stale;
    if (archive_) {
        const auto spans = staleSpansIn(db(), range);
        if (!spans) {
            error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "读取记录失败：%1")),
                      {db().lastError().text()}};
            return std::nullopt;
        }
        stale = *spans;
    }
    size_t nextStale = 0;
    const QByteArray staleMark =
        csvStaleMark(form_ == CsvForm::Digest ? base::Lang::Stored : words_);
    const QByteArray digestStaleMark = csvStaleMark(base::Lang::Stored);
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (archive_) {
        q.prepare(QStringLiteral("SELECT * FROM archive") + archiveWhereClause(range) +
                  QStringLiteral(" ORDER BY t, seq"));
        bindArchiveRange(q, range);
    } else {
        q.prepare(QStringLiteral("SELECT * FROM pv_data") + whereClause(range) +
                  QStringLiteral(" ORDER BY w_date, w_time"));
        bindRange(q, range);
    }
    if (!q.exec()) {
        error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "读取记录失败：%1")),
                  {q.lastError().text()}};
        return std::nullopt;
    }
    QByteArray buf = csvHeader(form_, words_);
    buf.reserve(kFlushBytes + 4096);
    QByteArray digestBuf = digest ? csvHeader(CsvForm::Digest) : QByteArray();
    auto flush = [&] {
        const bool ok = out.write(buf) == buf.size();
        buf.clear();
        if (!ok)
            error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "写入失败：%1")),
                      {out.errorString()}};
        if (ok && digest) {
            const bool written = digest->write(digestBuf) == digestBuf.size();
            digestBuf.clear();
            if (!written)
                error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "写入失败：%1")),
                          {digest->errorString()}};
            return written;
        }
        return ok;
    };
    qint64 rows = 0;
    double values[10];
    LocalSeconds local;
    qint64 previous = 0;  // the last record's second; 0 before the first
    GapCause gapCause = gapCause_;
    if (!gapCause && form_ == CsvForm::Copy) {
        const std::lock_guard lock(gapCauseMutex);
        if (makeGapCause) gapCause = makeGapCause(path_, words_);
    }
    while (q.next()) {
        if (archive_) {
            for (int c = 0; c < schema::kValueCount; ++c)
                values[c] = schema::shownValue(c, archive::decodeValue(q.value(2 + c)));
            const qint64 at = q.value(0).toLongLong();
            if (form_ == CsvForm::Copy && previous > 0 && at > previous + 1) {
                // The missing seconds, at the first of them, with no values.
                const qint64 first = previous + 1, last = at - 1;
                double none[10];
                std::fill(std::begin(none), std::end(none), qQNaN());
                const auto [gapDate, gapTime] = local.ole(first);
                appendCsvRow(buf, gapDate, gapTime, none,
                             csvGapMark(last - first + 1,
                                        gapCause ? gapCause(first, last) : QString(), words_),
                             local.offset(), form_);
            }
            previous = std::max(previous, at);
            const auto [date, time] = local.ole(at);
            const QByteArray state = inStaleSpan(stale, &nextStale, at) ? staleMark : QByteArray();
            appendCsvRow(buf, date, time, values, state, local.offset(), form_);
            if (digest)
                appendCsvRow(digestBuf, date, time, values,
                             state.isEmpty() ? QByteArray() : digestStaleMark, {}, CsvForm::Digest);
        } else {
            for (int c = 0; c < schema::kValueCount; ++c)
                values[c] =
                    schema::shownValue(c, q.value(schema::kFirstValueColumn + c).toDouble());
            const double date = q.value(1).toDouble(), time = q.value(2).toDouble();
            appendCsvRow(buf, date, time, values, {}, {}, form_);
            if (digest) appendCsvRow(digestBuf, date, time, values, {}, {}, CsvForm::Digest);
        }
        ++rows;
        if (buf.size() >= kFlushBytes && !flush()) return std::nullopt;
        if (progress && rows % kProgressEvery == 0 && !progress(rows)) {
            stopped_ = true;
            error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "导出已取消"))};
            return std::nullopt;
        }
    }
    if (q.lastError().isValid()) {
        error_ = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "读取记录失败：%1")),
                  {q.lastError().text()}};
        return std::nullopt;
    }
    if (!flush()) return std::nullopt;
    if (progress) progress(rows);
    return rows;
}

}  // namespace store
