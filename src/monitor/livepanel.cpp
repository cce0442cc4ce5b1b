#include "monitor/livepanel.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <algorithm>

#include "auth/guard.h"
#include "auth/reason.h"
#include "base/text.h"
#include "base/tr.h"
#include "monitor/commands.h"
#include "monitor/livetexts.h"
#include "ui/accessible.h"
#include "ui/widgets.h"
#include "ui/writestatus.h"

namespace monitor {

namespace {

// Room for the widest number a value label normally shows.
constexpr const char* kValueSample = "-8888.8";

QGroupBox* makeFrame(const QString& caption, const QString& name) {
    auto* box = new QGroupBox(caption);
    box->setObjectName(name);
    return box;
}

void tightenGrid(QGridLayout* grid) {
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
}

// A value label: sunken, centred, its background filled with the given colour.
QLabel* valueLabel(const QString& name, const QString& accessibleName, const QColor& bg,
                   const QString& design = QString()) {
    auto* l = new ui::ValueLabel(design);
    l->setObjectName(name);
    l->setAccessibleName(accessibleName);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QLatin1String(kValueSample)) + 8);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::black);  // the backgrounds are light on every theme
    l->setPalette(p);
    ui::setLabelBackground(l, bg);
    return l;
}

QLineEdit* entryBox(const QString& name, const QString& accessibleName) {
    auto* e = new QLineEdit(QStringLiteral("0"));
    e->setObjectName(name);
    e->setAccessibleName(accessibleName);
    const int width = e->fontMetrics().horizontalAdvance(QLatin1String(kValueSample)) + 16;
    e->setMinimumWidth(width);
    e->setMaximumWidth(width);
    return e;
}

QString indexed(const char* name, int k) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(k);
}

}  // namespace

LivePanel::LivePanel(comm::Link& link, QObject* parent)
    : QObject(parent), image_([&link]() -> const comm::InstrumentImage& { return link.image(); }) {
    build();
    writer_->sendThrough(link);
}

LivePanel::LivePanel(ImageSource image, QObject* parent)
    : QObject(parent), image_(std::move(image)) {
    build();
    writer_->sendWith([](int32_t, int32_t, const QString&, const base::Audit&) { return 0; });
}

void LivePanel::build() {
    buildPvStatus();
    buildCurveStatus();
    buildAlarmState();
    buildParams(0);
    buildParams(1);
    buildAlarmSetting();
    writer_ = new ui::WriteSender(this);
    writer_->setGate(auth::writeGate([](int32_t reg) {
        if (reg == kProgramCommandRegister) return auth::Action::ProgramRunCommand;
        return reg >= alarmSettingRegister(0) ? auth::Action::AlarmSettings
                                              : auth::Action::SetValue;
    }));
    connect(writer_, &ui::WriteSender::message, this, &LivePanel::message);
}

LivePanel::~LivePanel() {
    // Frames a window has taken belong to it; the others are ours.
    auto dropIfOrphan = [](QGroupBox* f) {
        if (f && !f->parent()) delete f;
    };
    dropIfOrphan(pvFrame_);
    dropIfOrphan(curveFrame_);
    dropIfOrphan(alarmFrame_);
    dropIfOrphan(paramFrames_[0]);
    dropIfOrphan(paramFrames_[1]);
    dropIfOrphan(alarmSettingFrame_);
}

QWidget* LivePanel::pvStatusFrame() {
    return pvFrame_;
}
QWidget* LivePanel::curveStatusFrame() {
    return curveFrame_;
}
QWidget* LivePanel::alarmStateFrame() {
    return alarmFrame_;
}
QWidget* LivePanel::paramFrame(int column) {
    if (column < 0 || column >= kParamColumnCount) return nullptr;
    return paramFrames_[column];
}
QWidget* LivePanel::alarmSettingFrame() {
    return alarmSettingFrame_;
}

QLabel* LivePanel::liveValueLabel(int k) {
    if (k < 0 || k >= 8 || !framesAlive()) return nullptr;
    return liveValueLabels_[k];
}

