#pragma once
// The alerts of a running program: twice a second it looks at the instrument image, the link's
// silence and the recorder's and forwarder's state, lets the rules decide, logs every alert, its
// return to normal and its acknowledgement in the event log, and hands the notifications to the
// delivery thread. It repeats and escalates alerts nobody acknowledges. UI thread; it never waits.

#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "alert/delivery.h"
#include "alert/message.h"
#include "alert/rules.h"
#include "base/audit.h"
#include "base/tr.h"
#include "base/workerthread.h"
#include "store/clock.h"

namespace comm {
class Link;
}
namespace events {
class EventLog;
}
namespace forward {
class Forwarder;
}
namespace store {
class Recorder;
}

namespace alert {

// The event log's lines of the alerts' codes (fired, cleared, escalated, repeated, acknowledged,
// sent, sending failed), in the language; nullopt for another code.
std::optional<QString> eventText(const QString& code, const QStringList& args, base::Lang lang);

struct AlerterContext {
    comm::Link& link;
    const store::Clock& clock;
    events::EventLog* log = nullptr;
    QString dbPath;
    QString station;
    // false: alerts are listed and ring here only; another program sends their notifications.
    bool deliver = true;
};

class Alerter : public QObject {
    Q_OBJECT
  public:
    Alerter(AlerterContext ctx, RuleConfig rules, NotifySettings notify, QObject* parent = nullptr);
    ~Alerter() override;

    void setRecorder(const store::Recorder* recorder) { recorder_ = recorder; }
    void setForwarder(const forward::Forwarder* forwarder) { forwarder_ = forwarder; }
    // The settings file the list of alerts of the database dbPath is kept in over a restart: what
    // it keeps for that database is listed again now; from here on every change of the list is
    // kept there (by the recording program only, which owns the chamber's alerts).
    void keepListIn(std::function<std::unique_ptr<QSettings>()> file, const QString& dbPath);

    // Starts the delivery thread and the look twice a second.
    void start();
    // One look now.
    void tick();

    const std::vector<ListedAlert>& listed() const { return engine_.listed(); }
    // Acknowledges a listed alert with the operator's comment (who and why), the row stamped
    // with by's user; false when there is no such unacknowledged alert, the comment is empty or
    // by is a refusal (nothing is done).
    bool acknowledge(const QString& id, const QString& comment, const base::Audit& by = {});

    // The sound repeats while an alert is unacknowledged, until silenced; a new alert rings again.
    bool ringing() const { return ringing_ && notify_.sound; }
    void silence();

    const RuleConfig& rules() const { return engine_.config(); }
    const NotifySettings& notify() const { return notify_; }
    void setRules(const RuleConfig& rules);
    void setNotify(const NotifySettings& notify);
    // The band of the open run for loop 0 or 1 (nullopt: the configured one).
    void setRunBand(int loop, std::optional<instrument::ToleranceBand> band) {
        engine_.setRunBand(loop, band);
    }
    // The band loop 0 or 1 is watched with now.
    instrument::ToleranceBand bandOf(int loop) const { return engine_.bandOf(loop); }
    // An alert of a raised kind (a failed login, a broken chain) now, with the values its
    // kindValue() reads; listed, logged and sent like any other until acknowledged.
    void raise(Kind kind, const QStringList& values);
    // A test mail and webhook call now; the answer comes with testDone.
    void sendTest();

  signals:
    void listChanged();
    void ringingChanged();
    void testDone(bool ok, const QString& text);

  public:
    // A change of the notification settings the one at the PC asked for: the event row with who,
    // why, the settings before and after (no password); refused, the refusal and nothing else.
    void settingsChanged(const NotifySettings& before, const NotifySettings& after,
                         const base::Audit& audit);

  private:
    Observation observe() const;
    void notifyAll(const Notice& notice, const QStringList& mailTo);
    void log(const QString& code, const QStringList& args, std::optional<int> value = std::nullopt,
             const QString& user = {});
    // Logs and sends what fired or returned to normal.
    void announce(const Transition& t, const QDateTime& at);
    Notice noticeFor(const ListedAlert& a, Event e, const QDateTime& at) const;
    void saveList();

    AlerterContext ctx_;
    Engine engine_;
    NotifySettings notify_;
    Delivery delivery_;
    QTimer timer_;
    const store::Recorder* recorder_ = nullptr;
    const forward::Forwarder* forwarder_ = nullptr;
    bool ringing_ = false;
    std::function<std::unique_ptr<QSettings>()> listFile_;
    QString listOf_;  // the database the list kept belongs to
    // Writes the kept list off the UI thread, each change behind the one before; the last is
    // written before the alerter goes.
    base::WorkerThread<QObject> listWriter_{QStringLiteral("alert list")};
};

}  // namespace alert
