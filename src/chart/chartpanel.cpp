#include "chart/chartpanel.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "base/text.h"
#include "link/link.h"
#include "chart/chartview.h"
#include "chart/storesource.h"
#include "record/store.h"
#include "ui/accessible.h"

namespace record {

namespace {

const QColor kActiveLive(255, 192, 255);  // the live values' own background

void setBackground(QLabel* l, const QColor& c) {
    if (!l) return;
    l->setAutoFillBackground(true);
    if (l->palette().color(QPalette::Window) == c) return;
    QPalette p = l->palette();
    p.setColor(QPalette::Window, c);
    l->setPalette(p);
}

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

}  // namespace

// The surface frame with its labels around it: value labels on the left, the ruler slider, time
// and date labels below, each placed where its chart position lies at the current size.
class ChartArea : public QWidget {
  public:
    explicit ChartArea(QWidget* parent) : QWidget(parent) {}
    QFrame* pt0 = nullptr;
    QSlider* hc = nullptr;
    std::array<QLabel*, 7>* label5 = nullptr;
    std::array<QLabel*, 7>* label6 = nullptr;
    std::array<QLabel*, 9>* label4 = nullptr;
    std::array<QLabel*, 9>* label7 = nullptr;

    QSize sizeHint() const override { return {800, 520}; }
    QSize minimumSizeHint() const override { return {400, 260}; }

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
        const int sliderH = hc->sizeHint().height();
        const int bottom = sliderH + 2 * lh + 4;
        const int cw = std::max(40, width() - left - right);
        const int ch = std::max(40, height() - top - bottom);
        pt0->setGeometry(left, top, cw, ch);
        hc->setGeometry(left, top + ch + 1, cw, sliderH);
        // Chart x of a label centre, mapped onto the frame.
        auto xAt = [&](double units) { return left + int(units * cw / ChartModel::kWidth); };
        auto yAt = [&](double units) { return top + int(units * ch / ChartModel::kHeight); };
        for (int i = 0; i < 7; ++i) {
            const int y = yAt(7500 - 1250.0 * i) - lh / 2;
            (*label5)[i]->setGeometry(0, y, w5, lh);
            (*label6)[i]->setGeometry(w5, y, w6, lh);
        }
        const int ty = top + ch + 1 + sliderH + 1;
        for (int i = 0; i < 9; ++i) {
            const int x = xAt(1500.0 * i + 150) - wd / 2;
            (*label4)[i]->setGeometry(x, ty, wd, lh);
            (*label7)[i]->setGeometry(x, ty + lh, wd, lh);
        }
    }
};

ChartPanel::ChartPanel(const QString& dbPath, const Clock& clock, RecorderHandshake& handshake,
                       comm::Link& link, QWidget* parent)
    : QWidget(parent), clock_(clock), handshake_(handshake), link_(link) {
    store_ = std::make_unique<SampleStore>(dbPath, QStringLiteral("ssqx-chart"));
    ownSource_ = std::make_unique<StoreChartSource>(*store_);
    source_ = ownSource_.get();
    build();
}

