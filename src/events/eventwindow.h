#pragma once
// The window "事件记录": the event log newest first, filtered by kind, user and time span, live
// while it is open, with an export of what the filter passes to CSV. The audit trail's columns
// (user, old and new value, reason) show once a row has them. Every read and write of the file runs
// on the log's own thread; the window only asks and shows the answer.

#include <QHash>
#include <QVector>
#include <QWidget>

#include "events/eventlog.h"
#include "store/exportfile.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTableWidget;

namespace shell {

class EventWindow : public QWidget {
    Q_OBJECT
  public:
    explicit EventWindow(events::EventLog& log, QWidget* parent = nullptr);

    // The most rows the table shows; older ones are in the file and its export.
    static constexpr int kShownRows = 2000;

    // The filter as the controls set it now.
    events::EventFilter filter() const;
    // Reads the rows again with the current filter.
    void reload();
    // Exports what the filter passes to file (the "导出CSV" button asks for the name first),
    // through the chamber's command when one is set: it decides with the one at the PC and keeps
    // the audit row, also when this window has closed before the file is written.
    void exportTo(const QString& file);
    void setExporter(store::ExportAsk ask) { exporter_ = std::move(ask); }
    const store::ExportAsk& exporter() const { return exporter_; }
    // The accounts' full names by user id: the user column and filter show them with the ids.
    void setUserNames(const QHash<QString, QString>& names);
    // A line in the window's status (what became of a review of the audit trail).
    void showStatus(const QString& text);
    // Leaves the window ("Esc 返回").
    void leave();

    QTableWidget* table() const { return table_; }

  signals:
    void returned();
    // "审计审阅…": the audit trail of the filter's span to be reviewed (exported, maybe signed).
    void auditReviewRequested();

  private:
    bool passes(const events::EventEntry& e) const;
    void showRows(const QVector<events::EventEntry>& rows);
    void insertRow(int at, const events::EventEntry& e);
    void onLogged(const events::EventEntry& e);
    void chooseExportFile();
    // Adds the row's user to the user filter's list, and the audit columns and kind once a row
    // has them.
    void see(const events::EventEntry& e);
    // The user as the window shows them: the full name and the id.
    QString userText(const QString& userId) const;

    events::EventLog& log_;
    QComboBox* kind_ = nullptr;
    QComboBox* user_ = nullptr;
    QCheckBox* span_ = nullptr;
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* review_ = nullptr;
    QPushButton* return_ = nullptr;
    QLabel* status_ = nullptr;
    quint64 pendingLoad_ = 0;
    quint64 pendingExport_ = 0;
    QVector<events::EventEntry> arrivedWhileLoading_;
    bool audited_ = false;  // the audit columns show
    QHash<QString, QString> names_;
    store::ExportAsk exporter_;
};

}  // namespace shell
