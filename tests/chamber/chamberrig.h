#pragma once
// A chamber's setup as the chamber tests make it: its database and settings file in the test's
// folder (named with suffix where one folder holds several), its line the simulated instrument's
// at port 1.

#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "chamber/chamber.h"
#include "sim/server.h"

namespace chambertest {

inline chamber::Setup setupIn(const QTemporaryDir& dir, const sim::SimServer& server,
                              const store::Clock* clock, const QString& suffix = {}) {
    chamber::Setup setup;
    setup.dbPath = dir.filePath(QStringLiteral("Rdatabj%1.db").arg(suffix));
    setup.ports.setExplicit(1, QString::fromStdString(server.device()));
    setup.clock = clock;
    const QString ini = dir.filePath(QStringLiteral("velmars%1.ini").arg(suffix));
    setup.settings = [ini] { return std::make_unique<QSettings>(ini, QSettings::IniFormat); };
    return setup;
}

}  // namespace chambertest
