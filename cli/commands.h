// The commands of the apupgrade tool. Each returns the process exit code:
// 0 success, 1 a migration that failed, 2 bad usage or an unusable input,
// 128 + the signal's number for a run stopped by SIGINT or SIGTERM.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>

#include "progress/live_line.h"

namespace velaccap {
class FaultInjector;
class TargetConnection;
}

namespace velaccap::cli {

struct MigrateOptions {
  std::string source;
  std::string target;
  bool atomic = true;    // a failed run is rolled back; otherwise its work is kept
  std::string trace;     // trace file, or empty for none
  bool quiet = false;    // no closing summary, no live progress
  int wait_seconds = 5;  // how long another program's lock on a file is waited on
  bool verify = true;    // reconcile the target with the source before committing
  std::string summary;   // JSON summary file, or empty for none
  // The password for an ODBC target whose connection string has none (from
  // the environment or the terminal); never shown.
  std::string odbc_password;
  // Identify both databases and refuse the same file twice before writing.
  bool checks = true;
  // SIGINT and SIGTERM stop the run (the tool); a host keeps its own.
  bool watch_signals = true;
  // Set from another thread (a host): the run stops at its next database
  // operation, is rolled back, and Migrate returns kCancelled.
  const std::atomic<bool>* cancel = nullptr;
  // Told of the run's progress (see progress::ReportOptions::observer).
  std::function<void(int step, const char* table, long long done, long long to_do)> observer;
  // When set, receives the JSON summary (as --summary writes it), also for
  // a refused run.
  nlohmann::json* summary_json = nullptr;
  // How messages name a kept failed run.
  std::string keep_label = "--no-atomic";
  // Where the live progress line goes; unset: stderr when it is a terminal.
  std::optional<progress::LiveOptions> live;
  // Tests only: fails an operation of the run as an engine would, below
  // every other layer.
  FaultInjector* faults = nullptr;
  // Tests only: a layer put over the target below every other one (a lost
  // row, a changed value), given the connection it wraps.
  std::function<std::unique_ptr<TargetConnection>(TargetConnection&)> target_layer;
};

// Migrate's result for a run a host cancelled.
inline constexpr int kCancelled = 4;
// Migrate's result for a run that was committed but whose summary or closing
// table could not be written: the target holds the migration.
inline constexpr int kOutputLost = 5;

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err);

struct CheckOptions {
  std::string source;
  std::string target;
  bool json = false;
  int wait_seconds = 5;
  bool trial = true;  // also run the migration on a scratch copy of a SQLite target
  std::string odbc_password;  // as MigrateOptions::odbc_password
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

// Parses the command line and runs the command it names.
int Main(int argc, char** argv);

}  // namespace velaccap::cli
