#include "shell/mainwindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "base/numberrule.h"
#include "config/configwindow.h"
#include "monitor/livepanel.h"
#include "program/programwindow.h"
#include "record/chart/chartpanel.h"
#include "record/eventlog.h"
#include "record/recorder.h"
#include "shell/eventwindow.h"
#include "shell/portsettings.h"
#include "ui/accessible.h"

namespace shell {

namespace {

QGroupBox* frame(const QString& caption, const QString& name) {
    auto* box = new QGroupBox(caption);
    box->setObjectName(name);
    return box;
}

QPushButton* button(const QString& caption, const QString& name, QWidget* parent = nullptr) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption.trimmed());
    return b;
}

// The controls under root that Tab stops at, in the order of the focus chain.
QList<QWidget*> tabStopsIn(QWidget* root) {
    QList<QWidget*> stops;
    for (QWidget* w = root->nextInFocusChain(); w && w != root; w = w->nextInFocusChain())
        if (root->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            stops << w;
    return stops;
}

}  // namespace

MainWindow::MainWindow(MainContext ctx, QWidget* parent)
    : QMainWindow(parent), ctx_(std::move(ctx)) {
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(QStringLiteral("双回路控制器（温湿度控制） VelmarS "));

    live_ = new monitor::LivePanel(ctx_.link, this);
    chart_ = new record::ChartPanel(ctx_.dbPath, ctx_.clock, ctx_.handshake, ctx_.link);
    chart_->setLiveStatusHook([this] { live_->ShowLiveStatus(); });
    QList<QLabel*> d3w;
    for (int k = 0; k < 8; ++k)
        d3w << live_->D_3W(k);
    chart_->setLiveValueLabels(d3w);

    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);

    // Top row: port settings, PV status, program status.
    auto* top = new QHBoxLayout;
    top->addWidget(buildPortFrames());
    top->addWidget(live_->pvStatusFrame(), 1);
    top->addWidget(live_->curveStatusFrame());
    grid->addLayout(top, 0, 0, 1, 2);
    grid->addWidget(live_->alarmStateFrame(), 1, 0, 1, 2);

    // Middle: the chart on the left, parameters and alarm settings on the right.
    grid->addWidget(chart_, 2, 0);
    auto* right = new QHBoxLayout;
    right->addWidget(live_->paramFrame(0));
    right->addWidget(live_->paramFrame(1));
    auto* alarmCol = new QVBoxLayout;
    alarmCol->addWidget(live_->alarmSettingFrame());
    alarmCol->addWidget(buildNavigation());
    alarmCol->addStretch(1);
    right->addLayout(alarmCol);
    grid->addLayout(right, 2, 1);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(2, 1);
    setCentralWidget(central);

    // Tab order: the port settings, then the buttons that act on them; the live panel's frames
    // with their commands; the chart's tools; the navigation. Within a frame the rows, left to
    // right.
    QList<QWidget*> order{combo1_, combo2_};
    for (QRadioButton* b : option1_)
        order << b;
    for (QRadioButton* b : option2_)
        order << b;
    order << command9_ << command10_;
    for (QWidget* f :
         {live_->pvStatusFrame(), live_->curveStatusFrame(), live_->alarmSettingFrame()})
        order << tabStopsIn(f);
    order << tabStopsIn(chart_);
    order << command21_ << command11_ << eventLogButton_ << command1_;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    linkStatus_ = new ui::ValueLabel(this);
    linkStatus_->setObjectName(QStringLiteral("LinkStatus"));
    linkStatus_->setAccessibleName(QStringLiteral("通讯状态"));
    recorderStatus_ = new ui::ValueLabel(this);
    recorderStatus_->setObjectName(QStringLiteral("RecorderStatus"));
    recorderStatus_->setAccessibleName(QStringLiteral("记录状态"));
    statusBar()->addWidget(linkStatus_, 3);
    statusBar()->addPermanentWidget(recorderStatus_, 1);
    connect(&ctx_.link, &comm::Link::statsChanged, this, &MainWindow::updateLinkStatus);
    connect(&ctx_.link, &comm::Link::cycleFinished, this, &MainWindow::updateLinkStatus);
    updateLinkStatus();
    setRecorder(ctx_.recorder);

    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
}

