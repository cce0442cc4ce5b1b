#pragma once
// The pieces forwarding is started from: where the settings file says to forward to, and the
// status-bar labels that show how it goes.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QSettings;
class QStatusBar;

namespace ui {
class ValueLabel;
}

namespace record {
class Forwarder;
}

namespace record::forward {

struct Setting {
    QString url;
    QString station;
};

// The server and station from the program's settings file, after the command line's --forward
// and --station are kept there (an empty URL turns forwarding off), so that an operator's PC goes
// on forwarding after a restart. A station not yet named takes defaultStation() and keeps it, so
// that its history on the server stays under one name. nullopt when no server is named.
std::optional<Setting> readSetting(QSettings& settings, const std::optional<QString>& url,
                                   const std::optional<QString>& station,
                                   const std::function<QString()>& defaultStation);

// The station's name as the settings file keeps it; empty when none was named yet.
QString keptStationName(const QSettings& settings);

// "ForwardStatus" and "ForwardSkipped" at the right of the status bar, which owns them.
class StatusLabels : public QObject {
    Q_OBJECT
  public:
    explicit StatusLabels(QStatusBar* bar);

    // A server address the settings file holds but that cannot be used.
    void showInvalidAddress();
    // Shows the forwarder's status and skipped records now and whenever they change.
    void follow(const record::Forwarder& forwarder);

  private:
    ui::ValueLabel* status_;
    ui::ValueLabel* skipped_;
};

}  // namespace record::forward
