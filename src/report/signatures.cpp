#include "report/signatures.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QPointer>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>
#include <atomic>
#include <iterator>
#include <utility>

#include "auth/roles.h"
#include "auth/userstore.h"
#include "base/baseos.h"
#include "base/datafolder.h"
#include "base/workerthread.h"
#include "events/eventrules.h"
#include "events/eventstore.h"
#include "report/report.h"
#include "store/schema.h"

namespace report {

namespace {

constexpr int kBusyTimeoutMs = 5000;
const QString kSignedCode = QStringLiteral("report.signed");
const QString kReleasedCode = QStringLiteral("retention.released");

// [subject, meaning, user id, full name, digest]
std::optional<QString> signedText(const QString& code, const QStringList& a, base::Lang lang) {
    if (code != kSignedCode || a.size() < 4) return std::nullopt;
    const auto meaning = meaningFromKey(a[1]);
    return base::wording(QT_TRANSLATE_NOOP("velmars", "%1 已签名：%2（%3，%4）"), lang)
        .arg(a[0], meaning && lang == base::Lang::Shown ? meaningText(*meaning) : a[1], a[3], a[2]);
}

// [subject, administrator]
std::optional<QString> releasedText(const QString& code, const QStringList& a, base::Lang lang) {
    if (code != kReleasedCode || a.size() < 2) return std::nullopt;
    return base::wording(QT_TRANSLATE_NOOP("velmars", "%1 已签名的数据由 %2 交由保留期限删除"),
                         lang)
        .arg(a[0], a[1]);
}

QString uniqueName(const QString& base) {
    static std::atomic<int> next{0};
    return QStringLiteral("%1-%2").arg(base).arg(next++);
}

void addField(QCryptographicHash& h, const QString& name, const QString& value) {
    const QByteArray n = name.toUtf8(), v = value.toUtf8();
    h.addData(QByteArray::number(n.size()) + ':' + n + QByteArray::number(v.size()) + ':' + v);
}

}  // namespace

// By Meaning, as the file keeps them; translated where shown.
const char* const kMeanings[] = {QT_TRANSLATE_NOOP("velmars", "执行"),
                                 QT_TRANSLATE_NOOP("velmars", "审核"),
                                 QT_TRANSLATE_NOOP("velmars", "批准")};

QString meaningKey(Meaning m) {
    return QString::fromUtf8(kMeanings[int(m)]);
}

std::optional<Meaning> meaningFromKey(const QString& key) {
    for (Meaning m : {Meaning::Performed, Meaning::Reviewed, Meaning::Approved})
        if (meaningKey(m) == key.trimmed()) return m;
    return std::nullopt;
}

QString meaningText(Meaning m) {
    return base::Tr::tr(kMeanings[int(m)]);
}

QString signatureTime(const Signature& s) {
    return QDateTime::fromMSecsSinceEpoch(s.atMs, QTimeZone(s.offsetSeconds)).toString(Qt::ISODate);
}

QString runSubject(int64_t runId) {
    return QStringLiteral("run:%1").arg(runId);
}

QString spanSubject(int64_t from, int64_t to) {
    return QStringLiteral("span:%1-%2").arg(from).arg(to);
}

QString auditSubject(int64_t from, int64_t to) {
    return QStringLiteral("audit:%1-%2").arg(from).arg(to);
}

QString dataDigest(const ReportRequest& r, const QString& csvSha256) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    const ReportSubject& s = r.subject;
    addField(h, QStringLiteral("v"), QStringLiteral("1"));
    addField(h, QStringLiteral("from"), QString::number(r.from));
    addField(h, QStringLiteral("to"), QString::number(r.to));
    addField(h, QStringLiteral("name"), s.name);
    addField(h, QStringLiteral("order"), s.orderId);
    addField(h, QStringLiteral("operator"), s.operatorName);
    addField(h, QStringLiteral("notes"), s.notes);
    addField(h, QStringLiteral("station"), s.station);
    addField(h, QStringLiteral("port"), s.port);
    addField(h, QStringLiteral("address"), QString::number(s.address));
    if (s.bands) {
        for (const instrument::ToleranceBand& b : *s.bands)
            addField(h, QStringLiteral("band"),
                     QStringLiteral("%1 %2 %3 %4")
                         .arg(int(b.fixed))
                         .arg(b.plusMinus, 0, 'g', 17)
                         .arg(b.low, 0, 'g', 17)
                         .arg(b.high, 0, 'g', 17));
    }
    addField(h, QStringLiteral("csv"), csvSha256);
    return QString::fromLatin1(h.result().toHex());
}

