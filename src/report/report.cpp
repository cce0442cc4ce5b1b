// The report's making: the passes over the span (figures, events, the CSV and its hash, the
// chart's rollups) and the job that runs them off the window's thread.

#include "report/report.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <atomic>
#include <utility>

#include "auth/userstore.h"
#include "base/tr.h"
#include "events/eventstore.h"
#include "report/analysis.h"
#include "report/logging.h"
#include "report/reportpdf.h"
#include "report/signatures.h"
#include "store/csvexport.h"
#include "store/store.h"

namespace report {

namespace {

// A device that hashes what is written to it and passes it on to a file when there is one.
class HashingDevice : public QIODevice {
  public:
    explicit HashingDevice(QIODevice* copy) : hash_(QCryptographicHash::Sha256), copy_(copy) {
        open(QIODevice::WriteOnly);
    }
    QByteArray hex() const { return hash_.result().toHex(); }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override {
        hash_.addData(QByteArrayView(data, len));
        if (copy_ && copy_->write(data, len) != len) {
            setErrorString(copy_->errorString());
            return -1;
        }
        return len;
    }

  private:
    QCryptographicHash hash_;
    QIODevice* copy_;
};

// The digest's rows as an English report of earlier versions hashed them: the header and the
// stale seconds' cells in the English words of their day, everything else the same. Signatures
// made then were digested over these words; new ones are made over the stored words alone. Fed
// the digest's form (the stored words) whole lines at a time or not.
class EnglishWordsHash : public QIODevice {
  public:
    EnglishWordsHash() : hash_(QCryptographicHash::Sha256) { open(QIODevice::WriteOnly); }
    QByteArray hex() {
        addLines(std::exchange(pending_, {}));
        return hash_.result().toHex();
    }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override {
        pending_.append(data, len);
        const qsizetype end = pending_.lastIndexOf('\n');
        if (end >= 0) {
            addLines(pending_.left(end + 1));
            pending_.remove(0, end + 1);
        }
        return len;
    }

  private:
    void addLines(QByteArray lines) {
        if (!headerSeen_ && !lines.isEmpty()) {
            headerSeen_ = true;
            const QByteArray stored = store::csvHeader(store::CsvForm::Digest);
            if (lines.startsWith(stored))
                lines.replace(0, stored.size(),
                              QByteArray("\xEF\xBB\xBF"
                                         "Date time,PV1,PV2,SV1,SV2,Retransmission 1,"
                                         "Retransmission 2,ALM1 type,ALM2 type,Output 1,Output 2,"
                                         "Data state\r\n"));
        }
        // The state cell is the row's last: a stored mark never stands anywhere else.
        lines.replace(',' + store::csvStaleMark(base::Lang::Stored) + "\r\n",
                      QByteArray(",stale\r\n"));
        hash_.addData(lines);
    }

