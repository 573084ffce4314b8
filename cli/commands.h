// The commands of the apupgrade tool. Each returns the process exit code:
// 0 success, 1 a migration that failed, 2 bad usage or an unusable input,
// 128 + the signal's number for a run stopped by SIGINT or SIGTERM.
#pragma once

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "run/migration.h"

namespace velaccap::cli {

// The run's options, and whether the tool stays quiet: no closing table and,
// unless `live` says where, no live progress.
struct MigrateOptions : run::Options {
  bool quiet = false;
  bool verbose = false;  // each phase and step as a stamped line on stderr
  std::string log_path;  // ... or appended to this file
};

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err);

struct CheckOptions {
  std::string source;
  std::string target;
  bool json = false;
  int wait_seconds = 5;
  bool trial = true;  // also run the migration on a scratch copy of a SQLite target
  std::string odbc_password;  // as MigrateOptions::odbc_password
  bool verbose = false;  // as MigrateOptions::verbose
  std::string log_path;  // as MigrateOptions::log_path
};

// Reads both databases, writes nothing, lists every problem: exit 0 when
// migrate would run to its end, 1 when it would stop, 2 when a database
// cannot be used at all.
int Check(const CheckOptions& options, std::ostream& out, std::ostream& err);
struct VerifyCommandOptions {
  std::string source;
  std::string target;
  bool json = false;
  int wait_seconds = 5;
  std::string odbc_password;  // as MigrateOptions::odbc_password
};

// The reconciliation alone, on a source and a target migrated earlier; reads
// both, writes nothing: exit 0 when the target reconciles, 3 with the
// differences listed, 1 when a check could not run, 2 when a database
// cannot be used.
int Verify(const VerifyCommandOptions& options, std::ostream& out, std::ostream& err);

int NewTarget(const std::string& path, std::ostream& out, std::ostream& err);
int Sample(const std::string& path, long long lines, std::uint64_t seed, std::ostream& out,
           std::ostream& err);

// Where -v and --log send the phases: `file`, opened on `path` for
// appending (refused when it is one of `databases` or any database), or
// `err` when verbose; nullptr for neither. Throws InputError.
std::ostream* OpenLog(const std::string& path, bool verbose, const std::vector<std::string>& databases,
                      std::ofstream& file, std::ostream& err);

// Parses the command line and runs the command it names.
int Main(int argc, char** argv);

}  // namespace velaccap::cli
