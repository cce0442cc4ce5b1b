#pragma once
// The program as a client of the service that runs this computer's chambers: it opens no line
// and no database of its own. The overview and each chamber's window show the service's
// chambers through its local channel (their state as the service publishes it, the instrument's
// registers as it last read them) and send their writes there, where the chamber's own checks
// decide them. The status bar says that the windows are attached, and when the service has gone.

#include <QDialog>
#include <QHash>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "chamber/commands.h"
#include "comm/image.h"
#include "service/channelclient.h"
#include "store/clock.h"
#include "store/exportfile.h"

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace alert {
class AlertBar;
}
namespace monitor {
class LivePanel;
}
namespace chart {
class ChartPanel;
}
namespace overview {
class OverviewWindow;
}
namespace config {
class ConfigWindow;
}
namespace program {
class ProgramWindow;
}

namespace events {
class EventLog;
}
namespace runs {
class RunControl;
class RunWindow;
}  // namespace runs

namespace ui {
class CredentialForm;
class WriteSender;
}  // namespace ui

namespace shell {

class EventWindow;
class ServiceRunCommands;

// Whether the service of the data folder answers on its local channel. Waits at most waitMs for
// the connection (a local socket: it answers or is refused at once), before any window is up.
bool serviceAnswers(const QString& dataFolder, int waitMs = 1000);

// The text of a command's outcome as the channel names it, for the write status line; empty for
// "done".
QString channelOutcomeText(const QString& outcome);
// The text of a login's outcome on the channel; empty for "done".
QString loginOutcomeText(const QString& outcome);

// Who works through the service: "未登录" or the user logged in on the channel, and the button
// that logs in (a dialog of user id and password, checked by the service) or out. Under access
// control the service runs a command only for someone logged in.
class ServiceSessionBar : public QWidget {
    Q_OBJECT
  public:
    explicit ServiceSessionBar(service::ChannelClient& client, QWidget* parent = nullptr);
    // The dialog while it is open; null otherwise.
    QDialog* loginDialog() const { return dialog_.data(); }

  private:
    void update();
    void clicked();

    service::ChannelClient& client_;
    QLabel* user_ = nullptr;
    QPushButton* button_ = nullptr;
    QPointer<QDialog> dialog_;
};

// The login on the service's channel: user id and password, answered by the service.
class ServiceLoginDialog : public QDialog {
    Q_OBJECT
  public:
    ServiceLoginDialog(service::ChannelClient& client, QWidget* parent);
    ~ServiceLoginDialog() override;

  private:
    void submit();
    service::ChannelClient& client_;
    std::unique_ptr<ui::CredentialForm> form_;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
};

// A chamber's window attached to the service: the main window's live panel (values, states,
// program status, parameters, alarm settings) and its writes (set values, alarm settings, the
// program command), with a status bar that says where they go. Its "CONFIG" and "曲线设置" buttons
// open the configuration and program windows, fed and written through the service as well; its
// "事件记录" and "试验" buttons the event log and the runs, read from the service's file (never
// written from here), the runs started and ended by the service. The chart's files are written
// here once the service has allowed them, and kept in its audit trail.
class AttachedChamberWindow : public QMainWindow {
    Q_OBJECT
  public:
    // The live panel's own tick: asks for the image, shows the state.
    static constexpr int kTickMs = 200;

    AttachedChamberWindow(service::ChannelClient& client, QString chamber,
                          QWidget* parent = nullptr);
    ~AttachedChamberWindow() override;

    const QString& chamber() const { return chamber_; }
    monitor::LivePanel* livePanel() const { return live_; }
    // The chamber's history, read from the service's file; null when the service did not name
    // the file.
    chart::ChartPanel* chartPanel() const { return chart_; }
    // Whether the service has sent this chamber's registers since the window opened.
    bool imageShown() const { return imageShown_; }
    // Called instead of closing when the window was opened from the overview.
    void setReturnAction(std::function<void()> action) { returnAction_ = std::move(action); }
    void showAttached(bool attached);
    // In place of this window until it is left, as the main window's do.
    void showConfigWindow();
    void showProgramWindow();
    // The window open in place of this one; null when none is.
    config::ConfigWindow* configWindow() const;
    program::ProgramWindow* programWindow() const;
    // Beside this window, as the main window opens them; nothing when the service did not name
    // its file.
    void showEventWindow();
    void showRunWindow();
    EventWindow* eventWindow() const;
    runs::RunWindow* runWindow() const;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void tick();
    quint64 send(int32_t reg, int32_t value, const QString& reason, const QString& caption);
    // The writer's values go to the service, with the reason asked for while logged in there.
    // over: the window the reason dialog opens over.
    void sendThroughService(ui::WriteSender* writer, QWidget* over);
    // A window of the instrument's registers: fed with this window's image and the service's
    // reads, its writes sent there; it stands in for this window until it is left.
    template <class Window>
    Window* openInPlace(QPointer<Window>& slot);
    // The windows' files (what: "csv", "pdf", "png", "events") go as the service decides.
    store::ExportAsk exportsThroughService();

    service::ChannelClient& client_;
    QString chamber_;
    comm::InstrumentImage image_;
    bool imageShown_ = false;
    monitor::LivePanel* live_ = nullptr;
    store::SystemClock clock_;
    chart::ChartPanel* chart_ = nullptr;
    int recordNo_ = -1;  // the service's last record told to the chart
    QLabel* serviceStatus_ = nullptr;
    QLabel* operatorMessage_ = nullptr;
    QTimer* timer_ = nullptr;
    std::function<void()> returnAction_;
    QPointer<config::ConfigWindow> config_;
    QPointer<program::ProgramWindow> programWindow_;
    alert::AlertBar* alertBar_ = nullptr;
    std::set<quint64> acknowledgements_;  // sent from the alert bar, not answered yet
    QString database_;                    // the service's file of the chamber, as it named it
    std::unique_ptr<events::EventLog> eventLog_;
    QPointer<EventWindow> eventWindow_;
    std::unique_ptr<runs::RunControl> runs_;
    std::unique_ptr<ServiceRunCommands> runCommands_;
    QPointer<runs::RunWindow> runWindow_;
    qint64 openRun_ = -1;  // the open run the service named last (0: none), read again on change
};

class AttachedProgram : public QObject {
    Q_OBJECT
  public:
    explicit AttachedProgram(const QString& dataFolder, QObject* parent = nullptr);
    ~AttachedProgram() override;

    // Attaches; the windows come once the service has told its chambers.
    void start();
    service::ChannelClient& client() { return client_; }
    // The overview when the service runs a list of chambers; null before it told them or for
    // the one chamber of a service without a list.
    overview::OverviewWindow* overviewWindow() const { return overview_.get(); }
    // The chamber's window once opened; null before.
    AttachedChamberWindow* chamberWindow(const QString& name) const;
    void showChamberWindow(const QString& name);

  signals:
    void windowsShown();

  private:
    void attachedChanged(bool attached);
    void showWindows();

    service::ChannelClient client_;
    bool shown_ = false;
    std::unique_ptr<overview::OverviewWindow> overview_;
    std::map<QString, std::unique_ptr<AttachedChamberWindow>> windows_;
    // The overview's acknowledgements sent, by the command's number.
    std::map<quint64, std::function<void(chamber::Outcome)>> acknowledged_;
};

}  // namespace shell
