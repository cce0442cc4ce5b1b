#include "shell/attached.h"

#include "alert/alertbar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "alert/alertbar.h"
#include "auth/reason.h"
#include "base/text.h"
#include "base/tr.h"
#include "chamber/statejson.h"
#include "chart/chartpanel.h"
#include "config/configwindow.h"
#include "events/eventlog.h"
#include "events/eventwindow.h"
#include "monitor/livepanel.h"
#include "overview/overviewwindow.h"
#include "program/programwindow.h"
#include "runs/runcontrol.h"
#include "runs/runwindow.h"
#include "service/channel.h"
#include "service/serviceos.h"
#include "shell/livefeed.h"
#include "ui/credentialform.h"
#include "ui/widgets.h"
#include "ui/writestatus.h"

namespace shell {

namespace {

QString attachedText(bool attached) {
    return attached ? base::Tr::tr("已连接到服务：试验箱由服务记录")
                    : base::Tr::tr("服务已停止，等待其恢复");
}

}  // namespace

bool serviceAnswers(const QString& dataFolder, int waitMs) {
    QLocalSocket probe;
    probe.connectToServer(service::os::channelName(dataFolder));
    const bool answers = probe.waitForConnected(waitMs);
    probe.abort();
    return answers;
}

QString channelOutcomeText(const QString& outcome) {
    if (outcome == u"done") return {};
    if (outcome == u"refused") return base::Tr::tr("服务拒绝：无此权限");
    if (outcome == u"invalid" || outcome == u"badRequest") return base::Tr::tr("数值无效");
    if (outcome == u"linkClosed") return base::Tr::tr("端口未打开");
    if (outcome == u"notRecording") return base::Tr::tr("试验箱未在记录");
    if (outcome == u"notAttached" || outcome == u"unknown") return base::Tr::tr("未连接到服务");
    if (outcome == u"unknownChamber") return base::Tr::tr("服务中没有这个试验箱");
    if (outcome == u"busy") return base::Tr::tr("服务忙，请稍后重试");
    return base::Tr::tr("仪表未接受");
}

QString loginOutcomeText(const QString& outcome) {
    if (outcome == u"done") return {};
    if (outcome == u"refused" || outcome == u"locked") return base::Tr::tr("用户名或密码错误");
    if (outcome == u"mustChange") return base::Tr::tr("密码已过期或须更改，请设置新密码");
    if (outcome == u"noAccessControl") return base::Tr::tr("访问控制已关闭");
    if (outcome == u"unusable") return base::Tr::tr("用户库无法使用");
    return base::Tr::tr("未连接到服务");
}

// The runs of a chamber of the service: started and ended there, for whoever is logged in on the
// channel and with the reason they give (asked over the run window); the list read again once the
// service has answered.
class ServiceRunCommands : public QObject, public runs::RunCommands {
  public:
    ServiceRunCommands(service::ChannelClient& client, QString chamber, runs::RunControl& runs)
        : client_(client), chamber_(std::move(chamber)), runs_(runs) {
        connect(&client_, &service::ChannelClient::commandFinished, this,
                [this](quint64 id, const QString& outcome) {
                    const auto it = waiting_.find(id);
                    if (it == waiting_.end()) return;
                    const Done done = std::move(it->second);
                    waiting_.erase(it);
                    runs_.reload();
                    done(chamber::outcomeOfWord(outcome), channelOutcomeText(outcome));
                });
    }
    void setWindow(QWidget* window) { window_ = window; }
    void startRun(const runs::Run& form, Done done) override {
        ask(QStringLiteral("startRun"), base::Tr::tr("开始试验：%1").arg(form.name),
            service::runFormJson(form), std::move(done));
    }
    void endRun(Done done) override {
        ask(QStringLiteral("endRun"), base::Tr::tr("结束试验"), {}, std::move(done));
    }

  private:
    service::ChannelClient& client_;
    QString chamber_;
    runs::RunControl& runs_;
    QPointer<QWidget> window_;
    std::map<quint64, Done> waiting_;

