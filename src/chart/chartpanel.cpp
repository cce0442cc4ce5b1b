#include "chart/chartpanel.h"

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "base/tr.h"
#include "base/workerthread.h"
#include "chart/chartprint.h"
#include "chart/chartview.h"
#include "chart/outputdialog.h"
#include "chart/storesource.h"
#include "store/recorder.h"
#include "store/store.h"
#include "ui/accessible.h"
#include "ui/widgets.h"

namespace chart {

namespace {

const QColor kActiveLive(255, 192, 255);  // the live values' own background

void setTextColour(QLabel* l, const QColor& c) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, c);
    l->setPalette(p);
}

QLabel* makeLabel(const QString& text, const QString& name, QWidget* parent) {
    // Value labels: their shown text is their accessible value.
    auto* l = new ui::ValueLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QPushButton* makeButton(const QString& caption, const QString& name) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setAccessibleName(caption);
    return b;
}

// The span's end: Tab leaves it for the next control, as everywhere in the window, instead of
// walking its date and time sections (the arrow keys, the separators and the mouse reach those).
// A date typed in full goes in as typed: a section filled moves on to the next by itself, so the
// separator typed after it is passed over rather than moving on once more. A click puts the
// typing into the section clicked: the first key typed replaces it.
class SpanEndEdit : public QDateTimeEdit {
  public:
    explicit SpanEndEdit(const QDateTime& at, QWidget* parent) : QDateTimeEdit(at, parent) {
        lineEdit()->installEventFilter(this);
    }

  protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            const auto* k = static_cast<QKeyEvent*>(e);
            const bool plain = !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
            if (plain && (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab)) {
                const bool next = k->key() == Qt::Key_Tab && !(k->modifiers() & Qt::ShiftModifier);
                if (QWidget::focusNextPrevChild(next)) return true;
            }
        }
        return QDateTimeEdit::event(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        const QChar typed = e->text().isEmpty() ? QChar() : e->text().at(0);
        const bool printable =
            typed.isPrint() && !(e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
        const bool separator = printable && !typed.isLetterOrNumber();
        if (std::exchange(movedOn_, false) && separator) {
            e->accept();
            return;
        }
        if (std::exchange(clicked_, false) && printable && !lineEdit()->hasSelectedText())
            setSelectedSection(currentSection());
        const Section before = currentSection();
        QDateTimeEdit::keyPressEvent(e);
        movedOn_ = printable && !separator && currentSection() != before;
    }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == lineEdit() && e->type() == QEvent::MouseButtonPress) clicked_ = true;
        return QDateTimeEdit::eventFilter(o, e);
    }

  private:
    bool clicked_ = false;  // the last thing done in the entry was a click
    bool movedOn_ = false;  // the last key typed filled its section and moved to the next
};

}  // namespace

// The surface frame with its labels around it: value labels on the left, the ruler slider, time
// and date labels below, each placed where its chart position lies at the current size.
class ChartArea : public QWidget {
  public:
    explicit ChartArea(QWidget* parent) : QWidget(parent) {}
    QFrame* frame = nullptr;
    QSlider* slider = nullptr;
    std::array<QLabel*, 7>* valueLabels = nullptr;
    std::array<QLabel*, 7>* outputLabels = nullptr;
    std::array<QLabel*, 9>* timeLabels = nullptr;
    std::array<QLabel*, 9>* dateLabels = nullptr;

    // The chart x of each time label's centre: the live chart's or a span's.
    void setLabelPlaces(const std::array<double, 9>& places) {
        if (places == labelPlaces_) return;
        labelPlaces_ = places;
        place();
    }

    QSize sizeHint() const override { return {800, 520}; }
    // Low enough for the main window on a 1280 × 720 screen.
    QSize minimumSizeHint() const override { return {400, 200}; }

  protected:
    void resizeEvent(QResizeEvent*) override { place(); }
    void showEvent(QShowEvent*) override { place(); }