base::Phrase sequenceRefusal(Meaning m, bool ended, const std::vector<Signature>& before) {
    // The data of a run still going change with every second: nothing signed could stay true.
    if (!ended) return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "试验尚未结束，不能签名"))};
    if (m != Meaning::Approved) return {};
    for (const Signature& s : before)
        if (s.meaning == Meaning::Reviewed) return {};
    return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "尚未审核，不能批准"))};
}

base::Phrase signerRefusal(Meaning m, const QString& userId, const std::vector<Signature>& before,
                           bool reviewerMayApprove) {
    const auto same = [&](const Signature& s) {
        return s.userId.compare(userId.trimmed(), Qt::CaseInsensitive) == 0;
    };
    for (const Signature& s : before) {
        if (!same(s)) continue;
        if (s.meaning == m)
            return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "%1 已以“%2”签过名")),
                    {s.userId, meaningText(m)}};
        const bool pair = (m == Meaning::Approved && s.meaning == Meaning::Reviewed) ||
                          (m == Meaning::Reviewed && s.meaning == Meaning::Approved);
        if (pair && !reviewerMayApprove)
            return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "同一人不能既审核又批准"))};
    }
    return {};
}

std::optional<QString> signedEventText(const QString& code, const QStringList& args,
                                       base::Lang lang) {
    if (auto text = signedText(code, args, lang)) return text;
    return releasedText(code, args, lang);
}

base::Phrase signedRunRefusal() {
    return {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "试验已签名，不能更改或删除"))};
}

SignatureStore::SignatureStore(const QString& path, const QString& connectionName)
    : path_(path), connection_(connectionName) {
    events::addEventTexts(&signedText);
    events::addEventTexts(&releasedText);
}

SignatureStore::~SignatureStore() = default;

bool SignatureStore::read(const QString& table, const QString& sql, const QString& subject,
                          const std::function<void(const QSqlQuery&)>& row) {
    store::Database db(path_, uniqueName(connection_));
    if (!db.open(store::FileAccess::ReadOnly, kBusyTimeoutMs)) {
        error_ = db.lastError();
        return false;
    }
    if (!db.hasTable(table)) return true;
    QSqlQuery q(db.db());
    q.prepare(sql);
    q.addBindValue(subject);
    if (!q.exec()) {
        db.failFromSql(q.lastError());
        error_ = db.lastError();
        return false;
    }
    while (q.next())
        row(q);
    return true;
}

std::optional<std::vector<Signature>> SignatureStore::list(const QString& subject) {
    std::vector<Signature> out;
    const bool ok = read(QStringLiteral("signatures"),
                         QStringLiteral("SELECT subject, digest, user_id, full_name, meaning, "
                                        "at_ms, utc_offset FROM signatures WHERE subject = ? "
                                        "ORDER BY id"),
                         subject, [&](const QSqlQuery& q) {
                             Signature s;
                             s.subject = q.value(0).toString();
                             s.digest = q.value(1).toString();
                             s.userId = q.value(2).toString();
                             s.fullName = q.value(3).toString();
                             // A meaning this version does not know is shown as the weakest,
                             // never as an approval.
                             s.meaning =
                                 meaningFromKey(q.value(4).toString()).value_or(Meaning::Performed);
                             s.atMs = q.value(5).toLongLong();
                             s.offsetSeconds = q.value(6).toInt();
                             out.push_back(s);
                         });
    return ok ? std::optional(out) : std::nullopt;
}

bool SignatureStore::append(const QString& code, const QStringList& args, qint64 atMs,
                            const QString& userId, const QString& reason,
                            const std::function<bool(store::Database&)>& alongside) {
    events::EventStore log(path_, uniqueName(connection_));
    if (!log.open()) {
        error_ = log.lastError();
        return false;
    }
    std::vector<events::EventEntry> entries = {
        events::codedEntry(events::eventkind::kRun, code, args)};
    entries.front().at = QDateTime::fromMSecsSinceEpoch(atMs);
    entries.front().user = userId;
    entries.front().reason = reason;
    const bool ok = log.append(entries, alongside);
    if (!ok) error_ = log.lastError();
    return ok;
}

