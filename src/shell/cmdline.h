#pragma once
// The command line: additions for practical use; the operator's work stays on screen.

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace shell {

struct Options {
    bool simulate = false;
    QMap<int, QString> ports;  // --port N=DEVICE
    QString db;                // --db PATH, empty for the default
    bool connect = false;
    std::optional<double> quitAfter;  // seconds
    QString screenshot;
    bool help = false;
    double clockSpeed = 1.0;  // --clock-speed F: the clock runs F times faster (tests, demos)
    // --forward URL, --station NAME: unset keeps what the settings file says; an empty URL turns
    // forwarding off.
    std::optional<QString> forward;
    std::optional<QString> station;
};

struct ParseResult {
    std::optional<Options> options;  // set when the line was understood
    QString error;                   // one line for stderr otherwise
};

// Parses the arguments after the program name.
ParseResult parseCommandLine(const QStringList& args);

QString usageText();

}  // namespace shell