QWidget* MainWindow::configWindow() const {
    return config_.data();
}

QWidget* MainWindow::programWindow() const {
    return programWindow_.data();
}

QWidget* MainWindow::buildPortFrames() {
    auto* box = new QWidget;
    auto* lay = new QGridLayout(box);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(2);

    auto* frame6 = frame(QStringLiteral("通讯端口选择"), QStringLiteral("Frame6"));
    auto* f6 = new QGridLayout(frame6);
    auto* portLabel = new QLabel(QStringLiteral("通讯端口"));
    combo1_ = new ui::NamedList;
    combo1_->setObjectName(QStringLiteral("Combo1"));
    combo1_->setEditable(true);
    combo1_->setInsertPolicy(QComboBox::NoInsert);
    combo1_->setAccessibleName(QStringLiteral("通讯端口"));
    portLabel->setBuddy(combo1_);
    deviceLabel_ = new ui::ValueLabel;
    deviceLabel_->setObjectName(QStringLiteral("PortDevice"));
    deviceLabel_->setAccessibleName(QStringLiteral("通讯端口 设备"));
    f6->addWidget(portLabel, 0, 0);
    f6->addWidget(combo1_, 0, 1);
    f6->addWidget(deviceLabel_, 1, 0, 1, 2);
    connect(combo1_, &QComboBox::currentTextChanged, this, &MainWindow::updateDeviceLabel);

    auto* frame5a = frame(QStringLiteral("模块地址"), QStringLiteral("Frame5_0"));
    auto* f5a = new QHBoxLayout(frame5a);
    auto* addrLabel = new QLabel(QStringLiteral("模块地址"));
    combo2_ = new ui::NamedList;
    combo2_->setObjectName(QStringLiteral("Combo2"));
    combo2_->setEditable(true);
    combo2_->setInsertPolicy(QComboBox::NoInsert);
    combo2_->setAccessibleName(QStringLiteral("模块地址"));
    addrLabel->setBuddy(combo2_);
    f5a->addWidget(addrLabel);
    f5a->addWidget(combo2_);

    auto* frame2 = frame(QStringLiteral("波特率"), QStringLiteral("Frame2_1"));
    auto* f2 = new QHBoxLayout(frame2);
    auto* bauds = new QButtonGroup(this);
    const QString baudText[] = {QStringLiteral("4800"), QStringLiteral("9600"),
                                QStringLiteral("19200")};
    for (int i = 0; i < 3; ++i) {
        option1_[i] = new QRadioButton(baudText[i]);
        option1_[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        option1_[i]->setAccessibleName(baudText[i]);
        bauds->addButton(option1_[i], i);
        f2->addWidget(option1_[i]);
    }

    auto* frame5b = frame(QStringLiteral("校验方式"), QStringLiteral("Frame5_1"));
    auto* f5b = new QHBoxLayout(frame5b);
    auto* parities = new QButtonGroup(this);
    const QString parityText[] = {QStringLiteral("无校验"), QStringLiteral("奇校验"),
                                  QStringLiteral("偶校验")};
    for (int i = 0; i < 3; ++i) {
        option2_[i] = new QRadioButton(parityText[i]);
        option2_[i]->setObjectName(QStringLiteral("Option2_%1").arg(i));
        option2_[i]->setAccessibleName(parityText[i]);
        parities->addButton(option2_[i], i);
        f5b->addWidget(option2_[i]);
    }

    command9_ = button(QStringLiteral("打开"), QStringLiteral("Command9"));
    command10_ = button(QStringLiteral("关闭"), QStringLiteral("Command10"));
    connect(command9_, &QPushButton::clicked, this, &MainWindow::Command9_Click);
    connect(command10_, &QPushButton::clicked, this, &MainWindow::Command10_Click);

    lay->addWidget(frame6, 0, 0, 2, 1);
    lay->addWidget(frame5a, 0, 1);
    lay->addWidget(frame2, 1, 1);
    lay->addWidget(frame5b, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(command9_);
    buttons->addWidget(command10_);
    lay->addLayout(buttons, 2, 0);
    return box;
}

QWidget* MainWindow::buildNavigation() {
    auto* box = new QWidget;
    auto* lay = new QVBoxLayout(box);
    lay->setContentsMargins(0, 0, 0, 0);
    command21_ = button(QStringLiteral("CONFIG"), QStringLiteral("Command21"));
    command11_ = button(QStringLiteral("曲线设置"), QStringLiteral("Command11"));
    eventLogButton_ = button(QStringLiteral("事件记录"), QStringLiteral("EventLogButton"));
    command1_ = button(QStringLiteral("退出"), QStringLiteral("Command1"));
    lay->addWidget(command21_);
    lay->addWidget(command11_);
    lay->addWidget(eventLogButton_);
    lay->addWidget(command1_);
    connect(eventLogButton_, &QPushButton::clicked, this, &MainWindow::openEventLog);
    connect(command21_, &QPushButton::clicked, this, &MainWindow::Command21_Click);
    connect(command11_, &QPushButton::clicked, this, &MainWindow::Command11_Click);
    connect(command1_, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    return box;
}

void MainWindow::load() {
    combo1_->clear();
    for (int i = 1; i <= 20; ++i)
        combo1_->addItem(QString::number(i));
    combo1_->setCurrentIndex(0);
    option1_[1]->setChecked(true);
    option2_[0]->setChecked(true);
    combo2_->clear();
    for (int i = 1; i <= 16; ++i)
        combo2_->addItem(QString::number(i));
    combo2_->setCurrentIndex(0);
    ctx_.handshake.RecordingEnabled = true;
    chart_->load();
    blockClose_ = true;
    updateDeviceLabel();
}

void MainWindow::setRecorder(record::Recorder* recorder) {
    ctx_.recorder = recorder;
    if (!recorder) return;
    connect(recorder, &record::Recorder::statusChanged, this, &MainWindow::updateRecorderStatus,
            Qt::UniqueConnection);
    updateRecorderStatus();
}

void MainWindow::setEventLog(record::EventLog* log) {
    eventLog_ = log;
    eventLogButton_->setEnabled(log != nullptr);
    if (!log) return;
    connect(log, &record::EventLog::statusChanged, this, &MainWindow::updateRecorderStatus,
            Qt::UniqueConnection);
    updateRecorderStatus();
}

QWidget* MainWindow::eventWindow() const {
    return eventWindow_.data();
}

void MainWindow::openEventLog() {
    if (!eventLog_) return;
    // The log opens beside the main window, which stays live: alarms and their entries side by
    // side.
    if (!eventWindow_) {
        eventWindow_ = new EventWindow(*eventLog_);
        eventWindow_->setAttribute(Qt::WA_DeleteOnClose);
        connect(eventWindow_, &EventWindow::returned, this, [this] {
            if (eventWindow_) eventWindow_->deleteLater();
            eventWindow_ = nullptr;
            activateWindow();
            eventLogButton_->setFocus();
        });
    }
    eventWindow_->show();
    eventWindow_->raise();
    eventWindow_->activateWindow();
}

void MainWindow::updateDeviceLabel() {
    const int n = base::roundToInt32(base::leadingNumber(combo1_->currentText())).value_or(0);
    const QString dev = ctx_.ports.deviceFor(n);
    deviceLabel_->setText(dev.isEmpty() ? QStringLiteral("（无设备）") : dev);
}

void MainWindow::updateLinkStatus() {
    const QString text =
        linkStatusText(ctx_.link.stats(), ctx_.link.polling(),
                       ctx_.link.commParams()(comm::kPortSlot), ctx_.link.lastCycleMs());
    if (linkStatus_->text() != text) linkStatus_->setText(text);
}

void MainWindow::updateRecorderStatus() {
    QString text = ctx_.recorder ? ctx_.recorder->statusText() : QString();
    if (eventLog_ && !eventLog_->statusText().isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("；")) + eventLog_->statusText();
    recorderStatus_->setText(text);
}

void MainWindow::Command9_Click() {
    int baud = -1, parity = -1;
    for (int i = 0; i < 3; ++i) {
        if (option1_[i]->isChecked()) baud = i;
        if (option2_[i]->isChecked()) parity = i;
    }
    copyPortSettings(ctx_.link.commParams(), combo1_->currentText(), baud, parity,
                     combo2_->currentText());
    ctx_.link.open();
    command21_->setEnabled(true);
    updateLinkStatus();
}

void MainWindow::Command10_Click() {
    ctx_.link.close();
    command21_->setEnabled(false);
    updateLinkStatus();
}

void MainWindow::Command21_Click() {
    if (config_) return;
    hide();
    config_ = new config::ConfigWindow(ctx_.link);
    config_->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(config_, &config::ConfigWindow::returned, this, [this] {
        if (config_) config_->deleteLater();
        config_ = nullptr;
        show();
    });
    config_->show();
}

void MainWindow::Command11_Click() {
    if (programWindow_) return;
    hide();
    programWindow_ = new program::ProgramWindow(ctx_.link);
    connect(programWindow_, &program::ProgramWindow::returned, this, [this] {
        if (programWindow_) programWindow_->deleteLater();
        programWindow_ = nullptr;
        show();
    });
    programWindow_->show();
}

void MainWindow::Command1_Click() {
    if (exited_) return;
    exited_ = true;
    // Leave cleanly: the chart's connection, the recorder and the port are closed before the end.
    chart_->closeDatabase();
    if (ctx_.recorder) ctx_.recorder->stop();
    ctx_.link.close();
    ctx_.handshake.RecordingEnabled = false;
    blockClose_ = false;
    if (config_) config_->deleteLater();
    if (programWindow_) programWindow_->deleteLater();
    if (eventWindow_) eventWindow_->deleteLater();
    close();
    if (exitAction_) exitAction_();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    // The close box is refused and changes nothing: the window is left through "退出" only.
    if (blockClose_) {
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

bool MainWindow::handleKey(int key) {
    switch (key) {
        case Qt::Key_F1:
            if (chart_->ZoomLevel() < 4) chart_->Command4_Click();
            return true;
        case Qt::Key_F2:
            if (chart_->ZoomLevel() > 1) chart_->Command3_Click();
            return true;
        case Qt::Key_F3:
            chart_->Command2_Click();
            return true;
        case Qt::Key_F4:
            chart_->Command5_Click();
            return true;
        case Qt::Key_F5:
            chart_->Command6_Click();
            return true;
        case Qt::Key_F6:
            if (chart_->HistoryPage() > 0) chart_->Command7_Click();
            return true;
        case Qt::Key_F7:
            if (!chart_->OldestPageReached()) chart_->Command8_Click();
            return true;
        case Qt::Key_Escape:
            Command1_Click();
            return true;
        default:
            return false;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    // Tab stops once in each option group; it lands on the option that is chosen, so that the
    // operator (and a screen reader) meets the current setting first.
    if (e->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
            for (const auto* group : {&option1_, &option2_}) {
                if (std::find(group->begin(), group->end(), watched) == group->end()) continue;
                for (QRadioButton* b : *group)
                    if (b->isChecked() && b != watched)
                        QMetaObject::invokeMethod(
                            b, [b] { b->setFocus(Qt::TabFocusReason); }, Qt::QueuedConnection);
            }
        }
    }
    // The window sees its keys before its controls do, whichever control has the focus.
    if (e->type() == QEvent::KeyPress && watched->isWidgetType() && isVisible()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->window() == this) {
            auto* ke = static_cast<QKeyEvent*>(e);
            if (ke->modifiers() == Qt::NoModifier || ke->modifiers() == Qt::KeypadModifier)
                if (handleKey(ke->key())) return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

}  // namespace shell