    void ask(const QString& op, const QString& what, QJsonObject fields, Done done) {
        // Logged in there (so under its access control), the start or end goes with a reason.
        if (!client_.user().isEmpty()) {
            auth::ReasonDialog dialog(what, {}, window_);
            if (dialog.exec() != QDialog::Accepted || dialog.reason().isEmpty())
                return done(chamber::Outcome::Invalid, base::Tr::tr("未填写变更原因"));
            fields.insert(QStringLiteral("reason"), dialog.reason());
        }
        waiting_[client_.command(op, chamber_, fields)] = std::move(done);
    }
};

ServiceLoginDialog::ServiceLoginDialog(service::ChannelClient& client, QWidget* parent)
    : QDialog(parent), client_(client), form_(std::make_unique<ui::CredentialForm>(this)) {
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowTitle(base::Tr::tr("登录"));
    user_ = form_->entry(base::Tr::tr("用户名"), "LoginUser", false);
    password_ = form_->entry(base::Tr::tr("密码"), "LoginPassword", true);
    QPushButton* login = form_->finish(base::Tr::tr("登录"), "LoginButton", "LoginMessage");
    connect(login, &QPushButton::clicked, this, &ServiceLoginDialog::submit);
    connect(&client_, &service::ChannelClient::loggedIn, this, [this](const QString& outcome) {
        form_->answer(loginOutcomeText(outcome));
        if (outcome == u"done") {
            accept();
        } else {
            password_->setFocus();
        }
    });
}

ServiceLoginDialog::~ServiceLoginDialog() = default;

void ServiceLoginDialog::submit() {
    if (!form_->wait()) return;
    const QString password = password_->text();
    password_->clear();
    client_.login(user_->text().trimmed(), password);
}

ServiceSessionBar::ServiceSessionBar(service::ChannelClient& client, QWidget* parent)
    : QWidget(parent), client_(client) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    user_ = new QLabel(this);
    user_->setObjectName(QStringLiteral("serviceUser"));
    button_ = new QPushButton(this);
    button_->setObjectName(QStringLiteral("serviceLogin"));
    row->addWidget(user_);
    row->addWidget(button_);
    connect(button_, &QPushButton::clicked, this, &ServiceSessionBar::clicked);
    connect(&client_, &service::ChannelClient::loggedIn, this, &ServiceSessionBar::update);
    connect(&client_, &service::ChannelClient::attachedChanged, this, &ServiceSessionBar::update);
    update();
}

void ServiceSessionBar::update() {
    const QString user = client_.user();
    user_->setText(user.isEmpty() ? base::Tr::tr("未登录") : user);
    user_->setAccessibleName(user_->text());
    button_->setText(user.isEmpty() ? base::Tr::tr("登录") : base::Tr::tr("注销"));
    button_->setAccessibleName(button_->text());
    button_->setEnabled(client_.attached());
}

void ServiceSessionBar::clicked() {
    if (!client_.user().isEmpty()) {
        client_.logout();
        update();
        return;
    }
    if (dialog_) return;
    auto* d = new ServiceLoginDialog(client_, window());
    d->setAttribute(Qt::WA_DeleteOnClose);
    dialog_ = d;
    d->open();
}

