#pragma once
// The chart area of the main window: the surface pt inside pt0 with its value, time and date
// labels, the header date and time, the ruler slider hc, the function frame "功能" with its
// buttons, the value-axis box, and the chart's four timers. Every handler calls the chart model
// and then copies the model's state onto the controls.

#include <QColor>
#include <QList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "chart/chartmodel.h"
#include "record/clock.h"
#include "record/handshake.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QFrame;

namespace comm {
class Link;
}

namespace record {

class ChartView;
class SampleStore;
class ChartArea;

class ChartPanel : public QWidget {
    Q_OBJECT
  public:
    // The main window's chart over its own connection to the store at dbPath.
    ChartPanel(const QString& dbPath, const Clock& clock, RecorderHandshake& handshake,
               comm::Link& link, QWidget* parent = nullptr);
    // The same over any record source (tests); the live values come from the link unless
    // setLiveValuesSource() says otherwise.
    ChartPanel(ChartSource& source, const Clock& clock, RecorderHandshake& handshake,
               comm::Link& link, QWidget* parent = nullptr);
    ~ChartPanel() override;

    // The chart's load steps, then the timers start. Called once by the main window.
    void load();
    void setLiveStatusHook(std::function<void()> hook) { liveHook_ = std::move(hook); }
    void setLiveValueLabels(QList<QLabel*> d3w);
    void setLiveValuesSource(std::function<std::array<float, 10>()> source) {
        liveSource_ = std::move(source);
    }

    int ZoomLevel() const { return model_.ZoomLevel; }
    int HistoryPage() const { return model_.HistoryPage; }
    bool OldestPageReached() const { return model_.OldestPageReached; }

    void Command2_Click() {}  // "F3 打印": no function
    void Command3_Click();    // "F2 放大"
    void Command4_Click();    // "F1 缩小"
    void Command5_Click();    // "F4 标尺" / "F4 复原"
    void Command6_Click() {}  // "F5 选择": no function
    void Command7_Click();    // "F6 左移"
    void Command8_Click();    // "F7 右移"
    void Command26_Click();   // "修改Y"
    void closeDatabase();

    // The timers' work, callable directly by tests.
    void displayTick();  // Timer1, 200 ms
    void redrawTick();   // Timer2, 1 s
    void headerTick();   // Timer3, 1 s

    const ChartModel& model() const { return model_; }
    ChartView* view() const { return view_; }
    QTimer* timer1() const { return timer1_; }
    int paintCount() const;

  private:
    void build();
    void sync();
    void applyReadoutColours(bool on);
    void onSlider(int v);
    std::array<float, 10> liveValues() const;

    const Clock& clock_;
    RecorderHandshake& handshake_;
    comm::Link& link_;
    std::unique_ptr<SampleStore> store_;
    std::unique_ptr<ChartSource> ownSource_;
    ChartSource* source_ = nullptr;
    ChartModel model_;
    std::function<void()> liveHook_;
    std::function<std::array<float, 10>()> liveSource_;
    QList<QLabel*> d3w_;
    QList<QColor> d3wSaved_;
    bool readoutApplied_ = false;
    int readoutSerialShown_ = 0;
    int surfaceSerialShown_ = -1;

    ChartArea* area_ = nullptr;
    QFrame* pt0_ = nullptr;
    ChartView* view_ = nullptr;
    QSlider* hc_ = nullptr;
    std::array<QLabel*, 7> label5_{};
    std::array<QLabel*, 7> label6_{};
    std::array<QLabel*, 3> label8_{};
    std::array<QLabel*, 9> label4_{};
    std::array<QLabel*, 9> label7_{};
    QLabel* label2_9_ = nullptr;
    QLabel* label2_10_ = nullptr;
    QLabel* label19_ = nullptr;
    QLabel* label20_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command4_ = nullptr;
    QPushButton* command5_ = nullptr;
    QPushButton* command6_ = nullptr;
    QPushButton* command7_ = nullptr;
    QPushButton* command8_ = nullptr;
    QPushButton* command26_ = nullptr;
    QLineEdit* ykd1_ = nullptr;
    QLineEdit* ykd_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    QTimer* timer3_ = nullptr;
    QTimer* timer4_ = nullptr;
};

}  // namespace record