  private:
    void place() {
        const QFontMetrics fm = fontMetrics();
        const int lh = fm.height();
        const int w5 = fm.horizontalAdvance(QStringLiteral("-32768")) + 4;
        const int w6 = fm.horizontalAdvance(QStringLiteral("-10")) + 6;
        const int wd = fm.horizontalAdvance(QStringLiteral("2001/07/19")) + 4;
        const int left = w5 + w6 + 2;
        // The last time label is centred 142 units beyond the surface's right edge.
        const int right = wd / 2 + std::max(4, width() / 60);
        const int top = lh / 2 + 1;
        const int sliderH = slider->sizeHint().height();
        const int bottom = sliderH + 2 * lh + 4;
        const int cw = std::max(40, width() - left - right);
        const int ch = std::max(40, height() - top - bottom);
        frame->setGeometry(left, top, cw, ch);
        slider->setGeometry(left, top + ch + 1, cw, sliderH);
        // Chart x of a label centre, mapped onto the frame.
        auto xAt = [&](double units) { return left + int(units * cw / ChartModel::kWidth); };
        auto yAt = [&](double units) { return top + int(units * ch / ChartModel::kHeight); };
        for (int i = 0; i < 7; ++i) {
            const int y = yAt(7500 - 1250.0 * i) - lh / 2;
            (*valueLabels)[i]->setGeometry(0, y, w5, lh);
            (*outputLabels)[i]->setGeometry(w5, y, w6, lh);
        }
        const int ty = top + ch + 1 + sliderH + 1;
        for (int i = 0; i < 9; ++i) {
            const int x = xAt(labelPlaces_[i]) - wd / 2;
            (*timeLabels)[i]->setGeometry(x, ty, wd, lh);
            (*dateLabels)[i]->setGeometry(x, ty + lh, wd, lh);
        }
    }

    std::array<double, 9> labelPlaces_ = ChartModel::labelPlaces();
};

ChartPanel::ChartPanel(const QString& dbPath, const Clock& clock, LiveFeed feed, QWidget* parent)
    : QWidget(parent), clock_(clock), feed_(std::move(feed)), dbPath_(dbPath) {
    // A connection of its own: every chamber's window has a chart, each over its own file.
    store_ = std::make_unique<SampleStore>(dbPath, base::uniqueName(QStringLiteral("chart")));
    ownSource_ = std::make_unique<StoreChartSource>(*store_);
    source_ = ownSource_.get();
    ownSpanSource_ = std::make_unique<StoreSpanSource>(*store_);
    spanSource_ = ownSpanSource_.get();
    build();
}

ChartPanel::ChartPanel(ChartSource& source, const Clock& clock, LiveFeed feed, QWidget* parent)
    : QWidget(parent), clock_(clock), feed_(std::move(feed)), source_(&source) {
    build();
}

ChartPanel::~ChartPanel() {
    closeDatabase();
}

void ChartPanel::build() {
    setObjectName(QStringLiteral("ChartPanel"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(2);
    outer->addLayout(buildHeader());
    outer->addWidget(buildSurface(), 1);
    // The tools in two rows, so that the panel fits beside the main window's other columns.
    auto* functions = new QHBoxLayout;
    functions->addWidget(buildFunctionFrame());
    functions->addStretch(1);
    outer->addLayout(functions);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(buildValueAxisBox());
    bottom->addWidget(buildSpanBox());
    bottom->addStretch(1);
    outer->addLayout(bottom);

    setTabOrder(zoomOutButton_, zoomInButton_);
    setTabOrder(zoomInButton_, printButton_);
    setTabOrder(printButton_, rulerButton_);
    setTabOrder(rulerButton_, selectButton_);
    setTabOrder(selectButton_, newerButton_);
    setTabOrder(newerButton_, olderButton_);
    setTabOrder(olderButton_, spanEndEdit_);
    setTabOrder(spanEndEdit_, spanLengthBox_);
    setTabOrder(spanLengthBox_, spanShowButton_);
    setTabOrder(spanShowButton_, spanLiveButton_);
    setTabOrder(spanLiveButton_, axisMinEdit_);
    setTabOrder(axisMinEdit_, axisMaxEdit_);
    setTabOrder(axisMaxEdit_, applyAxisButton_);

    buildTimers();
    sync();
}

// Legend on the left, the date and time of the chart or the clock on the right.
QLayout* ChartPanel::buildHeader() {
    auto* header = new QHBoxLayout;
    const std::array<QString, 3> legend{QStringLiteral("PV"), QStringLiteral("OP"),
                                        QStringLiteral("SV")};
    const std::array<QColor, 3> legendColour{QColor(255, 0, 0), QColor(0, 0, 255),
                                             QColor(0, 128, 0)};
    for (int i = 0; i < 3; ++i) {
        legendLabels_[i] = makeLabel(legend[i], QStringLiteral("Label8_%1").arg(i), this);
        setTextColour(legendLabels_[i], legendColour[i]);
        header->addWidget(legendLabels_[i]);
    }
    header->addStretch(1);
    headerDate_ = makeLabel(QString(), QStringLiteral("Label2_9"), this);
    headerTime_ = makeLabel(QString(), QStringLiteral("Label2_10"), this);
    headerDate_->setAccessibleName(base::Tr::tr("曲线日期 读数"));
    headerTime_->setAccessibleName(base::Tr::tr("曲线时间 读数"));
    for (QLabel* l : {headerDate_, headerTime_}) {
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("2001/07/19")) + 10);
        setTextColour(l, Qt::black);
        ui::setLabelBackground(l, platformColour(chartcolour::kHeader));
        header->addWidget(l);
    }
    return header;
}

