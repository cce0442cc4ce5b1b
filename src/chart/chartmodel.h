#pragma once
// The main window's chart without widgets: the slot buffers, the window of stored records they
// hold, paging back through the ring, zoom, ruler and value axis, and the drawing of one redraw as
// a list of lines in chart units (12008 x 7508, origin top left, y downwards). The panel widget
// paints that list and copies the texts and control states below onto its controls.

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "record/handshake.h"
#include "record/store.h"

namespace chart {

// The chart reads what the recorder stored.
using record::kRingSize;
using record::RecorderHandshake;
using record::Sample;

// Where the chart reads its records from: the main window's own store connection, or a fake.
class ChartSource {
  public:
    virtual ~ChartSource() = default;
    // Column 0 of the counter row; nullopt when it cannot be read.
    virtual std::optional<int> readCounter() = 0;
    // Records with first <= w_id <= last (first <= last), ordered by date, then time.
    virtual std::vector<Sample> loadBetween(int first, int last) = 0;
    // Records outside first..last, ordered by date, then time.
    virtual std::vector<Sample> loadNotBetween(int first, int last) = 0;
    // True once the ring has gone round: every record number 1..65500 exists.
    virtual bool ringWrapped() = 0;
};

// Pen of one drawn line. Colours are platform values 0x00BBGGRR (blue in the high byte).
struct ChartPen {
    int width = 1;
    int style = 0;  // 0 solid, 1 dashed, 2 dotted
    uint32_t colour = 0;
    bool operator==(const ChartPen&) const = default;
};

struct ChartLine {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    ChartPen pen;
};

namespace chartcolour {
inline constexpr uint32_t kBackground = 0xFFFFC0;  // light cyan
inline constexpr uint32_t kGrid = 0xFF80FF;        // pink
inline constexpr uint32_t kGapMark = 0x00FFFF;     // yellow
inline constexpr uint32_t kChannel0 = 0x0000FF;    // red, PV1
inline constexpr uint32_t kChannel1 = 0xC00000;    // blue, PV2
inline constexpr uint32_t kChannel2 = 0x8080FF;    // light red, SV1
inline constexpr uint32_t kChannel3 = 0xFF8080;    // light blue, SV2
inline constexpr uint32_t kChannel8 = 0x000080;    // dark red, control output 1
inline constexpr uint32_t kChannel9 = 0x800000;    // dark blue, control output 2
inline constexpr uint32_t kRulerOn = 0x00FFFF;     // yellow
inline constexpr uint32_t kRulerOff = 0x00FF00;    // green
inline constexpr uint32_t kRulerLine = 0xC000C0;   // purple
inline constexpr uint32_t kHeader = 0x80FF80;      // light green header background
inline constexpr uint32_t kReadout = 0x00FFFF;     // yellow ruler readout background
}  // namespace chartcolour

// Which of the chart's records the last window load asked for, as the store was asked.
struct ChartQuery {
    bool notBetween = false;
    int first = 0;
    int last = 0;
    bool operator==(const ChartQuery&) const = default;
};

class ChartModel {
  public:
    static constexpr int kSlots = 323;    // slots 0..322
    static constexpr int kChannels = 25;  // channels 0..24; 0..9 are used
    static constexpr double kWidth = 12008;
    static constexpr double kHeight = 7508;
    static constexpr int kLiveCount = 241;
    static constexpr int kHistoryCount = 321;
    static constexpr int kPageRecords = 60;
    static constexpr double kGapDays = 0.00347222;  // about 5 minutes
    static constexpr int kSliderMin = -1;
    static constexpr int kSliderMax = 12001;

    ChartModel();

    // --- Buffers and scalars ---
    std::array<std::array<float, kSlots>, kChannels> samples{};  // [channel][slot]
    std::array<double, kSlots> dates{};
    std::array<double, kSlots> times{};
    std::array<int16_t, kSlots> gapMarks{};
    int16_t newestSlot = kLiveCount;
    int16_t zoomLevel = 1;
    float slotStep = 150;
    int16_t firstSlot = 180;
    int32_t windowEnd = 0;
    int16_t windowCount = kLiveCount;
    int32_t newestRecord = 0;
    int16_t historyPage = 0;
    bool oldestPageReached = false;
    bool rulerMode = false;
    // The last live load could not read the counter row (the store was locked, missing or not
    // open yet): the live window is loaded again once it can be.
    bool liveWindowPending = false;
    // The value axis: its lower bound and its height. Kept in 32 bits, so no bound the axis box
    // accepts overflows the drawing.
    int32_t chartSpan = 60;
    int32_t chartLow = 0;
    int32_t chartYOffset = 0;

