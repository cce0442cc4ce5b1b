#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "shell/appicon.h"

namespace {

// Lays out <root>/bin and, as asked, the installed SVG and PNG under <root>/share.
QString makeTree(const QTemporaryDir& root, bool svg, bool png) {
    QDir d(root.path());
    d.mkpath(QStringLiteral("bin"));
    const QString theme = root.path() + QStringLiteral("/share/icons/hicolor");
    if (svg) {
        d.mkpath(theme + QStringLiteral("/scalable/apps"));
        QFile f(theme + QStringLiteral("/scalable/apps/velmars.svg"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    }
    if (png) {
        d.mkpath(theme + QStringLiteral("/64x64/apps"));
        QFile f(theme + QStringLiteral("/64x64/apps/velmars.png"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    }
    return root.path() + QStringLiteral("/bin");
}

}  // namespace

TEST(AppIcon, InstalledIconWhenBesideTheProgramElseBuiltIn) {
    const QString builtIn = QStringLiteral(":/icons/hicolor");
    struct Case {
        bool svg, png, installed;
    };
    for (const Case c : {Case{true, true, true}, Case{true, false, true}, Case{false, true, false},
                         Case{false, false, false}}) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QString bin = makeTree(root, c.svg, c.png);
        const QString want =
            c.installed ? root.path() + QStringLiteral("/share/icons/hicolor") : builtIn;
        EXPECT_EQ(shell::iconThemeFolder(bin), want) << c.svg << c.png;
        // A trailing slash or a "bin/." spelling finds the same folder.
        EXPECT_EQ(shell::iconThemeFolder(bin + QStringLiteral("/./")), want);
    }
    EXPECT_EQ(shell::iconThemeFolder(QString()), builtIn);
    // The built-in folder holds both files under the names the installed theme uses.
    EXPECT_TRUE(QFile::exists(builtIn + QStringLiteral("/scalable/apps/velmars.svg")));
    EXPECT_TRUE(QFile::exists(builtIn + QStringLiteral("/64x64/apps/velmars.png")));
}
