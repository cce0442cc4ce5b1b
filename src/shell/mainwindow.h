#pragma once
// The main window: port controls, live panel, operator commands, the chart with its tools, the
// navigation to the configuration and program windows, and a status bar that says what the link and
// the recorder are doing.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>

#include "link/link.h"
#include "link/ports.h"
#include "store/clock.h"

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
namespace record {
class EventLog;
class Recorder;
}  // namespace record
namespace config {
class ConfigWindow;
}
namespace program {
class ProgramWindow;
}

namespace runs {
class RunControl;
class RunWindow;
}  // namespace runs

namespace shell {

class EventWindow;

// What the main window works with; owned by the application.
struct MainContext {
    comm::Link& link;
    comm::PortMap& ports;
    const record::Clock& clock;
    QString dbPath;
    record::Recorder* recorder = nullptr;  // may be set after the window is built
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(MainContext ctx, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The size the window opens at: the free area of its screen less room for the title bar, the
    // chart taking what the other parts leave; never below the window's least size.
    void fitToScreen();
    // The window's load: lists and defaults, the chart's load, BlockClose.
    void load();
    // The recorder whose status the window shows and whose stored samples the chart takes.
    void setRecorder(record::Recorder* recorder);
    // The event log that "事件记录" shows; its trouble shows beside the recorder's.
    void setEventLog(record::EventLog* log);
    // The test runs that "试验" shows.
    void setRunControl(runs::RunControl* runs);

    bool blockClose() const { return blockClose_; }
    monitor::LivePanel* livePanel() const { return live_; }
    chart::ChartPanel* chartPanel() const { return chart_; }
    QWidget* configWindow() const;
    QWidget* programWindow() const;

    // Handlers of the window's own buttons.
    void openPort();           // "打开"
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
    std::pair<QString, int> chamber() const;

    // Called once the Exit path has closed everything (the application quits there).
    void setExitAction(std::function<void()> action) { exitAction_ = std::move(action); }

    // The live panel's own 200 ms tick: values, states and the stale mark, whatever the chart does.
    void liveTick();
    // The question "退出程序？" while it is open, for tests; nullptr otherwise.
    QWidget* exitQuestion() const;

  protected:
    void closeEvent(QCloseEvent* e) override;
    // Tab lands on the chosen option of a group of radio buttons.
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    QWidget* buildPortFrames();
    QWidget* buildParamArea();
    QWidget* buildNavigation();
    void updateDeviceLabel();
    void updateLinkStatus();
    void updateRecorderStatus();

    MainContext ctx_;
    bool blockClose_ = false;
    bool exited_ = false;
    std::function<void()> exitAction_;

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
    record::EventLog* eventLog_ = nullptr;
    QPointer<EventWindow> eventWindow_;
    runs::RunControl* runs_ = nullptr;
    QPointer<runs::RunWindow> runWindow_;
};

}  // namespace shell
