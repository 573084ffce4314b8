// The SQLite backends: a source that runs the source queries as written, and
// a target that takes statements in SQL Server's dialect and adapts the few
// forms SQLite lacks.
#pragma once

#include <memory>
#include <string>

#include "velaccap/dbaccess.h"

struct sqlite3;

namespace velaccap {

// Opens an existing SQLite file read-only. Throws InputError naming the file
// when it is missing or not a SQLite database.
std::unique_ptr<SourceDatabase> OpenSqliteSource(const std::string& path);

// Takes ownership of an open handle (an Access file loaded into SQLite).
std::unique_ptr<SourceDatabase> AdoptSqliteSource(sqlite3* db);

// Opens an existing SQLite file for writing. Throws InputError naming the
// file when it is missing or not a SQLite database.
std::unique_ptr<TargetConnection> OpenSqliteTarget(const std::string& path);

}  // namespace velaccap
