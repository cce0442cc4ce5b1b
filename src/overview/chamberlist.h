#pragma once
// The chamber list is the core's (chamber/chamberlist.h); the overview names it as its own.

#include "chamber/chamberlist.h"

namespace overview {

using chamber::ChamberConf;
using chamber::checkChambers;
using chamber::kMaxAddress;
using chamber::parseChamberArg;
using chamber::proposedChamber;
using chamber::readChambers;
using chamber::readOpenLines;
using chamber::readTurnarounds;
using chamber::Refusal;
using chamber::refusalLine;
using chamber::refusalText;
using chamber::withLineSettings;
using chamber::writeChambers;
using chamber::writeOpenLines;
using chamber::writeTurnaround;

}  // namespace overview
