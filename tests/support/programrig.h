#pragma once
// The whole program on a scripted instrument, started without the start-up window, over a
// database in a folder of its own: for the tests of the main window and the windows it opens.

#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "fakemodbus.h"
#include "shell/application.h"

namespace testing_support {

struct ProgramRig {
    QTemporaryDir dir;
    store::ManualClock clock;
    FakeModbus* bus = nullptr;
    std::unique_ptr<shell::Application> app;  // goes first, before the clock and the folder

    // fill sets the instrument's registers before the program starts.
    explicit ProgramRig(const std::function<void(FakeModbus&)>& fill) {
        shell::Options o;
        o.db = dir.filePath(QStringLiteral("Rdatabj.db"));
        auto fake = std::make_unique<FakeModbus>();
        bus = fake.get();
        fill(*bus);
        app = std::make_unique<shell::Application>(o, std::move(fake), &clock);
        app->startWithoutSplash();
    }
};

}  // namespace testing_support
