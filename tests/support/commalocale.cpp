#include "commalocale.h"

#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <clocale>
#include <cstdlib>

namespace testsupport {

namespace {
constexpr const char* kName = "de_DE.UTF-8";
}

bool useCommaDecimalLocale(QString* why) {
    if (!std::setlocale(LC_ALL, kName)) {
        // Compile the locale into a folder of our own; glibc reads LOCPATH on every setlocale.
        static QTemporaryDir dir;
        const QString out = dir.path() + QLatin1Char('/') + QLatin1String(kName);
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                         QStringLiteral("UTF-8"), out});
        localedef.waitForFinished(60000);
        qputenv("LOCPATH", QFile::encodeName(dir.path()));
        if (!std::setlocale(LC_ALL, kName)) {
            if (why)
                *why = QStringLiteral("localedef could not build %1: %2")
                           .arg(QLatin1String(kName),
                                QString::fromLocal8Bit(localedef.readAllStandardError()));
            return false;
        }
    }
    qputenv("LC_ALL", kName);
    qputenv("LANG", kName);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    return true;
}

}  // namespace testsupport
