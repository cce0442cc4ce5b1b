#pragma once
// The window "试验": the form of a new run (texts and the tolerance band of each loop), its start
// and end, the choice of runs that follow the instrument's program, and the list of past runs
// with the report of the one selected, made by the chamber off the window's thread with its
// progress and a cancel. Esc closes it; the runs and a report under way go on without it.

#include <QWidget>
#include <array>
#include <functional>
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

// Where the window's runs start and end: the chamber of this program, or the service that runs
// it. Each asks for whoever is at the PC (or logged in on the service) and tells done what came of
// it: at once, or once the service answered.
class RunCommands {
  public:
    // Pending: the start or end goes on and the runs' next change shows it. why: the refusal in
    // the words of whoever decided; empty for the window's own words.
    using Done = std::function<void(chamber::Outcome outcome, const QString& why)>;
    virtual ~RunCommands() = default;
    virtual void startRun(const runs::Run& form, Done done) = 0;
    virtual void endRun(Done done) = 0;
};

class RunWindow : public QWidget {
    Q_OBJECT
  public:
    // Starts and ends runs, keeps the form and makes reports through the chamber's commands, for
    // whoever is at the PC; reads the list and the state of the runs from runs, the chamber's.
    RunWindow(chamber::Chamber& chamber, const RunControl& runs, QWidget* parent = nullptr);
    // Starts and ends runs through commands and lists them from runs, a view of the file at
    // dbPath that another program records into. The form is the window's own; the choice of
    // automatic runs and the reports stay with the program that runs the chamber.
    RunWindow(RunCommands& commands, const RunControl& runs, QString dbPath,
              QWidget* parent = nullptr);
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
    void build();
    // The form kept by the chamber, when the window has one.
    void keepForm(bool save);
    QWidget* buildForm();
    QWidget* buildList();
    void showForm(const runs::Run& draft);
    void formEdited();
    void refresh();
    // What came of a start or an end asked of the chamber: a refusal or a failure is told at once,
    // the rest by the runs' next change.
    void showOutcome(chamber::Outcome outcome, QString why);
    void updateDurations();
    void chooseReportFile();
    void reportFinished(const base::Phrase& error, bool cancelled);
    void updateSignButton();
    // "签名": the selected run's signature, asked for in a dialog and given off this thread.
    void signSelected();

    chamber::Chamber* chamber_ = nullptr;           // none when attached to the service
    std::unique_ptr<RunCommands> chamberCommands_;  // the chamber's, when it has one
    RunCommands* commands_ = nullptr;
    bool asking_ = false;  // a start or an end asked for and not yet answered
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
