#include "runs/runwindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "auth/guard.h"
#include "auth/reason.h"
#include "base/tr.h"
#include "chamber/chamber.h"
#include "report/analysis.h"
#include "report/report.h"
#include "report/signatures.h"
#include "runs/runcontrol.h"
#include "ui/bandeditor.h"
#include "ui/filedialog.h"
#include "ui/keys.h"
#include "ui/signdialog.h"
#include "ui/widgets.h"

namespace runs {

namespace {

QString timeText(int64_t secs) {
    return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// As long as the report says the run lasts.
QString durationText(int64_t from, int64_t to) {
    return report::durationText(report::spanDuration(from, to));
}

QLineEdit* textField(const QString& name, const QString& accessible) {
    auto* e = new QLineEdit;
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    return e;
}

QLabel* buddyLabel(const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

// The chamber's own commands, for whoever is at the PC.
class ChamberRunCommands : public RunCommands {
  public:
    explicit ChamberRunCommands(chamber::Chamber& chamber) : chamber_(chamber) {}
    void startRun(const runs::Run& form, Done done) override {
        const auth::Actor by = auth::actorAtThePc();
        tell(chamber_.startRun(form, by).outcome, by, done);
    }
    void endRun(Done done) override {
        const auth::Actor by = auth::actorAtThePc();
        tell(chamber_.endRun(by).outcome, by, done);
    }

  private:
    static void tell(chamber::Outcome outcome, const auth::Actor& by, const Done& done) {
        done(outcome, outcome == chamber::Outcome::Refused
                          ? auth::denialText(auth::denial(by, auth::Action::StartEndRun),
                                             auth::Action::StartEndRun, base::Lang::Shown)
                          : QString());
    }
    chamber::Chamber& chamber_;
};

}  // namespace

RunWindow::RunWindow(chamber::Chamber& chamber, const RunControl& runs, QWidget* parent)
    : QWidget(parent),
      chamber_(&chamber),
      chamberCommands_(std::make_unique<ChamberRunCommands>(chamber)),
      commands_(chamberCommands_.get()),
      runs_(runs),
      dbPath_(chamber.databasePath()) {
    build();
}

RunWindow::RunWindow(RunCommands& commands, const RunControl& runs, QString dbPath, QWidget* parent)
    : QWidget(parent), commands_(&commands), runs_(runs), dbPath_(std::move(dbPath)) {
    build();
}

void RunWindow::keepForm(bool save) {
    if (chamber_) chamber_->keepRunForm(form(), save);
}

void RunWindow::build() {
    setObjectName(QStringLiteral("RunWindow"));
    setWindowTitle(base::Tr::tr("试验"));
    setAccessibleName(base::Tr::tr("试验"));
    ui::pressFocusedButtonOnEnter();

    return_ = ui::commandButton(base::Tr::tr(" Esc 返回"), QStringLiteral("RunReturn"));
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(buildForm());
    lay->addWidget(buildList(), 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(return_);
    lay->addLayout(bottom);

    QList<QWidget*> order{name_, order_, operator_, station_, notes_};
    for (const ui::BandEditor* b : bands_)
        order << b->focusOrder();
    order << automatic_ << start_ << stop_ << table_ << report_ << sign_ << cancel_ << return_;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    showForm(runs_.draft());
    for (QLineEdit* e : {name_, order_, operator_, station_, notes_})
        connect(e, &QLineEdit::textEdited, this, &RunWindow::formEdited);
    for (ui::BandEditor* b : bands_)
        connect(b, &ui::BandEditor::changed, this, &RunWindow::formEdited);
    connect(automatic_, &QCheckBox::toggled, this, [this](bool on) {
        if (showing_ || on == runs_.automatic() || !chamber_) return;
        const auth::Actor by = auth::actorAtThePc();
        const chamber::Outcome o = chamber_->setAutomaticRuns(on, by);
        if (o == chamber::Outcome::Done) return;
        const QSignalBlocker quiet(automatic_);
        automatic_->setChecked(runs_.automatic());
        showOutcome(o, o == chamber::Outcome::Refused
                           ? auth::denialText(auth::denial(by, auth::Action::StartEndRun),
                                              auth::Action::StartEndRun, base::Lang::Shown)
                           : QString());
    });
    // The answer may come after the window has gone (the service's), or before the call returns.
    const QPointer<RunWindow> self(this);
    const auto answered = [self](chamber::Outcome outcome, const QString& why) {
        if (!self) return;
        self->asking_ = false;
        self->refresh();
        self->showOutcome(outcome, why);
    };
    connect(start_, &QPushButton::clicked, this, [this, answered] {
        keepForm(/*save=*/true);
        asking_ = true;
        refresh();
        commands_->startRun(form(), answered);
    });
    connect(stop_, &QPushButton::clicked, this, [this, answered] {
        asking_ = true;
        refresh();
        commands_->endRun(answered);
    });
    connect(report_, &QPushButton::clicked, this, &RunWindow::chooseReportFile);
    if (chamber_) {
        connect(cancel_, &QPushButton::clicked, this, [this] {
            if (job_) chamber_->cancelReport(job_);
        });
        connect(chamber_, &chamber::Chamber::reportProgress, this, [this](quint64 id, int percent) {
            if (id == job_) progress_->setValue(percent);
        });
        connect(chamber_, &chamber::Chamber::reportFinished, this,
                [this](quint64 id, const base::Phrase& why, bool cancelled) {
                    if (id == job_) reportFinished(why, cancelled);
                });
    } else {
        // The reports and the automatic runs are the service's to make and to choose.
        automatic_->setEnabled(false);
        report_->setVisible(false);
    }
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        report_->setEnabled(!job_ && selectedRun().has_value());
        updateSignButton();
    });
    connect(sign_, &QPushButton::clicked, this, &RunWindow::signSelected);
    connect(return_, &QPushButton::clicked, this, &RunWindow::leave);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &RunWindow::leave);
    connect(&runs_, &RunControl::changed, this, &RunWindow::refresh);
    connect(&runs_, &RunControl::draftChanged, this, [this] { showForm(runs_.draft()); });

    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, &RunWindow::updateDurations);
    clock_->start();
    refresh();
}