    QCryptographicHash hash_;
    QByteArray pending_;
    bool headerSeen_ = false;
};

QString uniqueName(const char* what) {
    static std::atomic<int> next{0};
    return QStringLiteral("report-%1-%2").arg(QString::fromLatin1(what)).arg(next++);
}

}  // namespace

ReportOutcome makeReport(const ReportRequest& request, const std::function<bool(int)>& progress) {
    using End = ReportOutcome::End;
    const auto going = [&](int percent) { return !progress || progress(percent); };
    const auto ended = [](End end, base::Phrase why) {
        ReportOutcome o;
        o.end = end;
        o.error = why.text(base::Lang::Shown);
        o.why = std::move(why);
        return o;
    };
    const ReportOutcome cancelled =
        ended(End::Cancelled, {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "报告已取消"))});
    // The file and a store's fault (its words).
    const auto unreadable = [&](const QString& fault) {
        return ended(
            End::Unreadable,
            base::Phrase{QStringLiteral("%1：%2"), {request.dbPath}, {base::Phrase{fault}}});
    };
    const auto unwritten = [&](base::Phrase why) { return ended(End::Unwritten, std::move(why)); };
    const auto cannotWrite = [&](const QString& path, const QString& reason) {
        return unwritten(
            {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法写入 %1：%2")), {path, reason}});
    };
    // Ends the wrong way round are no span: bad input, not a report of something else.
    if (request.to < request.from)
        return ended(End::Unreadable,
                     {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "结束时间早于开始时间"))});
    const int64_t from = request.from, to = request.to;
    if (!QFileInfo::exists(request.dbPath))
        return unreadable(store::faultText(store::SampleStore::Fault::NotOpen));
    store::SampleStore store(request.dbPath, uniqueName("samples"));
    if (!store.open(store::SampleStore::Access::ReadOnly)) return unreadable(store.lastError());
    // Figures, CSV and chart are read in one read transaction: a recorder writing meanwhile (a
    // run still open) adds no second to one of them that the others miss. A file without an
    // archive yet is read from its ring.
    if (!store.beginRead()) return unreadable(store.lastError());
    struct Snapshot {
        store::SampleStore& store;
        bool held = true;
        void end() {
            if (std::exchange(held, false)) store.endRead();
        }
        ~Snapshot() { end(); }
    } snapshot{store};

    const auto bands = request.subject.bands.value_or(std::array<instrument::ToleranceBand, 2>{});
    Analyzer analyzer(from, to, bands[0], bands[1]);
    int64_t seen = 0;
    const int64_t span = std::max<int64_t>(to - from + 1, 1);
    bool stopped = false;
    const bool read = store.forEachArchived(from, to, [&](const store::ArchivedSample& s) {
        analyzer.add(s);
        if (++seen % 50000 == 0 && !going(static_cast<int>(40 * std::min(seen, span) / span)))
            stopped = true;
        return !stopped;
    });
    if (stopped) return cancelled;
    if (!read) return unreadable(store.lastError());

    std::vector<events::EventEntry> events;
    {
        events::EventStore log(request.dbPath, uniqueName("events"));
        if (log.open(/*readOnly=*/true) && log.hasTable()) {
            events::EventFilter filter;
            filter.from = QDateTime::fromSecsSinceEpoch(from);
            filter.to = QDateTime::fromSecsSinceEpoch(to);
            filter.newestFirst = false;
            events = log.load(filter);
        }
    }
    ReportContent content;
    content.request = request;
    content.figures = analyzer.finish(events);
    content.events = std::move(events);
    if (!going(45)) return cancelled;

    // The span's CSV export: its SHA-256 goes on every page, the file beside the report when
    // asked for. It is the export --export-csv makes of the same span, byte for byte.
    {
        store::CsvExport csv(store);
        if (!csv.open()) return ended(End::Unreadable, csv.error());
        QSaveFile file(request.csvPath);
        if (!request.csvPath.isEmpty() && !file.open(QIODevice::WriteOnly))
            return cannotWrite(request.csvPath, file.errorString());
        HashingDevice hashing(request.csvPath.isEmpty() ? nullptr : &file);
        // The signatures' digest reads the same rows in its own form, in the same pass, and so
        // does the digest of the English words earlier versions signed some of them over.
        EnglishWordsHash english;
        HashingDevice digest(&english);
        const auto rows = csv.write(
            hashing, {QDateTime::fromSecsSinceEpoch(from), QDateTime::fromSecsSinceEpoch(to)},
            [&](qint64 done) {
                return going(45 + static_cast<int>(40 * std::min<int64_t>(done, span) / span));
            },
            &digest);
        if (!rows) {
            if (csv.stopped()) return cancelled;
            return hashing.errorString().isEmpty() ? ended(End::Unreadable, csv.error())
                                                   : unwritten(csv.error());
        }
        if (!request.csvPath.isEmpty() && !file.commit())
            return cannotWrite(request.csvPath, file.errorString());
        content.csvSha256 = QString::fromLatin1(hashing.hex());
        content.csvRows = *rows;
        content.digest = dataDigest(request, QString::fromLatin1(digest.hex()));
        content.englishDigest = dataDigest(request, QString::fromLatin1(english.hex()));
    }
    if (!content.request.access && !request.usersPath.isEmpty()) {
        auth::UserStore users(request.usersPath, uniqueName("users"));
        users.open(/*create=*/false);
        content.request.access =
            accessNotes(users, QDateTime::currentSecsSinceEpoch(), request.dbPath);
    }
    if (!request.signatureSubject.isEmpty()) {
        // A report that should show signatures is not made without them.
        SignatureStore signatures(request.dbPath, uniqueName("signatures"));
        auto list = signatures.list(request.signatureSubject);
        if (!list) return unreadable(signatures.lastError());
        content.signatures = std::move(*list);
        const auto released = signatures.released(request.signatureSubject);
        if (!released) return unreadable(signatures.lastError());
        content.release = *released;
    }

    const auto rows = store.loadSpan(from, to, kChartBuckets);
    if (!rows) return unreadable(store.lastError());
    content.chart = *rows;
    snapshot.end();
    if (!going(90)) return cancelled;
    const base::Phrase error = writePdf(content, request.pdfPath);
    qCDebug(lcReport, "%s of %lld..%lld from %s: %s", qUtf8Printable(request.pdfPath),
            static_cast<long long>(from), static_cast<long long>(to),
            qUtf8Printable(request.dbPath),
            error.isEmpty() ? "written" : qUtf8Printable(error.text(base::Lang::Stored)));
    if (!error.isEmpty()) return unwritten(error);
    return {};
}

std::optional<QString> dataDigest(const ReportRequest& request, QString* error) {
    store::CsvExport csv(request.dbPath, uniqueName("digest"));
    if (!csv.open()) {
        *error = csv.error().text(base::Lang::Shown);
        return std::nullopt;
    }
    csv.setForm(store::CsvForm::Digest);
    HashingDevice hashing(nullptr);
    if (!csv.write(hashing, {QDateTime::fromSecsSinceEpoch(request.from),
                             QDateTime::fromSecsSinceEpoch(request.to)})) {
        *error = csv.error().text(base::Lang::Shown);
        return std::nullopt;
    }
    return dataDigest(request, QString::fromLatin1(hashing.hex()));
}

ReportJob::ReportJob(ReportRequest request, QObject* parent)
    : QObject(parent), request_(std::move(request)) {}

ReportJob::~ReportJob() {
    cancelled_->store(true);
    // The report looks at the flag between its steps; this waits for the step in flight.
    thread_.end(10000);
}

void ReportJob::start() {
    if (thread_.started()) return;
    cancelled_->store(false);
    thread_.start();
    // The thread has copies of what it needs and tells this job only while the job is there: the
    // job may be gone before a report stuck on the disk ends.
    const QPointer<ReportJob> self(this);
    const auto tell = [self](auto fn) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, fn] {
                if (self) fn(*self);
            },
            Qt::QueuedConnection);
    };
    thread_.post([request = request_, cancelled = cancelled_, tell](QObject&) {
        int last = -1;
        const ReportOutcome outcome = makeReport(request, [&](int percent) {
            if (percent != last) {
                last = percent;
                tell([percent](ReportJob& job) { emit job.progress(percent); });
            }
            return !cancelled->load();
        });
        tell([outcome](ReportJob& job) {
            emit job.finished(outcome.why, outcome.end == ReportOutcome::End::Cancelled);
        });
    });
}

}  // namespace report
