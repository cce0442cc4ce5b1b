#pragma once
// "输出": what "F3 打印" opens. Prints the chart or saves it as PDF or PNG as the operator sees it
// now, and exports a span of records to CSV (by default the span the chart shows) with a progress
// bar and a cancel button. The export runs on a thread of its own over its own read-only
// connection, so neither the window nor the recorder waits for it.

#include <QDateTime>
#include <QDialog>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "base/tr.h"
#include "base/workerthread.h"
#include "chart/chartprint.h"
#include "store/csvexport.h"
#include "store/exportfile.h"

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QProgressBar;
class QPushButton;

namespace chart {

// The chart as it is shown at the moment of output: its page, its title line, and the span of
// time it shows (nullopt: none).
struct ShownChart {
    std::function<ChartPicture()> picture;
    std::function<QString()> title;
    std::function<std::optional<std::pair<QDateTime, QDateTime>>()> times;
};

class OutputDialog : public QDialog {
    Q_OBJECT
  public:
    // dbPath is the store to export from.
    OutputDialog(ShownChart shown, QString dbPath, QWidget* parent = nullptr);
    ~OutputDialog() override;

    // The export's span set to what the chart shows now; without anything shown, the last hour.
    void takeShownSpan();

    // The actions, callable directly (tests): each asks for a file only when given none.
    void print();
    bool savePdf(const QString& file = {});
    bool savePng(const QString& file = {});
    void exportCsv(const QString& file = {});
    void cancelExport();

    // The chamber's command the saved files and exports go through: it decides with the one at
    // the PC and keeps the audit row of each file written. None: files are written unaudited.
    void setExporter(store::ExportAsk ask) { exporter_ = std::move(ask); }

    bool exporting() const { return worker_ != nullptr; }
    QString statusText() const;

  signals:
    void exportFinished(bool ok);

  private:
    void setStatus(const QString& text);
    void onProgress(qint64 done);
    void onExportDone(bool ok, qint64 rows, const base::Phrase& error, const QString& file);
    // The CSV export of range into path on the export's thread; done once it has ended.
    void startExport(const store::ExportRange& range, const QString& path,
                     const store::ExportDone& done);
    // Runs write through the exporter; false, with the refusal shown, when it refused.
    bool asked(const QString& what, const QString& path, const store::ExportWrite& write);

    ShownChart shown_;
    QString dbPath_;
    QLabel* status_ = nullptr;
    QDateTimeEdit* fromEdit_ = nullptr;
    QDateTimeEdit* toEdit_ = nullptr;
    QCheckBox* allRecords_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::unique_ptr<base::WorkerThread<QObject>> worker_;  // while an export runs
    std::shared_ptr<std::atomic<bool>> stop_;
    store::ExportAsk exporter_;
};

}  // namespace chart
