#include "velaccap/open.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "dbaccess/mdb.h"
#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"

namespace velaccap {

namespace {

bool IsAccessFile(const std::string& name) {
  std::string ext = std::filesystem::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".mdb" || ext == ".accdb";
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
