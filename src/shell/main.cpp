// velmars: the companion program of a two-loop temperature and humidity controller.

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <cstdio>

#include "base/baseos.h"
#include "base/datafolder.h"
#include "base/numberlocale.h"
#include "service/cmdline.h"
#include "service/serviceos.h"
#include "shell/accesscommand.h"
#include "shell/appicon.h"
#include "shell/application.h"
#include "shell/attached.h"
#include "shell/exportcommand.h"
#include "shell/language.h"
#include "shell/settings.h"
#include "shell/shellos.h"
#include "shell/verifycommand.h"
#include "ui/filedialog.h"

namespace {

int run(int argc, char** argv) {
    // The command line is read before any window system is touched, so that --help and a bad
    // option answer on a machine without a display, with nothing else on stderr.
    const shell::ParseResult parsed = shell::parseCommandLine(base::arguments(argc, argv));
    if (!parsed.options) {
        std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(parsed.error));
        return 2;
    }
    shell::addEventTexts();
    shell::os::messagesToStandardError();
    shell::os::placeSettings();
    // A folder named by --data holds the settings files and the databases instead.
    if (!parsed.options->data.isEmpty()) {
        base::setDataFolder(parsed.options->data);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, base::givenDataFolder());
    }
    shell::os::restrictNewFiles();
    // What answers on the command line alone: no window, the language and profile chosen.
    const shell::Options& o = *parsed.options;
    const auto withoutWindows = [&](auto answer) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("velmars"));
        QCoreApplication::setOrganizationName(QStringLiteral("velmars"));
        shell::setProfile(o.profile);
        shell::useLanguage(o.language);
        return answer();
    };
    if (o.help)
        return withoutWindows([] {
            std::fputs(qUtf8Printable(shell::usageText()), stdout);
            return 0;
        });
    if (!o.makeToken.isEmpty() || !o.revokeToken.isEmpty())
        return withoutWindows([&] { return shell::runTokenCommand(o); });
    if (!o.createAdmin.isEmpty() || o.accessControl)
        return withoutWindows([&] { return shell::runAccessCommand(o); });
    if (o.verify) return withoutWindows([&] { return shell::runVerify(o); });
    if (o.releaseSigned) return withoutWindows([&] { return shell::runRelease(o); });
    if (!o.exportCsv.isEmpty() || !o.exportEvents.isEmpty())
        return withoutWindows([&] {
            shell::os::binaryStandardOutput();
            return shell::runExport(o);
        });

    if (!parsed.options->report.isEmpty()) {
        // A report needs fonts but no window: the offscreen platform serves where no display is.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
            qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication gui(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("velmars"));
        QCoreApplication::setOrganizationName(QStringLiteral("velmars"));
        base::useDotDecimalNumbers();
        shell::setProfile(parsed.options->profile);
        shell::useLanguage(parsed.options->language);
        return shell::runReport(*parsed.options);
    }

    // Settings changed here under access control are an administrator's, checked before anything.
    if (shell::changesSettings(o))
        if (const auto refused = withoutWindows([&] { return shell::consentToSettings(o); }))
            return *refused;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmars"));
    QApplication::setOrganizationName(QStringLiteral("velmars"));
    // Every number shown or read uses "." whatever the regional settings say.
    base::useDotDecimalNumbers();
    // The desktop matches the windows to the installed velmars.desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("velmars"));
    QApplication::setWindowIcon(shell::windowIcon());
    // Nothing but SQLite may open the database files while the recorder holds their locks.
    ui::listFilesByNameOnly();
    shell::setProfile(parsed.options->profile);
    // The language chosen for the program is kept for its next start; a command's is not.
    shell::useLanguage(parsed.options->language, /*keep=*/true);

    shell::useProgramFont();

    // A service that runs this computer's chambers (in the folder named, or the machine's own)
    // keeps them: the windows attach to it and open no line or database of their own.
    const QString serviceFolder =
        o.data.isEmpty() ? service::os::defaultDataFolder() : base::givenDataFolder();
    if (shell::serviceAnswers(serviceFolder)) {
        if (o.simulate || !o.chambers.isEmpty() || !o.ports.isEmpty() || !o.db.isEmpty() ||
            o.connect)
            std::fprintf(stderr,
                         "velmars: the service of %s runs the chambers; the options for chambers, "
                         "ports and databases are left to it\n",
                         qUtf8Printable(serviceFolder));
        shell::AttachedProgram attached(serviceFolder);
        attached.start();
        if (o.quitAfter)
            QTimer::singleShot(static_cast<int>(*o.quitAfter * 1000), &attached,
                               [] { QCoreApplication::quit(); });
        return QApplication::exec();
    }

    shell::Application program(*parsed.options);
    if (!program.start()) {
        std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(program.error()));
        return 1;
    }
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    return shell::os::endProcess(run(argc, argv));
}