// The surface in its frame, the ruler slider under it, the axis labels and the time and date
// labels around it.
QWidget* ChartPanel::buildSurface() {
    area_ = new ChartArea(this);
    surfaceFrame_ = new QFrame(area_);
    surfaceFrame_->setObjectName(QStringLiteral("pt0"));
    surfaceFrame_->setFrameShape(QFrame::Box);
    surfaceFrame_->setLineWidth(1);
    auto* ptLayout = new QVBoxLayout(surfaceFrame_);
    ptLayout->setContentsMargins(1, 1, 1, 1);
    view_ = new ChartView(model_, surfaceFrame_);
    ptLayout->addWidget(view_);
    // The span ruler's readout, over the surface's top corner away from the ruler.
    spanReadout_ = makeLabel(QString(), QStringLiteral("SpanReadout"), view_);
    spanReadout_->setAccessibleName(base::Tr::tr("标尺读数"));
    spanReadout_->setFrameShape(QFrame::Box);
    spanReadout_->setMargin(3);
    setTextColour(spanReadout_, Qt::black);
    ui::setLabelBackground(spanReadout_, platformColour(chartcolour::kReadout));
    spanReadout_->hide();
    rulerSlider_ = new QSlider(Qt::Horizontal, area_);
    rulerSlider_->setObjectName(QStringLiteral("hc"));
    rulerSlider_->setAccessibleName(base::Tr::tr("标尺"));
    rulerSlider_->setRange(ChartModel::kSliderMin, ChartModel::kSliderMax);
    rulerSlider_->setSingleStep(50);
    rulerSlider_->setPageStep(50);
    rulerSlider_->setValue(0);
    rulerSlider_->setEnabled(false);
    rulerSlider_->setFocusPolicy(Qt::ClickFocus);
    connect(rulerSlider_, &QSlider::valueChanged, this, &ChartPanel::onSlider);
    const std::array<QString, 7> fixed{"-10", "10", "30", "50", "70", "90", "110"};
    for (int i = 0; i < 7; ++i) {
        valueAxisLabels_[i] = makeLabel(QString(), QStringLiteral("Label5_%1").arg(i), area_);
        valueAxisLabels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        valueAxisLabels_[i]->setAccessibleName(base::Tr::tr("Y轴刻度%1").arg(i));
        setTextColour(valueAxisLabels_[i], QColor(255, 0, 0));
        outputAxisLabels_[i] = makeLabel(fixed[i], QStringLiteral("Label6_%1").arg(i), area_);
        outputAxisLabels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        outputAxisLabels_[i]->setAccessibleName(base::Tr::tr("输出刻度%1").arg(i));
        setTextColour(outputAxisLabels_[i], QColor(0, 0, 255));
    }
    for (int i = 0; i < 9; ++i) {
        timeLabels_[i] =
            makeLabel(QStringLiteral("00:00:00"), QStringLiteral("Label4_%1").arg(i), area_);
        timeLabels_[i]->setAlignment(Qt::AlignCenter);
        timeLabels_[i]->setAccessibleName(base::Tr::tr("时间刻度%1").arg(i));
        dateLabels_[i] =
            makeLabel(QStringLiteral("2001/07/19"), QStringLiteral("Label7_%1").arg(i), area_);
        dateLabels_[i]->setAlignment(Qt::AlignCenter);
        dateLabels_[i]->setAccessibleName(base::Tr::tr("日期刻度%1").arg(i));
    }
    area_->frame = surfaceFrame_;
    area_->slider = rulerSlider_;
    area_->valueLabels = &valueAxisLabels_;
    area_->outputLabels = &outputAxisLabels_;
    area_->timeLabels = &timeLabels_;
    area_->dateLabels = &dateLabels_;
    return area_;
}

