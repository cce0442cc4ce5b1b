#pragma once
// The alert bar of the main window: the active and unacknowledged alerts (time, what, value,
// state), a comment box and "确认" to acknowledge the chosen one, "消音" to silence the sound that
// repeats meanwhile, and "报警通知" for the settings window.

#include <QFrame>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

#include "alert/message.h"
#include "alert/rules.h"
#include "chamber/commands.h"
#include "chamber/state.h"

class QLabel;
class QMainWindow;
class QSettings;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace alert {

// The state column of a listed alert: active or back to normal, acknowledged or not.
QString listedStateText(const ListedAlert& a);
QString listedStateText(bool active, bool acknowledged);

// Shows a chamber's listed alerts as its state tells them and hands its commands back: the same
// bar over a chamber of this program and over one a service runs.
class AlertBar : public QFrame {
    Q_OBJECT
  public:
    struct Commands {
        // The chamber's acknowledgement, decided by the role of whoever asks: Done, Pending
        // (sent to a chamber elsewhere: acknowledgeFinished tells the end) or why not. Without
        // one nothing is acknowledged.
        std::function<chamber::Outcome(const QString& id, const QString& comment)> acknowledge;
        // Stops the chamber's sound until a new alert rings; without one this bar's sound alone
        // stops.
        std::function<void()> silence;
        // Makes "报警通知" over the parent; without one the button is hidden.
        std::function<QWidget*(QWidget* parent)> settingsWindow;
    };
    explicit AlertBar(Commands commands, QWidget* parent = nullptr);

    // The listed alerts and whether the chamber rings, as its state says.
    void showAlerts(const QList<chamber::AlertInfo>& alerts, bool ringing);
    // Acknowledges the chosen alert (the oldest unacknowledged one when none is chosen) with the
    // comment in the box.
    void acknowledgeChosen();
    // The end of a Pending acknowledgement: done, or why not as shown.
    void acknowledgeFinished(bool done, const QString& why);
    void openSettings();
    QWidget* settingsWindow() const;

  private:
    void refresh();
    void silence();

    Commands commands_;
    QList<chamber::AlertInfo> alerts_;
    bool ringing_ = false;
    bool silencedHere_ = false;  // this bar's sound, without the chamber's command
    QString pending_;            // the title of the alert whose acknowledgement was sent
    QTableWidget* list_;
    QLineEdit* comment_;
    QPushButton* ack_;
    QPushButton* silence_;
    QPushButton* settings_;
    QLabel* message_;
    QTimer sound_;
    QPointer<QWidget> window_;
};

// The alert bar at the bottom of the window, above the status bar.
AlertBar* addAlertBar(QMainWindow& window, AlertBar::Commands commands);

}  // namespace alert
