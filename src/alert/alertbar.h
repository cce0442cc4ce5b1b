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

class QLabel;
class QMainWindow;
class QSettings;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace alert {

class Alerter;
class AlertWindow;

// The state column of a listed alert: active or back to normal, acknowledged or not.
QString listedStateText(const ListedAlert& a);
QString listedStateText(bool active, bool acknowledged);

class AlertBar : public QFrame {
    Q_OBJECT
  public:
    // apply: the chamber's command that takes the settings the window accepted (see AlertWindow).
    using ApplySettings = std::function<QString(const NotifySettings& before, const RuleConfig&,
                                                const NotifySettings&, const QString& reason)>;
    AlertBar(Alerter& alerter, ApplySettings apply, QWidget* parent = nullptr);
    // Who acknowledges: the chamber's command, which decides by the role of whoever is at the PC
    // and says whether it was done. Without one nothing is acknowledged.
    using Acknowledge = std::function<bool(const QString& id, const QString& comment)>;
    void setAcknowledge(Acknowledge acknowledge) { acknowledge_ = std::move(acknowledge); }

    // Acknowledges the chosen alert (the oldest unacknowledged one when none is chosen) with the
    // comment in the box.
    void acknowledgeChosen();
    void openSettings();
    QWidget* settingsWindow() const;

  private:
    void refresh();

    Alerter& alerter_;
    ApplySettings apply_;
    Acknowledge acknowledge_;
    QTableWidget* list_;
    QLineEdit* comment_;
    QPushButton* ack_;
    QPushButton* silence_;
    QPushButton* settings_;
    QLabel* message_;
    QTimer sound_;
    QPointer<AlertWindow> window_;
};

// The alert bar at the bottom of the window, above the status bar; "确定" in "报警通知" hands the
// settings to apply.
void addAlertBar(QMainWindow& window, Alerter& alerter, AlertBar::ApplySettings apply,
                 AlertBar::Acknowledge acknowledge = {});

}  // namespace alert