AttachedChamberWindow::AttachedChamberWindow(service::ChannelClient& client, QString chamber,
                                             QWidget* parent)
    : QMainWindow(parent), client_(client), chamber_(std::move(chamber)) {
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(QStringLiteral("双回路控制器（温湿度控制） VelmarS "));
    if (!chamber_.isEmpty()) ui::setChamberName(this, chamber_);
    live_ =
        new monitor::LivePanel([this]() -> const comm::InstrumentImage& { return image_; }, this);
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->addWidget(live_->pvStatusFrame(), 0, 0);
    grid->addWidget(live_->curveStatusFrame(), 0, 1);
    grid->addWidget(live_->alarmStateFrame(), 0, 2);
    grid->addWidget(live_->paramFrame(0), 1, 0);
    grid->addWidget(live_->paramFrame(1), 1, 1);
    grid->addWidget(live_->alarmSettingFrame(), 1, 2);
    // The history as the service recorded it, read from its file (never written from here); the
    // live end of the curve takes the values the service reads.
    const QJsonObject told = client_.state(chamber_);
    database_ = told.value(QStringLiteral("database")).toString();
    if (!database_.isEmpty()) {
        chart_ = new chart::ChartPanel(
            database_, clock_,
            liveFeedOf([this]() -> const comm::InstrumentImage& { return image_; },
                       [this] {
                           const QJsonObject s = client_.state(chamber_);
                           return std::pair<int, int>{
                               s.value(QStringLiteral("port")).toInt(),
                               s.value(QStringLiteral("link")).toObject().value("address").toInt()};
                       }),
            central);
        chart_->setReadOnly();
        chart_->setExporter(exportsThroughService());
        QList<QLabel*> values;
        for (int k = 0; k < 8; ++k)
            values << live_->liveValueLabel(k);
        chart_->setLiveValueLabels(values);
        grid->addWidget(chart_, 2, 0, 1, 3);
        grid->setRowStretch(2, 1);
        chart_->load();
    }
    // The main window's way to the configuration and program windows.
    auto* navigation = new QHBoxLayout;
    auto* configButton = ui::commandButton(QStringLiteral("CONFIG"), QStringLiteral("Command21"));
    auto* programButton = ui::commandButton(base::Tr::tr("曲线设置"), QStringLiteral("Command11"));
    auto* eventButton =
        ui::commandButton(base::Tr::tr("事件记录"), QStringLiteral("EventLogButton"));
    auto* runButton = ui::commandButton(base::Tr::tr("试验"), QStringLiteral("RunButton"));
    eventButton->setEnabled(!database_.isEmpty());
    runButton->setEnabled(!database_.isEmpty());
    connect(configButton, &QPushButton::clicked, this, &AttachedChamberWindow::showConfigWindow);
    connect(programButton, &QPushButton::clicked, this, &AttachedChamberWindow::showProgramWindow);
    connect(eventButton, &QPushButton::clicked, this, &AttachedChamberWindow::showEventWindow);
    connect(runButton, &QPushButton::clicked, this, &AttachedChamberWindow::showRunWindow);
    navigation->addStretch(1);
    navigation->addWidget(configButton);
    navigation->addWidget(programButton);
    navigation->addWidget(eventButton);
    navigation->addWidget(runButton);
    grid->addLayout(navigation, 3, 0, 1, 3);
    setCentralWidget(central);

    // The alerts the service lists for this chamber, acknowledged there under its checks; the
    // sound is this window's, silenced here.
    alertBar_ = alert::addAlertBar(
        *this, {.acknowledge =
                    [this](const QString& id, const QString& comment) {
                        acknowledgements_.insert(client_.command(
                            QStringLiteral("acknowledgeAlert"), chamber_,
                            {{QStringLiteral("alert"), id}, {QStringLiteral("comment"), comment}}));
                        return chamber::Outcome::Pending;
                    },
                .silence = {},
                .settingsWindow = {}});
    const auto showAlerts = [this](const QString& name, const QJsonObject& state) {
        if (name != chamber_ || state.isEmpty()) return;
        const chamber::State s = chamber::stateFromJson(state);
        alertBar_->showAlerts(s.alerts, s.alertsRinging);
    };
    connect(&client_, &service::ChannelClient::stateChanged, this, showAlerts);
    showAlerts(chamber_, told);
    connect(&client_, &service::ChannelClient::commandFinished, this,
            [this](quint64 id, const QString& outcome) {
                if (acknowledgements_.erase(id))
                    alertBar_->acknowledgeFinished(outcome == u"done", channelOutcomeText(outcome));
            });

    serviceStatus_ = new QLabel(this);
    serviceStatus_->setObjectName(QStringLiteral("serviceStatus"));
    statusBar()->addPermanentWidget(serviceStatus_);
    statusBar()->addPermanentWidget(new ServiceSessionBar(client_, this));
    operatorMessage_ = new QLabel(this);
    operatorMessage_->setObjectName(QStringLiteral("operatorMessage"));
    statusBar()->addWidget(operatorMessage_, 1);
    connect(live_, &monitor::LivePanel::message, operatorMessage_, &QLabel::setText);

    sendThroughService(live_->writeSender(), this);
    connect(&client_, &service::ChannelClient::imageArrived, this,
            [this](const QString& name, const comm::InstrumentImage& image) {
                if (name != chamber_) return;
                image_ = image;
                imageShown_ = true;
                // While the chart's ruler is on, the value labels show its readout.
                live_->ShowLiveStatus(chart_ && chart_->rulerActive());
            });
    connect(&client_, &service::ChannelClient::attachedChanged, this,
            &AttachedChamberWindow::showAttached);
    showAttached(client_.attached());

    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, &AttachedChamberWindow::tick);
    timer_->start();
    tick();
}

