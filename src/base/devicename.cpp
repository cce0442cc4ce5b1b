#include "base/devicename.h"

#include <QStringList>

namespace base {

namespace {

bool isSeparator(QChar c) {
    return c == u'/' || c == u'\\';
}

}  // namespace

QString windowsDeviceName(const QString& path) {
    // "\\.\NAME" (either slash) names an object of the device folder, COM10 and above as well.
    if (path.size() > 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == u'.' &&
        isSeparator(path[3])) {
        const QString rest = path.mid(4);
        if (!rest.contains(u'/') && !rest.contains(u'\\')) return rest.toUpper();
    }
    qsizetype start = 0;
    for (qsizetype i = 0; i < path.size(); ++i)
        if (isSeparator(path[i])) start = i + 1;
    // A drive-relative path: "C:com1.db" is com1.db in C's current folder.
    if (start == 0 && path.size() >= 2 && path[1] == u':' && path[0].isLetter()) start = 2;
    QString stem = path.mid(start);
    // Windows reads the name up to the first '.' or ':' ("COM1:" too), without the blanks before.
    for (qsizetype i = 0; i < stem.size(); ++i)
        if (stem[i] == u'.' || stem[i] == u':') {
            stem.truncate(i);
            break;
        }
    while (stem.endsWith(u' '))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList kNames = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                       QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                       QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (kNames.contains(stem)) return stem;
    // COM1..COM9 and LPT1..LPT9, and with the superscript digits 1 to 3, which Windows also takes.
    if (stem.size() == 4 && (stem.startsWith(u"COM") || stem.startsWith(u"LPT"))) {
        const char16_t d = stem[3].unicode();
        if ((d >= u'1' && d <= u'9') || d == u'\u00b9' || d == u'\u00b2' || d == u'\u00b3')
            return stem;
    }
    return {};
}

}  // namespace base
