#pragma once
// What the overview's window tests share: settings and data folders of their own (the chambers'
// list must not reach the other tests' settings file), and the application named as the
// program names itself.

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include "../support/confighome.h"

namespace overviewtest {

template <class Test>
int run(int argc, char** argv) {
    static QTemporaryDir home;
    testsupport::useConfigHome(home.filePath("config"));
    testsupport::useDataHome(home.filePath("data"));
    QApplication app(argc, argv);
    QApplication::setApplicationName("velmars");
    QApplication::setOrganizationName("velmars");
    Test t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace overviewtest