RunWindow::~RunWindow() = default;

QWidget* RunWindow::buildForm() {
    auto* box = new QGroupBox(base::Tr::tr("新试验"));
    box->setObjectName(QStringLiteral("RunForm"));
    auto* grid = new QGridLayout(box);
    name_ = textField(QStringLiteral("RunName"), base::Tr::tr("试验名称"));
    order_ = textField(QStringLiteral("RunOrder"), base::Tr::tr("委托单号/样品编号"));
    operator_ = textField(QStringLiteral("RunOperator"), base::Tr::tr("操作员"));
    station_ = textField(QStringLiteral("RunStation"), base::Tr::tr("工作站"));
    notes_ = textField(QStringLiteral("RunNotes"), base::Tr::tr("备注"));
    // Left empty, a run names the host, the device and the address of its chamber.
    station_->setPlaceholderText(base::Tr::tr("主机:端口:地址"));
    grid->addWidget(buddyLabel(base::Tr::tr("试验名称"), name_), 0, 0);
    grid->addWidget(name_, 0, 1);
    grid->addWidget(buddyLabel(base::Tr::tr("委托单号/样品编号"), order_), 0, 2);
    grid->addWidget(order_, 0, 3);
    grid->addWidget(buddyLabel(base::Tr::tr("操作员"), operator_), 1, 0);
    grid->addWidget(operator_, 1, 1);
    grid->addWidget(buddyLabel(base::Tr::tr("工作站"), station_), 1, 2);
    grid->addWidget(station_, 1, 3);
    grid->addWidget(buddyLabel(base::Tr::tr("备注"), notes_), 2, 0);
    grid->addWidget(notes_, 2, 1, 1, 3);

    for (int k = 0; k < 2; ++k) {
        const QString pv = QStringLiteral("PV%1").arg(k + 1);
        const QString sv = QStringLiteral("SV%1").arg(k + 1);
        ui::BandEditor::Look look;
        look.names = QStringLiteral("RunBand%1_") + QString::number(k);
        look.pv = pv;
        look.sv = sv;
        look.widthName = base::Tr::tr("%1 允差").arg(pv);
        bands_[k] = new ui::BandEditor(look);
        auto* row = new QHBoxLayout;
        row->addWidget(bands_[k]);
        row->addStretch(1);
        grid->addWidget(buddyLabel(base::Tr::tr("%1 允差").arg(pv), bands_[k]->chooser()), 3 + k,
                        0);
        grid->addLayout(row, 3 + k, 1, 1, 3);
    }

    automatic_ = new QCheckBox(base::Tr::tr("程序运行时自动开始，停止时自动结束"));
    automatic_->setObjectName(QStringLiteral("RunAutomatic"));
    automatic_->setAccessibleName(base::Tr::tr("程序运行时自动开始，停止时自动结束"));
    start_ = ui::commandButton(base::Tr::tr("开始试验"), QStringLiteral("RunStart"));
    stop_ = ui::commandButton(base::Tr::tr("结束试验"), QStringLiteral("RunStop"));
    auth::guard(automatic_, auth::Action::StartEndRun);
    auth::guard(start_, auth::Action::StartEndRun);
    auth::guard(stop_, auth::Action::StartEndRun);
    state_ = ui::valueLabel(QStringLiteral("RunState"), base::Tr::tr("试验状态"));
    state_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A long run name is cut at the window's edge (the whole line is its tip), not a wider window.
    state_->setSizePolicy(QSizePolicy::Ignored, state_->sizePolicy().verticalPolicy());
    grid->addWidget(automatic_, 5, 0, 1, 4);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addWidget(state_, 1);
    grid->addLayout(buttons, 6, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return box;
}

QWidget* RunWindow::buildList() {
    auto* box = new QGroupBox(base::Tr::tr("试验记录"));
    box->setObjectName(QStringLiteral("RunList"));
    table_ = new QTableWidget(0, 5);
    table_->setObjectName(QStringLiteral("RunTable"));
    table_->setAccessibleName(base::Tr::tr("试验列表"));
    table_->setHorizontalHeaderLabels({base::Tr::tr("试验名称"), base::Tr::tr("委托单号"),
                                       base::Tr::tr("开始"), base::Tr::tr("结束"),
                                       base::Tr::tr("时长")});
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setTabKeyNavigation(false);
    table_->setCornerButtonEnabled(false);

    report_ = ui::commandButton(base::Tr::tr("生成报告…"), QStringLiteral("RunReport"));
    // A report leaves the program only in the hands of someone logged in (under access control).
    auth::guard(report_, auth::Action::Look);
    sign_ = ui::commandButton(base::Tr::tr("签名"), QStringLiteral("RunSign"));
    sign_->setVisible(false);
    auth::guard(sign_, auth::Action::SignReport);
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("RunProgress"));
    progress_->setAccessibleName(base::Tr::tr("报告进度"));
    progress_->setRange(0, 100);
    progress_->setVisible(false);
    cancel_ = ui::commandButton(base::Tr::tr("取消"), QStringLiteral("RunCancel"));
    cancel_->setVisible(false);
    outcome_ = ui::valueLabel(QStringLiteral("RunOutcome"), base::Tr::tr("报告结果"));
    outcome_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    outcome_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outcome_->setSizePolicy(QSizePolicy::Ignored, outcome_->sizePolicy().verticalPolicy());

    auto* lay = new QVBoxLayout(box);
    lay->addWidget(table_, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(report_);
    row->addWidget(sign_);
    row->addWidget(progress_);
    row->addWidget(cancel_);
    row->addWidget(outcome_, 1);
    lay->addLayout(row);
    return box;
}

void RunWindow::showForm(const runs::Run& draft) {
    showing_ = true;
    name_->setText(draft.name);
    order_->setText(draft.orderId);
    operator_->setText(draft.operatorName);
    station_->setText(draft.station);
    notes_->setText(draft.notes);
    bands_[0]->setBand(draft.band1);
    bands_[1]->setBand(draft.band2);
    automatic_->setChecked(runs_.automatic());
    showing_ = false;
    formEdited();
}

runs::Run RunWindow::form() const {
    runs::Run r;
    r.name = name_->text().trimmed();
    r.orderId = order_->text().trimmed();
    r.operatorName = operator_->text().trimmed();
    r.station = station_->text().trimmed();
    r.notes = notes_->text().trimmed();
    for (int k = 0; k < 2; ++k) {
        instrument::ToleranceBand& band = k == 0 ? r.band1 : r.band2;
        bands_[k]->readInto(&band);
        // Limits typed the wrong way round still mean the span between them.
        if (band.low > band.high) std::swap(band.low, band.high);
    }
    return r;
}

void RunWindow::formEdited() {
    // The automatic runs take the form as it is.
    if (!showing_) keepForm(/*save=*/false);
}

std::optional<runs::Run> RunWindow::selectedRun() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    if (items.isEmpty()) return std::nullopt;
    const int64_t id = table_->item(items.front()->row(), 0)->data(Qt::UserRole).toLongLong();
    for (const runs::Run& r : runs_.runs())
        if (r.id == id) return r;
    return std::nullopt;
}

