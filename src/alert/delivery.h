#pragma once
// Delivery of notifications on a thread of its own, from a queue kept in the sample database file
// (table alert_outbox, one row per mail or webhook call, with its attempts and the time of the
// next one), so that an outage of the mail server or the network loses none and a restart sends
// what was left. Rows are sent one at a time, oldest due first; a failure waits retryDelayMs()
// before the next attempt. Each attempt is reported for the event log. The window never waits.
// While the file takes no writes (a full disk, a read-only file) notifications are held and sent
// from memory, with their attempts, and go into the queue table once the file takes writes again:
// an alert about the disk itself still leaves at once.

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

#include "alert/message.h"
#include "base/workerthread.h"
#include "store/database.h"

class QNetworkAccessManager;
class QTimer;

namespace alert {

enum class Channel { Mail, Webhook };

// One notification as it waits in the queue.
struct Letter {
    qint64 id = 0;  // row number once queued
    Channel channel = Channel::Mail;
    QString target;      // mail: recipients, comma-separated; webhook: the URL
    QString subject;     // mail subject; for a webhook the alert's line for the event log
    QByteArray payload;  // mail body (UTF-8 text) or the JSON document
    int attempts = 0;
    qint64 nextTryMs = 0;
    qint64 sentMs = 0;  // 0: not sent yet
    QString lastError;
};

// Sends one mail through SMTP with libcurl; false with *error (no password in it) on failure.
bool sendMail(const MailServer& server, const QString& from, const QStringList& to,
              const QByteArray& message, QString* error);

// The queue table in the database file, through a connection of its own.
class Outbox {
  public:
    Outbox(QString path, QString connectionName);
    // Joins the file's queue table, making it where missing; false with *error.
    bool open(QString* error);
    bool isOpen() const { return db_.isOpen(); }
    QString lastError() const { return db_.lastError(); }
    // Stores letters as they stand in one transaction: a new row for one without a row number
    // (id <= 0), the attempts and outcome for one with. False, with nothing changed, when the
    // file does not take it.
    bool keep(const QVector<Letter>& letters);
    // The unsent row due first, passing over the rows in `skip` (whose state is held elsewhere).
    std::optional<Letter> nextDue(qint64 nowMs, const QSet<qint64>& skip = {});
    int waiting();

  private:
    store::Database db_;
};

// Lives on the delivery thread.
class DeliveryWorker : public QObject {
    Q_OBJECT
  public:
    DeliveryWorker(QString dbPath, QString connectionName);
    ~DeliveryWorker() override;

  public slots:
    void start();
    void configure(const alert::NotifySettings& settings);
    void enqueue(const QVector<alert::Letter>& letters);
    // Sends a test mail and webhook call at once, outside the queue.
    void sendTest(const alert::Notice& notice);
    void stop();

  signals:
    // One attempt, for the event log: its code ("alert.sent", "alert.sendFailed") and values that
    // name what went where and how it went (see alert::eventText).
    void attempted(bool ok, const QString& code, const QStringList& args);
    void testDone(bool ok, const QString& text);

  private:
    void pump();
    void schedule(int ms);
    // Mail through curl (blocking, here on this thread); false with *error.
    bool mail(const QString& recipients, const QString& subject, const QByteArray& body,
              QString* error);
    void post(const QString& url, const QByteArray& json,
              const std::function<void(bool ok, const QString& error)>& done);
    void finished(const Letter& letter, bool ok, const QString& error);
    // The letter due first, from the file or from memory.
    std::optional<Letter> nextDue(qint64 now);
    // Writes the letter's new state to its row, else holds it in memory until the file takes it.
    void keep(const Letter& letter);

    Outbox outbox_;
    NotifySettings settings_;
    // Letters whose state the file does not hold yet: new ones (negative ids, given here) and
    // rows whose attempt could not be written. Stored as soon as the file takes writes.
    QVector<Letter> held_;
    qint64 nextHeldId_ = -1;
    QNetworkAccessManager* net_ = nullptr;
    QTimer* timer_ = nullptr;
    bool busy_ = false;  // a webhook call is in flight
    bool stopped_ = false;
};

// The UI side: owns the thread.
class Delivery : public QObject {
    Q_OBJECT
  public:
    explicit Delivery(QString dbPath, QObject* parent = nullptr);
    ~Delivery() override;  // stops the thread (a call in flight is given a few seconds)

    void start();
    void configure(const NotifySettings& settings);
    void enqueue(const QVector<Letter>& letters);
    void sendTest(const Notice& notice);

  signals:
    void attempted(bool ok, const QString& code, const QStringList& args);
    void testDone(bool ok, const QString& text);

  private:
    base::WorkerThread<DeliveryWorker> thread_;
};

}  // namespace alert

Q_DECLARE_METATYPE(alert::Letter)
Q_DECLARE_METATYPE(alert::NotifySettings)
Q_DECLARE_METATYPE(alert::Notice)