    // --- What the controls around the surface show ---
    struct Controls {
        bool zoomInEnabled = false;  // "F2 放大"
        bool zoomOutEnabled = true;  // "F1 缩小"
        bool newerEnabled = false;   // "F6 左移"
        bool olderEnabled = true;    // "F7 右移"
        bool displayRunning = true;  // the display tick runs
        bool sliderEnabled = false;
        int sliderValue = 0;
        int sliderStep = 50;
        QString rulerCaption = QStringLiteral("F4 标尺");
    };
    Controls controls;

    // Line1, the ruler: a separate line drawn over the curves.
    struct Ruler {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 330;
        uint32_t colour = chartcolour::kRulerOff;
        int width = 2;
    };
    Ruler ruler;

    std::array<QString, 7> valueLabels;  // value axis, 0 at the bottom
    std::array<QString, 9> timeLabels;   // under the chart, left to right
    std::array<QString, 9> dateLabels;   // under the time labels
    QString headerDate, headerTime;      // over the chart, right
    QString slotStepText;                // the distance between two slots
    // True while the ruler readout colours the header and the live values yellow; cleared by the
    // first display tick outside ruler mode.
    bool readoutShown = false;
    // The ruler's last readout of channels 0..9 (float text), for the live panel's value labels.
    std::array<QString, 10> readoutTexts;
    int readoutSerial = 0;  // advanced on every readout
    enum class Focus { None, Slider, RulerButton };
    Focus focusRequest = Focus::None;  // taken and cleared by the panel

    // The surface: every line drawn since it was last cleared, in drawing order.
    const std::vector<ChartLine>& surface() const { return surface_; }
    int surfaceSerial() const { return surfaceSerial_; }  // advanced whenever the surface changes
    // Number of leading surface lines that are the grid drawn on a clear surface (0 or 62): they
    // depend on nothing but the surface size, so a painter may keep them as a picture.
    int gridPrefix() const { return gridPrefix_; }
    ChartQuery lastQuery() const { return lastQuery_; }
    int queryCount() const { return queryCount_; }

    // --- Operations ---
    void clearSurface();  // the surface cleared to its background
    void drawChartGrid();
    void applyZoomLevel();
    void drawChartCurves();
    void redrawChart();
    void clearChartBuffers();
    bool readNewestRecord(ChartSource& src);
    void loadChartWindow(ChartSource& src);
    void reloadLiveWindow(ChartSource& src);

    // The chart's part of the main window's load: state reset, axis, newest record, live window.
    void load(ChartSource& src);
    // Display tick steps 1 to 3 (the live panel refresh and the slot-step text follow in the
    // panel).
    void displayTick(ChartSource& src, RecorderHandshake& hs, const std::array<float, 10>& live,
                     const QDateTime& now);
    void updateSlotStepText();
    void headerTick(const QDateTime& now);

    void pageOlder(ChartSource& src);    // "F7 右移"
    void pageNewer(ChartSource& src);    // "F6 左移"
    void zoomIn();                       // "F2 放大"
    void zoomOut();                      // "F1 缩小"
    void toggleRuler(ChartSource& src);  // "F4 标尺" / "F4 复原"
    // The slider moved to v: runs the change handler when the value differs from the last one.
    void setSliderValue(int v, ChartSource& src);
    // "修改Y": false when the bounds are refused (out of range, or a maximum not above the
    // minimum).
    bool applyValueAxis(const QString& lowText, const QString& highText);

    // Geometry helpers, public for the tests.
    float scaleK() const;           // 7500 / chartSpan as a float; 0 for a span of 0
    double scaledY(float v) const;  // channels 0..3
    static double fixedY(float v);  // channels 8, 9
    // The date and time (OLE days) of the oldest and the newest record drawn on the surface now;
    // nullopt when none is.
    std::optional<std::pair<double, double>> shownSpan() const;
    // True when slot s holds a record (its date is not 0).
    bool hasSample(int s) const;
    // The slot's date and time as label text; empty for a slot without a record.
    QString slotDateText(int s) const;
    QString slotTimeText(int s) const;
    // The ring number of the record `back` records before `newest` (1..65500).
    static int32_t ringRecord(int64_t newest, int64_t back);

  private:
    void addLine(double x1, double y1, double x2, double y2, const ChartPen& pen);
    void sliderChanged(ChartSource& src);
    void updateValueLabels();
    void touchSurface() { ++surfaceSerial_; }

    std::vector<ChartLine> surface_;
    int surfaceSerial_ = 0;
    int gridPrefix_ = 0;
    ChartQuery lastQuery_;
    int queryCount_ = 0;
};

}  // namespace chart
