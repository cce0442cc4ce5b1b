#pragma once
// The test runs (试验) of a running program: starts and ends them for the operator or, when asked,
// as the instrument's program goes to running and to stopped or ended. The runs table is read and
// written on a thread of its own; the window's thread only asks and takes the answers. Starting
// or ending a run writes nothing to the instrument; it gives the alerts the run's bands and puts a
// line in the event log.

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/audit.h"
#include "base/workerthread.h"
#include "instrument/programstate.h"
#include "report/report.h"
#include "runs/runs.h"
#include "store/clock.h"

namespace alert {
class Alerter;
}
namespace comm {
class Link;
struct InstrumentImage;
}  // namespace comm
namespace events {
class EventLog;
}

namespace runs {

// What a change of the instrument's program state does to the automatic run: running starts one,
// stopped or ended ends it; a pause or a state the instrument does not document (nullopt) changes
// nothing.
enum class AutoStep { None, Start, Stop };
AutoStep autoStep(std::optional<instrument::ProgramState> before,
                  std::optional<instrument::ProgramState> after);

// The name of a run whose form has none: "试验 yyyy-MM-dd HH:mm" (the runs table adds " (2)"...
// when the minute has a run of that name already).
QString automaticRunName(const QDateTime& start);

// The station of a run whose form names none: the host, the device the chamber's port names (or
// its number when it names none) and the slave address, "host:/dev/ttyUSB0:1". port is the port
// as the chamber names it, "3: /dev/ttyUSB0".
QString stationOf(const QString& host, const QString& port, int address);
// Whether a station kept in the settings file was made by an earlier version of the program from
// the port it started with (stationOf's form with this host) rather than typed by the operator.
bool isMadeStation(const QString& station, const QString& host);

// The report's default file: "<name>-<start date>.pdf" in folder, the name made safe for a file
// name (separators and characters file systems refuse become "_").
QString defaultReportPath(const runs::Run& run, const QString& folder);
// The report of a run from dbPath: its span (up to now while it is open), its texts and bands.
report::ReportRequest reportRequest(const runs::Run& run, const QString& dbPath, int64_t now);

// The runs table as the worker last read it.
struct RunsState {
    std::optional<runs::Run> open;
    std::vector<runs::Run> runs;  // newest first
};

// Runs on the control's thread. Public for its signals; windows use RunControl.
class RunWorker : public QObject {
    Q_OBJECT
  public:
    RunWorker(QString path, QString connectionName);

    // Which request an answer is to.
    enum class Kind { Read, Started, Stopped };
    Q_ENUM(Kind)

    // Posted by the control, run here in order.
    void open(bool readOnly);
    void start(const runs::Run& run, bool makeNameUnique);
    void stop(qint64 end);
    void close();

  signals:
    // After every request: the table as it is now, the request's error (empty when it went
    // through) and which request it was.
    void stateReady(const runs::RunsState& state, const base::Phrase& error,
                    runs::RunWorker::Kind kind);

  private:
    void report(const base::Phrase& error, Kind kind);
    // Opens the file for reading, or for writing when write, unless it is so already.
    bool ensureOpen(bool write);

    QString path_, connectionName_;
    runs::RunStore store_;
    base::Phrase error_;  // why the file could not be opened
    bool open_ = false, writable_ = false, readOnly_ = false;
};

class RunControl : public QObject {
    Q_OBJECT
  public:
    RunControl(QString dbPath, const store::Clock& clock, QObject* parent = nullptr);
    ~RunControl() override;  // ends the worker's thread (bounded wait)

    // Starts the worker, which opens the runs table and reads the open run and the list.
    // readOnly: another program records into the file; runs are listed, not started.
    void start(bool readOnly = false);
    bool readOnly() const { return readOnly_; }
    // Reads the open run and the list again (changed() follows): another program changed them.
    void reload();

