#pragma once
// The main window: port controls, live panel, operator commands, the chart with its tools, the
// navigation to the configuration and program windows, and a status bar that says what the link and
// the recorder are doing.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <optional>

#include "base/audit.h"
#include "comm/commparams.h"

class QComboBox;
class QTimer;
class QLabel;
class QPushButton;
class QRadioButton;

namespace monitor {
class LivePanel;
}
namespace chart {
class ChartPanel;
}
namespace chamber {
class Chamber;
}
namespace config {
class ConfigWindow;
}
namespace program {
class ProgramWindow;
}
namespace runs {
class RunWindow;
}

namespace shell {

class EventWindow;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // Shows the chamber: its link, and what it has made when the window is built (its recorder,
    // event log, runs, alerts and forwarding).
    explicit MainWindow(::chamber::Chamber& chamber, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The size the window opens at: the free area of its screen less room for the title bar, the
    // chart taking what the other parts leave; never below the window's least size.
    void fitToScreen();
    // The window's load: lists and defaults, the chart's load, BlockClose.
    void load();

    bool blockClose() const { return blockClose_; }
    monitor::LivePanel* livePanel() const { return live_; }
    chart::ChartPanel* chartPanel() const { return chart_; }
    QWidget* configWindow() const;
    QWidget* programWindow() const;

    // Handlers of the window's own buttons.
    void openPort();  // "打开"
    // --connect: opens the line with the settings as they stand, nobody's change.
    void connectAtStart();
    void closePort();          // "关闭"
    void showConfigWindow();   // "CONFIG"
    void showProgramWindow();  // "曲线设置"
    void requestExit();        // "退出" and Esc: asks first, then exitProgram()
    void exitProgram();        // leaves at once: closes the chart, the recorder and the port
    void openEventLog();       // "事件记录"
    QWidget* eventWindow() const;
    void openRunWindow();  // "试验"
    runs::RunWindow* runWindow() const;
    // The chamber as a new run names it: the port ("1: /dev/ttyUSB0") and the slave address the
    // link polls, or the ones chosen here while the port is closed.
    std::pair<QString, int> portAndAddress() const;

    // Called once the Exit path has closed everything (the application quits there).
    void setExitAction(std::function<void()> action) { exitAction_ = std::move(action); }
    // "访问控制": opens the administration of accounts and access control.
    void setAccessAction(std::function<void()> action) { accessAction_ = std::move(action); }
    // A chamber's window among several: "退出", Esc and the close box hide it and call this
    // instead of leaving; the chamber goes on recording.
    void setReturnAction(std::function<void()> action) { returnAction_ = std::move(action); }
    // A chamber's window among several: changed port settings taken with "打开" go to this
    // action, which checks them with the whole list of chambers, keeps them, records them and
    // gives them to every chamber of the line; it answers with the refusal in words, empty when
    // they were taken.
    using SettingsAction =
        std::function<QString(const comm::PortSettings& settings, const base::Audit& by)>;
    void setSettingsAction(SettingsAction action) { settingsAction_ = std::move(action); }
    // Shows these settings in the port controls, as "打开" would use them.
    void showPortSettings(const comm::PortSettings& settings);

    // The live panel's own 200 ms tick: values, states and the stale mark, whatever the chart does.
    void liveTick();
    // The question "退出程序？" while it is open, for tests; nullptr otherwise.
    QWidget* exitQuestion() const;

  protected:
    void closeEvent(QCloseEvent* e) override;
    // Tab lands on the chosen option of a group of radio buttons.
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    // Changed line settings, with access control on: the reason asked (and the change recorded
    // here unless the settings action takes it); none when not to be made (cancelled or refused).
    std::optional<base::Audit> consentToPortSettings(const comm::PortSettings& before,
                                                     const comm::PortSettings& after);
    // Opens the line with the settings the window shows; asked: the operator's "打开", whose
    // changed settings need consent.
    void openPortWith(bool asked);
    QWidget* buildPortFrames();
    QWidget* buildParamArea();
    QWidget* buildNavigation();
    // The chamber's parts: the recorder's and the event log's status, "事件记录", "试验", the
    // alert bar and the forwarding's status.
    void showChamberParts();
    void updateDeviceLabel();
    void updateLinkStatus();
    void updateRecorderStatus();

    ::chamber::Chamber& chamber_;
    bool blockClose_ = false;
    bool exited_ = false;
    std::function<void()> exitAction_;
    std::function<void()> accessAction_;
    std::function<void()> returnAction_;
    SettingsAction settingsAction_;

    QComboBox* portList_ = nullptr;  // port number
    QLabel* deviceLabel_ = nullptr;
    QComboBox* addressList_ = nullptr;              // slave address
    std::array<QRadioButton*, 3> baudButtons_{};    // baud
    std::array<QRadioButton*, 3> parityButtons_{};  // parity
    QPushButton* openButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* configButton_ = nullptr;
    QPushButton* programButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* eventLogButton_ = nullptr;
    QPushButton* runButton_ = nullptr;
    QLabel* linkStatus_ = nullptr;
    QLabel* recorderStatus_ = nullptr;
    QLabel* operatorMessage_ = nullptr;
    QTimer* liveTimer_ = nullptr;
    QPointer<QWidget> exitQuestion_;

    monitor::LivePanel* live_ = nullptr;
    chart::ChartPanel* chart_ = nullptr;
    QPointer<config::ConfigWindow> config_;
    QPointer<program::ProgramWindow> programWindow_;
    QPointer<EventWindow> eventWindow_;
    QPointer<runs::RunWindow> runWindow_;
};

}  // namespace shell
