#pragma once
// The file's shape version and the steps that bring an older file up to it. Each store makes its
// own tables in today's shape; the steps here change tables an older program made, in the order
// of their version, so that every program opening a file for writing does the same.

#include <QSqlDatabase>
#include <QSqlError>
#include <optional>

namespace store {

// PRAGMA user_version of the open file; nullopt when it cannot be read.
std::optional<int> fileVersion(const QSqlDatabase& db);

// Runs, in one transaction, every step whose version is above the file's, then gives the file
// schema::kFileVersion. A file of that version or a newer one is left as it is. A table the file
// lacks is left for its store to make; one of a shape no program of ours made is left for its
// store to refuse. False with the failed statement's error (nothing changed).
bool migrate(const QSqlDatabase& db, QSqlError* error);

}  // namespace store