void LivePanel::buildPvStatus() {
    pvFrame_ = makeFrame(base::Tr::tr("PV状态"), QStringLiteral("PvStatusFrame"));
    auto* grid = new QGridLayout(pvFrame_);
    tightenGrid(grid);
    const QColor active = activeColour();
    // Row k: loop k+1. Widgets are made in reading order, which is also the tab order.
    const QString rowCaption[2] = {base::Tr::tr("测量值PV1"), base::Tr::tr("设定值PV2")};
    for (int k = 0; k < 2; ++k) {
        const QString sv = QStringLiteral("SV%1").arg(k + 1);
        const QString setCaption = base::Tr::tr("设定") + sv;
        const QString retrans = base::Tr::tr("变送%1百分比").arg(k + 1);
        liveValueLabels_[k] =
            valueLabel(indexed("D_3W", k), rowCaption[k] + base::Tr::tr(" 读数"), active);
        liveValueLabels_[k + 2] = valueLabel(
            indexed("D_3W", k + 2), base::Tr::tr("PV状态 ") + sv + base::Tr::tr(" 读数"), active);
        setValueEdits_[k] = entryBox(indexed("Text1", k), setCaption + base::Tr::tr(" 数值"));
        setValueButtons_[k] = ui::commandButton(setCaption, indexed("Command12", k), setCaption);
        outputLabels_[k] =
            valueLabel(indexed("D_4W", k), setCaption + base::Tr::tr(" 读数"), active);
        liveValueLabels_[k + 4] =
            valueLabel(indexed("D_3W", k + 4), retrans + base::Tr::tr(" 读数"), active);
        grid->addWidget(ui::captionLabel(rowCaption[k]), k, 0);
        grid->addWidget(liveValueLabels_[k], k, 1);
        grid->addWidget(liveValueLabels_[k + 2], k, 2);
        grid->addWidget(setValueEdits_[k], k, 3);
        grid->addWidget(setValueButtons_[k], k, 4);
        grid->addWidget(outputLabels_[k], k, 5);
        grid->addWidget(ui::captionLabel(retrans), k, 6);
        grid->addWidget(liveValueLabels_[k + 4], k, 7);
        connect(setValueButtons_[k], &QPushButton::clicked, this, [this, k] { writeSetValue(k); });
        auth::guard(setValueEdits_[k], auth::Action::SetValue);
        auth::guard(setValueButtons_[k], auth::Action::SetValue);
    }
}

void LivePanel::buildCurveStatus() {
    curveFrame_ = makeFrame(base::Tr::tr("曲线状态"), QStringLiteral("CurveStatusFrame"));
    auto* grid = new QGridLayout(curveFrame_);
    tightenGrid(grid);
    const QString captions[9] = {
        base::Tr::tr("曲线状态"), QStringLiteral("PV1"),  QStringLiteral("SV1"),
        QStringLiteral("PV2"),    QStringLiteral("SV2"),  base::Tr::tr("当前段号"),
        base::Tr::tr("段剩余"),   base::Tr::tr("总剩余"), base::Tr::tr("循环次数")};
    for (int k = 0; k < 9; ++k) {
        const QString design = (k == 0 || k >= 5) ? base::Tr::tr("停止") : QString();
        const QString name = k == 0
                                 ? captions[0] + base::Tr::tr(" 读数")
                                 : base::Tr::tr("曲线状态 ") + captions[k] + base::Tr::tr(" 读数");
        programStatusLabels_[k] = valueLabel(indexed("Pro_S", k), name, inactiveColour(), design);
        grid->addWidget(ui::captionLabel(captions[k]), k / 3, (k % 3) * 2);
        grid->addWidget(programStatusLabels_[k], k / 3, (k % 3) * 2 + 1);
    }
    programCommandList_ = new ui::NamedList;
    programCommandList_->setObjectName(QStringLiteral("Combo3"));
    programCommandList_->setAccessibleName(base::Tr::tr("设定曲线 命令"));
    programCommandList_->setEditable(true);
    programCommandList_->setInsertPolicy(QComboBox::NoInsert);
    programCommandList_->addItems(programCommandEntries());
    programCommandList_->setCurrentIndex(0);
    programCommandButton_ = ui::commandButton(base::Tr::tr("设定曲线"), QStringLiteral("Command14"),
                                              base::Tr::tr("设定曲线"));
    connect(programCommandButton_, &QPushButton::clicked, this, [this] { writeProgramCommand(); });
    auth::guard(programCommandList_, auth::Action::ProgramRunCommand);
    auth::guard(programCommandButton_, auth::Action::ProgramRunCommand);
    grid->addWidget(programCommandList_, 3, 0, 1, 4);
    grid->addWidget(programCommandButton_, 3, 4, 1, 2);
}

