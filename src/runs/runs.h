#pragma once
// Test runs (试验): a named stretch of the archive from a start to an end, with what the report
// needs to say about it (order, operator, notes, station, chamber) and the tolerance band of each
// loop. Kept in the table `runs` of the sample database; retention never removes a run. At most
// one run is open (no end yet); an open run stays open across a restart of the program.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/tr.h"
#include "instrument/band.h"
#include "store/database.h"

namespace runs {

struct Run {
    int64_t id = 0;  // row number once stored
    QString name, orderId, operatorName, notes, station;
    QString port;                // the chamber's port as the operator named it ("1: /dev/ttyUSB0")
    int address = 1;             // the instrument's slave address
    int64_t start = 0;           // UTC seconds since 1970
    std::optional<int64_t> end;  // UTC seconds; none while the run is open
    bool automatic = false;      // started by the instrument's program going to running
    instrument::ToleranceBand band1{false, 2.0}, band2{false, 5.0};
    bool operator==(const Run&) const = default;
};

class RunStore {
  public:
    RunStore(QString path, QString connectionName);
    ~RunStore();
    RunStore(const RunStore&) = delete;
    RunStore& operator=(const RunStore&) = delete;

    // Opens the file and makes the runs table where it is missing (not when readOnly: a file
    // without one then simply has no runs). False with lastError() in the sample store's words.
    bool open(bool readOnly = false);
    // Whether the file at path holds the recorder's samples table: runs are written only beside
    // it, never into a file of another program. Reads the file only.
    static bool besideSamples(const QString& path, const QString& connectionName);
    void close();
    QString lastError() const { return failure().text(base::Lang::Stored); }
    // The same with its values, to be put into words where shown.
    base::Phrase failure() const {
        return refusal_.isEmpty() ? base::Phrase{db_.lastError()} : refusal_;
    }

    // Stores a new open run (run.end is ignored) and sets run.id. Refused while another is open,
    // and when another run has the same name, unless makeNameUnique: then the name gets the first
    // free " (2)", " (3)"... and run.name says which.
    bool start(Run& run, bool makeNameUnique = false);
    // Ends the open run at `end`; false when none is open.
    bool stop(int64_t end);
    // Removes the run of that id; refused for an open run and for a signed one, which stays as
    // it was signed.
    bool remove(int64_t id);
    // The open run, if any; nullopt also on a read error (lastError() then says so).
    std::optional<Run> openRun();
    // Every run, newest start first; empty on a read error.
    std::vector<Run> list();
    // The run of that name. Files written before names were unique may hold several: then none,
    // and lastError() says how many there are.
    std::optional<Run> find(const QString& name);

  private:
    // A request refused for what the runs hold rather than for the file; false.
    bool refuse(base::Phrase why);
    bool ready();
    bool nameInUse(const QString& name, bool* inUse);
    // Whether the run may change: refused (false) when it has a signature.
    bool mayChange(int64_t id);
    std::vector<Run> select(const QString& where, const QString& value, int limit);
    store::Database db_;
    bool hasTable_ = false;
    base::Phrase refusal_;
};

}  // namespace runs
