#pragma once
// The test report: a PDF (A4, vector chart) of a span of the archive or of a test run, with the
// statistics of each channel computed from the stored seconds, the data's completeness and gaps,
// the events of the span, a signature block, and on every page the SHA-256 of the span's CSV
// export, which the report names. Made off the window's thread (ReportJob) or on the calling
// one (the command line).

#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/tr.h"
#include "base/workerthread.h"
#include "instrument/band.h"

namespace report {

// What a report is of, as its pages name it: a test run with its texts and the tolerance band of
// each loop, or a span of the archive, which has no band.
struct ReportSubject {
    QString name;  // the run's name, or the title of a span
    QString orderId, operatorName, notes;
    QString station;
    QString port;  // "1: /dev/ttyUSB0"
    int address = 1;
    bool open = false;  // a run not ended yet: the span ends now
    std::optional<std::array<instrument::ToleranceBand, 2>> bands;  // a run's, one per loop
};

// What a report says about access control: off when it was made (no user store, or switched
// off), unknown when the user store could not be read, and the stretches (UTC seconds) the user
// store recorded it switched off.
struct AccessNotes {
    bool offNow = true;
    bool unknown = false;  // a user store there but unusable: neither on nor off can be said
    std::vector<std::pair<int64_t, int64_t>> offSpans;
    // On, but the database can be rewritten by the account the report is made under (a program
    // recording by itself, not the service): the records are in the PC account's hands.
    bool unprotected = false;
};

struct ReportRequest {
    QString dbPath;
    QString pdfPath;
    QString csvPath;  // the span's CSV export is written there too when set
    // The span in UTC seconds, both ends included. For a run: its start and its end (or now,
    // while it is open).
    int64_t from = 0, to = 0;
    ReportSubject subject;
    // The subject whose signatures every page shows (none when empty), checked against the data.
    QString signatureSubject;
    // What the pages say about access control; unset: read from the user store at usersPath
    // when one is named, else nothing is said.
    std::optional<AccessNotes> access;
    QString usersPath;
};

// How a report ended: written, or why not in one line: why, put into words where it is shown,
// and error, the same in the chosen language (for the command line).
struct ReportOutcome {
    enum class End { Written, Unreadable, Unwritten, Cancelled };
    End end = End::Written;
    base::Phrase why;
    QString error;
    bool written() const { return end == End::Written; }
};

// Makes the report. progress(percent) is called now and then; when it returns false the report
// is abandoned (nothing is left at pdfPath or csvPath). The database is only read.
ReportOutcome makeReport(const ReportRequest& request,
                         const std::function<bool(int)>& progress = {});

// The same on a thread of its own, for the window.
class ReportJob : public QObject {
    Q_OBJECT
  public:
    explicit ReportJob(ReportRequest request, QObject* parent = nullptr);
    // Cancels a report in progress and waits a while for its thread to end; a report stuck on
    // the disk after that ends on its own and reports to no one.
    ~ReportJob() override;
    void start();
    void cancel() { cancelled_->store(true); }

  signals:
    void progress(int percent);
    // why is empty when the report was written; cancelled when the operator cancelled it.
    void finished(const base::Phrase& why, bool cancelled);

  private:
    ReportRequest request_;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    base::WorkerThread<QObject> thread_{QStringLiteral("report")};
};

}  // namespace report
