// The database file behind an ODBC connection string, where the driver keeps
// its database in a file and would create a missing one on connecting (the
// SQLite driver). A run that must write nothing before it knows its target,
// and a check that must write nothing at all, ask here first.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velaccap {

// The file that `connection_string` names for a file-keeping driver, found
// through its DRIVER attribute or its DSN's entries (odbc.ini, odbcinst.ini);
// nothing for any other driver, or when no file is named.
std::optional<std::string> OdbcDatabaseFile(std::string_view connection_string);

}  // namespace velaccap