ChartPanel::ChartPanel(ChartSource& source, const Clock& clock, RecorderHandshake& handshake,
                       comm::Link& link, QWidget* parent)
    : QWidget(parent), clock_(clock), handshake_(handshake), link_(link), source_(&source) {
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

    // Header: legend on the left, the date and time of the chart or the clock on the right.
    auto* header = new QHBoxLayout;
    const std::array<QString, 3> legend{QStringLiteral("PV"), QStringLiteral("OP"),
                                        QStringLiteral("SV")};
    const std::array<QColor, 3> legendColour{QColor(255, 0, 0), QColor(0, 0, 255),
                                             QColor(0, 128, 0)};
    for (int i = 0; i < 3; ++i) {
        label8_[i] = makeLabel(legend[i], QStringLiteral("Label8_%1").arg(i), this);
        setTextColour(label8_[i], legendColour[i]);
        header->addWidget(label8_[i]);
    }
    header->addStretch(1);
    label2_9_ = makeLabel(QString(), QStringLiteral("Label2_9"), this);
    label2_10_ = makeLabel(QString(), QStringLiteral("Label2_10"), this);
    label2_9_->setAccessibleName(QStringLiteral("曲线日期 读数"));
    label2_10_->setAccessibleName(QStringLiteral("曲线时间 读数"));
    for (QLabel* l : {label2_9_, label2_10_}) {
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("2001/07/19")) + 10);
        setTextColour(l, Qt::black);
        setBackground(l, platformColour(chartcolour::kHeader));
        header->addWidget(l);
    }
    outer->addLayout(header);

    // The surface with its labels.
    area_ = new ChartArea(this);
    pt0_ = new QFrame(area_);
    pt0_->setObjectName(QStringLiteral("pt0"));
    pt0_->setFrameShape(QFrame::Box);
    pt0_->setLineWidth(1);
    auto* ptLayout = new QVBoxLayout(pt0_);
    ptLayout->setContentsMargins(1, 1, 1, 1);
    view_ = new ChartView(model_, pt0_);
    ptLayout->addWidget(view_);
    hc_ = new QSlider(Qt::Horizontal, area_);
    hc_->setObjectName(QStringLiteral("hc"));
    hc_->setAccessibleName(QStringLiteral("标尺"));
    hc_->setRange(ChartModel::kSliderMin, ChartModel::kSliderMax);
    hc_->setSingleStep(50);
    hc_->setPageStep(50);
    hc_->setValue(0);
    hc_->setEnabled(false);
    hc_->setFocusPolicy(Qt::ClickFocus);
    connect(hc_, &QSlider::valueChanged, this, &ChartPanel::onSlider);
    const std::array<QString, 7> fixed{"-10", "10", "30", "50", "70", "90", "110"};
    for (int i = 0; i < 7; ++i) {
        label5_[i] = makeLabel(QString(), QStringLiteral("Label5_%1").arg(i), area_);
        label5_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label5_[i]->setAccessibleName(QStringLiteral("Y轴刻度%1").arg(i));
        setTextColour(label5_[i], QColor(255, 0, 0));
        label6_[i] = makeLabel(fixed[i], QStringLiteral("Label6_%1").arg(i), area_);
        label6_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label6_[i]->setAccessibleName(QStringLiteral("输出刻度%1").arg(i));
        setTextColour(label6_[i], QColor(0, 0, 255));
    }
    for (int i = 0; i < 9; ++i) {
        label4_[i] =
            makeLabel(QStringLiteral("00:00:00"), QStringLiteral("Label4_%1").arg(i), area_);
        label4_[i]->setAlignment(Qt::AlignCenter);
        label4_[i]->setAccessibleName(QStringLiteral("时间刻度%1").arg(i));
        label7_[i] =
            makeLabel(QStringLiteral("2001/07/19"), QStringLiteral("Label7_%1").arg(i), area_);
        label7_[i]->setAlignment(Qt::AlignCenter);
        label7_[i]->setAccessibleName(QStringLiteral("日期刻度%1").arg(i));
    }
    label19_ = makeLabel(QString(), QStringLiteral("Label19"), area_);
    label20_ = makeLabel(QString(), QStringLiteral("Label20"), area_);
    label19_->hide();
    label20_->hide();
    area_->pt0 = pt0_;
    area_->hc = hc_;
    area_->label5 = &label5_;
    area_->label6 = &label6_;
    area_->label4 = &label4_;
    area_->label7 = &label7_;
    outer->addWidget(area_, 1);

    // Function frame and value-axis box.
    auto* bottom = new QHBoxLayout;
    auto* frame = new QGroupBox(QStringLiteral("功能"), this);
    frame->setObjectName(QStringLiteral("Frame_功能"));
    auto* fl = new QHBoxLayout(frame);
    fl->setContentsMargins(4, 2, 4, 2);
    command4_ = makeButton(QStringLiteral("F1 缩小"), QStringLiteral("Command4"));
    command3_ = makeButton(QStringLiteral("F2 放大"), QStringLiteral("Command3"));
    command2_ = makeButton(QStringLiteral("F3 打印"), QStringLiteral("Command2"));
    command5_ = makeButton(QStringLiteral("F4 标尺"), QStringLiteral("Command5"));
    command6_ = makeButton(QStringLiteral("F5 选择"), QStringLiteral("Command6"));
    command7_ = makeButton(QStringLiteral("F6 左移"), QStringLiteral("Command7"));
    command8_ = makeButton(QStringLiteral("F7 右移"), QStringLiteral("Command8"));
    for (QPushButton* b :
         {command4_, command3_, command2_, command5_, command6_, command7_, command8_})
        fl->addWidget(b);
    command2_->setEnabled(false);
    command6_->setEnabled(false);
    command3_->setEnabled(false);
    command7_->setEnabled(false);
    connect(command2_, &QPushButton::clicked, this, &ChartPanel::Command2_Click);
    connect(command3_, &QPushButton::clicked, this, &ChartPanel::Command3_Click);
    connect(command4_, &QPushButton::clicked, this, &ChartPanel::Command4_Click);
    connect(command5_, &QPushButton::clicked, this, &ChartPanel::Command5_Click);
    connect(command6_, &QPushButton::clicked, this, &ChartPanel::Command6_Click);
    connect(command7_, &QPushButton::clicked, this, &ChartPanel::Command7_Click);
    connect(command8_, &QPushButton::clicked, this, &ChartPanel::Command8_Click);
    bottom->addWidget(frame);

    auto* axis = new QGroupBox(this);
    axis->setObjectName(QStringLiteral("Frame_Y"));
    auto* al = new QHBoxLayout(axis);
    al->setContentsMargins(4, 2, 4, 2);
    auto* lowCaption = new QLabel(QStringLiteral("Y轴最小"), axis);
    ykd1_ = new QLineEdit(QStringLiteral("0"), axis);
    ykd1_->setObjectName(QStringLiteral("YKD1"));
    ykd1_->setAccessibleName(QStringLiteral("Y轴最小"));
    lowCaption->setBuddy(ykd1_);
    auto* highCaption = new QLabel(QStringLiteral("Y轴最大"), axis);
    ykd_ = new QLineEdit(QStringLiteral("60"), axis);
    ykd_->setObjectName(QStringLiteral("YKD"));
    ykd_->setAccessibleName(QStringLiteral("Y轴最大"));
    highCaption->setBuddy(ykd_);
    const int boxW = fontMetrics().horizontalAdvance(QStringLiteral("-12000.0")) + 12;
    ykd1_->setFixedWidth(boxW);
    ykd_->setFixedWidth(boxW);
    command26_ = makeButton(QStringLiteral("修改Y"), QStringLiteral("Command26"));
    connect(command26_, &QPushButton::clicked, this, &ChartPanel::Command26_Click);
    al->addWidget(lowCaption);
    al->addWidget(ykd1_);
    al->addWidget(highCaption);
    al->addWidget(ykd_);
    al->addWidget(command26_);
    bottom->addWidget(axis);
    bottom->addStretch(1);
    outer->addLayout(bottom);

    setTabOrder(command4_, command3_);
    setTabOrder(command3_, command2_);
    setTabOrder(command2_, command5_);
    setTabOrder(command5_, command6_);
    setTabOrder(command6_, command7_);
    setTabOrder(command7_, command8_);
    setTabOrder(command8_, ykd1_);
    setTabOrder(ykd1_, ykd_);
    setTabOrder(ykd_, command26_);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(200);
    connect(timer1_, &QTimer::timeout, this, &ChartPanel::displayTick);
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(1000);
    connect(timer2_, &QTimer::timeout, this, &ChartPanel::redrawTick);
    timer3_ = new QTimer(this);
    timer3_->setObjectName(QStringLiteral("Timer3"));
    timer3_->setInterval(1000);
    connect(timer3_, &QTimer::timeout, this, &ChartPanel::headerTick);
    timer4_ = new QTimer(this);  // runs, and does nothing
    timer4_->setObjectName(QStringLiteral("Timer4"));
    timer4_->setInterval(3000);

    sync();
}

