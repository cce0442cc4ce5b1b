// velmars-service: the chambers recording without a window, started with the computer.

#include <QCoreApplication>
#include <QSettings>
#include <cstdio>

#include "base/baseos.h"
#include "base/datafolder.h"
#include "base/numberlocale.h"
#include "events/eventrules.h"
#include "report/analysis.h"
#include "service/cmdline.h"
#include "service/service.h"
#include "service/serviceevents.h"
#include "service/serviceos.h"

namespace {

int run(int argc, char** argv) {
    const QStringList args = base::arguments(argc, argv);
    // The installer's own step, run once after it registered the service.
    if (args == QStringList{QStringLiteral("--configure-service")})
        return service::os::configureInstalledService();
    const shell::ParseResult parsed = shell::parseCommandLine(args);
    if (!parsed.options) {
        std::fprintf(stderr, "velmars-service: %s\n", qUtf8Printable(parsed.error));
        return 2;
    }
    const shell::Options& o = *parsed.options;
    if (const QString option = service::optionNotTaken(o); !option.isEmpty()) {
        std::fprintf(stderr,
                     "velmars-service: %s is an option of the desktop program (try --help)\n",
                     qUtf8Printable(option));
        return 2;
    }
    if (o.help) {
        std::fputs(qUtf8Printable(service::serviceUsageText()), stdout);
        return 0;
    }
    events::addEventTexts(&service::eventText);
    // The gaps of the CSV copies it serves say why they are there, from each file's log.
    store::setGapCauseSource(
        [](const QString& db, base::Lang lang) { return report::gapCausesOf(db, lang); });
    service::os::routeMessages();
    service::os::restrictNewFiles();
    return service::os::runAsService([&] {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("velmars"));
        QCoreApplication::setOrganizationName(QStringLiteral("velmars"));
        base::useDotDecimalNumbers();
        base::setDataFolder(o.data.isEmpty() ? service::os::defaultDataFolder() : o.data);
        base::setKeptByService(true);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, base::givenDataFolder());
        service::Service s(o);
        if (!s.start()) {
            std::fprintf(stderr, "velmars-service: %s\n", qUtf8Printable(s.error()));
            return s.exitCode();
        }
        service::os::onStopRequest(&s, [&s] { s.stop(); });
        return QCoreApplication::exec();
    });
}

}  // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}
