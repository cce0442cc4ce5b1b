#include "alert/delivery.h"

#include <curl/curl.h>

#include <QDateTime>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSqlQuery>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "alert/logging.h"
#include "base/workerthread.h"
#include "store/schema.h"

namespace alert {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kIdlePollMs = 1000;
// Delivered rows are kept this long for a look afterwards, then let go.
constexpr qint64 kKeepSentMs = qint64(30) * 24 * 3600 * 1000;

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString channelWord(Channel c) {
    return c == Channel::Mail ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "邮件"))
                              : QStringLiteral("Webhook");
}

struct Upload {
    const QByteArray* data;
    qsizetype offset = 0;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* user) {
    auto* up = static_cast<Upload*>(user);
    const size_t room = size * count;
    const size_t left = static_cast<size_t>(up->data->size() - up->offset);
    const size_t n = std::min(room, left);
    std::memcpy(buffer, up->data->constData() + up->offset, n);
    up->offset += static_cast<qsizetype>(n);
    return n;
}

}  // namespace

bool sendMail(const MailServer& server, const QString& from, const QStringList& to,
              const QByteArray& message, QString* error) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        *error = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "libcurl 无法初始化"));
        return false;
    }
    char errbuf[CURL_ERROR_SIZE] = {};
    const QByteArray url = mailServerUrl(server).toUtf8();
    const QByteArray user = server.user.toUtf8();
    const QByteArray password = server.password.toUtf8();
    const QByteArray sender = ('<' + from.trimmed() + '>').toUtf8();
    curl_slist* rcpt = nullptr;
    for (const QString& a : to)
        rcpt = curl_slist_append(rcpt, ('<' + a.trimmed() + '>').toUtf8().constData());
    Upload up{&message};
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    // smtp:// takes STARTTLS where the server offers it; smtps:// is TLS from the first byte.
    if (!server.tls) curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, sender.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &up);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    const CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(curl);
    if (rc == CURLE_OK) return true;
    // curl's texts name the host and the server's answer, never the password given apart.
    *error = QString::fromUtf8(errbuf[0] ? errbuf : curl_easy_strerror(rc)).trimmed();
    return false;
}

// Outbox ----------------------------------------------------------------------------------------

Outbox::Outbox(QString path, QString connectionName)
    : db_(std::move(path), std::move(connectionName)) {}

bool Outbox::open(QString* error) {
    // The queue goes only into a file the event log or the recorder has made theirs: a missing
    // file is not created here and a file of something else is left exactly as it is.
    if (!db_.open(store::FileAccess::Existing, kBusyTimeoutMs)) {
        *error = db_.lastError();
        return false;
    }
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name "
                               "IN ('events', 'pv_data')")) ||
        !q.next() || q.value(0).toInt() == 0) {
        *error = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件尚无记录表"));
        q = QSqlQuery();
        db_.close();
        return false;
    }
    q.finish();
    const bool ok = db_.useWal(true) &&
                    (q.exec(store::schema::kCreateOutboxSql) || db_.failFromSql(q.lastError()));
    if (!ok) {
        *error = db_.lastError();
        q = QSqlQuery();
        db_.close();
        return false;
    }
    q.prepare(QStringLiteral("DELETE FROM alert_outbox WHERE sent IS NOT NULL AND sent < ?"));
    q.addBindValue(nowMs() - kKeepSentMs);
    q.exec();
    return true;
}

