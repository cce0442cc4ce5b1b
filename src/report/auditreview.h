#pragma once
// The review of the audit trail: the event log of a span exported as CSV and as PDF, with the
// verdict of the file's hash chains at the head, and the review's signatures (linked to the digest
// of the span's rows) on every page. Reads the database only; slow, so never on the UI thread.

#include <QString>
#include <cstdint>
#include <optional>

#include "report/report.h"

namespace report {

struct AuditReviewRequest {
    QString dbPath;
    QString pdfPath;
    QString csvPath;           // empty: beside the PDF, same name with .csv
    int64_t from = 0, to = 0;  // UTC seconds, both ends included
    QString usersPath;         // the user store that says whether access control was off
};

// The digest a review is signed with: the span and every stored field of its rows, hashed the
// same way every time (the language the rows are shown in changes nothing).
std::optional<QString> auditDigest(const QString& dbPath, int64_t from, int64_t to, QString* error);

// Writes both files; empty when written, else why not (nothing is left at either path).
QString makeAuditReview(const AuditReviewRequest& request);

}  // namespace report
