#pragma once
// The other end of the local channel: a program on this computer attached to the service of a
// data folder. It keeps every chamber's latest state, hears each change, sends commands, and
// attaches again by itself once a stopped service is back.

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <optional>

#include "comm/line.h"  // the image as a signal carries it

class QLocalSocket;

namespace service {

class ChannelClient : public QObject {
    Q_OBJECT
  public:
    // How long it waits before trying again after the service went or did not answer.
    static constexpr int kRetryMs = 1000;

    explicit ChannelClient(QString dataFolder, QObject* parent = nullptr);
    ~ChannelClient() override;

    // Attaches, and again after every loss, until the client is deleted.
    void start();
    // Attached and every chamber's state read.
    bool attached() const { return attached_; }

    // The chambers' names in the service's order, and the latest state of each (stateJson's form;
    // an empty object for a name not served).
    QStringList chambers() const { return names_; }
    QJsonObject state(const QString& chamber) const { return states_.value(chamber); }

    // Asks the service to write a set value (loop 0 or 1, in the instrument's decimals). Returns
    // the command's number; its end comes with commandFinished. Not attached: it ends at once
    // with "notAttached".
    quint64 setValue(const QString& chamber, int loop, int value, const QString& reason = {});
    // Any command of the channel (channel.h): op with its fields beside "chamber"; the same
    // answer as setValue. Commands go with the session of the last login, when there is one.
    quint64 command(const QString& op, const QString& chamber, QJsonObject fields = {});

    // Asks for count holding registers of the chamber from first (within the blocks the
    // chamber's read command takes); they come with holdingRead, whatever the outcome.
    quint64 readHolding(const QString& chamber, int32_t first, int32_t count);

    // Asks the service whether the chamber's records may go into the file at path (what: "csv",
    // "pdf", "png"), and waits for its answer, at most waitMs (the service answers a local
    // socket at once: it decides in memory). The answer is the channel's word ("done", "refused",
    // ...; "unknown" when none came in time) with, when "done", the number exportDone takes. The
    // service keeps a refusal in the audit trail.
    struct ExportAnswer {
        QString outcome;
        qint64 number = 0;
    };
    static constexpr int kAskMs = 5000;
    ExportAnswer askExport(const QString& chamber, const QString& what, const QString& path,
                           int waitMs = kAskMs);
    // Tells the service that the file of export number was written (it keeps the row naming
    // who asked) or not. The same answer as command.
    quint64 exportDone(const QString& chamber, qint64 number, bool written);

    // Asks for the chamber's instrument image; it comes with imageArrived. False when not
    // attached, or when the last one asked for has not come yet (at most one is under way).
    bool requestImage(const QString& chamber);

    // Logs in on the channel; the outcome (the channel's word: "done", "refused", "locked", ...)
    // comes with loggedIn. From then on commands go as that user until logout() or the loss of
    // the service (whose sessions end with it).
    void login(const QString& user, const QString& password);
    void logout();
    QString user() const { return user_; }

  signals:
    void attachedChanged(bool attached);
    void stateChanged(const QString& chamber, const QJsonObject& state);
    // outcome: the channel's word ("done", "refused", ...; "unknownChamber" and "badRequest" for
    // a request the service did not take; "unknown" when the service went before it answered).
    void commandFinished(quint64 id, const QString& outcome);
    // The end of the read id, after its commandFinished: the values from first when outcome is
    // "done", else none.
    void holdingRead(quint64 id, const QString& outcome, int32_t first,
                     const QVector<int32_t>& values);
    void imageArrived(const QString& chamber, const comm::InstrumentImage& image);
    void loggedIn(const QString& outcome, const QString& user);

  private:
    void connectNow();
    void connected();
    void lost();
    void read();
    void take(const QJsonObject& message);
    void send(const QJsonObject& message);

    QString name_;
    QLocalSocket* socket_ = nullptr;
    QTimer retry_;
    QByteArray pending_;
    bool attached_ = false;
    quint64 nextId_ = 1;
    quint64 stateRequest_ = 0;
    QStringList names_;
    QHash<QString, QJsonObject> states_;
    QList<quint64> commands_;  // sent, not yet ended
    struct Read {
        int32_t first = 0;
        QVector<int32_t> values;
    };
    QHash<quint64, Read> reads_;  // reads sent, not yet ended
    quint64 imageRequest_ = 0;    // the image asked for, until it came
    QString imageChamber_;
    quint64 asking_ = 0;                 // the export asked for while askExport waits
    std::optional<QJsonObject> asked_;   // its answer
    QHash<quint64, QString> abandoned_;  // asked for, no longer waited for: their chambers
    quint64 loginRequest_ = 0;
    QString loginUser_;
    QString token_, user_;  // the session of the last login
};

}  // namespace service
