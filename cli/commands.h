// The commands of the apupgrade tool. Each returns the process exit code:
// 0 success, 1 a migration that failed, 2 bad usage or an unusable input,
// 128 + the signal's number for a run stopped by SIGINT or SIGTERM.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "progress/live_line.h"
#include <ostream>
#include <string>

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
  // Where the live progress line goes; unset: stderr when it is a terminal.
  std::optional<progress::LiveOptions> live;
  // Tests only: fails an operation of the run as an engine would, below
  // every other layer.
  FaultInjector* faults = nullptr;
  // Tests only: a layer put over the target below every other one (a lost
  // row, a changed value), given the connection it wraps.
  std::function<std::unique_ptr<TargetConnection>(TargetConnection&)> target_layer;
};

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err);

struct CheckOptions {
  std::string source;
  std::string target;
  bool json = false;
  int wait_seconds = 5;
  bool trial = true;  // also run the migration on a scratch copy of a SQLite target
};

// Reads both databases, writes nothing, lists every problem: exit 0 when
// migrate would run to its end, 1 when it would stop, 2 when a database
// cannot be used at all.
int Check(const CheckOptions& options, std::ostream& out, std::ostream& err);
int NewTarget(const std::string& path, std::ostream& out, std::ostream& err);
int Sample(const std::string& path, long long lines, std::uint64_t seed, std::ostream& out,
           std::ostream& err);

// Parses the command line and runs the command it names.
int Main(int argc, char** argv);

}  // namespace velaccap::cli