AttachedChamberWindow::~AttachedChamberWindow() {
    // The windows beside this one read through its log and runs.
    delete eventWindow_.data();
    delete runWindow_.data();
}

void AttachedChamberWindow::showAttached(bool attached) {
    serviceStatus_->setText(attachedText(attached));
    serviceStatus_->setAccessibleName(serviceStatus_->text());
    // Without the service nothing shown is a reading of now.
    if (!attached) live_->setStale(true);
}

void AttachedChamberWindow::sendThroughService(ui::WriteSender* writer, QWidget* over) {
    // The writes go to the service, which decides them with the chamber's own checks. Logged in
    // there (so under its access control), a change goes with the reason the user gives for it.
    writer->setGate([this, over](int32_t, const QString& caption,
                                 const QString& shown) -> std::optional<base::Audit> {
        if (client_.user().isEmpty()) return base::Audit{};
        auth::ReasonDialog dialog(
            QStringLiteral("%1 = %2").arg(base::shown(caption), shown.trimmed()), {}, over);
        if (dialog.exec() != QDialog::Accepted || dialog.reason().isEmpty()) return std::nullopt;
        base::Audit audit;
        audit.reason = dialog.reason();
        return audit;
    });
    writer->sendWith(
        [this](int32_t reg, int32_t value, const QString& caption, const base::Audit& audit) {
            return send(reg, value, audit.reason, caption);
        });
    connect(&client_, &service::ChannelClient::commandFinished, writer,
            [writer](quint64 id, const QString& outcome) {
                writer->report(id, outcome == u"done", channelOutcomeText(outcome));
            });
}

template <class Window>
Window* AttachedChamberWindow::openInPlace(QPointer<Window>& slot) {
    if (slot) return nullptr;
    hide();
    auto* w =
        new Window(instrument::Feed{[this]() -> const comm::InstrumentImage& { return image_; },
                                    [this](int32_t first, int32_t count) {
                                        return client_.readHolding(chamber_, first, count);
                                    }});
    slot = w;
    connect(&client_, &service::ChannelClient::holdingRead, w,
            [w](quint64 id, const QString& outcome, int32_t first, const QVector<int32_t>& values) {
                w->holdingRead(id, first, values, outcome == u"done");
            });
    sendThroughService(w->writeSender(), w);
    ui::nameChamberAfter(w, this);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(w, &Window::returned, this, [this, &slot] {
        if (slot) slot->deleteLater();
        slot = nullptr;
        show();
    });
    w->show();
    return w;
}

config::ConfigWindow* AttachedChamberWindow::configWindow() const {
    return config_.data();
}

program::ProgramWindow* AttachedChamberWindow::programWindow() const {
    return programWindow_.data();
}

store::ExportAsk AttachedChamberWindow::exportsThroughService() {
    return [this](const QString& what, const QString& path,
                  const store::ExportWrite& write) -> QString {
        const service::ChannelClient::ExportAnswer answer = client_.askExport(chamber_, what, path);
        if (answer.outcome != u"done") {
            QString why = channelOutcomeText(answer.outcome);
            if (why.isEmpty()) why = base::Tr::tr("仪表未接受");
            operatorMessage_->setText(base::Tr::tr("未导出：%1").arg(why));
            return why;
        }
        // The service keeps the row once told the file is there, also after this window closed.
        write([client = QPointer<service::ChannelClient>(&client_), chamber = chamber_,
               number = answer.number](bool written) {
            if (client) client->exportDone(chamber, number, written);
        });
        return {};
    };
}

EventWindow* AttachedChamberWindow::eventWindow() const {
    return eventWindow_.data();
}

runs::RunWindow* AttachedChamberWindow::runWindow() const {
    return runWindow_.data();
}