void LivePanel::buildAlarmState() {
    alarmFrame_ = makeFrame(base::Tr::tr("当前报警"), QStringLiteral("AlarmStateFrame"));
    auto* row = new QHBoxLayout(alarmFrame_);
    row->setContentsMargins(4, 2, 4, 4);
    row->setSpacing(4);
    const QString names[6] = {base::Tr::tr("控制1"),   base::Tr::tr("控制2"),
                              QStringLiteral("ALM1"),  QStringLiteral("ALM2"),
                              base::Tr::tr("传感器1"), base::Tr::tr("传感器2")};
    for (int k = 0; k < 6; ++k) {
        stateLabels_[k] = valueLabel(indexed("D_1W", k),
                                     base::Tr::tr("当前报警 ") + names[k] + base::Tr::tr(" 读数"),
                                     inactiveColour());
        // Wide enough for the longer state text, so the row does not jump when a state changes.
        const QFontMetrics fm = stateLabels_[k]->fontMetrics();
        stateLabels_[k]->setMinimumWidth(
            std::max(fm.horizontalAdvance(base::shown(instrument::stateText(k, 0).text)),
                     fm.horizontalAdvance(base::shown(instrument::stateText(k, 1).text))) +
            12);
        row->addWidget(stateLabels_[k], 1);
    }
    for (int a = 0; a < 2; ++a) {
        liveValueLabels_[6 + a] =
            valueLabel(indexed("D_3W", 6 + a), base::Tr::tr("当前报警 ALM%1类型 读数").arg(a + 1),
                       activeColour());
        liveValueLabels_[6 + a]->setMinimumWidth(
            liveValueLabels_[6 + a]->fontMetrics().horizontalAdvance(base::Tr::tr("偏差带报警")) +
            12);
        row->addWidget(liveValueLabels_[6 + a], 1);
    }
}

void LivePanel::buildParams(int column) {
    auto* frame = makeFrame(base::Tr::tr("参数"), indexed("ParamFrame", column));
    paramFrames_[column] = frame;
    auto* grid = new QGridLayout(frame);
    tightenGrid(grid);
    auto addRow = [&](int row, const ParamField& f) {
        const QString caption = base::Tr::tr(f.caption);
        // Both inputs have a "小数点位置" row; the input names them apart.
        QString name = caption;
        if (f.k == 9) name = base::Tr::tr("输入1 ") + caption;
        if (f.k == 17) name = base::Tr::tr("输入2 ") + caption;
        paramLabels_[f.k] =
            valueLabel(indexed("Parm1", f.k), name + base::Tr::tr(" 读数"), inactiveColour());
        grid->addWidget(ui::captionLabel(caption), row, 0);
        grid->addWidget(paramLabels_[f.k], row, 1);
    };
    int row = 0;
    if (column == 0) {
        for (const auto& f : paramColumn0())
            addRow(row++, f);
    } else {
        for (const auto& f : paramColumn1())
            addRow(row++, f);
    }
    grid->setRowStretch(row, 1);
}

void LivePanel::buildAlarmSetting() {
    alarmSettingFrame_ = makeFrame(base::Tr::tr("报警设定"), QStringLiteral("AlarmSettingFrame"));
    auto* grid = new QGridLayout(alarmSettingFrame_);
    tightenGrid(grid);
    for (int k = 0; k < 6; ++k) {
        const QString caption = base::shown(alarmSettingCaption(k));
        auto* label = ui::captionLabel(caption);
        alarmSettingLabels_[k] =
            valueLabel(indexed("Alm1", k), caption + base::Tr::tr(" 读数"), inactiveColour());
        alarmSettingEdits_[k] = entryBox(indexed("Alm11", k), caption);
        downloadButtons_[k] = ui::commandButton(QStringLiteral("DOWNLOAD"), indexed("Alm111", k),
                                                caption + QStringLiteral(" DOWNLOAD"));
        label->setBuddy(alarmSettingEdits_[k]);
        grid->addWidget(label, k, 0);
        grid->addWidget(alarmSettingLabels_[k], k, 1);
        grid->addWidget(alarmSettingEdits_[k], k, 2);
        grid->addWidget(downloadButtons_[k], k, 3);
        connect(downloadButtons_[k], &QPushButton::clicked, this,
                [this, k] { writeAlarmSetting(k); });
        auth::guard(alarmSettingEdits_[k], auth::Action::AlarmSettings);
        auth::guard(downloadButtons_[k], auth::Action::AlarmSettings);
    }
}

bool LivePanel::framesAlive() const {
    return pvFrame_ && curveFrame_ && alarmFrame_ && paramFrames_[0] && paramFrames_[1] &&
           alarmSettingFrame_;
}

