#include "velaccap/open.h"

#include <filesystem>
#include <optional>

#include "dbaccess/ascii.h"

#include "dbaccess/mdb.h"
#include "dbaccess/odbc.h"
#include "dbaccess/odbc_connection_string.h"
#include "dbaccess/odbc_database_file.h"
#include "dbaccess/sqlite.h"

namespace velaccap {

namespace {

bool IsAccessFile(const std::string& name) {
  const std::string ext = std::filesystem::path(name).extension().string();
  return EqualNoCase(ext, ".mdb") || EqualNoCase(ext, ".accdb");
}

constexpr std::string_view kOdbc = "odbc:";

// A file that is not there is named as missing, not as the engine's "unable
// to open database file". A file: name keeps the engine's words on URIs.
void RequireFile(const std::string& name, const char* role) {
  std::error_code ec;
  if (!name.starts_with("file:") && !std::filesystem::exists(name, ec))
    throw MissingFileError(std::string(role) + " " + name + " does not exist");
}

}  // namespace

std::unique_ptr<SourceDatabase> OpenSource(const std::string& name, const OpenOptions& options) {
  RequireFile(name, "SOURCE");
  if (IsAccessFile(name)) return OpenAccessSource(name);
  return OpenSqliteSource(name, options);
}

std::unique_ptr<TargetConnection> OpenTarget(const std::string& name, const OpenOptions& options) {
  if (name.starts_with(kOdbc)) {
    const std::string cs = name.substr(kOdbc.size());
    if (const std::optional<std::string> file = OdbcDatabaseFile(cs)) {
      std::error_code ec;
      if (!std::filesystem::exists(*file, ec))
        throw MissingFileError("TARGET " + std::string(kOdbc) + MaskOdbcPasswords(cs) + ": its database file " + *file +
                         " does not exist (the driver would create an empty one)");
    }
    return OpenOdbcTarget(cs);
  }
  RequireFile(name, "TARGET");
  return OpenSqliteTarget(name, options);
}

bool IsFileTarget(const std::string& name) { return !name.starts_with(kOdbc); }

std::string RecoverTarget(const std::string& name) {
  if (!IsFileTarget(name)) return {};
  return RecoverSqliteFile(name);
}

}  // namespace velaccap
