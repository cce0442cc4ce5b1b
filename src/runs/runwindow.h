#pragma once
// The window "试验": the form of a new run (texts and the tolerance band of each loop), its start
// and end, the choice of runs that follow the instrument's program, and the list of past runs
// with the report of the one selected, made by the chamber off the window's thread with its
// progress and a cancel. Esc closes it; the runs and a report under way go on without it.

#include <QWidget>
#include <array>
#include <memory>

#include "auth/actor.h"
#include "chamber/commands.h"
#include "runs/runs.h"

namespace chamber {
class Chamber;
}

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace ui {
class BandEditor;
}

namespace runs {

class RunControl;

class RunWindow : public QWidget {
    Q_OBJECT
  public:
    // Starts and ends runs, keeps the form and makes reports through the chamber's commands, for
    // whoever is at the PC; reads the list and the state of the runs from runs, the chamber's.
    RunWindow(chamber::Chamber& chamber, const RunControl& runs, QWidget* parent = nullptr);
    ~RunWindow() override;

    // The form as the controls set it now.
    runs::Run form() const;
    // The run of the selected row, if any.
    std::optional<runs::Run> selectedRun() const;
    // Makes the report of the selected run into pdfPath, its data beside it as .csv ("生成报告…"
    // asks for the path first).
    void generateReport(const QString& pdfPath);
    // The user store that signs and says whether access control is on; none: no signing, and
    // reports say nothing about access control.
    void setUserStore(const QString& path) { usersPath_ = path; }
    // Hides the window ("Esc 返回").
    void leave();

    QTableWidget* table() const { return table_; }

  signals:
    void returned();

  private:
    QWidget* buildForm();
    QWidget* buildList();
    void showForm(const runs::Run& draft);
    void formEdited();
    void refresh();
    // What came of a start or an end asked of the chamber: a refusal or a failure is told at once,
    // the rest by the runs' next change.
    void showOutcome(chamber::Outcome outcome, const auth::Actor& by);
    void updateDurations();
    void chooseReportFile();
    void reportFinished(const base::Phrase& error, bool cancelled);
    void updateSignButton();
    // "签名": the selected run's signature, asked for in a dialog and given off this thread.
    void signSelected();

    chamber::Chamber& chamber_;
    const RunControl& runs_;
    QString dbPath_;
    QLineEdit* name_ = nullptr;
    QLineEdit* order_ = nullptr;
    QLineEdit* operator_ = nullptr;
    QLineEdit* station_ = nullptr;
    QLineEdit* notes_ = nullptr;
    std::array<ui::BandEditor*, 2> bands_{};
    QCheckBox* automatic_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* state_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* report_ = nullptr;
    QPushButton* sign_ = nullptr;
    QString usersPath_;
    bool signing_ = false;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* outcome_ = nullptr;
    QPushButton* return_ = nullptr;
    QTimer* clock_ = nullptr;  // the open run's duration, once a second
    quint64 job_ = 0;          // the chamber's ticket of the report under way; 0 when none is
    QString jobPdf_;
    bool showing_ = false;  // the form is being filled from the draft, not edited
};

}  // namespace runs