bool Outbox::keep(const QVector<Letter>& letters) {
    store::Transaction t(db_);
    if (!t.ok()) return false;
    QSqlDatabase db = db_.db();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO alert_outbox (created, channel, target, subject, payload, attempts, next_try, "
        "sent, last_error) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QSqlQuery update(db);
    update.prepare(
        QStringLiteral("UPDATE alert_outbox SET attempts = ?, next_try = ?, sent = ?, last_error = "
                       "? WHERE id = ?"));
    for (const Letter& l : letters) {
        const QVariant sent = l.sentMs > 0 ? QVariant(l.sentMs) : QVariant();
        const QVariant error = l.lastError.isEmpty() ? QVariant() : QVariant(l.lastError);
        QSqlQuery& q = l.id > 0 ? update : insert;
        if (l.id <= 0) {
            q.addBindValue(nowMs());
            q.addBindValue(l.channel == Channel::Mail ? QStringLiteral("mail")
                                                      : QStringLiteral("webhook"));
            q.addBindValue(l.target);
            q.addBindValue(l.subject);
            q.addBindValue(l.payload);
        }
        q.addBindValue(l.attempts);
        q.addBindValue(l.nextTryMs);
        q.addBindValue(sent);
        q.addBindValue(error);
        if (l.id > 0) q.addBindValue(l.id);
        if (!q.exec()) return false;
    }
    insert = QSqlQuery();
    update = QSqlQuery();
    return t.commit();
}

std::optional<Letter> Outbox::nextDue(qint64 now, const QSet<qint64>& skip) {
    QSqlQuery q(db_.db());
    q.prepare(QStringLiteral(
        "SELECT id, channel, target, subject, payload, attempts, next_try FROM alert_outbox "
        "WHERE sent IS NULL AND next_try <= ? ORDER BY next_try, id LIMIT ?"));
    q.addBindValue(now);
    q.addBindValue(skip.size() + 1);
    if (!q.exec()) return std::nullopt;
    while (q.next()) {
        if (skip.contains(q.value(0).toLongLong())) continue;
        Letter l;
        l.id = q.value(0).toLongLong();
        l.channel = q.value(1).toString() == u"mail" ? Channel::Mail : Channel::Webhook;
        l.target = q.value(2).toString();
        l.subject = q.value(3).toString();
        l.payload = q.value(4).toByteArray();
        l.attempts = q.value(5).toInt();
        l.nextTryMs = q.value(6).toLongLong();
        return l;
    }
    return std::nullopt;
}

int Outbox::waiting() {
    QSqlQuery q(db_.db());
    return q.exec(QStringLiteral("SELECT count(*) FROM alert_outbox WHERE sent IS NULL")) &&
                   q.next()
               ? q.value(0).toInt()
               : 0;
}

// Worker ----------------------------------------------------------------------------------------

DeliveryWorker::DeliveryWorker(QString dbPath, QString connectionName)
    : outbox_(std::move(dbPath), std::move(connectionName)) {}

DeliveryWorker::~DeliveryWorker() = default;

void DeliveryWorker::start() {
    net_ = new QNetworkAccessManager(this);
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &DeliveryWorker::pump);
    schedule(0);
}

void DeliveryWorker::configure(const NotifySettings& settings) {
    settings_ = settings;
}

void DeliveryWorker::enqueue(const QVector<Letter>& letters) {
    for (Letter l : letters) {
        l.id = nextHeldId_--;
        held_ << l;
    }
    schedule(0);
}

void DeliveryWorker::schedule(int ms) {
    if (stopped_ || !timer_) return;
    if (!timer_->isActive() || timer_->remainingTime() > ms) timer_->start(ms);
}

void DeliveryWorker::pump() {
    if (stopped_ || busy_) return;
    if (!outbox_.isOpen()) {
        QString why;
        outbox_.open(&why);
    }
    // What is held goes into the file once it takes writes; until then it is sent from memory.
    if (outbox_.isOpen() && !held_.isEmpty() && outbox_.keep(held_)) held_.clear();
    const std::optional<Letter> next = nextDue(nowMs());
    if (!next) {
        schedule(kIdlePollMs);
        return;
    }
    if (next->channel == Channel::Mail) {
        QString error;
        const bool ok = mail(next->target, next->subject, next->payload, &error);
        finished(*next, ok, error);
        return;
    }
    busy_ = true;
    const Letter letter = *next;
    post(letter.target, letter.payload, [this, letter](bool ok, const QString& error) {
        busy_ = false;
        finished(letter, ok, error);
    });
}

std::optional<Letter> DeliveryWorker::nextDue(qint64 now) {
    std::optional<Letter> due;
    QSet<qint64> heldRows;
    for (const Letter& l : held_) {
        if (l.id > 0) heldRows.insert(l.id);
        if (l.sentMs == 0 && l.nextTryMs <= now && (!due || l.nextTryMs < due->nextTryMs)) due = l;
    }
    if (outbox_.isOpen()) {
        const std::optional<Letter> row = outbox_.nextDue(now, heldRows);
        if (row && (!due || row->nextTryMs <= due->nextTryMs)) due = row;
    }
    return due;
}

void DeliveryWorker::keep(const Letter& letter) {
    const auto it = std::find_if(held_.begin(), held_.end(),
                                 [&](const Letter& l) { return l.id == letter.id; });
    if (it != held_.end()) {
        *it = letter;
        return;
    }
    if (letter.id > 0 && outbox_.isOpen() && outbox_.keep({letter})) return;
    // Not written: held, so that it is neither sent again nor retried at once.
    held_ << letter;
}

bool DeliveryWorker::mail(const QString& recipients, const QString& subject, const QByteArray& body,
                          QString* error) {
    QString why;
    MailServer server;
    if (const auto s = parseMailServer(settings_.mailServer, &why)) {
        server = *s;
    } else {
        *error = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "未设置邮件服务器"));
        return false;
    }
    if (!settings_.password.isEmpty()) server.password = settings_.password;
    const QStringList to = parseAddresses(recipients);
    if (to.isEmpty() || settings_.from.isEmpty()) {
        *error = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "未设置发件人或收件人"));
        return false;
    }
    const QByteArray message = mailMessage(settings_.from, to, subject, QString::fromUtf8(body),
                                           QDateTime::currentDateTime());
    return sendMail(server, settings_.from, to, message, error);
}