void ChartPanel::setLiveValueLabels(QList<QLabel*> d3w) {
    d3w_ = std::move(d3w);
}

std::array<float, 10> ChartPanel::liveValues() const {
    if (liveSource_) return liveSource_();
    std::array<float, 10> v{};
    const auto& live = link_.image().LiveValues;
    for (int c = 0; c < 10; ++c)
        v[c] = live[c];
    return v;
}

int ChartPanel::paintCount() const {
    return view_->paintCount();
}

void ChartPanel::load() {
    handshake_.RecordingEnabled = true;
    if (store_ && !store_->isOpen()) store_->open();
    model_.Load(*source_);
    label19_->setText(base::intText(static_cast<int64_t>(ChartModel::kWidth)));
    label20_->setText(base::intText(static_cast<int64_t>(ChartModel::kHeight)));
    sync();
    timer1_->start();
    timer2_->start();
    timer3_->start();
    timer4_->start();
}

void ChartPanel::closeDatabase() {
    if (store_) store_->close();
}

void ChartPanel::displayTick() {
    model_.DisplayTick(*source_, handshake_, liveValues(), clock_.now());
    sync();
    if (liveHook_) liveHook_();
    model_.UpdateSlotStepText();
    label19_->setText(model_.slotStepText);
}

void ChartPanel::redrawTick() {
    model_.RedrawChart();
    sync();
}

