#include "velaccap/open.h"

#include <filesystem>

#include "dbaccess/ascii.h"

#include "dbaccess/mdb.h"
#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"

namespace velaccap {

namespace {

bool IsAccessFile(const std::string& name) {
  const std::string ext = std::filesystem::path(name).extension().string();
  return EqualNoCase(ext, ".mdb") || EqualNoCase(ext, ".accdb");
}

}  // namespace

std::unique_ptr<SourceDatabase> OpenSource(const std::string& name) {
  if (IsAccessFile(name)) return OpenAccessSource(name);
  return OpenSqliteSource(name);
}

std::unique_ptr<TargetConnection> OpenTarget(const std::string& name) {
  constexpr std::string_view kOdbc = "odbc:";
  if (name.starts_with(kOdbc)) return OpenOdbcTarget(name.substr(kOdbc.size()));
  return OpenSqliteTarget(name);
}

}  // namespace velaccap
