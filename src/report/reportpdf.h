#pragma once
// The report's pages: everything the passes over the span found, laid out on A4 and written as a
// PDF through QPdfWriter, the chart in vectors.

#include <QString>
#include <QStringList>
#include <vector>

#include "events/eventrules.h"
#include "report/analysis.h"
#include "report/report.h"
#include "report/signatures.h"
#include "store/archive.h"

namespace report {

inline constexpr int kChartBuckets = 600;  // rollup rows for the chart of the whole span
inline constexpr int kListedEventsAtMost = 1000;

struct ReportContent {
    ReportRequest request;
    Figures figures;
    std::vector<events::EventEntry> events;  // of the span, in time order
    std::vector<store::SpanRow> chart;
    QString csvSha256;
    qint64 csvRows = 0;
    // The signatures of request.signatureSubject, and the digest of the data as they are now.
    std::vector<Signature> signatures;
    QString digest;
    // The same data's digest over the English words an English report of earlier versions
    // signed: a signature made then that matches it is as consistent as one that matches digest.
    QString englishDigest;
    // An administrator's release of the subject's seconds to retention.
    std::optional<Release> release;
};

// Writes the PDF whole (or nothing at path); empty on success, else why not.
base::Phrase writePdf(const ReportContent& content, const QString& path);

// The review of the audit trail: the span, the chains' verdict, the rows of content.events (of
// content.csvRows in all), and on every page the notes and signatures of content.
base::Phrase writeAuditPdf(const ReportContent& content, const QString& verdict,
                           const QString& path);

// The five time labels under a chart of from..to (UTC seconds): its start, quarters and end, in
// local time, as short as lets them read apart.
QStringList chartTimeLabels(int64_t from, int64_t to);

// The program's version as the report names it.
QString programVersion();

}  // namespace report