bool SignatureStore::add(const Signature& s) {
    // The row names the signer, whoever's session it was made in.
    return append(kSignedCode, {s.subject, meaningKey(s.meaning), s.userId, s.fullName, s.digest},
                  s.atMs, s.userId, {}, [&](store::Database& db) {
                      QSqlQuery q(db.db());
                      if (!q.exec(store::schema::kCreateSignaturesSql))
                          return db.failFromSql(q.lastError());
                      for (const QString& sql : store::schema::freezeSignaturesSql())
                          if (!q.exec(sql)) return db.failFromSql(q.lastError());
                      q.prepare(QStringLiteral(
                          "INSERT INTO signatures (subject, digest, user_id, full_name, "
                          "meaning, at_ms, utc_offset) VALUES (?, ?, ?, ?, ?, ?, ?)"));
                      for (const QVariant& v :
                           QVariantList{s.subject, s.digest, s.userId, s.fullName,
                                        meaningKey(s.meaning), qlonglong(s.atMs), s.offsetSeconds})
                          q.addBindValue(v);
                      return q.exec() || db.failFromSql(q.lastError());
                  });
}

std::optional<bool> SignatureStore::isSigned(store::Database& db, const QString& subject) {
    if (!db.hasTable(QStringLiteral("signatures"))) return false;
    QSqlQuery q(db.db());
    q.prepare(QStringLiteral("SELECT count(*) FROM signatures WHERE subject = ?"));
    q.addBindValue(subject);
    if (!q.exec() || !q.next()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    return q.value(0).toLongLong() > 0;
}

std::optional<std::optional<Release>> SignatureStore::released(const QString& subject) {
    std::optional<Release> out;
    const bool ok = read(QStringLiteral("events"),
                         QStringLiteral("SELECT user_id, reason, at_ms FROM events WHERE code = "
                                        "'retention.released' AND json_extract(args, '$[0]') = ? "
                                        "ORDER BY id LIMIT 1"),
                         subject, [&](const QSqlQuery& q) {
                             out = Release{subject, q.value(0).toString(), q.value(1).toString(),
                                           q.value(2).toLongLong()};
                         });
    return ok ? std::optional(out) : std::nullopt;
}

bool SignatureStore::release(const Release& r) {
    return append(kReleasedCode, {r.subject, r.userId}, r.atMs, r.userId, r.reason);
}

SignOutcome maySign(auth::UserStore& users) {
    if (users.state() == auth::StoreState::Unusable) return {2, users.stateText()};
    if (users.state() != auth::StoreState::Ready || !users.accessControl())
        return {2, base::Tr::tr("访问控制未开启，不能签名")};
    return {};
}

namespace {

// Checks user id and password through the store (the success recorded under code) and that the
// account may do action; its account then.
SignOutcome checkUser(auth::UserStore& users, const QString& userId, const QString& password,
                      auth::Action action, const QString& code,
                      std::optional<auth::Account>& account) {
    const auth::Outcome o = users.authenticate(userId, password, code);
    if (o != auth::Outcome::Done)
        return {o == auth::Outcome::Unusable ? 2 : 1, auth::outcomeText(o)};
    account = users.account(userId.trimmed());
    if (!account) return {2, auth::outcomeText(auth::Outcome::Unusable)};
    auth::Standing who;
    who.controlled = true;
    who.role = account->role;
    if (const auth::Denial d = auth::mayDo(who, action); d != auth::Denial::None)
        return {1, auth::denialText(d, action)};
    return {};
}

}  // namespace

SignOutcome sign(auth::UserStore& users, const SignRequest& r, const QString& dbPath,
                 const std::function<std::optional<QString>(QString* error)>& digestOf) {
    if (SignOutcome o = maySign(users); o.status != 0) return o;
    if (int(r.meaning) < 0 || int(r.meaning) >= int(std::size(kMeanings)))
        return {2, base::Tr::tr("签名含义无效")};
    // The check of the signer's password is recorded as such, not as a login.
    std::optional<auth::Account> account;
    if (SignOutcome o = checkUser(users, r.userId, r.password, auth::Action::SignReport,
                                  QStringLiteral("signature.checked"), account);
        o.status != 0)
        return o;

    SignatureStore signatures(dbPath, QStringLiteral("sign"));
    const auto before = signatures.list(r.subject);
    if (!before) return {2, QStringLiteral("%1: %2").arg(dbPath, signatures.lastError())};
    if (const base::Phrase why = sequenceRefusal(r.meaning, r.ended, *before); !why.isEmpty())
        return {1, why.text(base::Lang::Shown)};
    if (const base::Phrase why =
            signerRefusal(r.meaning, account->userId, *before, users.reviewerMayApprove());
        !why.isEmpty())
        return {1, why.text(base::Lang::Shown)};
    const QDateTime now = QDateTime::currentDateTime();
    qint64 notBeforeMs = r.notBefore * 1000;
    for (const Signature& b : *before)
        notBeforeMs = std::max(notBeforeMs, b.atMs);
    if (now.toMSecsSinceEpoch() < notBeforeMs)
        return {1, base::Tr::tr("电脑时钟早于 %1，不能签名")
                       .arg(QDateTime::fromMSecsSinceEpoch(notBeforeMs)
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")))};
    QString error;
    const auto digest = digestOf(&error);
    if (!digest) return {2, error};
    Signature s;
    s.subject = r.subject;
    s.digest = *digest;
    s.userId = account->userId;
    s.fullName = account->fullName;
    s.meaning = r.meaning;
    s.atMs = now.toMSecsSinceEpoch();
    s.offsetSeconds = now.offsetFromUtc();
    if (!signatures.add(s))
        return {2, QStringLiteral("%1: %2").arg(dbPath, signatures.lastError())};
    return {};
}

SignOutcome release(auth::UserStore& users, const ReleaseRequest& r, const QString& dbPath) {
    if (SignOutcome o = maySign(users); o.status != 0) return o;
    if (r.reason.trimmed().isEmpty()) return {2, base::Tr::tr("须给出原因")};
    std::optional<auth::Account> account;
    if (SignOutcome o = checkUser(users, r.userId, r.password, auth::Action::Retention,
                                  QStringLiteral("login"), account);
        o.status != 0)
        return o;
    SignatureStore signatures(dbPath, QStringLiteral("release"));
    const auto before = signatures.list(r.subject);
    if (!before) return {2, QStringLiteral("%1: %2").arg(dbPath, signatures.lastError())};
    if (before->empty()) return {1, base::Tr::tr("%1 没有签名，保留期限本可删除").arg(r.subject)};
    const auto released = signatures.released(r.subject);
    if (!released) return {2, QStringLiteral("%1: %2").arg(dbPath, signatures.lastError())};
    if (*released)
        return {1, base::Tr::tr("%1 已由 %2 交由保留期限删除").arg(r.subject, (*released)->userId)};
    if (!signatures.release(
            {r.subject, account->userId, r.reason.trimmed(), QDateTime::currentMSecsSinceEpoch()}))
        return {2, QStringLiteral("%1: %2").arg(dbPath, signatures.lastError())};
    return {};
}

namespace {

// One piece of work's thread, a child of the window that asked: a window closed meanwhile waits
// for it a bounded while.
class LaterJob : public QObject {
  public:
    explicit LaterJob(QObject* parent) : QObject(parent) {}
    base::WorkerThread<QObject> thread{QStringLiteral("later")};
};

}  // namespace

void runLater(QObject* context, std::function<std::function<void()>()> work) {
    auto* job = new LaterJob(context);
    job->thread.start();
    const QPointer<LaterJob> self(job);
    job->thread.post([self, work = std::move(work)](QObject&) {
        std::function<void()> then = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, then] {
                if (!self) return;
                then();
                self->deleteLater();
            },
            Qt::QueuedConnection);
    });
}

void signLater(QObject* context, const QString& usersPath, const SignRequest& request,
               const QString& dbPath,
               std::function<std::optional<QString>(QString* error)> digestOf,
               std::function<void(const SignOutcome&)> done) {
    runLater(context, [=]() -> std::function<void()> {
        auth::UserStore users(usersPath, base::uniqueName(QStringLiteral("sign-users")));
        users.open(/*create=*/false);
        const SignOutcome outcome = sign(users, request, dbPath, digestOf);
        return [done, outcome] { done(outcome); };
    });
}

AccessNotes accessNotes(auth::UserStore& users, int64_t now, const QString& dbPath) {
    AccessNotes notes;
    if (users.state() == auth::StoreState::Unusable) {
        notes.offNow = false;
        notes.unknown = true;
    }
    if (users.state() != auth::StoreState::Ready) return notes;
    notes.offNow = !users.accessControl();
    std::optional<int64_t> offSince;
    for (const auth::AccessEvent& e : users.events()) {
        if (e.code != u"access.switched" || e.args.isEmpty()) continue;
        const bool on = e.args.at(0).toBool();
        const int64_t at = e.atMs / 1000;
        if (!on && !offSince) offSince = at;
        if (on && offSince) notes.offSpans.emplace_back(*std::exchange(offSince, std::nullopt), at);
    }
    if (offSince) notes.offSpans.emplace_back(*offSince, now);
    notes.unprotected =
        !notes.offNow && !base::keptByService() && base::writableByThisAccount(dbPath);
    return notes;
}

}  // namespace report
