#include "dbaccess/odbc_database_file.h"

#include <odbcinst.h>

#include "dbaccess/ascii.h"
#include "dbaccess/odbc_connection_string.h"

namespace velaccap {

namespace {

// One entry of the driver manager's configuration, as it reads it.
std::string Profile(const std::string& section, const char* entry, const char* file) {
  char buf[1024] = {};
  const int n = SQLGetPrivateProfileString(section.c_str(), entry, "", buf, sizeof buf, file);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1)
               : std::string();
}

bool NamesSqlite(std::string_view text) { return Upper(text).find("SQLITE") != std::string::npos; }

}  // namespace

std::optional<std::string> OdbcDatabaseFile(std::string_view connection_string) {
  const OdbcConnectionString cs = ParseOdbcConnectionString(connection_string);
  std::string driver = cs.Value("DRIVER").value_or("");
  std::string database = cs.Value("Database").value_or("");
  if (const std::optional<std::string> dsn = cs.Value("DSN"); dsn && !dsn->empty()) {
    if (driver.empty()) driver = Profile(*dsn, "Driver", "odbc.ini");
    if (database.empty()) database = Profile(*dsn, "Database", "odbc.ini");
  }
  // A driver is named by its odbcinst.ini section or by its library's path.
  if (!NamesSqlite(driver) && !NamesSqlite(Profile(driver, "Driver", "odbcinst.ini"))) return std::nullopt;
  if (database.empty() || database == ":memory:") return std::nullopt;
  return database;
}

}  // namespace velaccap