// A tool of the chart: its caption, its key (a shortcut of the whole window) and what it does;
// a tool without a handler stays disabled.
QAction* ChartPanel::addTool(const QString& caption, Qt::Key key, void (ChartPanel::*handler)()) {
    auto* tool = new QAction(caption, this);
    tool->setShortcut(QKeySequence(key));
    tool->setShortcutContext(Qt::WindowShortcut);
    if (handler)
        connect(tool, &QAction::triggered, this, handler);
    else
        tool->setEnabled(false);
    addAction(tool);
    return tool;
}

// The button that shows a tool: it runs the tool, and takes its enabled state and caption.
QPushButton* ChartPanel::toolButton(QAction* tool, const QString& name) {
    QPushButton* b = makeButton(tool->text(), name);
    b->setEnabled(tool->isEnabled());
    connect(b, &QPushButton::clicked, tool, &QAction::trigger);
    connect(tool, &QAction::changed, b, [tool, b] {
        b->setEnabled(tool->isEnabled());
        if (b->text() == tool->text()) return;
        b->setText(tool->text());
        b->setAccessibleName(tool->text());
    });
    return b;
}

// The function frame "功能" with the chart's tools.
QWidget* ChartPanel::buildFunctionFrame() {
    auto* frame = new QGroupBox(base::Tr::tr("功能"), this);
    frame->setObjectName(QStringLiteral("Frame_功能"));
    auto* fl = new QHBoxLayout(frame);
    fl->setContentsMargins(4, 2, 4, 2);
    zoomOutAction_ = addTool(base::Tr::tr("F1 缩小"), Qt::Key_F1, &ChartPanel::zoomOut);
    zoomInAction_ = addTool(base::Tr::tr("F2 放大"), Qt::Key_F2, &ChartPanel::zoomIn);
    printAction_ = addTool(base::Tr::tr("F3 打印"), Qt::Key_F3, &ChartPanel::showOutputDialog);
    rulerAction_ = addTool(base::Tr::tr("F4 标尺"), Qt::Key_F4, &ChartPanel::toggleRuler);
    selectAction_ = addTool(base::Tr::tr("F5 选择"), Qt::Key_F5, nullptr);  // no function
    newerAction_ = addTool(base::Tr::tr("F6 左移"), Qt::Key_F6, &ChartPanel::pageNewer);
    olderAction_ = addTool(base::Tr::tr("F7 右移"), Qt::Key_F7, &ChartPanel::pageOlder);
    zoomOutButton_ = toolButton(zoomOutAction_, QStringLiteral("Command4"));
    zoomInButton_ = toolButton(zoomInAction_, QStringLiteral("Command3"));
    printButton_ = toolButton(printAction_, QStringLiteral("Command2"));
    rulerButton_ = toolButton(rulerAction_, QStringLiteral("Command5"));
    selectButton_ = toolButton(selectAction_, QStringLiteral("Command6"));
    newerButton_ = toolButton(newerAction_, QStringLiteral("Command7"));
    olderButton_ = toolButton(olderAction_, QStringLiteral("Command8"));
    for (QPushButton* b : {zoomOutButton_, zoomInButton_, printButton_, rulerButton_, selectButton_,
                           newerButton_, olderButton_})
        fl->addWidget(b);
    return frame;
}

// The value-axis box: the two bounds and "修改Y".
QWidget* ChartPanel::buildValueAxisBox() {
    auto* axis = new QGroupBox(this);
    axis->setObjectName(QStringLiteral("Frame_Y"));
    auto* al = new QHBoxLayout(axis);
    al->setContentsMargins(4, 2, 4, 2);
    auto* lowCaption = new QLabel(base::Tr::tr("Y轴最小"), axis);
    axisMinEdit_ = new QLineEdit(QStringLiteral("0"), axis);
    axisMinEdit_->setObjectName(QStringLiteral("YKD1"));
    axisMinEdit_->setAccessibleName(base::Tr::tr("Y轴最小"));
    lowCaption->setBuddy(axisMinEdit_);
    auto* highCaption = new QLabel(base::Tr::tr("Y轴最大"), axis);
    axisMaxEdit_ = new QLineEdit(QStringLiteral("60"), axis);
    axisMaxEdit_->setObjectName(QStringLiteral("YKD"));
    axisMaxEdit_->setAccessibleName(base::Tr::tr("Y轴最大"));
    highCaption->setBuddy(axisMaxEdit_);
    const int boxW = fontMetrics().horizontalAdvance(QStringLiteral("-12000.0")) + 12;
    axisMinEdit_->setFixedWidth(boxW);
    axisMaxEdit_->setFixedWidth(boxW);
    applyAxisButton_ = makeButton(base::Tr::tr("修改Y"), QStringLiteral("Command26"));
    connect(applyAxisButton_, &QPushButton::clicked, this, &ChartPanel::applyValueAxis);
    al->addWidget(lowCaption);
    al->addWidget(axisMinEdit_);
    al->addWidget(highCaption);
    al->addWidget(axisMaxEdit_);
    al->addWidget(applyAxisButton_);
    return axis;
}

