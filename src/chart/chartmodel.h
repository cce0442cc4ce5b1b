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
#include <utility>
#include <vector>

#include "store/store.h"

namespace chart {

// The chart reads what the recorder stored.
using store::kRingSize;
using store::Sample;

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

// A curve the chart draws: its channel, pen, and whether the value axis scales it (channels 0..3)
// or the fixed axis of the control outputs does (8, 9).
struct ChartCurve {
    int channel;
    ChartPen pen;
    bool scaled;
};
// Drawing order of the curves: where they cross, the later channel of a step lies on top.
inline constexpr std::array<ChartCurve, 6> kChartCurves{{
    {0, {2, 0, chartcolour::kChannel0}, true},
    {1, {2, 0, chartcolour::kChannel1}, true},
    {2, {1, 0, chartcolour::kChannel2}, true},
    {3, {1, 0, chartcolour::kChannel3}, true},
    {8, {1, 0, chartcolour::kChannel8}, false},
    {9, {1, 0, chartcolour::kChannel9}, false},
}};

// Which of the chart's records the last window load asked for, as the store was asked.
struct ChartQuery {
    bool notBetween = false;
    int first = 0;
    int last = 0;
    bool operator==(const ChartQuery&) const = default;
};

class ChartModel {
  public:
    static constexpr int kSlots = 323;          // slots 0..322
    static constexpr int kChannels = 25;        // channels 0..24; 0..9 are used
    static constexpr int kStoredChannels = 10;  // channels 0..9 come from the records
    static constexpr double kWidth = 12008;
    static constexpr double kHeight = 7508;
    static constexpr double kLiveEdge = 9000;  // x of slot kLiveCount - 1 at every zoom level
    // The live window holds its records in slots 1..241, a history page in slots 1..321; the
    // newest record of either lies in its last slot.
    static constexpr int kLiveCount = 241;
    static constexpr int kHistoryCount = 321;
    static constexpr int kPageRecords = 60;         // one page older or newer moves 60 records
    static constexpr double kGapDays = 0.00347222;  // about 5 minutes
    static constexpr int kSliderMin = -1;
    static constexpr int kSliderMax = 12001;
    // Zoom levels 1 (closest) to 4 (widest). At level z the surface shows 80 z slots, 60 z of
    // them up to the live window's newest slot, and the live append has 20 z slots beyond it
    // before the window moves on. A time label stands every 10 z slots.
    static constexpr int kMinZoom = 1;
    static constexpr int kMaxZoom = 4;
    static constexpr int kShownSlotsPerZoom = 80;
    static constexpr int kOlderSlotsPerZoom = 60;
    static constexpr int kNewerSlotsPerZoom = 20;
    static constexpr int kLabelSlotsPerZoom = 10;
    // Time label i stands about 1500 i + 150 chart units from the left edge, the last beyond
    // the right one.
    static constexpr std::array<double, 9> labelPlaces() {
        std::array<double, 9> x{};
        for (int i = 0; i < 9; ++i)
            x[i] = 1500.0 * i + 150;
        return x;
    }

    ChartModel();

    // --- What the controls around the surface show, derived from the state ---
    struct Controls {
        bool zoomInEnabled = false;  // "F2 放大"
        bool zoomOutEnabled = true;  // "F1 缩小"
        bool newerEnabled = false;   // "F6 左移"
        bool olderEnabled = true;    // "F7 右移"
        bool displayRunning = true;  // the display tick runs
        bool sliderEnabled = false;
        int sliderValue = 0;
        int sliderStep = 50;
        QString rulerCaption;
    };
    Controls controls() const;

    // Line1, the ruler: a separate line drawn over the curves.
    struct Ruler {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 330;
        uint32_t colour = chartcolour::kRulerOff;
        int width = 2;
    };
    const Ruler& ruler() const { return ruler_; }

    // --- The slot buffers: slot s of channel c, its record's date and time (OLE days; a date of
    // 0 is a slot without a record) and its gap mark (> 0 when a gap precedes it) ---
    using SlotValues = std::array<float, kSlots>;
    const std::array<SlotValues, kChannels>& samples() const { return samples_; }
    const std::array<double, kSlots>& dates() const { return dates_; }
    const std::array<double, kSlots>& times() const { return times_; }
    const std::array<int16_t, kSlots>& gapMarks() const { return gapMarks_; }
    // Slots whose second holds no reading of the instrument: stored while its values were stale
    // or its port closed, or a second nothing was stored in. Their curves are not drawn.
    const std::array<bool, kSlots>& noReading() const { return noReading_; }

    // --- The window and the view ---
    int newestSlot() const { return newestSlot_; }  // where the live append goes on
    int zoomLevel() const { return zoomLevel_; }
    float slotStep() const { return slotStep_; }            // chart units between two slots
    int firstSlot() const { return firstSlot_; }            // the slot at the surface's left edge
    int32_t windowEnd() const { return windowEnd_; }        // newest record of the loaded window
    int windowCount() const { return windowCount_; }        // records the window load asked for
    int32_t newestRecord() const { return newestRecord_; }  // the counter row, as last read
    int historyPage() const { return historyPage_; }        // pages older than live, 0 when live
    bool oldestPageReached() const { return oldestPageReached_; }
    bool rulerMode() const { return rulerMode_; }
    // The last live load could not read the counter row (the store was locked, missing or not
    // open yet): the live window is loaded again once it can be.
    bool liveWindowPending() const { return liveWindowPending_; }
    // The value axis: its lower bound and its height. Kept in 32 bits, so no bound the axis box
    // accepts overflows the drawing.
    int32_t chartSpan() const { return chartSpan_; }
    int32_t chartLow() const { return chartLow_; }
    int32_t chartYOffset() const { return chartYOffset_; }

