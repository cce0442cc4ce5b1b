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
    // save: keeps settings the window accepted (in the settings file).
    using SaveSettings = std::function<void(const RuleConfig&, const NotifySettings&)>;
    AlertBar(Alerter& alerter, SaveSettings save, QWidget* parent = nullptr);
    // Who acknowledges: the chamber's command, which decides by the role of whoever is at the PC
    // and says whether it was done. Without one the alerter is asked directly.
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
    SaveSettings save_;
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

// The alert bar at the bottom of the window, above the status bar; "确定" in "报警通知" keeps the
// settings in the file settingsFile() opens.
void addAlertBar(QMainWindow& window, Alerter& alerter,
                 std::function<std::unique_ptr<QSettings>()> settingsFile,
                 AlertBar::Acknowledge acknowledge = {});

}  // namespace alert