// The span box: the end of the span, its length, "显示" and "实时".
QWidget* ChartPanel::buildSpanBox() {
    auto* box = new QGroupBox(this);
    box->setObjectName(QStringLiteral("Frame_Span"));
    auto* bl = new QHBoxLayout(box);
    bl->setContentsMargins(4, 2, 4, 2);
    auto* endCaption = new QLabel(base::Tr::tr("历史截止"), box);
    spanEndEdit_ = new SpanEndEdit(clock_.now(), box);
    spanEndEdit_->setObjectName(QStringLiteral("SpanEnd"));
    spanEndEdit_->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    spanEndEdit_->setCalendarPopup(true);
    spanEndEdit_->setAccessibleName(base::Tr::tr("历史截止"));
    // The entry field inside is what a screen reader lands on.
    if (auto* field = spanEndEdit_->findChild<QLineEdit*>())
        field->setAccessibleName(base::Tr::tr("历史截止"));
    endCaption->setBuddy(spanEndEdit_);
    spanLengthBox_ = new ui::NamedList(box);
    spanLengthBox_->setObjectName(QStringLiteral("SpanLength"));
    spanLengthBox_->setAccessibleName(base::Tr::tr("历史长度"));
    for (SpanLength len : kSpanLengths)
        spanLengthBox_->addItem(spanLengthText(len));
    spanLengthBox_->setCurrentIndex(static_cast<int>(spanLength_));
    spanShowButton_ = makeButton(base::Tr::tr("显示"), QStringLiteral("SpanShow"));
    spanLiveButton_ = makeButton(base::Tr::tr("实时"), QStringLiteral("SpanLive"));
    spanLiveButton_->setEnabled(false);
    connect(spanEndEdit_, &QDateTimeEdit::dateTimeChanged, this,
            [this] { spanEndFollowsClock_ = false; });
    connect(spanShowButton_, &QPushButton::clicked, this, &ChartPanel::showSpanOfControls);
    connect(spanLiveButton_, &QPushButton::clicked, this, &ChartPanel::showLive);
    bl->addWidget(endCaption);
    bl->addWidget(spanEndEdit_);
    bl->addWidget(spanLengthBox_);
    bl->addWidget(spanShowButton_);
    bl->addWidget(spanLiveButton_);
    return box;
}

// The chart's three timers; the load starts them.
void ChartPanel::buildTimers() {
    displayTimer_ = new QTimer(this);
    displayTimer_->setObjectName(QStringLiteral("Timer1"));
    displayTimer_->setInterval(200);
    connect(displayTimer_, &QTimer::timeout, this, &ChartPanel::displayTick);
    redrawTimer_ = new QTimer(this);
    redrawTimer_->setObjectName(QStringLiteral("Timer2"));
    redrawTimer_->setInterval(1000);
    connect(redrawTimer_, &QTimer::timeout, this, &ChartPanel::redrawTick);
    headerTimer_ = new QTimer(this);
    headerTimer_->setObjectName(QStringLiteral("Timer3"));
    headerTimer_->setInterval(1000);
    connect(headerTimer_, &QTimer::timeout, this, &ChartPanel::headerTick);
}

void ChartPanel::listenTo(store::Recorder* recorder) {
    stopListening();
    if (recorder)
        recorderConnection_ =
            connect(recorder, &store::Recorder::sampleStored, this, &ChartPanel::takeStoredSample);
}

void ChartPanel::stopListening() {
    disconnect(recorderConnection_);
    recorderConnection_ = {};
}

void ChartPanel::takeStoredSample(const store::Sample& sample) {
    // Samples stored between two display ticks make one append, as the tick runs five times
    // a second and the recorder stores once; it holds a reading when the sample did.
    recordAdded_ = true;
    addedStale_ = sample.stale;
}

