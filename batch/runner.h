// The batch: every account set of a manifest migrated by a child process of
// its own, N at a time, so that a crash, a hang or a failure of one touches
// no other; resumable from a state file; one report at the end.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "progress/live_line.h"

namespace velaccap::batch {

struct Options {
  std::string manifest;
  std::string state;        // empty: beside the manifest, named after the shard
  bool redo = false;        // migrate again the sets an earlier run did
  int jobs = 0;             // sets at a time; 0: the number of cores
  int timeout_seconds = 0;  // per set; 0: none
  std::string shard;        // "K/N", or empty for the whole manifest
  std::string summary;      // JSON summary file, or empty
  std::string report;       // HTML report file, or empty
  bool check = false;       // run check on every set instead of migrating
  bool quiet = false;       // no live progress and no closing table
  int wait_seconds = 5;     // passed to each run: the wait for another program's lock
  bool verbose = false;     // a stamped line on stderr per set started and ended
  std::string log_path;     // those lines appended to this file instead
  // The program run for each set with "migrate"/"check"; empty: this very
  // executable.
  std::string tool;
  // Where the live progress line goes; unset: stderr when it is a terminal.
  std::optional<progress::LiveOptions> live;
  // Tests only: called when a set's child has ended, before the state
  // records it.
  std::function<void(const std::string& name)> after_set;
};

// The state file used when none is named.
std::string DefaultStatePath(const std::string& manifest, const std::string& shard);

// Runs the batch. Exit code: 0 every set succeeded (or was done before), 1
// any failed, 2 a manifest or set that cannot be used (nothing migrated),
// 128 + the signal for a batch stopped by SIGINT or SIGTERM.
int Run(const Options& options, std::ostream& out, std::ostream& err);

// Reports the sets of several batch summaries (the shards of one
// installation) as one: the table, and --summary / --report files.
int Merge(const std::vector<std::string>& summaries, const std::string& summary, const std::string& report,
          std::ostream& out, std::ostream& err);

}  // namespace velaccap::batch