void LivePanel::ShowLiveStatus(bool keepLiveValues) {
    if (!framesAlive()) return;
    const LiveTexts t = liveTexts(image_());
    keptLiveValues_ = keepLiveValues;
    // An image of nothing but zeros holds no answer yet: a real instrument's has its settings.
    const comm::InstrumentImage& img = image_();
    const auto any = [](const auto& values) {
        return std::any_of(values.begin(), values.end(), [](auto v) { return v != 0; });
    };
    if (any(img.InputRegsLow) || any(img.InputRegsHigh) || any(img.HoldingRegsLow) ||
        any(img.ParamValues))
        answered_ = true;
    for (int k = 0; k < 9; ++k)
        programStatusLabels_[k]->setText(t.programStatus[k]);
    showMeasured(t);
    for (int k = 0; k < 6; ++k) {
        stateLabels_[k]->setText(t.states[k].text);
        ui::setLabelBackground(stateLabels_[k],
                               t.states[k].active ? activeColour() : inactiveColour());
    }
    for (int k = 0; k < 48; ++k)
        if (paramLabels_[k]) paramLabels_[k]->setText(t.params[k]);
    for (int k = 0; k < 6; ++k)
        alarmSettingLabels_[k]->setText(t.alarmSettings[k]);
}

QList<QLabel*> LivePanel::liveLabels() const {
    QList<QLabel*> labels;
    for (auto* l : programStatusLabels_)
        labels << l;
    for (auto* l : liveValueLabels_)
        labels << l;
    for (auto* l : outputLabels_)
        labels << l;
    for (auto* l : stateLabels_)
        labels << l;
    for (auto* l : paramLabels_)
        if (l) labels << l;
    for (auto* l : alarmSettingLabels_)
        labels << l;
    return labels;
}

// The measured values and outputs. A silent instrument's last answer stays, greyed; one that
// has not answered at all has no values to show but zeros of nobody's reading: a dash each.
void LivePanel::showMeasured(const LiveTexts& t) {
    const bool none = stale_ && !answered_;
    const QString dash = QStringLiteral("—");
    if (!keptLiveValues_)
        for (int k = 0; k < 8; ++k)
            liveValueLabels_[k]->setText(none ? dash : t.liveValues[k]);
    for (int k = 0; k < 2; ++k)
        outputLabels_[k]->setText(none ? dash : t.outputs[k]);
}

void LivePanel::setStale(bool stale) {
    if (stale == stale_ || !framesAlive()) return;
    stale_ = stale;
    showMeasured(liveTexts(image_()));
    const QColor text = stale ? QColor(128, 128, 128) : QColor(Qt::black);
    const QString note = base::Tr::tr("数据已过时：仪表无应答");
    for (QLabel* l : liveLabels()) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, text);
        l->setPalette(p);
        QString d = l->accessibleDescription();
        d.remove(note);
        l->setAccessibleDescription(stale ? note + d : d);
    }
}

void LivePanel::writeEntry(int32_t reg, const QString& caption, const QString& text) {
    writer_->sendReading(reg, entryValue(text), caption, text);
}

void LivePanel::writeSetValue(int index) {
    if (index < 0 || index >= 2 || !framesAlive()) return;
    // Written to the event log as it stands here, shown in the chosen language.
    static const char* const kCaptions[2] = {QT_TRANSLATE_NOOP("velmars", "设定SV1"),
                                             QT_TRANSLATE_NOOP("velmars", "设定SV2")};
    writeEntry(setValueRegister(index), QString::fromUtf8(kCaptions[index]),
               setValueEdits_[index]->text());
}

void LivePanel::writeAlarmSetting(int index) {
    if (index < 0 || index >= 6 || !framesAlive()) return;
    writeEntry(alarmSettingRegister(index), alarmSettingCaption(index),
               alarmSettingEdits_[index]->text());
}

void LivePanel::writeProgramCommand() {
    if (!framesAlive()) return;
    QStringList entries;
    for (int i = 0; i < programCommandList_->count(); ++i)
        entries << programCommandList_->itemText(i);
    const QString caption = QStringLiteral(QT_TRANSLATE_NOOP("velmars", "设定曲线"));
    const auto code = programCommand(entries, programCommandList_->currentText());
    if (!code) {  // typed text that names no entry: nothing to send
        emit message(base::Tr::tr("%1：“%2” 不是列表中的命令，未发送")
                         .arg(base::shown(caption), programCommandList_->currentText().trimmed()));
        return;
    }
    writer_->send(kProgramCommandRegister, *code, caption, base::intText(*code));
}

}  // namespace monitor
