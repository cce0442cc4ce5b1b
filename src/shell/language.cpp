#include "shell/language.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

#include "shell/settings.h"
#include "ui/uios.h"
#include "ui/widgets.h"

namespace shell {

namespace {

// velmars.shell: the program's font as chosen at start
Q_LOGGING_CATEGORY(lcShell, "velmars.shell", QtWarningMsg)

const QString kKey = QStringLiteral("ui/language");

QString translationFile(const QString& code) {
    return QStringLiteral(":/i18n/velmars_%1.qm").arg(code);
}

}  // namespace

QStringList languages() {
    QStringList out{QStringLiteral("zh")};
    for (const QString& f : QDir(QStringLiteral(":/i18n")).entryList({QStringLiteral("*.qm")})) {
        const QString code = f.section(u'_', 1).section(u'.', 0, 0);
        if (!code.isEmpty() && !out.contains(code)) out << code;
    }
    return out;
}

QString chooseLanguage(const std::optional<QString>& option, const QString& kept,
                       const QStringList& desktop) {
    const QStringList known = languages();
    if (option && known.contains(*option)) return *option;
    if (known.contains(kept)) return kept;
    for (const QString& d : desktop) {
        const QString code = d.section(u'-', 0, 0).section(u'_', 0, 0).toLower();
        if (known.contains(code)) return code;
    }
    return QStringLiteral("zh");
}

namespace {

// Qt's own texts (the file and print dialogs' "Look in", "Save", ...) are written in English; in
// Chinese they come from Qt's translation where it is installed, else they stay English.
void installQtTranslation(const QString& code) {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (code != u"zh") return;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return;
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
}

}  // namespace

bool installTranslation(const QString& code) {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    installQtTranslation(code);
    if (code == u"zh") return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(translationFile(code))) return false;
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
    return true;
}

void useProgramFont() {
    const QString family = ui::chineseFontFamily();
    if (!QFontDatabase::hasFamily(family)) {
        qCDebug(lcShell, "font: the desktop's own, as none of %s is installed",
                qUtf8Printable(ui::os::chineseFontFamilies().join(u", ")));
        return;
    }
    qCDebug(lcShell, "font: %s", qUtf8Printable(family));
    QFont f(family);
    f.setPointSize(9);
    QApplication::setFont(f);
}

QString keptLanguage() {
    // A profile's own choice, where it has one, else the program's.
    const QString own = settingsFile()->value(kKey).toString();
    return own.isEmpty() ? settingsFileFor(QString())->value(kKey).toString() : own;
}

QString useLanguage(const std::optional<QString>& option, bool keep) {
    if (option && keep) settingsFile()->setValue(kKey, *option);
    // The "C" locale of a bare system says nothing about the operator's language.
    const QLocale system = QLocale::system();
    const QStringList desktop =
        system.language() == QLocale::C ? QStringList() : system.uiLanguages();
    const QString code = chooseLanguage(option, keptLanguage(), desktop);
    installTranslation(code);
    return code;
}

}  // namespace shell
