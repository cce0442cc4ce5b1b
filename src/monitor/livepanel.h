#pragma once
// The main window's live panel and operator commands. LivePanel builds the frames (the main window
// takes them into its own layout), rewrites every caption from the link's image on each
// ShowLiveStatus, and writes single holding registers when the operator presses a button.

#include <QObject>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>

#include "comm/link.h"

class QColor;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ui {
class WriteSender;
}

namespace monitor {

struct LiveTexts;

class LivePanel : public QObject {
    Q_OBJECT
  public:
    explicit LivePanel(comm::Link& link, QObject* parent = nullptr);
    // A panel of an image kept elsewhere (a chamber another program polls): its writes go where
    // writeSender() is told to send them, and nowhere until then.
    using ImageSource = std::function<const comm::InstrumentImage&()>;
    explicit LivePanel(ImageSource image, QObject* parent = nullptr);
    ~LivePanel() override;  // deletes the frames no window has taken

    QWidget* pvStatusFrame();         // "PV状态": D_3W 0..5, Text1/Command12, D_4W
    QWidget* curveStatusFrame();      // "曲线状态": Pro_S 0..8, Combo3, Command14
    QWidget* alarmStateFrame();       // "当前报警": D_1W 0..5, D_3W 6, 7
    QWidget* paramFrame(int column);  // Parm1, column 0 (k = 0..29) or 1 (k = 30..47)
    QWidget* alarmSettingFrame();     // Alm1, Alm11, Alm111

    // Rewrites every caption of the panel from link.image(). Safe at any time, also before the port
    // is open (every field then shows its zero form). While the chart's ruler shows its readout in
    // the live value labels, keepLiveValues leaves those eight labels to it.
    void ShowLiveStatus(bool keepLiveValues = false);

    // Marks every live value and state as old (grey text, said in the accessible description)
    // while the instrument has not answered for a while, and back to normal.
    void setStale(bool stale);
    bool stale() const { return stale_; }

    QLabel* liveValueLabel(int k);  // 0..7; nullptr outside
    // Where the commands' writes go; its owner may have them sent elsewhere.
    ui::WriteSender* writeSender() const { return writer_; }

    // Button handlers (the buttons are connected to them).
    void writeSetValue(int index);      // set value of loop index+1 from Text1(index)
    void writeAlarmSetting(int index);  // alarm setting index from Alm11(index)
    void writeProgramCommand();         // program command from Combo3

  signals:
    // One line for the status bar about the operator's last command: sent and confirmed, failed,
    // or refused before sending and why.
    void message(const QString& text);

  private:
    void buildPvStatus();
    void buildCurveStatus();
    void buildAlarmState();
    void buildParams(int column);
    void buildAlarmSetting();
    bool framesAlive() const;
    void showMeasured(const LiveTexts& t);
    void writeEntry(int32_t reg, const QString& caption, const QString& text);
    QList<QLabel*> liveLabels() const;

    void build();

    ImageSource image_;
    bool stale_ = false;
    bool keptLiveValues_ = false;
    bool answered_ = false;  // the image has held an answer of the instrument  // the chart's
                             // ruler shows its readout in the live value labels
    ui::WriteSender* writer_ = nullptr;

    QPointer<QGroupBox> pvFrame_, curveFrame_, alarmFrame_, alarmSettingFrame_;
    std::array<QPointer<QGroupBox>, 2> paramFrames_;

    std::array<QLabel*, 8> liveValueLabels_{};
    std::array<QLabel*, 2> outputLabels_{};
    std::array<QLabel*, 9> programStatusLabels_{};
    std::array<QLabel*, 6> stateLabels_{};
    std::array<QLabel*, 48> paramLabels_{};  // nullptr where k has no field
    std::array<QLabel*, 6> alarmSettingLabels_{};
    std::array<QLineEdit*, 2> setValueEdits_{};
    std::array<QPushButton*, 2> setValueButtons_{};
    std::array<QLineEdit*, 6> alarmSettingEdits_{};
    std::array<QPushButton*, 6> downloadButtons_{};
    QComboBox* programCommandList_ = nullptr;
    QPushButton* programCommandButton_ = nullptr;
};

}  // namespace monitor
