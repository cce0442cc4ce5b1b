#pragma once
// What a chamber's tile in the overview shows, as a pure function of the chamber's state: its
// lines of text and the colour of its worst state.

#include <QColor>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include "chamber/state.h"

namespace overview {

// The worst state of a chamber, worst first.
enum class Tone {
    Alarm,    // an instrument alarm or an open sensor: red
    Unacked,  // an alert nobody has acknowledged yet: flashing
    Silent,   // the port is closed or the instrument does not answer: grey
    Normal,   // neutral
};

struct Tile {
    // Name; PV1/SV1; PV2/SV2; program state and segment; run; link; recorder. Each line is short
    // enough for the tile: a recorder that another program keeps from the file says so briefly.
    QStringList lines;
    Tone tone = Tone::Normal;
    // The lines after the name in full, one a row (the refusal naming the file and the process):
    // the tile's tooltip and what a screen reader hears.
    QString details{};
};

// The tile of the chamber named name in state s; opened false: the chamber waits for its database
// (added again while its namesake, just deleted, still writes its last).
Tile tileOf(const QString& name, const chamber::State& s, bool opened = true);

// The tile's background; a flashing tile alternates between the two phases, neither of them the
// normal colour.
QColor toneColour(Tone tone, bool flashPhase);

// Where a listed alert stands in the overview's list: the active ones first (those nobody has
// acknowledged before the others), then those back to normal still waiting for an acknowledgement,
// then the rest; within each, the newest first.
struct AlertPlace {
    bool active = false;
    bool acknowledged = false;
    QDateTime firedAt{};
};
bool listedBefore(const AlertPlace& a, const AlertPlace& b);

// The tile an arrow key, Home or End moves to from tile `index` of `count` laid out in rows of
// `columns`: Left and Right go on over the end of a row to the next one, Up and Down keep the
// column, Down into a shorter last row ends on its last tile; none goes beyond the first or the
// last. Any other key stays at index.
int tileStep(int index, int count, int columns, int key);

}  // namespace overview
