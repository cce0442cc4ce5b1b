#pragma once
// The chart area of the main window: the drawing surface in its frame with its value, time and date
// labels, the header date and time, the ruler slider, the function frame "功能" with its
// buttons, the value-axis box, and the chart's three timers. Every handler calls the chart model
// and then copies the model's state onto the controls.
//
// Beside the tools, a span of the archive (an hour, a day, a week or a month ending at a chosen
// moment) can be drawn instead of the live chart. While a span is shown the tools act on it: F1 and
// F2 choose the next longer or shorter span, F6 and F7 move one span newer or older (newer than
// now is the live chart again), F4's ruler reads the band's minimum, maximum and mean in a readout
// over the surface, and F3 prints and exports the span.
//
// The tools F1 to F7 are actions of the panel with their keys as window shortcuts: a key works
// from any control of the window the panel is in, and the action's enabled state drives both the
// key and the button that shows it.

#include <QColor>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "chart/chartmodel.h"
#include "chart/spanview.h"
#include "store/clock.h"
#include "store/exportfile.h"

class QAction;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QFrame;
class QLayout;

namespace comm {
class Link;
}
namespace store {
class Recorder;
class SampleStore;
struct Sample;
}  // namespace store

namespace chart {

class ChartView;
class ChartArea;

// Where the chart's live values and its printed title's port and address come from: the chamber
// it belongs to, or the service that runs that chamber.
struct LiveFeed {
    std::function<std::array<float, 10>()> values;  // LiveValues 0..9 of the instrument now
    std::function<std::pair<int, int>()> portAndAddress;
};
class OutputDialog;
using store::Clock;
using store::SampleStore;

class ChartPanel : public QWidget {
    Q_OBJECT
  public:
    // The main window's chart over its own connection to the store at dbPath.
    ChartPanel(const QString& dbPath, const Clock& clock, LiveFeed feed, QWidget* parent = nullptr);
    // The same over any record source (tests).
    ChartPanel(ChartSource& source, const Clock& clock, LiveFeed feed, QWidget* parent = nullptr);
    ~ChartPanel() override;

    // The chart's load steps, then the timers start. Called once by the main window.
    void load();
    // The file is only read, never made or changed (another program records into it); before
    // load().
    void setReadOnly() { readOnly_ = true; }
    void setLiveValueLabels(QList<QLabel*> labels);

    // True while the ruler is on: the live value labels then show the ruler's readout.
    bool rulerActive() const { return model_.rulerMode(); }

    // The chart hears of every sample the recorder has finished storing; the next display tick
    // appends the live values to the curve. stopListening() ends that (the program is leaving).
    void listenTo(store::Recorder* recorder);
    // The same from whatever passes the stored samples on (a chamber).
    template <class Source>
    void listenTo(Source* source, void (Source::*stored)(const store::Sample&)) {
        stopListening();
        recorderConnection_ = connect(source, stored, this, &ChartPanel::takeStoredSample);
    }
    void stopListening();
    bool listening() const { return bool(recorderConnection_); }
    void takeStoredSample(const store::Sample& sample);

    void showOutputDialog();  // "F3 打印": print, PDF, PNG, CSV export
    void zoomIn();            // "F2 放大"
    void zoomOut();           // "F1 缩小"
    void toggleRuler();       // "F4 标尺" / "F4 复原"
    void pageNewer();         // "F6 左移"
    void pageOlder();         // "F7 右移"
    void applyValueAxis();    // "修改Y"
    void closeDatabase();
    // The chamber's command the output dialog's files go through (see OutputDialog).
    void setExporter(store::ExportAsk ask) { exporter_ = std::move(ask); }

    // Spans come from the store the panel opened, or from this source (tests).
    void setSpanSource(SpanSource& source) { spanSource_ = &source; }
    // The span of len ending at end (UTC seconds, not after now) drawn instead of the chart.
    void showSpan(int64_t end, SpanLength len);
    void showSpanOfControls();  // "显示": the span the end and length controls choose
    void showLive();            // "实时": the live chart, as the load left it
    bool spanShown() const { return spanMode_; }
    const SpanView& spanView() const { return span_; }
    // The span of time the surface shows now, in local time; nullopt when it shows no record.
    std::optional<std::pair<QDateTime, QDateTime>> shownTimes() const;

