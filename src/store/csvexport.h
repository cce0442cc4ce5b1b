#pragma once
// Records out of the sample store as CSV: UTF-8 with a byte-order mark, comma-separated, CRLF
// line ends, one header row, then one row per stored record in time order (across the ring's
// wrap), the sample's local date and time first, then the ten stored channels (the
// retransmission outputs as a percentage, the ring keeping their tenths), then the data's state:
// empty for a reading, a mark for a second stored while the instrument's values were stale (a
// copy of the last reading, not a reading of its own). Records never
// written (date 0) are left out. Last comes the row's time again with its offset from UTC
// ("2026-12-10 11:04:05 +08:00"), so that a copy read in another zone names the same moment. A file
// with an archive is read from the archive, which holds every sample back to the retention limit; a
// ring without one (a file no recorder of this program has opened), or with an empty one while the
// ring holds records, from the ring.
//
// Seconds missing between two archived records (nothing stored: the program or the service not
// running, the recorder stopped) are a row of their own at the first missing second, its values
// empty and its state saying how many seconds are missing and, where known, why: a copy never
// jumps over a gap silently. The digest's form has no such rows.
//
// The export reads through a connection of its own, opened read-only: it never creates or
// changes the database, and in WAL mode it never holds up the recorder's writes.

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

#include "base/tr.h"
#include "store/sqlitefile.h"

class QIODevice;
class QByteArray;

namespace store {

// The records to export: both ends included, each optional (no end: from the oldest or to the
// newest record). Local date and time, whole seconds.
struct ExportRange {
    std::optional<QDateTime> from;
    std::optional<QDateTime> to;
};

// The form of the rows. Copy: what files get. Digest: what the signatures' digest of the data is
// computed over, unchanged since the first signatures so that each stays checkable: no time with
// offset, a value that is no float in the double's shortest form, and the stored words whatever
// the language shown (what is signed is the data, never the words).
enum class CsvForm { Copy, Digest };

// The header row with its line end, preceded by the byte-order mark, in the language (the stored
// words for the digest's form).
QByteArray csvHeader(CsvForm form = CsvForm::Copy, base::Lang lang = base::Lang::Shown);
// Appends one record as a CSV row with its line end, state its last cell. Values that a float
// holds exactly are written in the float's shortest form (23.4, 300), others (a reading divided by
// ten) with at most seven significant digits: 4.56, not 4.5600000000000005. offsetSeconds: the
// zone's offset from UTC at that local time; none: the one this PC's zone gives it.
void appendCsvRow(QByteArray& out, double date, double time, const double (&values)[10],
                  const QByteArray& state = {}, std::optional<int> offsetSeconds = {},
                  CsvForm form = CsvForm::Copy);
// The state cell of a second stored stale.
QByteArray csvStaleMark(base::Lang lang = base::Lang::Shown);
// The state cell of the row standing for missing seconds; cause: why, in the same language (empty
// when not known).
QByteArray csvGapMark(qint64 seconds, const QString& cause, base::Lang lang = base::Lang::Shown);
// Why the seconds first..last (UTC, both missing) hold no record, in the export's language; empty
// when not known.
using GapCause = std::function<QString(qint64 first, qint64 last)>;
// Where an export without a cause of its own (setGapCause) gets one for the file it reads, in
// the language of its words: made when it writes, on its thread. Set once by the program; without
// it gaps have no cause.
using GapCauseSource = std::function<GapCause(const QString& dbPath, base::Lang lang)>;
void setGapCauseSource(GapCauseSource make);
// Parses "YYYY-MM-DD HH:MM:SS" (the form the rows carry); nullopt for anything else.
std::optional<QDateTime> parseExportTime(const QString& text);

class SampleStore;

class CsvExport {
  public:
    // connectionName must be unique among the thread's connections. Nothing is opened yet.
    CsvExport(QString dbPath, QString connectionName);
    // Reads through the open store's connection instead of one of its own, so that an export
    // made inside the store's read transaction shows the same snapshot as the store's reads.
    // The store must stay open while the export is used.
    explicit CsvExport(SampleStore& store);
    ~CsvExport();
    CsvExport(const CsvExport&) = delete;
    CsvExport& operator=(const CsvExport&) = delete;

    // Opens the file read-only and checks that it holds the ring's table. False when it is
    // missing or unreadable; error() says why, put into words where it is shown.
    bool open();
    base::Phrase error() const { return error_; }

    // Number of records the range holds; nullopt when the query fails.
    std::optional<qint64> count(const ExportRange& range);
    // Writes the header and the range's records to out. progress(done) is called every few
    // thousand rows; returning false from it stops the export. Returns the number of records
    // written, or nullopt when the export failed or was stopped (error() says which).
    // The form write() puts out; Copy unless set.
    void setForm(CsvForm form) { form_ = form; }
    // digest, when given, gets the same rows in the digest's form, in the same pass.
    std::optional<qint64> write(QIODevice& out, const ExportRange& range,
                                const std::function<bool(qint64)>& progress = {},
                                QIODevice* digest = nullptr);
    bool stopped() const { return stopped_; }
    // The language of the header and the state cells (the operator's, unless set): what is
    // signed is digested from the stored words, whatever the language shown.
    void setWords(base::Lang lang) { words_ = lang; }
    // Names the cause of each gap in the copy's rows (never in the digest's form).
    void setGapCause(GapCause cause) { gapCause_ = std::move(cause); }

  private:
    QSqlDatabase db() const { return shared_.isValid() ? shared_ : file_.db(); }
    QString path_;
    SqliteFile file_;
    QSqlDatabase shared_;  // the store's connection, when reading through it
    base::Phrase error_;
    bool open_ = false;
    bool archive_ = false;  // rows come from the archive rather than the ring
    bool stopped_ = false;
    CsvForm form_ = CsvForm::Copy;
    base::Lang words_ = base::Lang::Shown;
    GapCause gapCause_;
};

}  // namespace store
