#pragma once
// The text of a PDF through poppler's pdftotext, written to a file beside the PDF and read back.
// Under Wine a Windows test runs the host's pdftotext, which gets no output pipe, knows no drive
// letters and whose end Wine does not report: it is given the host's paths of the files (the
// prefix's dosdevices), and its text file appears only once whole.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QThread>

namespace testsupport {

inline QString hostPath(const QString& path) {
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty() || path.size() < 2 || path[1] != u':') return path;
    return prefix + QStringLiteral("/dosdevices/") + path.left(2).toLower() +
           QDir::fromNativeSeparators(path.mid(2));
}

// Table cells are laid out apart: one blank between words keeps the checks readable.
inline QString pdfText(const QString& pdf, bool firstPage = false) {
    const QString txt = pdf + QStringLiteral(".txt");
    QFile::remove(txt);
    QStringList args;
    if (firstPage) args << QStringLiteral("-l") << QStringLiteral("1");
    args << hostPath(pdf);
    QProcess p;
    if (QFile::exists(QStringLiteral("/bin/sh"))) {
        p.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("pdftotext \"$@\" \"$0.part\" && mv \"$0.part\" \"$0\""),
                            hostPath(txt)} +
                    args);
    } else {
        p.start(QStringLiteral("pdftotext"), args << txt);
    }
    p.waitForFinished(60000);
    const QDeadlineTimer patience(60000);
    while (!QFile::exists(txt) && !patience.hasExpired())
        QThread::msleep(10);
    QFile f(txt);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).simplified() : QString();
}

}  // namespace testsupport
