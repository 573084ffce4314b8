// What `apupgrade --version` prints: the tool's release and those of the
// libraries it runs with.
#pragma once

#include <string>

namespace velaccap::cli {

// "apupgrade 1.0.0" and a line each for SQLite, unixODBC and libmdb, each
// saying whether the number is the one in use or the one built against.
std::string VersionText();

// The release of the unixODBC driver manager in use, as it reports it
// ("2.3"), and its SQL_DM_VER text; empty when it cannot be asked.
struct DriverManagerVersion {
  std::string release;
  std::string dm_ver;
};
DriverManagerVersion OdbcDriverManagerVersion();

}  // namespace velaccap::cli