void AttachedChamberWindow::showEventWindow() {
    if (database_.isEmpty()) return;
    if (!eventLog_) {
        // Only reads: the service's log writes the file.
        eventLog_ = std::make_unique<events::EventLog>(database_);
        eventLog_->start(/*readOnly=*/true);
    }
    if (!eventWindow_) {
        eventWindow_ = new EventWindow(*eventLog_);
        eventWindow_->setExporter(exportsThroughService());
        // The review signs with the desktop's user store; it is the service's here.
        if (auto* review = eventWindow_->findChild<QWidget*>(QStringLiteral("EventAuditReview")))
            review->setVisible(false);
        ui::nameChamberAfter(eventWindow_, this);
        eventWindow_->setAttribute(Qt::WA_DeleteOnClose);
        connect(eventWindow_, &EventWindow::returned, this, [this] {
            if (eventWindow_) eventWindow_->deleteLater();
            eventWindow_ = nullptr;
            activateWindow();
        });
    } else {
        // What the service logged since it was last read.
        eventWindow_->reload();
    }
    eventWindow_->show();
    eventWindow_->raise();
    eventWindow_->activateWindow();
}

void AttachedChamberWindow::showRunWindow() {
    if (database_.isEmpty()) return;
    if (!runs_) {
        runs_ = std::make_unique<runs::RunControl>(database_, clock_);
        runs_->start(/*readOnly=*/true);
        runCommands_ = std::make_unique<ServiceRunCommands>(client_, chamber_, *runs_);
    }
    if (!runWindow_) {
        runWindow_ = new runs::RunWindow(*runCommands_, *runs_, database_);
        runCommands_->setWindow(runWindow_);
        ui::nameChamberAfter(runWindow_, this);
        connect(runWindow_, &runs::RunWindow::returned, this, [this] { activateWindow(); });
    }
    runWindow_->show();
    runWindow_->raise();
    runWindow_->activateWindow();
}

void AttachedChamberWindow::showConfigWindow() {
    openInPlace(config_);
}

void AttachedChamberWindow::showProgramWindow() {
    openInPlace(programWindow_);
}

quint64 AttachedChamberWindow::send(int32_t reg, int32_t value, const QString& reason,
                                    const QString& caption) {
    const QJsonValue why = reason;
    const std::optional<chamber::Write> what = chamber::writeOf(reg);
    if (what == chamber::Write::Configuration || what == chamber::Write::Program)
        return client_.command(what == chamber::Write::Program
                                   ? QStringLiteral("writeProgram")
                                   : QStringLiteral("writeConfiguration"),
                               chamber_,
                               {{QStringLiteral("register"), reg},
                                {QStringLiteral("value"), value},
                                {QStringLiteral("reason"), why},
                                {QStringLiteral("caption"), caption}});
    if (reg == 1 || reg == 2)
        return client_.command(QStringLiteral("setValue"), chamber_,
                               {{QStringLiteral("loop"), reg - 1},
                                {QStringLiteral("value"), value},
                                {QStringLiteral("reason"), why}});
    if (reg == 3)
        return client_.command(QStringLiteral("programCommand"), chamber_,
                               {{QStringLiteral("code"), value}, {QStringLiteral("reason"), why}});
    // 4X 257..262 and anything else the panel sends: the service names what it does not take.
    return client_.command(QStringLiteral("setAlarm"), chamber_,
                           {{QStringLiteral("index"), reg - 257},
                            {QStringLiteral("value"), value},
                            {QStringLiteral("reason"), why}});
}

void AttachedChamberWindow::tick() {
    // A window hidden behind the overview asks the service for nothing; one that the
    // configuration or program window stands in for keeps their image fresh.
    if (!client_.attached() ||
        !(isVisible() || config_ || programWindow_ || (runWindow_ && runWindow_->isVisible())))
        return;
    client_.requestImage(chamber_);
    const QJsonObject state = client_.state(chamber_);
    if (state.isEmpty()) return;
    const chamber::State s = chamber::stateFromJson(state);
    live_->setStale(s.stale);
    // A run started or ended by the service (for this window, another or the program): the
    // list is read again.
    const qint64 openRun = s.run ? s.run->id : 0;
    if (runs_ && openRun != openRun_) runs_->reload();
    openRun_ = openRun;
    // A record the service stored since: the chart's next tick appends it, as for a recorder
    // of this program's own.
    if (chart_ && s.recorder.recordNo != recordNo_) {
        if (recordNo_ >= 0) {
            store::Sample stored;
            stored.stale = s.stale;
            chart_->takeStoredSample(stored);
        }
        recordNo_ = s.recorder.recordNo;
    }
}

