#include "store/rawquery.h"

#include <sqlite3.h>
#include <QSqlDriver>
#include <QVariant>

namespace store {

static_assert(SQLITE_ROW == 100);

RawQuery::~RawQuery() {
    sqlite3_finalize(stmt_);
}

bool RawQuery::prepare(const QSqlDatabase& db, const char* sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    db_ = nullptr;
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return false;
    db_ = *static_cast<sqlite3* const*>(handle.constData());
    return db_ && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) ==
                      SQLITE_OK;
}

void RawQuery::bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
}

int RawQuery::step() {
    return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

QSqlError RawQuery::finish(int rc) {
    QSqlError e;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        const int code = stmt_ ? sqlite3_extended_errcode(db_) : rc;
        e = QSqlError(QStringLiteral("Unable to fetch row"),
                      QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "no statement"),
                      QSqlError::StatementError, QString::number(code));
    }
    if (stmt_) sqlite3_reset(stmt_);
    return e;
}

bool RawQuery::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

bool RawQuery::isInteger(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_INTEGER;
}

int64_t RawQuery::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double RawQuery::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

}  // namespace store
