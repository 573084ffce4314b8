// What the SQLite source and target share: handles, error texts, names
// compared without regard to letter case, and reading a column into a Value
// by the column's declared type.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/ascii.h"
#include "velaccap/dbaccess.h"
#include "velaccap/open.h"
#include "velaccap/value.h"

namespace velaccap::sqlite_internal {

// A connection shared by the database object and the recordsets it made, so
// that a recordset outliving its database still finalizes safely.
using Connection = std::shared_ptr<sqlite3>;

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// A file name as SQLite must be given it so that it is never read as a URI
// ("file:t.db?nolock=1" would skip locking, "?mode=memory" open no file at
// all): a relative name that begins with "file:" gets "./" before it.
std::string PlainPath(const std::string& path);

// Throws Error with the connection's own description of its last failure.
[[noreturn]] void ThrowLast(sqlite3* db);

// Opens an existing file with `flags` (never SQLITE_OPEN_CREATE) and checks
// that it is a SQLite database, waiting up to options.wait_ms for another
// program's lock, and with options.verify that it passes the engine's quick
// check. Throws InputError naming the file and the role ("source").
Connection OpenExisting(const std::string& path, int flags, const char* role, const OpenOptions& options);

// The first problem the engine's quick check finds, or empty text.
std::string QuickCheck(sqlite3* db);

// The text of an InputError for a file that another program holds locked.
std::string LockedMessage(const char* role, const std::string& path, int wait_ms);

// Wraps an open handle; it is closed with the last owner.
Connection Adopt(sqlite3* db);

// Prepares one statement; `tail` receives the unparsed remainder when given.
Stmt Prepare(sqlite3* db, std::string_view sql, const char** tail = nullptr);


// How the values of a result column are read. A declared type chooses the
// family; a stored value that does not fit it passes as its storage class.
enum class Family { Storage, Integer, Real, Numeric, Text, DateTime, YesNo, Binary };

// The family of a declared column type (NULL for an expression column).
Family FamilyOf(const char* decltype_text);

// Reads column `i` of the current row of `st` into *slot, reusing the
// slot's text buffer when it already holds text.
void ReadColumn(sqlite3_stmt* st, int i, Family family, Value* slot);

// The kind of value a family stands for, as the recordsets report it.
ColumnType TypeOf(Family family);

// The families of every column of a prepared statement.
std::vector<Family> Families(sqlite3_stmt* st);

// `name` quoted as an SQL identifier.
std::string QuoteIdentifier(std::string_view name);

}  // namespace velaccap::sqlite_internal