    // The chamber a new run is made on: its port as the operator names it and the slave address.
    void setChamber(std::function<std::pair<QString, int>()> chamber) {
        chamber_ = std::move(chamber);
    }
    // The station of a run whose form leaves it empty, from the chamber's port and address as the
    // run starts; without one such a run names no station.
    void setDefaultStation(std::function<QString(const QString& port, int address)> station) {
        defaultStation_ = std::move(station);
    }
    void setEventLog(events::EventLog* log) { log_ = log; }
    // Gets the open run's bands now and with every change of the open run.
    void setAlerter(alert::Alerter* alerter);
    // Follows the program state of the link's images.
    void watch(comm::Link& link);
    void imageSeen(const comm::InstrumentImage& image);

    // The form's texts and bands, for the runs started automatically; kept in the settings file
    // (with the choice of automatic runs) by saveSettings(). Once a run has started, its name,
    // order, operator and notes leave the form (draftChanged), so the next run does not take them
    // unseen; the station and the bands stay.
    const runs::Run& draft() const { return draft_; }
    void setDraft(const runs::Run& draft) { draft_ = draft; }
    bool automatic() const { return automatic_; }
    void setAutomatic(bool on) { automatic_ = on; }
    // The settings file the form is kept in, opened anew for each read or write; without one the
    // form is kept nowhere.
    void setSettingsFile(std::function<std::unique_ptr<QSettings>()> open) {
        settingsFile_ = std::move(open);
    }
    // The form from the settings file.
    void loadSettings();
    void saveSettings() const;

    // Known once the worker has answered.
    bool loaded() const { return loaded_; }
    const std::optional<runs::Run>& openRun() const { return state_.open; }
    const std::vector<runs::Run>& runs() const { return state_.runs; }
    // A start or an end handed to the worker and not yet answered.
    bool busy() const { return pending_ > 0; }
    // The program's clock in UTC seconds.
    int64_t now() const { return clock_.now().toSecsSinceEpoch(); }
    // Why the last request failed; empty when it went through.
    const base::Phrase& lastError() const { return lastError_; }

    // A new run from the form, started now on the current chamber. The answer comes with changed().
    // by: who asks (the user its row names), or the refusal, and then nothing is done. Returns the
    // request's number, which answered() brings back; 0 when nothing was handed over.
    quint64 startRun(runs::Run form, bool automatic = false, const base::Audit& by = {});
    // Ends the open run now.
    quint64 stopRun(const base::Audit& by = {});

  signals:
    // The open run, the list, busy() or lastError() changed.
    void changed();
    // The draft was changed here (cleared after a start), not by the window.
    void draftChanged();
    // The worker answered request: done, or not with lastError() saying why.
    void answered(quint64 request, bool done);

  private:
    void onState(const RunsState& state, const base::Phrase& error, RunWorker::Kind kind);
    void applyBands();
    // The row names who asked, with the reason they gave.
    void logLine(const QString& code, const QString& name, const base::Audit& by);
    // False, with the refusal as the last error, when by is one.
    bool allowed(const base::Audit& by);

    QString path_;
    const store::Clock& clock_;
    base::WorkerThread<RunWorker> thread_;
    bool started_ = false, readOnly_ = false, loaded_ = false;
    std::function<std::pair<QString, int>()> chamber_;
    std::function<QString(const QString&, int)> defaultStation_;
    std::function<std::unique_ptr<QSettings>()> settingsFile_;
    events::EventLog* log_ = nullptr;
    QPointer<alert::Alerter> alerter_;
    // The program state last seen; the outer nullopt until one was seen.
    std::optional<std::optional<instrument::ProgramState>> programState_;
    runs::Run draft_;
    std::vector<runs::Run> sent_;  // the forms of the starts not yet answered, in order
    std::vector<base::Audit> startedBy_,
        stoppedBy_;                            // who asked, of the starts and ends not answered
    std::vector<quint64> startIds_, stopIds_;  // their request numbers
    quint64 nextRequest_ = 1;
    bool automatic_ = false;
    RunsState state_;
    int pending_ = 0;
    base::Phrase lastError_;
};

}  // namespace runs

Q_DECLARE_METATYPE(runs::RunsState)
Q_DECLARE_METATYPE(runs::Run)
