#pragma once
// A database file read back the way the tests look at it: each row of a query as its columns
// joined by a separator, through a connection of its own that is gone again afterwards; and a
// statement run on it the same way.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

namespace testsupport {

inline QStringList sqlRows(const QString& file, const QString& sql, QChar separator = u'|') {
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("testsupport-rows"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(sql, db);
            while (q.next()) {
                QStringList cells;
                for (int c = 0; c < q.record().count(); ++c)
                    cells << q.value(c).toString();
                rows << cells.join(separator);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testsupport-rows"));
    return rows;
}

// Runs statements separated by ';' (none inside a literal) on the file through a connection of
// its own, as the sqlite3 tool would; false at the first that fails.
inline bool sqlExec(const QString& file, const QString& sql) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("testsupport-exec"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            ok = true;
            for (const QString& statement : sql.split(u';', Qt::SkipEmptyParts)) {
                if (statement.trimmed().isEmpty()) continue;
                if (!q.exec(statement)) {
                    ok = false;
                    break;
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testsupport-exec"));
    return ok;
}

}  // namespace testsupport
