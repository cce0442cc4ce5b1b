#pragma once
// The status-bar labels that show how forwarding goes.

#include <QObject>

class QStatusBar;

namespace ui {
class ValueLabel;
}

namespace forward {
class Forwarder;
}

namespace forward {

// "ForwardStatus" and "ForwardSkipped" at the right of the status bar, which owns them.
class StatusLabels : public QObject {
    Q_OBJECT
  public:
    explicit StatusLabels(QStatusBar* bar);

    // A server address the settings file holds but that cannot be used.
    void showInvalidAddress();
    // Shows the forwarder's status and skipped records now and whenever they change.
    void follow(const forward::Forwarder& forwarder);

  private:
    ui::ValueLabel* status_;
    ui::ValueLabel* skipped_;
};

}  // namespace forward