    // The timers' work, callable directly by tests.
    void displayTick();  // every 200 ms: axis labels, live append
    void redrawTick();   // every second: the whole surface
    void headerTick();   // every second: the clock over the chart

    const ChartModel& model() const { return model_; }
    ChartView* view() const { return view_; }
    QTimer* displayTimer() const { return displayTimer_; }
    OutputDialog* outputDialog() const;
    int paintCount() const;

  private:
    void build();
    QLayout* buildHeader();
    QWidget* buildSurface();
    QWidget* buildFunctionFrame();
    QWidget* buildValueAxisBox();
    QWidget* buildSpanBox();
    void placeReadout();
    void buildTimers();
    QAction* addTool(const QString& caption, Qt::Key key, void (ChartPanel::*handler)());
    QPushButton* toolButton(QAction* tool, const QString& name);
    void sync();
    bool openStore();
    void retryLiveWindow();
    void applyReadoutColours(bool on);
    void onSlider(int v);
    std::array<float, 10> liveValues() const;

    const Clock& clock_;
    LiveFeed feed_;
    QString dbPath_;
    store::ExportAsk exporter_;
    bool readOnly_ = false;
    std::unique_ptr<SampleStore> store_;
    QPointer<OutputDialog> outputDialog_;
    std::unique_ptr<ChartSource> ownSource_;
    ChartSource* source_ = nullptr;
    ChartModel model_;
    QList<QLabel*> liveValueLabels_;
    QList<QColor> liveValueColours_;
    bool readoutApplied_ = false;
    int readoutSerialShown_ = 0;
    int surfaceSerialShown_ = -1;
    bool recordAdded_ = false;  // a sample was stored since the last display tick
    bool addedStale_ = false;   // the sample last stored held no reading
    QMetaObject::Connection recorderConnection_;

    // The span shown instead of the chart, when spanMode_.
    SpanView span_;
    std::unique_ptr<SpanSource> ownSpanSource_;
    SpanSource* spanSource_ = nullptr;
    bool spanMode_ = false;
    int64_t spanEnd_ = 0;
    SpanLength spanLength_ = SpanLength::Day;
    std::optional<std::pair<int64_t, int64_t>> spanExtent_;
    int spanSerialShown_ = -1;
    bool spanWasShown_ = false;
    bool spanEndFollowsClock_ = true;  // the end control shows now until the operator changes it

    ChartArea* area_ = nullptr;
    QFrame* surfaceFrame_ = nullptr;
    ChartView* view_ = nullptr;
    QSlider* rulerSlider_ = nullptr;
    std::array<QLabel*, 7> valueAxisLabels_{};
    std::array<QLabel*, 7> outputAxisLabels_{};
    std::array<QLabel*, 3> legendLabels_{};
    std::array<QLabel*, 9> timeLabels_{};
    std::array<QLabel*, 9> dateLabels_{};
    QLabel* headerDate_ = nullptr;
    QLabel* headerTime_ = nullptr;
    QPushButton* printButton_ = nullptr;
    QPushButton* zoomInButton_ = nullptr;
    QPushButton* zoomOutButton_ = nullptr;
    QPushButton* rulerButton_ = nullptr;
    QPushButton* selectButton_ = nullptr;
    QPushButton* newerButton_ = nullptr;
    QPushButton* olderButton_ = nullptr;
    QAction* zoomOutAction_ = nullptr;
    QAction* zoomInAction_ = nullptr;
    QAction* printAction_ = nullptr;
    QAction* rulerAction_ = nullptr;
    QAction* selectAction_ = nullptr;
    QAction* newerAction_ = nullptr;
    QAction* olderAction_ = nullptr;
    QPushButton* applyAxisButton_ = nullptr;
    QLineEdit* axisMinEdit_ = nullptr;
    QLineEdit* axisMaxEdit_ = nullptr;
    QDateTimeEdit* spanEndEdit_ = nullptr;
    QComboBox* spanLengthBox_ = nullptr;
    QPushButton* spanShowButton_ = nullptr;
    QPushButton* spanLiveButton_ = nullptr;
    QLabel* spanReadout_ = nullptr;
    QTimer* displayTimer_ = nullptr;
    QTimer* redrawTimer_ = nullptr;
    QTimer* headerTimer_ = nullptr;
};

}  // namespace chart
