#include "chart/outputdialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "auth/guard.h"
#include "base/tr.h"
#include "chart/chartprint.h"
#include "store/csvexport.h"
#include "store/exportfile.h"
#include "ui/filedialog.h"

namespace chart {

namespace {

QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption);
    return b;
}

const QString kTimeForm = QStringLiteral("yyyy-MM-dd HH:mm:ss");

}  // namespace

OutputDialog::OutputDialog(ShownChart shown, QString dbPath, QWidget* parent)
    : QDialog(parent), shown_(std::move(shown)), dbPath_(std::move(dbPath)) {
    setObjectName(QStringLiteral("OutputDialog"));
    setWindowTitle(base::Tr::tr("输出"));
    setAccessibleName(base::Tr::tr("输出"));
    auto* outer = new QVBoxLayout(this);

    auto* chartBox = new QGroupBox(base::Tr::tr("曲线"), this);
    auto* cl = new QHBoxLayout(chartBox);
    auto* printButton = makeButton(base::Tr::tr("打印(&P)…"), QStringLiteral("PrintChart"), this);
    auto* pdfButton = makeButton(base::Tr::tr("保存为 PDF(&D)…"), QStringLiteral("SavePdf"), this);
    auto* pngButton = makeButton(base::Tr::tr("保存为 PNG(&G)…"), QStringLiteral("SavePng"), this);
    // Under access control a record leaves the program only in the hands of someone logged in,
    // whom the audit trail names.
    for (QPushButton* b : {printButton, pdfButton, pngButton}) {
        cl->addWidget(b);
        auth::guard(b, auth::Action::Look);
    }
    connect(printButton, &QPushButton::clicked, this, [this] { print(); });
    connect(pdfButton, &QPushButton::clicked, this, [this] { savePdf(); });
    connect(pngButton, &QPushButton::clicked, this, [this] { savePng(); });
    outer->addWidget(chartBox);

    auto* csvBox = new QGroupBox(base::Tr::tr("导出记录 (CSV)"), this);
    auto* gl = new QGridLayout(csvBox);
    fromEdit_ = new QDateTimeEdit(csvBox);
    toEdit_ = new QDateTimeEdit(csvBox);
    fromEdit_->setObjectName(QStringLiteral("ExportFrom"));
    toEdit_->setObjectName(QStringLiteral("ExportTo"));
    fromEdit_->setAccessibleName(base::Tr::tr("导出记录 从"));
    toEdit_->setAccessibleName(base::Tr::tr("导出记录 到"));
    for (QDateTimeEdit* e : {fromEdit_, toEdit_}) {
        e->setDisplayFormat(kTimeForm);
        e->setCalendarPopup(true);
    }
    auto* fromCaption = new QLabel(base::Tr::tr("从(&F)"), csvBox);
    auto* toCaption = new QLabel(base::Tr::tr("到(&T)"), csvBox);
    fromCaption->setBuddy(fromEdit_);
    toCaption->setBuddy(toEdit_);
    allRecords_ = new QCheckBox(base::Tr::tr("全部记录(&A)"), csvBox);
    allRecords_->setObjectName(QStringLiteral("ExportAll"));
    allRecords_->setAccessibleName(base::Tr::tr("全部记录"));
    connect(allRecords_, &QCheckBox::toggled, this, [this](bool all) {
        fromEdit_->setEnabled(!all);
        toEdit_->setEnabled(!all);
    });
    exportButton_ = makeButton(base::Tr::tr("导出 CSV(&E)…"), QStringLiteral("ExportCsv"), csvBox);
    cancelButton_ =
        makeButton(base::Tr::tr("取消导出(&C)"), QStringLiteral("CancelExport"), csvBox);
    cancelButton_->setEnabled(false);
    auth::guard(exportButton_, auth::Action::Look);
    progress_ = new QProgressBar(csvBox);
    progress_->setObjectName(QStringLiteral("ExportProgress"));
    progress_->setAccessibleName(base::Tr::tr("导出进度"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportCsv(); });
    connect(cancelButton_, &QPushButton::clicked, this, &OutputDialog::cancelExport);
    gl->addWidget(fromCaption, 0, 0);
    gl->addWidget(fromEdit_, 0, 1);
    gl->addWidget(toCaption, 1, 0);
    gl->addWidget(toEdit_, 1, 1);
    gl->addWidget(allRecords_, 2, 1);
    gl->addWidget(progress_, 3, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(exportButton_);
    buttons->addWidget(cancelButton_);
    gl->addLayout(buttons, 4, 0, 1, 2);
    outer->addWidget(csvBox);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("OutputStatus"));
    status_->setAccessibleName(base::Tr::tr("输出状态"));
    status_->setWordWrap(true);
    outer->addWidget(status_);
    auto* close = makeButton(base::Tr::tr("关闭"), QStringLiteral("CloseOutput"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    outer->addWidget(close, 0, Qt::AlignRight);
    takeShownSpan();
}

void OutputDialog::takeShownSpan() {
    QDateTime from = QDateTime::currentDateTime().addSecs(-3600), to = from.addSecs(3600);
    if (const auto span = shown_.times ? shown_.times() : std::nullopt) {
        from = span->first;
        to = span->second;
    }
    fromEdit_->setDateTime(from);
    toEdit_->setDateTime(to);
}

OutputDialog::~OutputDialog() {
    // An export still running is stopped; it notices within a few thousand rows.
    if (worker_) {
        stop_->store(true);
        worker_->end();
    }
}

QString OutputDialog::statusText() const {
    return status_->text();
}

void OutputDialog::setStatus(const QString& text) {
    status_->setText(text);
}

void OutputDialog::print() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(shown_.title());
    QPrintDialog dialog(&printer, this);
    ui::namesOnly(&dialog);
    dialog.setWindowTitle(base::Tr::tr("打印曲线"));
    if (dialog.exec() != QDialog::Accepted) return;
    setStatus(printChart(printer, shown_.picture(), shown_.title()) ? base::Tr::tr("已打印")
                                                                    : base::Tr::tr("打印失败"));
}

bool OutputDialog::savePdf(const QString& file) {
    const QString path = file.isEmpty()
                             ? ui::saveFileName(this, base::Tr::tr("保存为 PDF"), QString(),
                                                base::Tr::tr("PDF 文件 (*.pdf)"))
                             : file;
    if (path.isEmpty()) return false;
    QString error;
    bool ok = false;
    if (!asked(QStringLiteral("pdf"), path, [&](const store::ExportDone& done) {
            ok = saveChartPdf(path, shown_.picture(), shown_.title(), &error);
            done(ok);
        }))
        return false;
    setStatus(ok ? base::Tr::tr("已保存 %1").arg(path) : error);
    return ok;
}

bool OutputDialog::savePng(const QString& file) {
    const QString path = file.isEmpty()
                             ? ui::saveFileName(this, base::Tr::tr("保存为 PNG"), QString(),
                                                base::Tr::tr("PNG 图片 (*.png)"))
                             : file;
    if (path.isEmpty()) return false;
    QString error;
    bool ok = false;
    if (!asked(QStringLiteral("png"), path, [&](const store::ExportDone& done) {
            ok = saveChartPng(path, shown_.picture(), shown_.title(), &error);
            done(ok);
        }))
        return false;
    setStatus(ok ? base::Tr::tr("已保存 %1").arg(path) : error);
    return ok;
}

bool OutputDialog::asked(const QString& what, const QString& path,
                         const store::ExportWrite& write) {
    if (!exporter_) {
        write([](bool) {});
        return true;
    }
    const QString no = exporter_(what, path, write);
    if (no.isEmpty()) return true;
    setStatus(base::Tr::tr("未导出：%1").arg(no));
    return false;
}

void OutputDialog::exportCsv(const QString& file) {
    if (worker_) return;
    const QString path = file.isEmpty()
                             ? ui::saveFileName(this, base::Tr::tr("导出 CSV"), QString(),
                                                base::Tr::tr("CSV 文件 (*.csv)"))
                             : file;
    if (path.isEmpty()) return;
    store::ExportRange range;
    if (!allRecords_->isChecked()) {
        range.from = fromEdit_->dateTime();
        range.to = toEdit_->dateTime();
    }
    asked(QStringLiteral("csv"), path,
          [this, range, path](const store::ExportDone& done) { startExport(range, path, done); });
}

void OutputDialog::startExport(const store::ExportRange& range, const QString& path,
                               const store::ExportDone& done) {
    stop_ = std::make_shared<std::atomic<bool>>(false);
    exportButton_->setEnabled(false);
    cancelButton_->setEnabled(true);
    progress_->setValue(0);
    setStatus(base::Tr::tr("正在导出…"));

    const QPointer<OutputDialog> self(this);
    const QString db = dbPath_;
    const auto stop = stop_;
    worker_ = std::make_unique<base::WorkerThread<QObject>>(QStringLiteral("export"));
    worker_->start();
    worker_->post([self, db, range, path, stop, done](QObject&) {
        auto report = [self](auto fn) {
            QMetaObject::invokeMethod(
                qApp,
                [self, fn] {
                    if (self) fn(self.data());
                },
                Qt::QueuedConnection);
        };
        bool ok = false;
        qint64 rows = 0;
        base::Phrase error;
        {
            store::CsvExport ex(db, base::uniqueName(QStringLiteral("velmars-export")));
            const std::optional<qint64> total = ex.open() ? ex.count(range) : std::nullopt;
            if (!total) {
                error = ex.error();
            } else {
                // A stopped, failed or full export leaves no partial file and keeps a file it
                // was to replace.
                const qint64 all = std::max<qint64>(1, *total);
                const store::ExportOutcome done = store::exportTo(path, [&](QIODevice& out,
                                                                            QString* why) {
                    const auto written = ex.write(out, range, [&](qint64 done) {
                        report([done, all](OutputDialog* d) { d->onProgress(done * 100 / all); });
                        return !stop->load();
                    });
                    // The reason goes to the window as it is; only a failed write is told apart.
                    if (!written) *why = ex.error().words;
                    return written;
                });
                ok = done.rows.has_value();
                rows = done.rows.value_or(0);
                if (!done.writeError.isEmpty())
                    error = {QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法写入 %1：%2")),
                             {path, done.writeError}};
                else if (!ok)
                    error = ex.error();
            }
        }
        // The file written is told of (the audit trail's row) also when the dialog that asked
        // has closed meanwhile.
        QMetaObject::invokeMethod(
            qApp, [done, ok] { done(ok); }, Qt::QueuedConnection);
        report(
            [ok, rows, error, path](OutputDialog* d) { d->onExportDone(ok, rows, error, path); });
    });
}

void OutputDialog::cancelExport() {
    if (stop_) stop_->store(true);
}

void OutputDialog::onProgress(qint64 percent) {
    progress_->setValue(int(std::clamp<qint64>(percent, 0, 100)));
}

void OutputDialog::onExportDone(bool ok, qint64 rows, const base::Phrase& error,
                                const QString& file) {
    worker_.reset();  // it has nothing left to do but end
    exportButton_->setEnabled(true);
    cancelButton_->setEnabled(false);
    if (ok) progress_->setValue(100);
    setStatus(ok ? base::Tr::tr("已导出 %1 条记录到 %2").arg(rows).arg(file)
                 : error.text(base::Lang::Shown));
    emit exportFinished(ok);
}

}  // namespace chart
