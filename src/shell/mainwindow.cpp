#include "shell/mainwindow.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "alert/alertbar.h"
#include "alert/alertsetup.h"
#include "alert/alertwindow.h"
#include "auth/audit.h"
#include "auth/guard.h"
#include "auth/reason.h"
#include "base/numberrule.h"
#include "base/tr.h"
#include "chamber/chamber.h"
#include "chart/chartpanel.h"
#include "config/configwindow.h"
#include "events/eventlog.h"
#include "events/eventwindow.h"
#include "forward/forwarder.h"
#include "forward/statuslabels.h"
#include "monitor/livepanel.h"
#include "program/programwindow.h"
#include "runs/runcontrol.h"
#include "runs/runwindow.h"
#include "shell/accesscommand.h"
#include "shell/auditreview.h"
#include "shell/livefeed.h"
#include "shell/portsettings.h"
#include "store/recorder.h"
#include "ui/aboutdialog.h"
#include "ui/accessible.h"
#include "ui/keys.h"
#include "ui/widgets.h"
#include "ui/writestatus.h"

namespace shell {

namespace {

QGroupBox* frame(const QString& caption, const QString& name) {
    auto* box = new QGroupBox(caption);
    box->setObjectName(name);
    return box;
}

// The controls under root that Tab stops at, in the order of the focus chain.
QList<QWidget*> tabStopsIn(QWidget* root) {
    QList<QWidget*> stops;
    for (QWidget* w = root->nextInFocusChain(); w && w != root; w = w->nextInFocusChain())
        if (root->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            stops << w;
    return stops;
}

// The window's writes go as the chamber's commands: the chamber decides for whoever is at the PC
// and stamps the audit row; its report comes back to the window's status line.
void sendAsCommands(ui::WriteSender* writer, ::chamber::Chamber& c) {
    writer->sendWith([&c](int32_t reg, int32_t value, const QString& caption,
                          const base::Audit& audit) -> quint64 {
        const std::optional<::chamber::Write> what = ::chamber::writeOf(reg);
        if (!what) return 0;
        return c.write(*what, reg, value, auth::actorAtThePc(), audit.reason, caption).id;
    });
    QObject::connect(&c, &::chamber::Chamber::writeReported, writer,
                     [writer](const comm::WriteReport& r) {
                         writer->report(r.id, r.status == 0, r.error.text(base::Lang::Shown));
                     });
}

// A window of the instrument's registers sees the chamber's image; its reads go as the chamber's
// commands for whoever is at the PC, and their values come back to it.
instrument::Feed feedOf(::chamber::Chamber& c) {
    return {[&c]() -> const comm::InstrumentImage& { return c.image(); },
            [&c](int32_t first, int32_t count) -> quint64 {
                const ::chamber::Ticket t = c.readHolding(first, count, auth::actorAtThePc());
                return t.outcome == ::chamber::Outcome::Pending ? t.id : 0;
            }};
}

template <class Window>
void readAsCommands(Window* window, ::chamber::Chamber& c) {
    QObject::connect(&c, &::chamber::Chamber::holdingRead, window,
                     [window](quint64 id, ::chamber::Outcome outcome, int32_t first,
                              const QVector<int32_t>& values) {
                         window->holdingRead(id, first, values,
                                             outcome == ::chamber::Outcome::Done);
                     });
}

// The window's exports go as the chamber's commands, asked for whoever is at the PC now: the
// chamber decides and keeps the audit row once the file is written; a refusal is told here.
store::ExportAsk exportsAsCommands(::chamber::Chamber& c) {
    return
        [chamber = QPointer<::chamber::Chamber>(&c)](const QString& what, const QString& path,
                                                     const store::ExportWrite& write) -> QString {
            if (!chamber) return base::Tr::tr("试验箱已移除");
            const auth::Actor by = auth::actorAtThePc();
            switch (chamber->exportFile(what, path, by, write).outcome) {
                case ::chamber::Outcome::Refused:
                    return auth::denialText(auth::denial(by, auth::Action::Look),
                                            auth::Action::Look, base::Lang::Shown);
                case ::chamber::Outcome::Invalid:
                    return base::Tr::tr("无效的文件名");
                default:
                    return {};
            }
        };
}

}  // namespace

MainWindow::MainWindow(::chamber::Chamber& chamber, QWidget* parent)
    : QMainWindow(parent), chamber_(chamber) {
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(base::Tr::tr("双回路控制器（温湿度控制） VelmarS "));
    ui::pressFocusedButtonOnEnter();

    live_ = new monitor::LivePanel(
        [this]() -> const comm::InstrumentImage& { return chamber_.image(); }, this);
    sendAsCommands(live_->writeSender(), chamber_);
    chart_ = new chart::ChartPanel(
        chamber_.databasePath(), chamber_.clock(),
        liveFeedOf([this]() -> const comm::InstrumentImage& { return chamber_.image(); },
                   [this] {
                       const comm::PortSettings& s = chamber_.portSettings();
                       return std::pair<int, int>{s.port, s.address};
                   }));
    QList<QLabel*> d3w;
    for (int k = 0; k < 8; ++k)
        d3w << live_->liveValueLabel(k);
    chart_->setLiveValueLabels(d3w);
    chart_->setExporter(exportsAsCommands(chamber_));

    // Laid out for a 1366 × 768 screen with a taskbar (1280 × 720 at a pinch) in either language:
    // a column on the left with the port settings, PV status and alarm states over the chart,
    // which takes whatever room a larger screen gives; a column on the right with the program
    // status, the parameters (they scroll where the screen is too low for all of them), the alarm
    // settings and the navigation.
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(4);
    grid->addWidget(buildPortFrames(), 0, 0, Qt::AlignLeft);
    grid->addWidget(live_->pvStatusFrame(), 1, 0);
    grid->addWidget(live_->alarmStateFrame(), 2, 0);
    grid->addWidget(chart_, 3, 0);
    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    right->addWidget(live_->curveStatusFrame());
    right->addWidget(buildParamArea(), 1);
    right->addWidget(live_->alarmSettingFrame());
    right->addWidget(buildNavigation());
    grid->addLayout(right, 0, 1, 4, 1);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(3, 1);
    setCentralWidget(central);

    // Tab order: the port settings, then the buttons that act on them; the live panel's frames
    // with their commands; the chart's tools; the navigation. Within a frame the rows, left to
    // right.
    QList<QWidget*> order{portList_, addressList_};
    for (QRadioButton* b : baudButtons_)
        order << b;
    for (QRadioButton* b : parityButtons_)
        order << b;
    order << openButton_ << closeButton_;
    for (QWidget* f :
         {live_->pvStatusFrame(), live_->curveStatusFrame(), live_->alarmSettingFrame()})
        order << tabStopsIn(f);
    order << tabStopsIn(chart_);
    order << configButton_ << programButton_ << eventLogButton_ << runButton_ << exitButton_;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    linkStatus_ = new ui::ValueLabel(this);
    linkStatus_->setObjectName(QStringLiteral("LinkStatus"));
    linkStatus_->setAccessibleName(base::Tr::tr("通讯状态"));
    recorderStatus_ = new ui::ValueLabel(this);
    recorderStatus_->setObjectName(QStringLiteral("RecorderStatus"));
    recorderStatus_->setAccessibleName(base::Tr::tr("记录状态"));
    operatorMessage_ = new ui::ValueLabel(this);
    operatorMessage_->setObjectName(QStringLiteral("OperatorMessage"));
    operatorMessage_->setAccessibleName(base::Tr::tr("操作结果"));
    statusBar()->addWidget(linkStatus_, 3);
    statusBar()->addWidget(operatorMessage_, 2);
    statusBar()->addPermanentWidget(recorderStatus_, 1);
    // Out of the window's key order, which is the instrument's panel's.
    auto* about = new QToolButton(this);
    about->setObjectName(QStringLiteral("MainAbout"));
    about->setText(base::Tr::tr("关于"));
    about->setAccessibleName(about->text());
    about->setAutoRaise(true);
    about->setFocusPolicy(Qt::NoFocus);
    connect(about, &QToolButton::clicked, this, [this] { ui::AboutDialog::show(this); });
    statusBar()->addPermanentWidget(about);
    connect(live_, &monitor::LivePanel::message, operatorMessage_, &QLabel::setText);

    liveTimer_ = new QTimer(this);
    liveTimer_->setObjectName(QStringLiteral("LiveTimer"));
    liveTimer_->setInterval(200);
    connect(liveTimer_, &QTimer::timeout, this, &MainWindow::liveTick);
    liveTimer_->start();
    connect(&chamber_, &::chamber::Chamber::linkFiguresChanged, this,
            &MainWindow::updateLinkStatus);
    updateLinkStatus();
    showChamberParts();

    // Esc asks to leave, from any control of this window. A shortcut of this window only: the
    // Esc that closes a sub-window (a window of its own) is that window's, and an Esc held down
    // asks once.
    auto* exitKey = new QAction(this);
    exitKey->setShortcut(QKeySequence(Qt::Key_Escape));
    exitKey->setShortcutContext(Qt::WindowShortcut);
    exitKey->setAutoRepeat(false);
    connect(exitKey, &QAction::triggered, this, &MainWindow::requestExit);
    addAction(exitKey);

    for (const auto* group : {&baudButtons_, &parityButtons_})
        for (QRadioButton* b : *group)
            b->installEventFilter(this);
}

MainWindow::~MainWindow() {
    // The sub-windows are windows of their own, not children: they go with the main window, before
    // the link and the event log they read from.
    delete config_.data();
    delete programWindow_.data();
    delete eventWindow_.data();
    delete runWindow_.data();
}

void MainWindow::fitToScreen() {
    const QScreen* s = screen();
    if (!s) return;
    constexpr int kTitleBar = 40;
    resize(s->availableGeometry().size() - QSize(0, kTitleBar));
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

    auto* frame6 = frame(base::Tr::tr("通讯端口选择"), QStringLiteral("Frame6"));
    auto* f6 = new QGridLayout(frame6);
    auto* portLabel = new QLabel(base::Tr::tr("通讯端口"));
    portList_ = new ui::NamedList;
    portList_->setObjectName(QStringLiteral("Combo1"));
    portList_->setEditable(true);
    portList_->setInsertPolicy(QComboBox::NoInsert);
    portList_->setAccessibleName(base::Tr::tr("通讯端口"));
    portLabel->setBuddy(portList_);
    deviceLabel_ = new ui::ValueLabel;
    deviceLabel_->setObjectName(QStringLiteral("PortDevice"));
    deviceLabel_->setAccessibleName(base::Tr::tr("通讯端口 设备"));
    f6->addWidget(portLabel, 0, 0);
    f6->addWidget(portList_, 0, 1);
    f6->addWidget(deviceLabel_, 1, 0, 1, 2);
    connect(portList_, &QComboBox::currentTextChanged, this, &MainWindow::updateDeviceLabel);

    auto* frame5a = frame(base::Tr::tr("模块地址"), QStringLiteral("Frame5_0"));
    auto* f5a = new QHBoxLayout(frame5a);
    auto* addrLabel = new QLabel(base::Tr::tr("模块地址"));
    addressList_ = new ui::NamedList;
    addressList_->setObjectName(QStringLiteral("Combo2"));
    addressList_->setEditable(true);
    addressList_->setInsertPolicy(QComboBox::NoInsert);
    addressList_->setAccessibleName(base::Tr::tr("模块地址"));
    addrLabel->setBuddy(addressList_);
    f5a->addWidget(addrLabel);
    f5a->addWidget(addressList_);

    auto* frame2 = frame(base::Tr::tr("波特率"), QStringLiteral("Frame2_1"));
    auto* f2 = new QVBoxLayout(frame2);
    auto* bauds = new QButtonGroup(this);
    const QString baudText[] = {QStringLiteral("4800"), QStringLiteral("9600"),
                                QStringLiteral("19200")};
    for (int i = 0; i < 3; ++i) {
        baudButtons_[i] = new QRadioButton(baudText[i]);
        baudButtons_[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        baudButtons_[i]->setAccessibleName(baudText[i]);
        bauds->addButton(baudButtons_[i], i);
        f2->addWidget(baudButtons_[i]);
    }

    auto* frame5b = frame(base::Tr::tr("校验方式"), QStringLiteral("Frame5_1"));
    auto* f5b = new QVBoxLayout(frame5b);
    auto* parities = new QButtonGroup(this);
    const QString parityText[] = {base::Tr::tr("无校验"), base::Tr::tr("奇校验"),
                                  base::Tr::tr("偶校验")};
    for (int i = 0; i < 3; ++i) {
        parityButtons_[i] = new QRadioButton(parityText[i]);
        parityButtons_[i]->setObjectName(QStringLiteral("Option2_%1").arg(i));
        parityButtons_[i]->setAccessibleName(parityText[i]);
        parities->addButton(parityButtons_[i], i);
        f5b->addWidget(parityButtons_[i]);
    }

    openButton_ = ui::commandButton(base::Tr::tr("打开"), QStringLiteral("Command9"));
    closeButton_ = ui::commandButton(base::Tr::tr("关闭"), QStringLiteral("Command10"));
    connect(openButton_, &QPushButton::clicked, this, &MainWindow::openPort);
    connect(closeButton_, &QPushButton::clicked, this, &MainWindow::closePort);
    // The line's settings, and opening or closing it, are the chamber's configuration.
    for (QWidget* c :
         std::initializer_list<QWidget*>{portList_, addressList_, openButton_, closeButton_})
        auth::guard(c, auth::Action::ConfigurationWrite);
    for (auto* group : {&baudButtons_, &parityButtons_})
        for (QRadioButton* b : *group)
            auth::guard(b, auth::Action::ConfigurationWrite);

    // One row, each option group stacked in its frame; "打开" and "关闭" after the settings.
    lay->addWidget(frame6, 0, 0);
    lay->addWidget(frame5a, 0, 1);
    lay->addWidget(frame2, 0, 2);
    lay->addWidget(frame5b, 0, 3);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(openButton_);
    buttons->addWidget(closeButton_);
    buttons->addStretch(1);
    lay->addLayout(buttons, 0, 4);
    return box;
}

QWidget* MainWindow::buildParamArea() {
    auto* columns = new QWidget;
    auto* lay = new QHBoxLayout(columns);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(4);
    lay->addWidget(live_->paramFrame(0), 0, Qt::AlignTop);
    lay->addWidget(live_->paramFrame(1), 0, Qt::AlignTop);
    auto* area = new QScrollArea;
    area->setObjectName(QStringLiteral("ParamArea"));
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    area->setWidget(columns);
    // As wide as both columns with the scroll bar beside them: only the height gives way.
    area->setMinimumWidth(columns->minimumSizeHint().width() +
                          area->verticalScrollBar()->sizeHint().width());
    return area;
}

QWidget* MainWindow::buildNavigation() {
    auto* box = new QWidget;
    auto* lay = new QGridLayout(box);
    lay->setContentsMargins(0, 0, 0, 0);
    configButton_ = ui::commandButton(QStringLiteral("CONFIG"), QStringLiteral("Command21"));
    programButton_ = ui::commandButton(base::Tr::tr("曲线设置"), QStringLiteral("Command11"));
    eventLogButton_ = ui::commandButton(base::Tr::tr("事件记录"), QStringLiteral("EventLogButton"));
    runButton_ = ui::commandButton(base::Tr::tr("试验"), QStringLiteral("RunButton"));
    runButton_->setEnabled(false);
    exitButton_ = ui::commandButton(base::Tr::tr("退出"), QStringLiteral("Command1"));
    lay->addWidget(configButton_, 0, 0);
    lay->addWidget(programButton_, 0, 1);
    lay->addWidget(eventLogButton_, 0, 2);
    auto* access = ui::commandButton(base::Tr::tr("访问控制"), QStringLiteral("AccessButton"));
    auth::guard(access, auth::Action::AccessControlSettings);
    connect(access, &QPushButton::clicked, this, [this] {
        if (accessAction_) accessAction_();
    });
    lay->addWidget(runButton_, 1, 0);
    lay->addWidget(access, 1, 1);
    lay->addWidget(exitButton_, 1, 2);
    connect(eventLogButton_, &QPushButton::clicked, this, &MainWindow::openEventLog);
    connect(runButton_, &QPushButton::clicked, this, &MainWindow::openRunWindow);
    connect(configButton_, &QPushButton::clicked, this, &MainWindow::showConfigWindow);
    connect(programButton_, &QPushButton::clicked, this, &MainWindow::showProgramWindow);
    connect(exitButton_, &QPushButton::clicked, this, &MainWindow::requestExit);
    return box;
}

void MainWindow::load() {
    portList_->clear();
    for (int i = 1; i <= 20; ++i)
        portList_->addItem(QString::number(i));
    portList_->setCurrentIndex(0);
    baudButtons_[1]->setChecked(true);
    parityButtons_[0]->setChecked(true);
    addressList_->clear();
    for (int i = 1; i <= 16; ++i)
        addressList_->addItem(QString::number(i));
    addressList_->setCurrentIndex(0);
    chart_->load();
    blockClose_ = true;
    updateDeviceLabel();
}

void MainWindow::showPortSettings(const comm::PortSettings& settings) {
    portList_->setCurrentText(QString::number(settings.port));
    addressList_->setCurrentText(QString::number(settings.address));
    if (settings.baud >= 0 && settings.baud <= 2) baudButtons_[settings.baud]->setChecked(true);
    if (settings.parity >= 0 && settings.parity <= 2)
        parityButtons_[settings.parity]->setChecked(true);
    updateDeviceLabel();
}

void MainWindow::showChamberParts() {
    chart_->listenTo(&chamber_, &::chamber::Chamber::sampleStored);
    connect(&chamber_, &::chamber::Chamber::recorderStatusChanged, this,
            &MainWindow::updateRecorderStatus);
    events::EventLog* log = chamber_.eventLog();
    eventLogButton_->setEnabled(log != nullptr);
    if (log)
        connect(log, &events::EventLog::statusChanged, this, &MainWindow::updateRecorderStatus);
    updateRecorderStatus();
    if (runs::RunControl* runs = chamber_.runs()) {
        runButton_->setEnabled(true);
        runs->setChamber([this] { return portAndAddress(); });
    }
    if (chamber_.alerter()) {
        const auto apply = [this](const alert::NotifySettings& before,
                                  const alert::RuleConfig& rules,
                                  const alert::NotifySettings& notify, const QString& reason) {
            const auth::Actor by = auth::actorAtThePc();
            switch (chamber_.changeAlertSettings(before, rules, notify, by, reason)) {
                case ::chamber::Outcome::Done:
                    return QString();
                case ::chamber::Outcome::Refused:
                    return auth::denialText(auth::denial(by, auth::Action::AlertSettings),
                                            auth::Action::AlertSettings, base::Lang::Shown);
                default:
                    return base::Tr::tr("未保存");
            }
        };
        alert::AlertBar* bar = alert::addAlertBar(
            *this, {.acknowledge =
                        [this](const QString& id, const QString& comment) {
                            return chamber_.acknowledgeAlert(id, comment, auth::actorAtThePc());
                        },
                    .silence = [this] { chamber_.silenceAlerts(); },
                    .settingsWindow = [this, apply](QWidget* parent) -> QWidget* {
                        return new alert::AlertWindow(*chamber_.alerter(), apply, parent);
                    }});
        const ::chamber::State now = chamber_.state();
        bar->showAlerts(now.alerts, now.alertsRinging);
        connect(&chamber_, &::chamber::Chamber::stateChanged, bar,
                [bar](const ::chamber::State& s) { bar->showAlerts(s.alerts, s.alertsRinging); });
    }
    if (const forward::Forwarder* forwarder = chamber_.forwarder()) {
        (new forward::StatusLabels(statusBar()))->follow(*forwarder);
    } else if (chamber_.forwardAddressInvalid()) {
        (new forward::StatusLabels(statusBar()))->showInvalidAddress();
    }
}

QWidget* MainWindow::eventWindow() const {
    return eventWindow_.data();
}

void MainWindow::openEventLog() {
    events::EventLog* log = chamber_.eventLog();
    if (!log) return;
    // The log opens beside the main window, which stays live: alarms and their entries side by
    // side.
    if (!eventWindow_) {
        eventWindow_ = new EventWindow(*log);
        eventWindow_->setExporter(exportsAsCommands(chamber_));
        // Under access control the copy leaves the program only in the hands of someone logged in.
        auth::guard(eventWindow_->findChild<QWidget*>(QStringLiteral("EventExport")),
                    auth::Action::Look);
        ui::nameChamberAfter(eventWindow_, this);
        if (const auth::Guard* g = auth::Guard::instance())
            eventWindow_->setUserNames(g->fullNames());
        connect(eventWindow_, &EventWindow::auditReviewRequested, this, [this] {
            if (eventWindow_)
                reviewAuditTrail(*eventWindow_, chamber_.databasePath(), userStorePath());
        });
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

runs::RunWindow* MainWindow::runWindow() const {
    return runWindow_.data();
}

void MainWindow::openRunWindow() {
    const runs::RunControl* runs = chamber_.runs();
    if (!runs) return;
    // Beside the main window, like the event log; closed with Esc, it is kept with its form. It
    // reads the runs and asks the chamber for everything else.
    if (!runWindow_) {
        runWindow_ = new runs::RunWindow(chamber_, *runs);
        ui::nameChamberAfter(runWindow_, this);
        runWindow_->setUserStore(userStorePath());
        connect(runWindow_, &runs::RunWindow::returned, this, [this] {
            activateWindow();
            runButton_->setFocus();
        });
    }
    runWindow_->show();
    runWindow_->raise();
    runWindow_->activateWindow();
}

std::pair<QString, int> MainWindow::portAndAddress() const {
    const comm::PortSettings& s = chamber_.portSettings();
    int port = s.port, address = s.address;
    if (!chamber_.portOpen()) {
        port = base::roundToInt32(base::leadingNumber(portList_->currentText())).value_or(0);
        address = base::roundToInt32(base::leadingNumber(addressList_->currentText())).value_or(0);
    }
    const QString dev = chamber_.ports().deviceFor(port);
    return {dev.isEmpty() ? QString::number(port) : QStringLiteral("%1: %2").arg(port).arg(dev),
            address};
}

void MainWindow::updateDeviceLabel() {
    const int n = base::roundToInt32(base::leadingNumber(portList_->currentText())).value_or(0);
    const QString dev = chamber_.ports().deviceFor(n);
    deviceLabel_->setText(dev.isEmpty() ? base::Tr::tr("（无设备）")
                                        : comm::deviceCaption(dev, base::Lang::Shown));
}

void MainWindow::updateLinkStatus() {
    const ::chamber::Chamber& c = chamber_;
    QString text = linkStatusText(c.linkStats(), c.portOpen(), c.portSettings().port,
                                  c.lastCycleMs(), c.silentMs());
    // The line's baud rate and parity as they are in use, the same in every chamber's window.
    if (c.portOpen()) text += lineSettingsText(c.portSettings());
    if (linkStatus_->text() != text) linkStatus_->setText(text);
}

void MainWindow::updateRecorderStatus() {
    // The recorder's and the event log's states are made into words here.
    const events::EventLog* log = chamber_.eventLog();
    QString text = chamber_.opened()
                       ? store::recorderStatusText(chamber_.state().recorder, base::Lang::Shown)
                       : QString();
    const QString logText = log ? log->statusText(base::Lang::Shown) : QString();
    if (!logText.isEmpty()) text += (text.isEmpty() ? QString() : base::Tr::tr("；")) + logText;
    recorderStatus_->setText(text);
}

void MainWindow::openPort() {
    openPortWith(/*asked=*/true);
}

void MainWindow::connectAtStart() {
    openPortWith(/*asked=*/false);
}

void MainWindow::openPortWith(bool asked) {
    int baud = -1, parity = -1;
    for (int i = 0; i < 3; ++i) {
        if (baudButtons_[i]->isChecked()) baud = i;
        if (parityButtons_[i]->isChecked()) parity = i;
    }
    const comm::PortSettings before = chamber_.portSettings();
    comm::PortSettings settings = before;
    copyPortSettings(settings, portList_->currentText(), baud, parity, addressList_->currentText());
    // At the start the program opens the port itself; a press is the one at the PC's.
    const auth::Actor actor = asked ? auth::actorAtThePc() : auth::Actor::self();
    QString reason;
    if (asked && settings != before) {
        const auto by = consentToPortSettings(before, settings);
        if (!by) return;
        if (settingsAction_) {
            // Taken by the chamber list: the link has them, and was re-opened when polled.
            const QString refused = settingsAction_(settings, *by);
            if (!refused.isEmpty()) {
                operatorMessage_->setText(refused);
                return;
            }
            if (!chamber_.portOpen()) chamber_.openPort(actor);
            configButton_->setEnabled(chamber_.portOpen());
            updateLinkStatus();
            return;
        }
        reason = by->reason;
    }
    if (chamber_.openPort(settings, actor, reason) != ::chamber::Outcome::Done) {
        operatorMessage_->setText(auth::refusalShown(auth::Action::ConfigurationWrite));
        return;
    }
    configButton_->setEnabled(true);
    updateLinkStatus();
}

std::optional<base::Audit> MainWindow::consentToPortSettings(const comm::PortSettings& before,
                                                             const comm::PortSettings& after) {
    const QString was = comm::settingsText(before), now = comm::settingsText(after);
    auto by = auth::consent(this, auth::Action::ConfigurationWrite,
                            base::Tr::tr("通讯设置 = %1").arg(now));
    if (!by || !by->refusal.isEmpty()) return std::nullopt;
    by->oldValue = was;
    by->newValue = now;
    return by;
}

void MainWindow::closePort() {
    if (chamber_.closePort(auth::actorAtThePc()) != ::chamber::Outcome::Done) {
        operatorMessage_->setText(auth::refusalShown(auth::Action::ConfigurationWrite));
        return;
    }
    configButton_->setEnabled(false);
    updateLinkStatus();
}

void MainWindow::showConfigWindow() {
    if (config_) return;
    hide();
    config_ = new config::ConfigWindow(feedOf(chamber_));
    readAsCommands(config_.data(), chamber_);
    sendAsCommands(config_->writeSender(), chamber_);
    ui::nameChamberAfter(config_, this);
    config_->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(config_, &config::ConfigWindow::returned, this, [this] {
        if (config_) config_->deleteLater();
        config_ = nullptr;
        show();
    });
    config_->show();
}

void MainWindow::showProgramWindow() {
    if (programWindow_) return;
    hide();
    programWindow_ = new program::ProgramWindow(feedOf(chamber_));
    readAsCommands(programWindow_.data(), chamber_);
    sendAsCommands(programWindow_->writeSender(), chamber_);
    ui::nameChamberAfter(programWindow_, this);
    connect(programWindow_, &program::ProgramWindow::returned, this, [this] {
        if (programWindow_) programWindow_->deleteLater();
        programWindow_ = nullptr;
        show();
    });
    programWindow_->show();
}

void MainWindow::liveTick() {
    live_->ShowLiveStatus(chart_->rulerActive());
    // Values the instrument has not confirmed for a while look old, and the status bar counts
    // the seconds of silence.
    const bool stale = chamber_.portOpen() && chamber_.silentMs() >= kStaleAfterMs;
    live_->setStale(stale);
    if (stale || chamber_.portOpen()) updateLinkStatus();
}

QWidget* MainWindow::exitQuestion() const {
    return exitQuestion_.data();
}

void MainWindow::requestExit() {
    if (exited_) return;
    if (returnAction_) {
        hide();
        returnAction_();
        return;
    }
    if (exitQuestion_) {
        exitQuestion_->activateWindow();
        return;
    }
    // Leaving stops the recording: under access control, only someone who may end it leaves.
    if (const QString no = auth::refusalShown(auth::Action::StartEndRun); !no.isEmpty()) {
        operatorMessage_->setText(no);
        return;
    }
    // Leaving stops the recording, so it is asked first; "取消" is the default and Esc chooses it.
    exitQuestion_ = ui::askFirst(this, base::Tr::tr("退出程序？退出后停止记录。"),
                                 QStringLiteral("ExitQuestion"), base::Tr::tr("退出"),
                                 QStringLiteral("Quit"), [this] { exitProgram(); });
}

void MainWindow::exitProgram() {
    if (exited_) return;
    exited_ = true;
    if (exitQuestion_) exitQuestion_->close();
    // Leave cleanly: the chart's connection, the recorder and the port are closed before the end.
    chart_->closeDatabase();
    chamber_.halt();
    chart_->stopListening();
    blockClose_ = false;
    if (config_) config_->deleteLater();
    if (programWindow_) programWindow_->deleteLater();
    if (eventWindow_) eventWindow_->deleteLater();
    if (runWindow_) runWindow_->deleteLater();
    close();
    if (exitAction_) exitAction_();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (returnAction_ && !exited_) {
        e->ignore();
        requestExit();
        return;
    }
    // The close box is refused and changes nothing: the window is left through "退出" only.
    if (blockClose_) {
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    // Tab stops once in each option group; it lands on the option that is chosen, so that the
    // operator (and a screen reader) meets the current setting first.
    if (e->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
            for (const auto* group : {&baudButtons_, &parityButtons_}) {
                if (std::find(group->begin(), group->end(), watched) == group->end()) continue;
                for (QRadioButton* b : *group)
                    if (b->isChecked() && b != watched)
                        QMetaObject::invokeMethod(
                            b, [b] { b->setFocus(Qt::TabFocusReason); }, Qt::QueuedConnection);
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

}  // namespace shell
