#pragma once
// What the recorder and the main window's chart share: the time of the latest stored sample and the
// flag that tells the chart a new record exists.

namespace record {

struct RecorderHandshake {
    double RecordTime = 0;  // time of day of the latest stored sample (fraction of a day)
    double RecordDate = 0;  // date of the latest stored sample (whole days since 1899-12-30)
    bool RecordingEnabled = false;  // the main window is up and wants to hear about new records
    bool RecordAdded = false;       // set by the recorder, read and cleared by the chart
};

}  // namespace record
