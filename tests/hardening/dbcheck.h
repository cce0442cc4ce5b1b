#pragma once
// Small helpers of the hardening tests: one-shot queries on a database file through a connection
// of their own, closed again before the call returns (so nothing is held while the program runs).

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <functional>

namespace hardening {

// Runs f with a fresh connection to path; false when the file cannot be opened.
inline bool withDatabase(const QString& path, const std::function<void(QSqlDatabase&)>& f) {
    static int serial = 0;
    const QString name = QStringLiteral("hardening-check-%1").arg(++serial);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            ok = true;
            f(db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// The first column of the first row of sql, or an invalid QVariant.
inline QVariant scalar(const QString& path, const QString& sql) {
    QVariant v;
    withDatabase(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec(sql) && q.next()) v = q.value(0);
    });
    return v;
}

inline bool exec(const QString& path, const QString& sql) {
    bool ok = false;
    withDatabase(path, [&](QSqlDatabase& db) { ok = QSqlQuery(db).exec(sql); });
    return ok;
}

}  // namespace hardening