void DeliveryWorker::post(const QString& url, const QByteArray& json,
                          const std::function<void(bool, const QString&)>& done) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(15000);
    QNetworkReply* reply = net_->post(request, json);
    connect(reply, &QNetworkReply::finished, this, [reply, done] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
            done(true, QString());
            return;
        }
        done(false, status > 0 ? QStringLiteral("HTTP %1").arg(status) : reply->errorString());
    });
}

void DeliveryWorker::finished(const Letter& letter, bool ok, const QString& error) {
    // Where it went: the channel, the address or host, and what was said.
    const QStringList where{
        channelWord(letter.channel),
        letter.channel == Channel::Mail ? letter.target : QUrl(letter.target).host(),
        letter.subject};
    const QString what = where.join(u' ');
    Letter done = letter;
    done.attempts += 1;
    qCDebug(lcAlert, "%s attempt %d: %s", qUtf8Printable(what), done.attempts,
            ok ? "sent" : qUtf8Printable(error));
    if (ok) {
        done.sentMs = nowMs();
        done.lastError.clear();
        keep(done);
        emit attempted(true, QStringLiteral("alert.sent"), where);
        schedule(0);
        return;
    }
    const qint64 delay = retryDelayMs(done.attempts);
    done.nextTryMs = nowMs() + delay;
    done.lastError = error;
    keep(done);
    emit attempted(false, QStringLiteral("alert.sendFailed"),
                   QStringList{QString::number(done.attempts), QString::number(delay / 1000)}
                       << where << error);
    schedule(0);
}

void DeliveryWorker::sendTest(const Notice& notice) {
    QStringList results;
    bool allOk = true;
    bool any = false;
    if (!settings_.mailServer.isEmpty()) {
        any = true;
        QString error;
        const bool ok =
            mail(settings_.to.join(u','), mailSubject(notice), mailBody(notice).toUtf8(), &error);
        allOk = allOk && ok;
        results << (ok ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "邮件已发送"))
                       : QStringLiteral(QT_TRANSLATE_NOOP("velmars", "邮件失败：%1")).arg(error));
    }
    if (settings_.webhook.isEmpty()) {
        if (!any)
            emit testDone(
                false, QStringLiteral(QT_TRANSLATE_NOOP("velmars", "未设置邮件服务器或 Webhook")));
        else
            emit testDone(allOk, results.join(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "；"))));
        return;
    }
    post(settings_.webhook, webhookJson(notice),
         [this, results, allOk](bool ok, const QString& error) mutable {
             results << (ok ? QStringLiteral(QT_TRANSLATE_NOOP("velmars", "Webhook 已发送"))
                            : QStringLiteral(QT_TRANSLATE_NOOP("velmars", "Webhook 失败：%1"))
                                  .arg(error));
             emit testDone(allOk && ok,
                           results.join(QStringLiteral(QT_TRANSLATE_NOOP("velmars", "；"))));
         });
}

void DeliveryWorker::stop() {
    stopped_ = true;
    if (timer_) timer_->stop();
    // What is held is stored now if the file takes it; what is unsent then goes after a restart.
    if (!held_.isEmpty()) {
        QString why;
        if (outbox_.isOpen() || outbox_.open(&why)) outbox_.keep(held_);
    }
    delete net_;
    net_ = nullptr;
}

// UI side ---------------------------------------------------------------------------------------

Delivery::Delivery(QString dbPath, QObject* parent)
    : QObject(parent),
      thread_(QStringLiteral("alert delivery"), std::move(dbPath),
              base::uniqueName(QStringLiteral("alert-outbox"))) {
    connect(thread_.worker(), &DeliveryWorker::attempted, this, &Delivery::attempted);
    connect(thread_.worker(), &DeliveryWorker::testDone, this, &Delivery::testDone);
}

Delivery::~Delivery() {
    // The worker stores what it holds and ends its thread after the attempt in flight. A mail in
    // flight ends within curl's timeouts; the program does not wait that long.
    thread_.end(5000, [](DeliveryWorker& w) { w.stop(); });
}

void Delivery::start() {
    thread_.start();
    thread_.post(&DeliveryWorker::start);
}

void Delivery::configure(const NotifySettings& settings) {
    thread_.post(&DeliveryWorker::configure, settings);
}

void Delivery::enqueue(const QVector<Letter>& letters) {
    thread_.post(&DeliveryWorker::enqueue, letters);
}

void Delivery::sendTest(const Notice& notice) {
    thread_.post(&DeliveryWorker::sendTest, notice);
}

}  // namespace alert
