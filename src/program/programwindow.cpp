#include "program/programwindow.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "auth/guard.h"
#include "auth/reason.h"
#include "base/text.h"
#include "base/tr.h"
#include "instrument/statetexts.h"
#include "program/programchart.h"
#include "ui/accessible.h"
#include "ui/edittracker.h"
#include "ui/numberentry.h"
#include "ui/widgets.h"

namespace program {

namespace {

// Width of a value field: room for a signed five-digit number or a short word.
constexpr int kValueWidth = 64;

QLabel* valueLabel(const QString& name, const QString& accessibleName) {
    return ui::valueLabel(name, accessibleName, kValueWidth);
}

// The caption is given as written in Chinese: writes are logged under it.
QComboBox* listBox(const QString& name, const char* caption, const QStringList& items) {
    auto* c = new ui::NamedList;
    c->setObjectName(name);
    c->setAccessibleName(base::Tr::tr(caption));
    ui::setWriteCaption(c, QString::fromUtf8(caption));
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

ProgramWindow::ProgramWindow(instrument::Feed feed, QWidget* parent)
    : ui::SubWindow(parent), feed_(std::move(feed)) {
    setObjectName(QStringLiteral("Tech"));
    setWindowTitle(base::Tr::tr("工艺曲线设定"));
    connect(edits(), &ui::EditTracker::changed, this, &ProgramWindow::writeChanged);
    build();

    writer()->setGate(auth::writeGate([](int32_t) { return auth::Action::ProgramWrite; }));
    startReadback(600, [this] { readbackTick(); });

    // Draw once before the first tick.
    drawPreview();
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

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(bottomRow());

    for (const ListWriter& w : settingLists_) {
        edits()->track(w.list);
        auth::guard(w.list, auth::Action::ProgramWrite);
    }
    edits()->track(cycleCountEntry_);
    auth::guard(cycleCountEntry_, auth::Action::ProgramWrite);
    auth::guard(downloadButton_, auth::Action::ProgramWrite);
    for (QLineEdit* b : segmentEntries_) {
        if (!b) continue;
        edits()->track(b);
        auth::guard(b, auth::Action::ProgramWrite);
        b->installEventFilter(this);  // selects the whole entry as the focus comes in
        connect(b, &QLineEdit::textEdited, this, &ProgramWindow::drawPreview);
    }
    arrangeTabOrder();
    resize(1180, 660);
}

QWidget* ProgramWindow::buildStatusFrame() {
    auto* frame = new QGroupBox(base::Tr::tr("曲线状态"));
    frame->setObjectName(QStringLiteral("CurveStatusFrame"));
    auto* grid = tightGrid(frame);
    const QString captions[9] = {
        base::Tr::tr("曲线状态"), QStringLiteral("PV1"),  QStringLiteral("SV1"),
        QStringLiteral("PV2"),    QStringLiteral("SV2"),  base::Tr::tr("当前段号"),
        base::Tr::tr("段剩余"),   base::Tr::tr("总剩余"), base::Tr::tr("循环次数")};
    for (int k = 0; k < 9; ++k) {
        const QString name = k == 0
                                 ? captions[0] + base::Tr::tr(" 读数")
                                 : base::Tr::tr("曲线状态 ") + captions[k] + base::Tr::tr(" 读数");
        statusValues_[k] = valueLabel(QStringLiteral("Pro_S_%1").arg(k), name);
        grid->addWidget(ui::captionLabel(captions[k]), k / 3, (k % 3) * 2);
        grid->addWidget(statusValues_[k], k / 3, (k % 3) * 2 + 1);
    }
    downloadButton_ = ui::commandButton(base::Tr::tr("下载曲线"), QStringLiteral("Command1"),
                                        base::Tr::tr("下载曲线"));
    grid->addWidget(downloadButton_, 3, 0, 1, 6, Qt::AlignRight);
    return frame;
}

QWidget* ProgramWindow::buildSettingsFrame() {
    auto* frame = new QGroupBox(base::Tr::tr("功能设定"));
    frame->setObjectName(QStringLiteral("FunctionFrame"));
    auto* grid = tightGrid(frame);

    settingLists_[0] = {listBox(QStringLiteral("Combo2"),
                                QT_TRANSLATE_NOOP("velmars", "曲线时间单位"), timeUnitEntries()),
                        timeUnitEntries(), kTimeUnitRegister, 0};
    settingLists_[1] = {listBox(QStringLiteral("Combo4"), QT_TRANSLATE_NOOP("velmars", "程序段数"),
                                segmentCountEntries()),
                        segmentCountEntries(), kSegmentCountRegister, 1};
    settingLists_[2] = {listBox(QStringLiteral("Combo1"), QT_TRANSLATE_NOOP("velmars", "掉电处理"),
                                powerFailEntries()),
                        powerFailEntries(), kPowerFailRegister, 3};
    settingLists_[3] = {listBox(QStringLiteral("Combo8"),
                                QT_TRANSLATE_NOOP("velmars", "起始设定值"), startValueEntries()),
                        startValueEntries(), kStartValueRegister, 4};
    settingLists_[4] = {listBox(QStringLiteral("Combo3"),
                                QT_TRANSLATE_NOOP("velmars", "结束输出功能"), endOutputEntries()),
                        endOutputEntries(), kEndOutputRegister, 5};
    cycleCountEntry_ = new QLineEdit;
    cycleCountEntry_->setObjectName(QStringLiteral("TextA_2"));
    cycleCountEntry_->setAccessibleName(base::Tr::tr("程序循环次数"));
    ui::setWriteCaption(cycleCountEntry_, QStringLiteral("程序循环次数"));
    cycleCountEntry_->setMaximumWidth(120);

    struct Cell {
        QString caption;
        QWidget* edit;
        int element;
    };
    // Three rows of two settings: caption, edit control, readback field.
    const Cell cells[3][2] = {
        {{base::Tr::tr("曲线时间单位"), settingLists_[0].list, 0},
         {base::Tr::tr("起始设定值"), settingLists_[3].list, 4}},
        {{base::Tr::tr("程序段数"), settingLists_[1].list, 1},
         {base::Tr::tr("结束输出功能"), settingLists_[4].list, 5}},
        {{base::Tr::tr("掉电处理"), settingLists_[2].list, 3},
         {base::Tr::tr("程序循环次数"), cycleCountEntry_, 2}},
    };
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 2; ++c) {
            const Cell& cell = cells[r][c];
            readbackLabels_[cell.element] =
                valueLabel(QStringLiteral("Label3_%1").arg(cell.element),
                           cell.caption + base::Tr::tr(" 读数"));
            grid->addWidget(ui::captionLabel(cell.caption), r, c * 3);
            grid->addWidget(cell.edit, r, c * 3 + 1);
            grid->addWidget(readbackLabels_[cell.element], r, c * 3 + 2);
        }
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    return frame;
}

QWidget* ProgramWindow::buildSegmentFrame(int k) {
    const QString seg = QStringLiteral("SEG%1").arg(k);
    auto* frame = new QGroupBox(seg + base::Tr::tr(" 设定"));
    frame->setObjectName(QStringLiteral("SegmentFrame_%1").arg(k));
    auto* grid = tightGrid(frame);
    static const char* const kCaptions[3] = {QT_TRANSLATE_NOOP("velmars", "设定值SV1"),
                                             QT_TRANSLATE_NOOP("velmars", "设定值SV2"),
                                             QT_TRANSLATE_NOOP("velmars", "设定值TIME")};
    const QString captions[3] = {base::Tr::tr(kCaptions[0]), base::Tr::tr(kCaptions[1]),
                                 base::Tr::tr(kCaptions[2])};
    for (int f = 0; f < 3; ++f) {
        const int i = segmentEntryIndex(k, f);
        const int element = i + 8;  // TxtB(i) writes 4X 8201+i, readback element 8+i
        auto* box = new QLineEdit;
        box->setObjectName(QStringLiteral("TxtB_%1").arg(i));
        box->setAccessibleName(seg + QLatin1Char(' ') + captions[f]);
        ui::setWriteCaption(box, seg + QLatin1Char(' ') + QString::fromUtf8(kCaptions[f]));
        // Up to four digits, a minus for the set values; a point cannot be typed.
        box->setValidator(new ui::DigitsValidator(kSegmentDigits, !isTimeEntry(i), box));
        box->setFixedWidth(kValueWidth);
        segmentEntries_[i] = box;
        readbackLabels_[element] =
            valueLabel(QStringLiteral("Label3_%1").arg(element),
                       seg + QLatin1Char(' ') + captions[f] + base::Tr::tr(" 读数"));
        grid->addWidget(ui::captionLabel(captions[f]), f, 0);
        grid->addWidget(box, f, 1);
        grid->addWidget(readbackLabels_[element], f, 2);
    }
    return frame;
}

void ProgramWindow::arrangeTabOrder() {
    // Rows top to bottom, left to right: the status frame's button, the three rows of settings,
    // the segments in order, the return button.
    QList<QWidget*> order{downloadButton_,       settingLists_[0].list, settingLists_[3].list,
                          settingLists_[1].list, settingLists_[4].list, settingLists_[2].list,
                          cycleCountEntry_};
    for (QLineEdit* b : segmentEntries_)
        if (b) order << b;
    order << returnButton();
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// ---------------------------------------------------------------------------------------------
// Readback tick

void ProgramWindow::readbackTick() {
    showProgramStatus();
    // The reads are answered later; a tick that finds the last tick's reads still in flight
    // leaves them be rather than pile up more.
    if (readBlock_ < 0) queueRead(0);
    showReadback();
    drawPreview();
}

void ProgramWindow::showProgramStatus() {
    const std::array<QString, 9> texts =
        instrument::programStatusTexts(feed_.image().InputRegsHigh);
    // The state is kept in Chinese by the instrument layer (the event log reads it); shown here
    // in the chosen language.
    for (int k = 0; k < 9; ++k)
        statusValues_[k]->setText(k == 0 ? base::shown(texts[k]) : texts[k]);
}

void ProgramWindow::queueRead(int block) {
    if (block == 0) cycleRead_ = true;
    readBlock_ = block;
    readId_ = feed_.readHolding(kBlockStart + block * kBlockSize, kBlockSize);
    // A read not handed over (the port is closed) ends the cycle; the next tick tries again.
    if (readId_ == 0) readBlock_ = -1;
}

void ProgramWindow::holdingRead(quint64 id, int32_t first, const QVector<int32_t>& values,
                                bool read) {
    if (readBlock_ < 0 || id != readId_) return;
    const int block = readBlock_;
    // A failed read leaves the elements as they were.
    if (read && first == kBlockStart + block * kBlockSize && values.size() >= kBlockSize)
        for (int j = 0; j < kBlockSize; ++j)
            readback_[block * kBlockSize + j] = values[j];
    else
        cycleRead_ = false;
    // One block at a time, so that a write the operator makes can fall between two blocks.
    if (block + 1 < kBlockCount) {
        queueRead(block + 1);
        return;
    }
    readBlock_ = -1;
    if (cycleRead_) editorsFromInstrument_ = true;
    showReadback();
    showInEditors();
    drawPreview();
}

void ProgramWindow::showReadback() {
    for (int i = 0; i <= 40 && i < kReadbackSize; ++i)
        if (readbackLabels_[i]) readbackLabels_[i]->setText(readbackText(i, readback_[i]));
    if (auto caption = timeUnitCaption(readback_[0])) chart_->timeUnitLabel()->setText(*caption);
}

void ProgramWindow::showInEditors() {
    // Showing the instrument's value is not an edit: it never writes. A control the operator
    // edited, or the one being worked in, keeps what it holds.
    if (!editorsFromInstrument_) return;
    const auto untouched = [this](QWidget* w) {
        return !w->hasFocus() && !edits()->heldByOperator(w);
    };
    const auto showText = [&](QLineEdit* e, const QString& text) {
        if (untouched(e) && e->text() != text) edits()->showText(e, text);
    };
    for (const ListWriter& w : settingLists_) {
        const int32_t v = readback_[w.element];
        if (untouched(w.list) && v >= 0 && v < w.entries.size() && w.list->currentIndex() != v)
            edits()->showEntry(w.list, v);
    }
    showText(cycleCountEntry_, base::intText(readback_[2]));
    for (int i = 0; i < kSegmentEntryCount; ++i)
        if (segmentEntries_[i]) showText(segmentEntries_[i], base::intText(readback_[8 + i]));
}

void ProgramWindow::drawPreview() {
    QStringList texts;
    for (QLineEdit* b : segmentEntries_)
        texts << (b ? b->displayText() : QString());
    takeSegmentEntries(curve_, texts);
    const auto& live = feed_.image().LiveValues;
    takeStartPoints(curve_, readback_[4], live[0], live[1], live[2], live[3]);
    preview_ = previewGeometry(curve_);
    chart_->showPreview(preview_);
}

// ---------------------------------------------------------------------------------------------
// Writers

bool ProgramWindow::eventFilter(QObject* watched, QEvent* e) {
    if (!leaving() && e->type() == QEvent::FocusIn) {
        if (auto* b = qobject_cast<QLineEdit*>(watched)) {
            // Typing replaces the whole field. Deferred, so that the click that gave the focus
            // does not undo the selection.
            QTimer::singleShot(0, b, [b] {
                if (b->hasFocus()) b->selectAll();
            });
        }
    }
    return QWidget::eventFilter(watched, e);
}

void ProgramWindow::writeChanged(QWidget* control) {
    if (leaving()) return;
    for (const ListWriter& w : settingLists_)
        if (w.list == control)
            writer()->sendListEntry(w.reg, listCode(w.entries, w.list->currentText()),
                                    ui::writeCaption(w.list), w.list->currentText());
    if (control == cycleCountEntry_)
        writeEntry(cycleCountEntry_, kCycleCountRegister, entryValue(cycleCountEntry_->text()));
    for (int i = 0; i < kSegmentEntryCount; ++i)
        if (segmentEntries_[i] && segmentEntries_[i] == control)
            writeEntry(segmentEntries_[i], segmentEntryRegister(i),
                       segmentValue(i, segmentEntries_[i]->text()));
    drawPreview();
}

void ProgramWindow::writeEntry(QLineEdit* entry, int32_t reg, const base::RegisterReading& value) {
    writer()->sendReading(reg, value, ui::writeCaption(entry), entry->text());
}

}  // namespace program
