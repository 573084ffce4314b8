// The target over ODBC: an 8.20 account set in SQL Server (or any engine an
// ODBC driver reaches), written through the unixODBC driver manager.
#pragma once

#include <memory>
#include <string>

#include "velaccap/dbaccess.h"

namespace velaccap {

// Connects with `connection_string` ("DSN=...;UID=...;PWD=..." or
// "DRIVER={...};Server=...;Database=..."), without prompting. Statements go to
// SQL Server as they stand; another engine gets the delete forms it lacks
// adapted, as the SQLite target does. Rows that table recordsets add go out in
// arrays of up to 1000 (one row per execute where the driver has no arrays),
// sent before anything else reaches the connection. A failed connect throws
// InputError with the driver's diagnostic, naming the DSN and database but
// never a password.
std::unique_ptr<TargetConnection> OpenOdbcTarget(const std::string& connection_string);

}  // namespace velaccap