void ChartPanel::setLiveValueLabels(QList<QLabel*> labels) {
    liveValueLabels_ = std::move(labels);
}

std::array<float, 10> ChartPanel::liveValues() const {
    return feed_.values ? feed_.values() : std::array<float, 10>{};
}

int ChartPanel::paintCount() const {
    return view_->paintCount();
}

void ChartPanel::load() {
    openStore();
    model_.load(*source_);
    sync();
    displayTimer_->start();
    redrawTimer_->start();
    headerTimer_->start();
}

void ChartPanel::closeDatabase() {
    if (store_) store_->close();
}

void ChartPanel::displayTick() {
    model_.displayTick(*source_, std::exchange(recordAdded_, false), liveValues(), clock_.now(),
                       addedStale_);
    sync();
}

void ChartPanel::redrawTick() {
    retryLiveWindow();
    model_.redrawChart();
    sync();
}

bool ChartPanel::openStore() {
    if (!store_ || store_->isOpen()) return true;
    if (readOnly_) return store_->open(SampleStore::Access::ReadOnly);
    if (store_->open()) return true;
    // The chart only reads: a file it may not write (marked read-only, on a read-only medium)
    // is read as it is, as the export reads it.
    return store_->lastFault() == SampleStore::Fault::ReadOnly &&
           store_->open(SampleStore::Access::ReadOnly);
}

// A store that could not be read when the live window was loaded (locked by another program,
// on a medium not yet there) is tried again once a second; the live window fills as soon as
// it opens. History pages and the ruler keep what they show.
void ChartPanel::retryLiveWindow() {
    if (!model_.liveWindowPending() || model_.historyPage() != 0 || model_.rulerMode()) return;
    if (!openStore()) return;
    model_.showLiveWindow(*source_);
}

void ChartPanel::headerTick() {
    model_.headerTick(clock_.now());
    // Until the operator changes it, the span's end is now (left alone while it has the focus).
    if (spanEndFollowsClock_ && !spanEndEdit_->hasFocus()) {
        const QSignalBlocker block(spanEndEdit_);
        spanEndEdit_->setDateTime(clock_.now());
    }
    sync();
}

OutputDialog* ChartPanel::outputDialog() const {
    return outputDialog_.data();
}

void ChartPanel::showOutputDialog() {
    if (!outputDialog_) {
        ShownChart shown;
        shown.picture = [this] {
            return spanMode_ ? spanPicture(span_, model_) : modelPicture(model_);
        };
        shown.title = [this] {
            const auto [port, address] =
                feed_.portAndAddress ? feed_.portAndAddress() : std::pair<int, int>{};
            return chartTitle(address, port, shownTimes());
        };
        shown.times = [this] { return shownTimes(); };
        outputDialog_ = new OutputDialog(std::move(shown), dbPath_, this);
        outputDialog_->setExporter(exporter_);
        outputDialog_->setWindowFlag(Qt::Window);
    } else if (!outputDialog_->isVisible() && !outputDialog_->exporting()) {
        outputDialog_->takeShownSpan();
    }
    outputDialog_->show();
    outputDialog_->raise();
    outputDialog_->activateWindow();
}

void ChartPanel::zoomIn() {
    if (spanMode_) {
        if (spanLength_ != SpanLength::Hour)
            showSpan(spanEnd_, SpanLength(static_cast<int>(spanLength_) - 1));
        return;
    }
    model_.zoomIn();
    sync();
}

void ChartPanel::zoomOut() {
    if (spanMode_) {
        if (spanLength_ != SpanLength::Month)
            showSpan(spanEnd_, SpanLength(static_cast<int>(spanLength_) + 1));
        return;
    }
    model_.zoomOut();
    sync();
}

void ChartPanel::toggleRuler() {
    if (spanMode_) {
        // The ruler stands where the slider does, and the readout follows it.
        if (span_.rulerOn()) {
            span_.setRulerOff();
            sync();
            rulerButton_->setFocus();
        } else {
            span_.setRulerAt(rulerSlider_->value());
            sync();
            rulerSlider_->setFocus();
        }
        return;
    }
    model_.toggleRuler(*source_);
    sync();
}

