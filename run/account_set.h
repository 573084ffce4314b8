// The tool's knowledge of the two account sets as files and connections:
// creating SQLite files from the reference schemas, and making sure a target
// is an 8.20 account set before anything is written to it.
#pragma once

#include <memory>
#include <string>

#include "velaccap/dbaccess.h"

struct sqlite3;

namespace velaccap::run {

struct SqliteCloser {
  void operator()(sqlite3* db) const;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

// Creates the SQLite file `path` and runs `ddl` in it. Refuses a path that
// already exists, with an InputError naming it; a file left half made by a
// failure is removed again.
SqliteHandle CreateSqliteFile(const std::string& path, const char* ddl);

// Runs `sql` (several statements allowed) on `db`; throws Error with
// SQLite's text.
void ExecSql(sqlite3* db, const char* sql);

// A fresh, empty 8.20 account set.
void CreateTarget(const std::string& path);

// The tables the run writes, in step order: 20 by table recordset or
// statement, then AccInformation, whose rows the run only updates.
extern const char* const kTargetTables[21];

// `name` with any password of a connection string masked, for messages.
std::string DisplayName(const std::string& name);

// Throws InputError when `source` and `target` are one file (also under two
// names: a link, another path).
void RefuseSameDatabase(const std::string& source, const std::string& target);

// Throws InputError, before anything is written, when either database is not
// what the run needs: a table or column missing (every one named), an
// account set of the other release, or a target table that cannot be opened
// for adding rows. Works through the data-access interfaces alone, so it
// serves every kind of database.
void RequireFit(SourceDatabase& source, const std::string& source_name, TargetConnection& target,
                const std::string& target_name);

}  // namespace velaccap::run
