#include "program/programwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "base/text.h"
#include "monitor/statetext.h"
#include "program/programchart.h"
#include "ui/accessible.h"

namespace program {

namespace {

// Width of a value field: room for a signed five-digit number or a short word.
constexpr int kValueWidth = 64;

QLabel* captionLabel(const QString& text) {
    auto* l = new QLabel(text);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

QLabel* valueLabel(const QString& name, const QString& accessibleName) {
    auto* l = new ui::ValueLabel;
    l->setObjectName(name);
    l->setAccessibleName(accessibleName);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(kValueWidth);
    return l;
}

QComboBox* listBox(const QString& name, const QString& accessibleName, const QStringList& items) {
    auto* c = new ui::NamedList;
    c->setObjectName(name);
    c->setAccessibleName(accessibleName);
    c->setEditable(
        true);  // the lists accept typing; typed text that matches no entry sends nothing
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    c->setCurrentIndex(0);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return c;
}

QGridLayout* tightGrid(QWidget* parent) {
    auto* grid = new QGridLayout(parent);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    return grid;
}

}  // namespace

ProgramWindow::ProgramWindow(comm::Link& link, QWidget* parent) : QWidget(parent), link_(link) {
    setObjectName(QStringLiteral("Tech"));
    setWindowTitle(QStringLiteral("工艺曲线设定"));
    build();

    connect(&link_, &comm::Link::readFinished, this, &ProgramWindow::onReadFinished);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(600);
    connect(timer1_, &QTimer::timeout, this, &ProgramWindow::Timer1_Timer);
    timer1_->start();

    // Draw once before the first tick.
    drawPreview();
}

ProgramWindow::~ProgramWindow() {
    // Focus changes while the children go away are not the operator leaving a field.
    leaving_ = true;
}

void ProgramWindow::build() {
    auto* top = new QHBoxLayout;
    top->addWidget(buildStatusFrame());
    top->addWidget(buildSettingsFrame(), 1);

    // The segment frames in reading order: SEG1 SEG2 / SEG3 SEG4 / ...
    auto* segments = new QGridLayout;
    segments->setSpacing(4);
    for (int k = 1; k <= kSegments; ++k)
        segments->addWidget(buildSegmentFrame(k), (k - 1) / 2, (k - 1) % 2);
    segments->setRowStretch(kSegments / 2, 1);

    chart_ = new ChartFrame;
    auto* middle = new QHBoxLayout;
    middle->addLayout(segments);
    middle->addWidget(chart_, 1);

    command11_ = new QPushButton(QStringLiteral(" Esc 返回"));
    command11_->setObjectName(QStringLiteral("Command11"));
    command11_->setAccessibleName(QStringLiteral("Esc 返回"));
    command11_->setAutoDefault(false);
    connect(command11_, &QPushButton::clicked, this, &ProgramWindow::Command11_Click);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &ProgramWindow::Command11_Click);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(command11_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    for (const ListWriter& w : lists_)
        w.combo->installEventFilter(this);
    textA2_->installEventFilter(this);
    for (QLineEdit* b : txtB_)
        if (b) b->installEventFilter(this);
    arrangeTabOrder();
    resize(1180, 660);
}

QWidget* ProgramWindow::buildStatusFrame() {
    auto* frame = new QGroupBox(QStringLiteral("曲线状态"));
    frame->setObjectName(QStringLiteral("CurveStatusFrame"));
    auto* grid = tightGrid(frame);
    const QString captions[9] = {
        QStringLiteral("曲线状态"), QStringLiteral("PV1"),    QStringLiteral("SV1"),
        QStringLiteral("PV2"),      QStringLiteral("SV2"),    QStringLiteral("当前段号"),
        QStringLiteral("段剩余"),   QStringLiteral("总剩余"), QStringLiteral("循环次数")};
    for (int k = 0; k < 9; ++k) {
        const QString name =
            k == 0 ? captions[0] + QStringLiteral(" 读数")
                   : QStringLiteral("曲线状态 ") + captions[k] + QStringLiteral(" 读数");
        proS_[k] = valueLabel(QStringLiteral("Pro_S_%1").arg(k), name);
        grid->addWidget(captionLabel(captions[k]), k / 3, (k % 3) * 2);
        grid->addWidget(proS_[k], k / 3, (k % 3) * 2 + 1);
    }
    command1_ = new QPushButton(QStringLiteral("下载曲线"));
    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setAccessibleName(QStringLiteral("下载曲线"));
    command1_->setAutoDefault(false);
    connect(command1_, &QPushButton::clicked, this, &ProgramWindow::Command1_Click);
    grid->addWidget(command1_, 3, 0, 1, 6, Qt::AlignRight);
    return frame;
}

QWidget* ProgramWindow::buildSettingsFrame() {
    auto* frame = new QGroupBox(QStringLiteral("功能设定"));
    frame->setObjectName(QStringLiteral("FunctionFrame"));
    auto* grid = tightGrid(frame);

    lists_[0] = {listBox(QStringLiteral("Combo2"), QStringLiteral("曲线时间单位"), combo2Entries()),
                 combo2Entries(), kTimeUnitRegister};
    lists_[1] = {listBox(QStringLiteral("Combo4"), QStringLiteral("程序段数"), combo4Entries()),
                 combo4Entries(), kSegmentCountRegister};
    lists_[2] = {listBox(QStringLiteral("Combo1"), QStringLiteral("掉电处理"), combo1Entries()),
                 combo1Entries(), kPowerFailRegister};
    lists_[3] = {listBox(QStringLiteral("Combo8"), QStringLiteral("起始设定值"), combo8Entries()),
                 combo8Entries(), kStartValueRegister};
    lists_[4] = {listBox(QStringLiteral("Combo3"), QStringLiteral("结束输出功能"), combo3Entries()),
                 combo3Entries(), kEndOutputRegister};
    textA2_ = new QLineEdit;
    textA2_->setObjectName(QStringLiteral("TextA_2"));
    textA2_->setAccessibleName(QStringLiteral("程序循环次数"));
    textA2_->setMaximumWidth(120);

    struct Cell {
        QString caption;
        QWidget* edit;
        int element;
    };
    // Three rows of two settings: caption, edit control, readback field.
    const Cell cells[3][2] = {
        {{QStringLiteral("曲线时间单位"), lists_[0].combo, 0},
         {QStringLiteral("起始设定值"), lists_[3].combo, 4}},
        {{QStringLiteral("程序段数"), lists_[1].combo, 1},
         {QStringLiteral("结束输出功能"), lists_[4].combo, 5}},
        {{QStringLiteral("掉电处理"), lists_[2].combo, 3},
         {QStringLiteral("程序循环次数"), textA2_, 2}},
    };
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 2; ++c) {
            const Cell& cell = cells[r][c];
            label3_[cell.element] = valueLabel(QStringLiteral("Label3_%1").arg(cell.element),
                                               cell.caption + QStringLiteral(" 读数"));
            grid->addWidget(captionLabel(cell.caption), r, c * 3);
            grid->addWidget(cell.edit, r, c * 3 + 1);
            grid->addWidget(label3_[cell.element], r, c * 3 + 2);
        }
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    return frame;
}

QWidget* ProgramWindow::buildSegmentFrame(int k) {
    const QString seg = QStringLiteral("SEG%1").arg(k);
    auto* frame = new QGroupBox(seg + QStringLiteral(" 设定"));
    frame->setObjectName(QStringLiteral("SegmentFrame_%1").arg(k));
    auto* grid = tightGrid(frame);
    const QString captions[3] = {QStringLiteral("设定值SV1"), QStringLiteral("设定值SV2"),
                                 QStringLiteral("设定值TIME")};
    for (int f = 0; f < 3; ++f) {
        const int i = txtBIndex(k, f);
        const int element = i + 8;  // TxtB(i) writes 4X 8201+i, readback element 8+i
        auto* box = new QLineEdit;
        box->setObjectName(QStringLiteral("TxtB_%1").arg(i));
        box->setAccessibleName(seg + QLatin1Char(' ') + captions[f]);
        // Four digit positions, prompt "_": 0..9999, no sign, no decimals.
        box->setInputMask(QStringLiteral("0000;_"));
        box->setFixedWidth(kValueWidth);
        txtB_[i] = box;
        label3_[element] =
            valueLabel(QStringLiteral("Label3_%1").arg(element),
                       seg + QLatin1Char(' ') + captions[f] + QStringLiteral(" 读数"));
        grid->addWidget(captionLabel(captions[f]), f, 0);
        grid->addWidget(box, f, 1);
        grid->addWidget(label3_[element], f, 2);
    }
    return frame;
}

void ProgramWindow::arrangeTabOrder() {
    // Rows top to bottom, left to right: the status frame's button, the three rows of settings,
    // the segments in order, the return button.
    QList<QWidget*> order{command1_,       lists_[0].combo, lists_[3].combo, lists_[1].combo,
                          lists_[4].combo, lists_[2].combo, textA2_};
    for (QLineEdit* b : txtB_)
        if (b) order << b;
    order << command11_;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// ---------------------------------------------------------------------------------------------
// Readback tick

void ProgramWindow::Timer1_Timer() {
    showProgramStatus();
    // The reads run on the link thread; a tick that finds the last tick's reads still in flight
    // leaves them be rather than pile up more.
    if (readBlock_ < 0) queueRead(0);
    showReadback();
    drawPreview();
}

void ProgramWindow::showProgramStatus() {
    const auto& high = link_.image().InputRegsHigh;
    proS_[0]->setText(monitor::programStateText(high[0]));
    for (int k = 1; k < 9; ++k)
        proS_[k]->setText(base::intText(high[k]));
}

void ProgramWindow::queueRead(int block) {
    readBlock_ = block;
    readId_ = link_.readHolding(kBlockStart + block * kBlockSize, kBlockSize);
}

void ProgramWindow::onReadFinished(quint64 id, int32_t start, const QVector<int32_t>& values,
                                   int32_t status) {
    if (readBlock_ < 0 || id != readId_) return;
    const int block = readBlock_;
    // A failed read leaves the elements as they were.
    if (status == 0 && start == kBlockStart + block * kBlockSize && values.size() >= kBlockSize)
        for (int j = 0; j < kBlockSize; ++j)
            readback_[block * kBlockSize + j] = values[j];
    // One block at a time, so that a write the operator makes can fall between two blocks.
    if (block + 1 < kBlockCount) {
        queueRead(block + 1);
        return;
    }
    readBlock_ = -1;
    showReadback();
}

void ProgramWindow::showReadback() {
    for (int i = 0; i <= 40 && i < kReadbackSize; ++i)
        if (label3_[i]) label3_[i]->setText(readbackText(i, readback_[i]));
    if (auto caption = timeUnitCaption(readback_[0])) chart_->label7_1()->setText(*caption);
}

void ProgramWindow::drawPreview() {
    QStringList texts;
    for (QLineEdit* b : txtB_)
        texts << (b ? b->displayText() : QString());
    takeSegmentEntries(curve_, texts);
    const auto& live = link_.image().LiveValues;
    takeStartPoints(curve_, readback_[4], live[0], live[1], live[2], live[3]);
    preview_ = previewGeometry(curve_);
    chart_->showPreview(preview_);
}

// ---------------------------------------------------------------------------------------------
// Writers

bool ProgramWindow::eventFilter(QObject* watched, QEvent* e) {
    if (leaving_ || (e->type() != QEvent::FocusOut && e->type() != QEvent::FocusIn))
        return QWidget::eventFilter(watched, e);
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();

    if (e->type() == QEvent::FocusIn) {
        for (QLineEdit* b : txtB_) {
            if (b != watched) continue;
            // Typing replaces the whole field. Deferred, so that the click that gave the focus
            // does not undo the selection.
            QTimer::singleShot(0, b, [b] {
                if (b->hasFocus()) b->setSelection(0, 4);
            });
        }
        return QWidget::eventFilter(watched, e);
    }

    // Opening a list's drop-down or switching to another window does not leave the field.
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return QWidget::eventFilter(watched, e);
    for (const ListWriter& w : lists_)
        if (w.combo == watched) listLostFocus(w);
    if (watched == textA2_) entryLostFocus(textARegister(2), textA2_->text());
    for (int i = 0; i < kTxtBCount; ++i)
        if (txtB_[i] && txtB_[i] == watched)
            entryLostFocus(txtBRegister(i), txtB_[i]->displayText());
    return QWidget::eventFilter(watched, e);
}

void ProgramWindow::listLostFocus(const ListWriter& w) {
    const std::optional<int32_t> code = listCode(w.entries, w.combo->currentText());
    if (!code) return;
    link_.commParams()(comm::kListCodeSlot) = *code;
    link_.writeHolding(w.reg, link_.commParams()(comm::kListCodeSlot));
}

void ProgramWindow::entryLostFocus(int32_t reg, const QString& text) {
    if (const std::optional<int32_t> v = entryValue(text)) link_.writeHolding(reg, *v);
}

// ---------------------------------------------------------------------------------------------
// Leaving

void ProgramWindow::Command11_Click() {
    if (leaving_) return;
    leaving_ = true;
    blockClose_ = false;
    timer1_->stop();
    hide();
    emit returned();
}

void ProgramWindow::keyPressEvent(QKeyEvent* e) {
    // Esc reaches here when the window's shortcut could not take it (the window not active).
    if (e->key() == Qt::Key_Escape) {
        Command11_Click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void ProgramWindow::closeEvent(QCloseEvent* e) {
    // The close box is refused: the window is left through " Esc 返回" only.
    if (blockClose_) {
        e->ignore();
        return;
    }
    e->accept();
}

}  // namespace program