void ChartPanel::pageNewer() {
    if (spanMode_) {
        const int64_t end = shiftSpanEnd(spanEnd_, spanLength_, 1);
        if (end > clock_.now().toSecsSinceEpoch())
            showLive();
        else
            showSpan(end, spanLength_);
        return;
    }
    model_.pageNewer(*source_);
    sync();
}

void ChartPanel::pageOlder() {
    if (spanMode_) {
        if (olderAction_->isEnabled())
            showSpan(shiftSpanEnd(spanEnd_, spanLength_, -1), spanLength_);
        return;
    }
    model_.pageOlder(*source_);
    sync();
}

void ChartPanel::applyValueAxis() {
    model_.applyValueAxis(axisMinEdit_->text(), axisMaxEdit_->text());
    // A span is drawn once, so it takes the new axis at once.
    if (spanMode_) {
        span_.setAxis(model_.chartLow(), model_.chartSpan());
        sync();
    }
}

void ChartPanel::onSlider(int v) {
    if (spanMode_) {
        if (span_.rulerOn()) span_.setRulerAt(v);
        sync();
        return;
    }
    model_.setSliderValue(v, *source_);
    sync();
}

void ChartPanel::showSpanOfControls() {
    const int64_t now = clock_.now().toSecsSinceEpoch();
    const int index = std::clamp(spanLengthBox_->currentIndex(), 0, int(kSpanLengths.size()) - 1);
    showSpan(std::min<int64_t>(spanEndEdit_->dateTime().toSecsSinceEpoch(), now),
             kSpanLengths[index]);
}

void ChartPanel::showSpan(int64_t end, SpanLength len) {
    if (!spanSource_) return;
    openStore();
    if (!spanMode_) {
        // The chart behind the span is the live one, ruler off, so "实时" gives it back as is.
        model_.returnToLive(*source_);
        spanMode_ = true;
        view_->setSpan(&span_);
    }
    spanEnd_ = end;
    spanLength_ = len;
    span_.setAxis(model_.chartLow(), model_.chartSpan());
    span_.load(*spanSource_, spanStart(end, len), end);
    spanExtent_ = spanSource_->extent();
    if (span_.rulerOn()) span_.setRulerAt(rulerSlider_->value());
    {
        const QSignalBlocker blockEnd(spanEndEdit_);
        const QSignalBlocker blockLength(spanLengthBox_);
        spanEndFollowsClock_ = false;
        spanEndEdit_->setDateTime(QDateTime::fromSecsSinceEpoch(end));
        spanLengthBox_->setCurrentIndex(static_cast<int>(len));
    }
    sync();
}

void ChartPanel::showLive() {
    if (!spanMode_) return;
    spanMode_ = false;
    span_.setRulerOff();
    view_->setSpan(nullptr);
    {
        const QSignalBlocker block(spanEndEdit_);
        spanEndEdit_->setDateTime(clock_.now());
        spanEndFollowsClock_ = true;
    }
    model_.returnToLive(*source_);
    sync();
}

std::optional<std::pair<QDateTime, QDateTime>> ChartPanel::shownTimes() const {
    if (!spanMode_) return chart::shownTimes(model_);
    return std::pair{QDateTime::fromSecsSinceEpoch(span_.from()),
                     QDateTime::fromSecsSinceEpoch(span_.to())};
}

// The readout stands in the surface's top corner on the side away from the ruler.
void ChartPanel::placeReadout() {
    spanReadout_->adjustSize();
    const bool rulerLeft = span_.ruler().x1 < ChartModel::kWidth / 2;
    const int x = rulerLeft ? view_->width() - spanReadout_->width() - 4 : 4;
    spanReadout_->move(std::max(0, x), 4);
}

void ChartPanel::applyReadoutColours(bool on) {
    if (on == readoutApplied_) return;
    readoutApplied_ = on;
    const QColor yellow = platformColour(chartcolour::kReadout);
    if (on) {
        liveValueColours_.clear();
        for (QLabel* l : liveValueLabels_) {
            liveValueColours_ << (l ? l->palette().color(QPalette::Window) : kActiveLive);
            ui::setLabelBackground(l, yellow);
        }
        ui::setLabelBackground(headerDate_, yellow);
        ui::setLabelBackground(headerTime_, yellow);
    } else {
        // Every live value the readout coloured gets its own background back.
        for (int k = 0; k < liveValueLabels_.size(); ++k)
            ui::setLabelBackground(liveValueLabels_[k], k < liveValueColours_.size()
                                                            ? liveValueColours_[k]
                                                            : kActiveLive);
        ui::setLabelBackground(headerDate_, platformColour(chartcolour::kHeader));
        ui::setLabelBackground(headerTime_, platformColour(chartcolour::kHeader));
    }
}

