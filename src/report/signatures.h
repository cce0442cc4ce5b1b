#pragma once
// Electronic signatures on what a report shows: a run, a span of the archive, or a review of the
// audit trail. Each signature names who signed (user id and printed full name), what the signature
// means, when (UTC with the PC's offset at that moment) and the SHA-256 of the data signed, so that
// a later report can say whether its data still are the data that were signed. Signatures live in
// the table `signatures` of the chamber's database, each written in one transaction with its row
// in the event log; none is ever changed or removed, and a signed run is frozen.

#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/tr.h"
#include "report/report.h"
#include "store/database.h"

namespace auth {
class UserStore;
}

namespace report {

enum class Meaning { Performed, Reviewed, Approved };
// The meaning as the file keeps it and the command line takes it ("执行", "审核", "批准").
QString meaningKey(Meaning m);
std::optional<Meaning> meaningFromKey(const QString& key);
// The meaning in the chosen language.
QString meaningText(Meaning m);

struct Signature {
    QString subject;  // runSubject(), spanSubject() or auditSubject()
    QString digest;   // hex SHA-256 of the signed data (dataDigest())
    QString userId, fullName;
    Meaning meaning = Meaning::Performed;
    qint64 atMs = 0;        // UTC
    int offsetSeconds = 0;  // the PC's offset from UTC when it was signed
};
// The moment as the signer's PC read it, with its offset: "2026-03-01T09:30:00+08:00".
QString signatureTime(const Signature& s);

QString runSubject(int64_t runId);
QString spanSubject(int64_t from, int64_t to);
QString auditSubject(int64_t from, int64_t to);

// The digest a report's data are signed with: the span, the subject's texts and bands, and the
// SHA-256 of the span's CSV export, hashed together the same way every time.
QString dataDigest(const ReportRequest& request, const QString& csvSha256);
// The same, read from the request's database now (the CSV export's pass over the span); nullopt
// with error when the file cannot be read.
std::optional<QString> dataDigest(const ReportRequest& request, QString* error);

// Why a signature of meaning m may not be added to a subject with the signatures before; empty
// when it may. ended: a run has ended (a span or a review always has). A run is signed only once
// it ended; an approval needs a review first.
base::Phrase sequenceRefusal(Meaning m, bool ended, const std::vector<Signature>& before);

// Why this signer may not sign with meaning m after the signatures before; empty when they may.
// Nobody signs one subject with one meaning twice, and the one who reviewed does not also approve
// (nor the approver review) unless the laboratory allows it.
base::Phrase signerRefusal(Meaning m, const QString& userId, const std::vector<Signature>& before,
                           bool reviewerMayApprove);

// The line of a signature's event row in the language; nullopt for another code.
std::optional<QString> signedEventText(const QString& code, const QStringList& args,
                                       base::Lang lang);

// The sentence a frozen run's change or deletion is refused with.
base::Phrase signedRunRefusal();

// An administrator's decision that retention may drop the seconds of a signed subject: a chained
// row of the subject's event log (its values: the subject and the administrator) with the reason.
// Until one is stored, retention keeps every signed second.
struct Release {
    QString subject;
    QString userId;
    QString reason;
    qint64 atMs = 0;  // UTC
};

class SignatureStore {
  public:
    SignatureStore(const QString& path, const QString& connectionName);
    ~SignatureStore();
    SignatureStore(const SignatureStore&) = delete;
    SignatureStore& operator=(const SignatureStore&) = delete;

    // The subject's signatures, oldest first; nullopt with lastError() when the file cannot be
    // read. A file without the table has none.
    std::optional<std::vector<Signature>> list(const QString& subject);
    // Stores the signature and its event row in one transaction (the table made where missing);
    // false with lastError() and nothing stored.
    bool add(const Signature& s);
    QString lastError() const { return error_; }

    // Whether the subject has a signature, on a file the caller has open (false on a file
    // without the table); nullopt with db's fault on a read error.
    static std::optional<bool> isSigned(store::Database& db, const QString& subject);

    // The subject's release for retention; none when there is none (or the file has no log).
    // nullopt with lastError() when the file cannot be read.
    std::optional<std::optional<Release>> released(const QString& subject);
    // Stores the release as its event row; false with lastError() and nothing stored.
    bool release(const Release& r);

  private:
    // Stores the event row of code (kind run, at atMs UTC, by userId, for reason) with what
    // alongside writes beside it, in one transaction; false with lastError() and nothing stored.
    bool append(const QString& code, const QStringList& args, qint64 atMs, const QString& userId,
                const QString& reason, const std::function<bool(store::Database&)>& alongside = {});
    // Runs sql (one value bound: the subject) over the file's table, one call of row per row
    // (none without the table); false with lastError() when the file cannot be read.
    bool read(const QString& table, const QString& sql, const QString& subject,
              const std::function<void(const QSqlQuery&)>& row);

    QString path_, connection_;
    QString error_;
};

// How a signing ended: status 0 signed, 1 refused (a wrong password or user id, a role too low, out
// of order), 2 not possible (no usable user store, access control off, an unreadable file); why in
// the chosen language.
struct SignOutcome {
    int status = 0;
    QString why;
};
// Whether anyone may sign with this user store: a usable one with access control on.
SignOutcome maySign(auth::UserStore& users);

struct SignRequest {
    QString userId, password;
    Meaning meaning = Meaning::Performed;
    QString subject;
    bool ended = true;  // the subject's data are complete (a run has ended)
    // The end of the data signed (s UTC): a PC clock before it, or before the subject's last
    // signature, is refused, so that a clock set back cannot date a signature before its data.
    int64_t notBefore = 0;
};
// Checks user id and password through the store (a failure counts as a failed login), the role,
// the order of meanings; then stores the signature with the digest digestOf reads from the data
// now, in dbPath. Slow (a password hash and a pass over the data): never on the UI thread.
SignOutcome sign(auth::UserStore& users, const SignRequest& request, const QString& dbPath,
                 const std::function<std::optional<QString>(QString* error)>& digestOf);

struct ReleaseRequest {
    QString userId, password, reason;
    QString subject;
};
// Checks the administrator (user id and password through the store, the right to change the
// retention), that the subject is signed and not released already; then stores the release.
// Status 0 released, 1 refused, 2 not possible, as sign() does.
SignOutcome release(auth::UserStore& users, const ReleaseRequest& request, const QString& dbPath);

// Runs work on a thread of its own (a window's slow step); what it returns then runs on the UI
// thread while context lives.
void runLater(QObject* context, std::function<std::function<void()>()> work);

// Signing on a thread of its own, for the windows: done(outcome) runs on context's thread while
// context lives. The user store is opened there from usersPath.
void signLater(QObject* context, const QString& usersPath, const SignRequest& request,
               const QString& dbPath,
               std::function<std::optional<QString>(QString* error)> digestOf,
               std::function<void(const SignOutcome&)> done);

// From the user store (an unusable or missing one: off now, nothing known of the past), for a
// report of the database at dbPath.
AccessNotes accessNotes(auth::UserStore& users, int64_t now, const QString& dbPath);

}  // namespace report
