#pragma once
// Direct access to a sample database for checks, through a connection of the test's own.

#include <QByteArray>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <functional>

namespace record_test {

// Runs fn with an open connection to path and removes the connection afterwards.
inline void withDb(const QString& path, const std::function<void(QSqlDatabase&)>& fn) {
    static int serial = 0;
    const QString name = QStringLiteral("test-check-%1").arg(++serial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) fn(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// First column of the first row of sql, or an invalid QVariant.
inline QVariant scalar(const QString& path, const QString& sql) {
    QVariant v;
    withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec(sql) && q.next()) v = q.value(0);
    });
    return v;
}

inline bool exec(const QString& path, const QString& sql) {
    bool ok = false;
    withDb(path, [&](QSqlDatabase& db) { ok = QSqlQuery(db).exec(sql); });
    return ok;
}

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

}  // namespace record_test
