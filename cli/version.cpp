#include "cli/version.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <string_view>

#include "velaccap/version.h"

namespace velaccap::cli {

DriverManagerVersion OdbcDriverManagerVersion() {
  // SQL_DM_VER is answered by the driver manager itself, on a connection
  // handle that need not be connected.
  DriverManagerVersion v;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return v;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    SQLCHAR text[64] = {};
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DM_VER, text, sizeof text, &length))) {
      v.dm_ver = reinterpret_cast<const char*>(text);
      // "##.##.####.####": the ODBC version, then the manager's own major
      // and minor release.
      const std::string_view s = v.dm_ver;
      if (s.size() == 15 && s[2] == '.' && s[5] == '.' && s[10] == '.') {
        auto number = [](std::string_view digits) { return std::to_string(std::stoi(std::string(digits))); };
        v.release = number(s.substr(6, 4)) + "." + number(s.substr(11, 4));
      }
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return v;
}

std::string VersionText() {
  std::string text = "apupgrade " VELACCAP_VERSION "\n";
  text += "SQLite " + std::string(sqlite3_libversion()) + " (in use)\n";
  const DriverManagerVersion dm = OdbcDriverManagerVersion();
  text += "unixODBC ";
  if (!dm.release.empty())
    text += dm.release + " (in use, SQL_DM_VER " + dm.dm_ver + "); built against " VELACCAP_UNIXODBC_VERSION "\n";
  else
    text += VELACCAP_UNIXODBC_VERSION " (built against)\n";
  text += "libmdb " VELACCAP_LIBMDB_VERSION " (built against; the library does not report its version)\n";
  return text;
}

}  // namespace velaccap::cli