void AttachedChamberWindow::closeEvent(QCloseEvent* e) {
    if (returnAction_) {
        e->ignore();
        hide();
        returnAction_();
        return;
    }
    // The service records on: closing the window ends only this program.
    QMainWindow::closeEvent(e);
    QCoreApplication::quit();
}

void AttachedChamberWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

AttachedProgram::AttachedProgram(const QString& dataFolder, QObject* parent)
    : QObject(parent), client_(dataFolder) {
    connect(&client_, &service::ChannelClient::commandFinished, this,
            [this](quint64 id, const QString& outcome) {
                const auto it = acknowledged_.find(id);
                if (it == acknowledged_.end()) return;
                const auto done = std::move(it->second);
                acknowledged_.erase(it);
                done(chamber::outcomeOfWord(outcome));
            });
    connect(&client_, &service::ChannelClient::attachedChanged, this,
            &AttachedProgram::attachedChanged);
    connect(&client_, &service::ChannelClient::stateChanged, this, [this](const QString& name) {
        // A chamber the service added since: the overview lists it.
        if (!overview_) return;
        const auto& entries = overview_->chambers();
        const bool listed = std::any_of(entries.begin(), entries.end(),
                                        [&](const auto& e) { return e.conf.name == name; });
        if (!listed) showWindows();
    });
}

AttachedProgram::~AttachedProgram() = default;

void AttachedProgram::start() {
    client_.start();
}

AttachedChamberWindow* AttachedProgram::chamberWindow(const QString& name) const {
    const auto it = windows_.find(name);
    return it == windows_.end() ? nullptr : it->second.get();
}

void AttachedProgram::attachedChanged(bool attached) {
    if (overview_) overview_->setStatusText(attachedText(attached));
    if (attached && !shown_) showWindows();
}

void AttachedProgram::showWindows() {
    const QStringList names = client_.chambers();
    const bool firstTime = !shown_;
    shown_ = true;
    // The one chamber of a service without a list: its window at once, as the program shows it.
    if (names == QStringList{QString()}) {
        if (firstTime) showChamberWindow(QString());
        if (firstTime) emit windowsShown();
        return;
    }
    if (!overview_) {
        overview_ = std::make_unique<overview::OverviewWindow>();
        overview_->showServed(
            [this](const QString& name) -> std::optional<chamber::State> {
                const QJsonObject s = client_.state(name);
                if (s.isEmpty()) return std::nullopt;
                return chamber::stateFromJson(s);
            },
            [this](const QString& chamber, const QString& alertId, const QString& comment,
                   std::function<void(chamber::Outcome)> done) {
                const quint64 id = client_.command(
                    QStringLiteral("acknowledgeAlert"), chamber,
                    {{QStringLiteral("alert"), alertId}, {QStringLiteral("comment"), comment}});
                acknowledged_[id] = std::move(done);
            });
        overview_->setStatusText(attachedText(client_.attached()));
        // Who works through the service, under the overview's buttons.
        if (QLayout* l = overview_->layout())
            l->addWidget(new ServiceSessionBar(client_, overview_.get()));
        overview_->setExitAction([] { QCoreApplication::quit(); });
        connect(overview_.get(), &overview::OverviewWindow::openRequested, this, [this](int i) {
            const QStringList list = client_.chambers();
            if (i >= 0 && i < list.size()) showChamberWindow(list[i]);
        });
    }
    QList<overview::OverviewWindow::Entry> entries;
    for (const QString& name : names) {
        overview::ChamberConf conf;
        conf.name = name;
        entries << overview::OverviewWindow::Entry{conf, nullptr};
    }
    overview_->setChambers(entries);
    if (firstTime) {
        overview_->show();
        overview_->activateWindow();
        emit windowsShown();
    }
}

void AttachedProgram::showChamberWindow(const QString& name) {
    std::unique_ptr<AttachedChamberWindow>& w = windows_[name];
    if (!w) {
        w = std::make_unique<AttachedChamberWindow>(client_, name);
        if (!name.isEmpty())
            w->setReturnAction([this] {
                if (overview_) {
                    overview_->show();
                    overview_->activateWindow();
                }
            });
    }
    if (overview_) overview_->hide();
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace shell