void RunWindow::showOutcome(chamber::Outcome outcome, QString why) {
    switch (outcome) {
        case chamber::Outcome::Refused:
            break;
        case chamber::Outcome::NotRecording:
            // The service says so in its own words.
            if (chamber_ || why.isEmpty())
                why = base::Tr::tr("数据库由另一个程序记录，不能开始试验");
            break;
        case chamber::Outcome::NotFound:
            why = base::Tr::tr("无进行中的试验");
            break;
        case chamber::Outcome::Failed:
            // The runs' own error, where they have one, is what refresh() shows.
            if (!runs_.lastError().isEmpty()) return;
            if (why.isEmpty()) why = base::Tr::tr("试验尚未就绪");
            break;
        case chamber::Outcome::Done:
        case chamber::Outcome::Pending:
            return;
        default:
            // What the service answered that the chamber here never does (not attached, ...).
            if (why.isEmpty()) return;
            break;
    }
    state_->setText(base::Tr::tr("未完成：%1").arg(why));
    state_->setToolTip(state_->text());
}

void RunWindow::refresh() {
    const auto& open = runs_.openRun();
    // Attached, the runs are read from another program's file and started there.
    const bool readOnlyHere = chamber_ && runs_.readOnly();
    const bool ready = runs_.loaded() && !runs_.busy() && !readOnlyHere && !asking_;
    start_->setEnabled(ready && !open);
    stop_->setEnabled(ready && open.has_value());
    QString state;
    if (!runs_.lastError().isEmpty())
        state = base::Tr::tr("未完成：%1").arg(runs_.lastError().text(base::Lang::Shown));
    else if (runs_.busy() || asking_)
        state = base::Tr::tr("处理中…");
    else if (open)
        state = base::Tr::tr("进行中：%1（开始于 %2）").arg(open->name, timeText(open->start));
    else if (readOnlyHere)
        state = base::Tr::tr("数据库由另一个程序记录，不能开始试验");
    else
        state = base::Tr::tr("无进行中的试验");
    state_->setText(state);
    state_->setToolTip(state);

    // The rows again, the selection kept on its run.
    const std::optional<runs::Run> selected = selectedRun();
    table_->setUpdatesEnabled(false);
    table_->clearSelection();
    table_->setRowCount(static_cast<int>(runs_.runs().size()));
    int row = 0;
    for (const runs::Run& r : runs_.runs()) {
        const QStringList cells{r.name, r.orderId, timeText(r.start),
                                r.end ? timeText(*r.end) : base::Tr::tr("进行中"),
                                durationText(r.start, r.end.value_or(runs_.now()))};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 0) item->setData(Qt::UserRole, qlonglong(r.id));
            table_->setItem(row, c, item);
        }
        if (selected && selected->id == r.id) table_->selectRow(row);
        ++row;
    }
    table_->setUpdatesEnabled(true);
    report_->setEnabled(!job_ && selectedRun().has_value());
    updateSignButton();
}

