#include "lockholder.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstdio>
#include <iostream>
#include <string>

namespace testing_support {

int holdDatabaseLock(const QString& path, bool exclusive) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(path);
    if (!db.open()) return 1;
    QSqlQuery q(db);
    if (!q.exec(exclusive ? QStringLiteral("BEGIN EXCLUSIVE") : QStringLiteral("BEGIN IMMEDIATE")))
        return 1;
    if (!q.exec(QStringLiteral("UPDATE sl_void SET spare = spare"))) return 1;
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    q.exec(QStringLiteral("ROLLBACK"));
    return 0;
}

}  // namespace testing_support
