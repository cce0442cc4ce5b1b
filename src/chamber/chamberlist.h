#pragma once
// The chambers a laboratory runs from one program: each a name, a port number, a slave address
// and the line's baud rate and parity; read from the command line or the settings file, checked
// as a whole before anything is kept.

#include <QList>
#include <QMap>
#include <QSettings>
#include <QString>
#include <optional>

#include "auth/roles.h"
#include "comm/commparams.h"

namespace chamber {

// The highest slave address a chamber of the list may have: what the instrument takes.
inline constexpr int kMaxAddress = 247;

struct ChamberConf {
    QString name;         // letters, digits, '-' and '_'; names the settings file and the database
    int port = 1;         // 1..20
    int address = 1;      // slave address 1..kMaxAddress
    int baud = 9600;      // 4800, 9600 or 19200
    QChar parity = u'N';  // N, O or E

    bool operator==(const ChamberConf&) const = default;
    // The settings the chamber's link opens with.
    comm::PortSettings portSettings() const;
    // Takes the port, address, baud and parity of a link's settings (an index outside 0..2 gives
    // a baud or parity the list refuses).
    void setPortSettings(const comm::PortSettings& s);
};

// Why a list of chambers is refused, with what it names.
struct Refusal {
    enum class Kind {
        BadName,
        DuplicateName,
        BadPort,
        BadAddress,
        BadBaud,
        BadParity,
        DuplicateAddress,
        LineMismatch,
        NotAllowed  // the one who asked may not change the PC's configuration
    };
    Kind kind;
    QString name;
    int port = 0;
    int address = 0;
    auth::Denial denial = auth::Denial::None;  // why not, for NotAllowed
};

// The refusal as one line for stderr, and as the operator reads it in the chamber dialog.
QString refusalLine(const Refusal& r);
QString refusalText(const Refusal& r);

// The first fault of the list, nullopt when every chamber can be served as given.
std::optional<Refusal> checkChambers(const QList<ChamberConf>& chambers);

// A line has one baud rate and parity: the list with chamber i's for every chamber on its port.
QList<ChamberConf> withLineSettings(QList<ChamberConf> chambers, qsizetype i);

// "NAME=PORT,ADDRESS[,BAUD[,PARITY]]"; nullopt when the text has not this form (the values are
// checked by checkChambers).
std::optional<ChamberConf> parseChamberArg(const QString& text);

// What the chamber dialog proposes for a new chamber on port (0: the port of the last chamber
// listed, or 1): the lowest address from 1 to maxAddress no chamber on that port has (1 when all
// are taken), and the baud and parity that port's line runs at (9600, N on a port of its own).
ChamberConf proposedChamber(const QList<ChamberConf>& others, int port, int maxAddress);

// The list kept in the settings file; entries a hand edit spoiled are left out of what is read.
QList<ChamberConf> readChambers(QSettings& settings);
void writeChambers(QSettings& settings, const QList<ChamberConf>& chambers);

// The turnaround delay of each port's line (milliseconds between frames to different slaves,
// 0..1000), kept beside the list by port number; a port not named has none. Values a hand edit
// spoiled are left out.
QMap<int, int> readTurnarounds(QSettings& settings);
void writeTurnaround(QSettings& settings, int port, int ms);

// The ports whose lines were open when the program last ended (or last changed them); a hand
// edit's values outside 1..20 are left out.
QList<int> readOpenLines(QSettings& settings);
void writeOpenLines(QSettings& settings, const QList<int>& ports);

}  // namespace chamber