void RunWindow::updateSignButton() {
    // Signatures are given only where accounts say who signs.
    const auth::Guard* guard = auth::Guard::instance();
    sign_->setVisible(!usersPath_.isEmpty() && guard && guard->standing().controlled);
    const std::optional<runs::Run> run = selectedRun();
    sign_->setEnabled(!signing_ && run && run->end.has_value());
}

void RunWindow::signSelected() {
    const std::optional<runs::Run> run = selectedRun();
    if (!run || signing_) return;
    const report::ReportRequest request = reportRequest(*run, dbPath_, runs_.now());
    const bool ended = run->end.has_value();
    auto* dialog = new ui::SignDialog(
        base::Tr::tr("试验：%1").arg(run->name),
        [this, request, ended](const QString& user, const QString& password, int meaning,
                               const ui::SignDialog::Done& done) {
            signing_ = true;
            updateSignButton();
            report::signLater(
                this, usersPath_,
                {user, password, report::Meaning(meaning), request.signatureSubject, ended,
                 request.to},
                request.dbPath,
                [request](QString* error) { return report::dataDigest(request, error); },
                [this, done](const report::SignOutcome& o) {
                    signing_ = false;
                    updateSignButton();
                    if (o.status == 0) outcome_->setText(base::Tr::tr("已签名"));
                    done(o.why);
                });
        },
        this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void RunWindow::updateDurations() {
    if (!isVisible()) return;
    updateSignButton();
    int row = 0;
    for (const runs::Run& r : runs_.runs()) {
        if (!r.end && row < table_->rowCount())
            if (QTableWidgetItem* item = table_->item(row, 4))
                item->setText(durationText(r.start, runs_.now()));
        ++row;
    }
}

void RunWindow::chooseReportFile() {
    const std::optional<runs::Run> run = selectedRun();
    if (!run) return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString file =
        ui::saveFileName(this, ui::chamberTitle(base::Tr::tr("生成报告"), this),
                         defaultReportPath(*run, folder), base::Tr::tr("PDF 文件 (*.pdf)"));
    if (!file.isEmpty()) generateReport(file);
}

void RunWindow::generateReport(const QString& pdfPath) {
    const std::optional<runs::Run> run = selectedRun();
    if (!run || job_) return;
    report::ReportRequest request = reportRequest(*run, dbPath_, runs_.now());
    request.usersPath = usersPath_;
    request.pdfPath = pdfPath;
    const QFileInfo pdf(pdfPath);
    request.csvPath = pdf.dir().filePath(pdf.completeBaseName() + QStringLiteral(".csv"));
    // The chamber makes the report and keeps its row in the audit trail, also when this window
    // is gone by the time it is written.
    const auth::Actor by = auth::actorAtThePc();
    if (!chamber_) return;
    const chamber::Ticket ticket = chamber_->makeReport(request, by);
    if (ticket.outcome != chamber::Outcome::Pending) {
        const QString why = ticket.outcome == chamber::Outcome::Refused
                                ? auth::denialText(auth::denial(by, auth::Action::Look),
                                                   auth::Action::Look, base::Lang::Shown)
                                : base::Tr::tr("试验尚未就绪");
        outcome_->setText(base::Tr::tr("报告未生成：%1").arg(why));
        outcome_->setToolTip(outcome_->text());
        return;
    }
    job_ = ticket.id;
    jobPdf_ = pdfPath;
    progress_->setValue(0);
    progress_->setVisible(true);
    cancel_->setVisible(true);
    report_->setEnabled(false);
    outcome_->setText(base::Tr::tr("正在生成报告…"));
    cancel_->setFocus();
}

void RunWindow::reportFinished(const base::Phrase& error, bool cancelled) {
    const bool hadFocus = cancel_->hasFocus();
    progress_->setVisible(false);
    cancel_->setVisible(false);
    if (cancelled)
        outcome_->setText(base::Tr::tr("报告已取消"));
    else if (error.isEmpty()) {
        outcome_->setText(base::Tr::tr("报告已生成：%1").arg(jobPdf_));
    } else
        outcome_->setText(base::Tr::tr("报告未生成：%1").arg(error.text(base::Lang::Shown)));
    outcome_->setToolTip(outcome_->text());
    job_ = 0;
    report_->setEnabled(selectedRun().has_value());
    if (hadFocus) report_->setFocus();
}

void RunWindow::leave() {
    keepForm(/*save=*/true);
    hide();
    emit returned();
}

}  // namespace runs
