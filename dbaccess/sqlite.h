// The SQLite backends: a source that runs the source queries as written, and
// a target that takes statements in SQL Server's dialect and adapts the few
// forms SQLite lacks.
#pragma once

#include <memory>
#include <string>

#include "velaccap/dbaccess.h"
#include "velaccap/open.h"

struct sqlite3;

namespace velaccap {

// Opens an existing SQLite file read-only and begins a read transaction on
// it. Throws InputError naming the file when it is missing, not a SQLite
// database, damaged (with options.verify) or locked past options.wait_ms.
std::unique_ptr<SourceDatabase> OpenSqliteSource(const std::string& path, const OpenOptions& options = {});

// Takes ownership of an open handle (an Access file loaded into SQLite).
std::unique_ptr<SourceDatabase> AdoptSqliteSource(sqlite3* db);

// Opens an existing SQLite file for writing. Throws InputError naming the
// file when it is missing, not a SQLite database, damaged (with
// options.verify) or locked past options.wait_ms.
std::unique_ptr<TargetConnection> OpenSqliteTarget(const std::string& path, const OpenOptions& options = {});

// Opens the file for writing, which lets the engine roll back a hot journal
// that a failed or killed run left, then runs the quick check. Returns the
// empty text for a clean database, else the first problem found.
std::string RecoverSqliteFile(const std::string& path);

}  // namespace velaccap
