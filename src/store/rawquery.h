#pragma once
// A read statement run through SQLite's own interface on the handle of a Qt SQL connection:
// rows are read value by value without a QVariant each, which is most of the time a long
// archive span takes through QSqlQuery. It shares the connection's transactions and locks.

#include <QSqlDatabase>
#include <QSqlError>
#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class RawQuery {
  public:
    RawQuery() = default;
    ~RawQuery();
    RawQuery(const RawQuery&) = delete;
    RawQuery& operator=(const RawQuery&) = delete;

    // False when the connection is not an SQLite one or the statement does not compile.
    bool prepare(const QSqlDatabase& db, const char* sql);
    void bind(int index, int64_t value);  // index from 1, as SQLite counts

    // Steps through the rows, calling visit(*this) on each until it returns false; then resets
    // the statement so it holds no lock. An invalid error when every row was read.
    template <typename Visit>
    QSqlError run(Visit&& visit) {
        int rc;
        while ((rc = step()) == kRow) {
            if (!visit(*this)) break;
        }
        return finish(rc);
    }

    bool isNull(int column) const;
    bool isInteger(int column) const;
    int64_t integer(int column) const;
    double real(int column) const;

  private:
    static constexpr int kRow = 100;  // SQLITE_ROW
    int step();
    QSqlError finish(int rc);
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace store