void ChartPanel::sync() {
    ChartModel::Controls c = model_.controls();
    if (spanMode_) {
        // The tools act on the span; the display tick still runs the live chart behind it.
        c.zoomInEnabled = spanLength_ != SpanLength::Hour;
        c.zoomOutEnabled = spanLength_ != SpanLength::Month;
        c.newerEnabled = true;
        c.olderEnabled = spanExtent_ && spanExtent_->first < span_.from();
        c.sliderEnabled = span_.rulerOn();
        c.sliderValue = rulerSlider_->value();
        c.sliderStep = static_cast<int>(ChartModel::kWidth / SpanView::kColumns);
        c.rulerCaption = span_.rulerOn() ? base::Tr::tr("F4 复原") : base::Tr::tr("F4 标尺");
    }
    spanLiveButton_->setEnabled(spanMode_);
    zoomInAction_->setEnabled(c.zoomInEnabled);
    zoomOutAction_->setEnabled(c.zoomOutEnabled);
    newerAction_->setEnabled(c.newerEnabled);
    olderAction_->setEnabled(c.olderEnabled);
    rulerAction_->setText(c.rulerCaption);
    rulerSlider_->setEnabled(c.sliderEnabled);
    rulerSlider_->setSingleStep(c.sliderStep);
    rulerSlider_->setPageStep(c.sliderStep);
    if (rulerSlider_->value() != c.sliderValue) {
        const QSignalBlocker block(rulerSlider_);
        rulerSlider_->setValue(c.sliderValue);
    }
    if (displayTimer_->isActive() != c.displayRunning) {
        // The display timer runs only after the load has started it.
        if (!c.displayRunning)
            displayTimer_->stop();
        else if (redrawTimer_->isActive())
            displayTimer_->start();
    }

    for (int i = 0; i < 7; ++i)
        valueAxisLabels_[i]->setText(model_.valueLabels()[i]);
    area_->setLabelPlaces(spanMode_ ? SpanView::labelPlaces() : ChartModel::labelPlaces());
    for (int i = 0; i < 9; ++i) {
        timeLabels_[i]->setText(spanMode_ ? span_.timeLabels()[i] : model_.timeLabels()[i]);
        dateLabels_[i]->setText(spanMode_ ? span_.dateLabels()[i] : model_.dateLabels()[i]);
    }
    // The readout over a span: what the ruler reads, or that the archive could not be read or
    // holds nothing in the span.
    const bool readout = spanMode_ && (span_.rulerOn() || !span_.note().isEmpty());
    if (readout) {
        spanReadout_->setText(span_.loaded() && span_.rulerOn() ? span_.readoutAt(span_.ruler().x1)
                                                                : span_.note());
        placeReadout();
    }
    spanReadout_->setVisible(readout);
    headerDate_->setText(model_.headerDate());
    headerTime_->setText(model_.headerTime());

    if (model_.readoutSerial() != readoutSerialShown_) {
        readoutSerialShown_ = model_.readoutSerial();
        // The live panel has value labels for channels 0..7 only.
        for (int k = 0; k < liveValueLabels_.size() && k < 10; ++k)
            if (liveValueLabels_[k]) liveValueLabels_[k]->setText(model_.readoutTexts()[k]);
    }
    applyReadoutColours(model_.readoutShown());

    switch (model_.takeFocusRequest()) {
        case ChartModel::Focus::Slider:
            rulerSlider_->setFocus();
            break;
        case ChartModel::Focus::RulerButton:
            rulerButton_->setFocus();
            break;
        case ChartModel::Focus::None:
            break;
    }

    // Only the surface repaints, coalesced to one paint per event loop pass; a span only when
    // its drawing changed, the chart behind it not at all.
    if (spanMode_ != spanWasShown_) {
        spanWasShown_ = spanMode_;
        spanSerialShown_ = surfaceSerialShown_ = -1;
    }
    if (spanMode_ && span_.serial() != spanSerialShown_) {
        spanSerialShown_ = span_.serial();
        view_->update();
    } else if (!spanMode_ && model_.surfaceSerial() != surfaceSerialShown_) {
        surfaceSerialShown_ = model_.surfaceSerial();
        view_->update();
    }
}

}  // namespace chart
