#pragma once
// Qt's own complaints about how it was called ("QSqlQuery::prepare: no driver", "QPixmap::
// scaleWidth: Pixmap is a null pixmap", "QObject::connect: ..."): each is a fault of the program,
// however harmless the line on standard error looks. Once watched, they are collected from every
// thread for the rest of the process, and every message still goes on to the handler before.

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

// Whether a message is one of Qt's complaints: a warning or worse that names a Qt class and its
// member ("QClass::member..."). Notes of the platform ("This plugin does not support raise()",
// "QStandardPaths: XDG_RUNTIME_DIR not set") are no complaint about the program.
inline bool isQtComplaint(QtMsgType type, const QString& text) {
    if (type != QtWarningMsg && type != QtCriticalMsg && type != QtFatalMsg) return false;
    static const QRegularExpression complaint(QStringLiteral("^Q[A-Z][A-Za-z0-9]*::[A-Za-z_~]"));
    return complaint.match(text).hasMatch();
}

namespace detail {

struct Complaints {
    QMutex mutex;
    QStringList seen;
    QtMessageHandler next = nullptr;
    bool watching = false;
};

inline Complaints& complaints() {
    static Complaints c;
    return c;
}

inline void collect(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    Complaints& c = complaints();
    QtMessageHandler next = nullptr;
    {
        QMutexLocker hold(&c.mutex);
        next = c.next;
        if (isQtComplaint(type, text)) c.seen << text;
    }
    if (next) next(type, context, text);
}

}  // namespace detail

// Starts collecting (once: later calls change nothing). Called where the test's own handler is
// in place already (inside a Qt Test function), so that the messages still reach its log.
inline void watchQtComplaints() {
    detail::Complaints& c = detail::complaints();
    QMutexLocker hold(&c.mutex);
    if (c.watching) return;
    c.watching = true;
    c.next = qInstallMessageHandler(&detail::collect);
}

// The complaints seen since the watch began, in order; from = how many to skip.
inline QStringList qtComplaints(qsizetype from = 0) {
    detail::Complaints& c = detail::complaints();
    QMutexLocker hold(&c.mutex);
    return c.seen.mid(from);
}

}  // namespace testsupport