    // --- Texts ---
    const std::array<QString, 7>& valueLabels() const { return valueLabels_; }  // 0 at the bottom
    const std::array<QString, 9>& timeLabels() const { return timeLabels_; }    // left to right
    const std::array<QString, 9>& dateLabels() const { return dateLabels_; }
    const QString& headerDate() const { return headerDate_; }  // over the chart, right
    const QString& headerTime() const { return headerTime_; }
    // True while the ruler readout colours the header and the live values yellow; cleared by the
    // first display tick outside ruler mode.
    bool readoutShown() const { return readoutShown_; }
    // The ruler's last readout of channels 0..9 (float text), for the live panel's value labels.
    const std::array<QString, kStoredChannels>& readoutTexts() const { return readoutTexts_; }
    int readoutSerial() const { return readoutSerial_; }  // advanced on every readout
    enum class Focus { None, Slider, RulerButton };
    // The control the last operation wants to have the focus; cleared by taking it.
    Focus takeFocusRequest() { return std::exchange(focusRequest_, Focus::None); }

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
    void redrawChart();  // the surface cleared, the grid and the curves drawn at the zoom level
    // The live window, ending at the newest record the counter row names, loaded and drawn.
    void showLiveWindow(ChartSource& src);
    // Back to the live window from wherever the chart stands: ruler off, no history page, the
    // display tick running, the live window loaded and drawn (zoom and value axis are kept).
    void returnToLive(ChartSource& src);

    // The chart's part of the main window's load: state reset, axis, newest record, live window.
    void load(ChartSource& src);
    // Display tick steps 1 to 3: the ruler readout ends outside ruler mode, the value labels
    // follow the axis, and when a record was stored since the last tick the live values go into
    // the next slot (the window moves on when the newer area is full) and the chart is redrawn.
    // stale: the record added holds no reading (its values were stale or the port closed).
    void displayTick(ChartSource& src, bool recordAdded, const std::array<float, 10>& live,
                     const QDateTime& now, bool stale = false);
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
    // The same for any value axis: the scale of a span, the offset of a lower bound at a scale,
    // and a value's y on that axis.
    static float scaleFor(int32_t span);
    static int32_t offsetFor(float k, int32_t low);
    static double axisY(float v, float k, int32_t offset);
    // The grid of a clear surface (the lines drawChartGrid adds).
    static const std::vector<ChartLine>& gridLines();
    // The date and time (OLE days) of the oldest and the newest record drawn on the surface now;
    // nullopt when none is.
    std::optional<std::pair<double, double>> shownSpan() const;
    // True when slot s holds a record (its date is not 0).
    bool hasSample(int s) const;
    // True when slot s holds a record that is a reading of the instrument.
    bool hasReading(int s) const;
    // The slot's date and time as label text; empty for a slot without a record.
    QString slotDateText(int s) const;
    QString slotTimeText(int s) const;
    // The ring number of the record `back` records before `newest` (1..65500).
    static int32_t ringRecord(int64_t newest, int64_t back);

  private:
    void addLine(double x1, double y1, double x2, double y2, const ChartPen& pen);
    void applyZoomLevel();
    void drawChartCurves();
    void clearChartBuffers();
    bool readNewestRecord(ChartSource& src);
    void loadChartWindow(ChartSource& src);
    // The live window's records at the slots of their seconds, counted back from the newest: the
    // seconds nothing was stored in keep their slots, with their times and without a reading.
    void placeByTime(const std::vector<Sample>& rows, int n);
    void loadLiveWindow(ChartSource& src);
    void loadHistoryPage(ChartSource& src);
    void zoomBy(int delta);
    void sliderChanged(ChartSource& src);
    void updateValueLabels();
    void touchSurface() { ++surfaceSerial_; }

    std::array<SlotValues, kChannels> samples_{};  // [channel][slot]
    std::array<double, kSlots> dates_{};
    std::array<double, kSlots> times_{};
    std::array<int16_t, kSlots> gapMarks_{};
    std::array<bool, kSlots> noReading_{};
    // The zoom level and what it sets: the slot step and the slot at the left edge.
    int16_t zoomLevel_ = kMinZoom;
    float slotStep_ = 150;
    int16_t firstSlot_ = 180;
    // The window loaded: live (kLiveCount records) or a history page (kHistoryCount).
    int32_t newestRecord_ = 0;
    int32_t windowEnd_ = 0;
    int16_t windowCount_ = kLiveCount;
    int16_t newestSlot_ = kLiveCount;
    int16_t historyPage_ = 0;
    bool oldestPageReached_ = false;
    bool liveWindowPending_ = false;
    bool rulerMode_ = false;
    // The value axis, and the offset of the last curve drawing.
    int32_t chartSpan_ = 60;
    int32_t chartLow_ = 0;
    int32_t chartYOffset_ = 0;
    // Whether the display tick runs: stopped by a history page and by the ruler, started again
    // by the return to the live window (which a ruler switched off makes even while the page
    // counter still stands above 0), so it is state of its own.
    bool displayRunning_ = true;
    int sliderValue_ = 0;
    // The slider's step follows the slot step once the zoom has changed; the load sets 50.
    int sliderStep_ = 50;
    Ruler ruler_;

    std::array<QString, 7> valueLabels_;
    std::array<QString, 9> timeLabels_;
    std::array<QString, 9> dateLabels_;
    QString headerDate_, headerTime_;
    bool readoutShown_ = false;
    std::array<QString, kStoredChannels> readoutTexts_;
    int readoutSerial_ = 0;
    Focus focusRequest_ = Focus::None;

    std::vector<ChartLine> surface_;
    int surfaceSerial_ = 0;
    int gridPrefix_ = 0;
    ChartQuery lastQuery_;
    int queryCount_ = 0;
};

}  // namespace chart
