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

  signals:
    void attachedChanged(bool attached);
    void stateChanged(const QString& chamber, const QJsonObject& state);
    // outcome: the channel's word ("done", "refused", ...; "unknownChamber" and "badRequest" for
    // a request the service did not take; "unknown" when the service went before it answered).
    void commandFinished(quint64 id, const QString& outcome);

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
};

}  // namespace service
