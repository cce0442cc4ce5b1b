#pragma once
// Delivery of notifications on a thread of its own, from a queue kept in the sample database file
// (table alert_outbox, one row per mail or webhook call, with its attempts and the time of the
// next one), so that an outage of the mail server or the network loses none and a restart sends
// what was left. Rows are sent one at a time, oldest due first; a failure waits retryDelayMs()
// before the next attempt. Each attempt is reported for the event log. The window never waits.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>
#include <functional>
#include <optional>

#include "alert/message.h"
#include "record/sqlitefile.h"

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
};

// Sends one mail through SMTP with libcurl; false with *error (no password in it) on failure.
bool sendMail(const MailServer& server, const QString& from, const QStringList& to,
              const QByteArray& message, QString* error);

// The queue table in the database file, through a connection of its own.
class Outbox {
  public:
    explicit Outbox(QString connectionName);
    bool open(const QString& path, QString* error);
    bool isOpen() const { return file_.isOpen(); }
    bool add(QVector<Letter>& letters);
    std::optional<Letter> nextDue(qint64 nowMs);
    bool markSent(qint64 id, qint64 atMs);
    bool markFailed(const Letter& letter, const QString& error);
    int waiting();

  private:
    record::SqliteFile file_;
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
    // One attempt, for the event log: a line that names what went where and how it went.
    void attempted(bool ok, const QString& text);
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

    QString path_;
    Outbox outbox_;
    NotifySettings settings_;
    QVector<Letter> unsaved_;  // while the file cannot be opened
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
    void attempted(bool ok, const QString& text);
    void testDone(bool ok, const QString& text);

  private:
    QThread* thread_;  // owned; left to the process if a call hangs at the end
    DeliveryWorker* worker_ = nullptr;
};

}  // namespace alert

Q_DECLARE_METATYPE(alert::Letter)
Q_DECLARE_METATYPE(alert::NotifySettings)
Q_DECLARE_METATYPE(alert::Notice)
