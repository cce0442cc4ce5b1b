#pragma once
// The status-bar label that says whether the MQTT broker is connected.

#include <QObject>

class QStatusBar;

namespace ui {
class ValueLabel;
}

namespace mqtt {

class Publisher;

// "MqttStatus" at the right of the status bar, which owns it.
class StatusLabel : public QObject {
    Q_OBJECT
  public:
    explicit StatusLabel(QStatusBar* bar);
    // Shows the publisher's status now and whenever it changes.
    void follow(const Publisher& publisher);

  private:
    ui::ValueLabel* label_;
};

}  // namespace mqtt