void ChartPanel::headerTick() {
    model_.HeaderTick(clock_.now());
    sync();
}

void ChartPanel::Command3_Click() {
    model_.ZoomIn();
    sync();
}

void ChartPanel::Command4_Click() {
    model_.ZoomOut();
    sync();
}

void ChartPanel::Command5_Click() {
    model_.ToggleRuler(*source_);
    sync();
}

void ChartPanel::Command7_Click() {
    model_.PageNewer(*source_);
    sync();
}

void ChartPanel::Command8_Click() {
    model_.PageOlder(*source_);
    sync();
}

void ChartPanel::Command26_Click() {
    model_.ApplyValueAxis(ykd1_->text(), ykd_->text());
}

void ChartPanel::onSlider(int v) {
    model_.SetSliderValue(v, *source_);
    sync();
}

void ChartPanel::applyReadoutColours(bool on) {
    if (on == readoutApplied_) return;
    readoutApplied_ = on;
    const QColor yellow = platformColour(chartcolour::kReadout);
    if (on) {
        d3wSaved_.clear();
        for (QLabel* l : d3w_) {
            d3wSaved_ << (l ? l->palette().color(QPalette::Window) : kActiveLive);
            setBackground(l, yellow);
        }
        setBackground(label2_9_, yellow);
        setBackground(label2_10_, yellow);
    } else {
        // Every live value the readout coloured gets its own background back.
        for (int k = 0; k < d3w_.size(); ++k)
            setBackground(d3w_[k], k < d3wSaved_.size() ? d3wSaved_[k] : kActiveLive);
        setBackground(label2_9_, platformColour(chartcolour::kHeader));
        setBackground(label2_10_, platformColour(chartcolour::kHeader));
    }
}

void ChartPanel::sync() {
    const ChartModel::Controls& c = model_.controls;
    command3_->setEnabled(c.command3);
    command4_->setEnabled(c.command4);
    command7_->setEnabled(c.command7);
    command8_->setEnabled(c.command8);
    if (command5_->text() != c.command5Caption) {
        command5_->setText(c.command5Caption);
        command5_->setAccessibleName(c.command5Caption);
    }
    hc_->setEnabled(c.sliderEnabled);
    hc_->setSingleStep(c.sliderStep);
    hc_->setPageStep(c.sliderStep);
    if (hc_->value() != c.sliderValue) {
        const QSignalBlocker block(hc_);
        hc_->setValue(c.sliderValue);
    }
    if (timer1_->isActive() != c.timer1) {
        // The display timer runs only after the load has started it.
        if (!c.timer1)
            timer1_->stop();
        else if (timer2_->isActive())
            timer1_->start();
    }

    for (int i = 0; i < 7; ++i)
        label5_[i]->setText(model_.valueLabels[i]);
    for (int i = 0; i < 9; ++i) {
        label4_[i]->setText(model_.timeLabels[i]);
        label7_[i]->setText(model_.dateLabels[i]);
    }
    label2_9_->setText(model_.headerDate);
    label2_10_->setText(model_.headerTime);

    if (model_.readoutSerial != readoutSerialShown_) {
        readoutSerialShown_ = model_.readoutSerial;
        // The live panel has value labels for channels 0..7 only.
        for (int k = 0; k < d3w_.size() && k < 10; ++k)
            if (d3w_[k]) d3w_[k]->setText(model_.readoutTexts[k]);
    }
    applyReadoutColours(model_.readoutShown);

    switch (model_.focusRequest) {
        case ChartModel::Focus::Slider:
            hc_->setFocus();
            break;
        case ChartModel::Focus::Command5:
            command5_->setFocus();
            break;
        case ChartModel::Focus::None:
            break;
    }
    model_.focusRequest = ChartModel::Focus::None;

    if (model_.surfaceSerial() != surfaceSerialShown_) {
        surfaceSerialShown_ = model_.surfaceSerial();
        view_->update();  // only the surface repaints; coalesced to one paint per event loop pass
    }
}

}  // namespace record
