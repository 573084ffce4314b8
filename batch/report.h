// What a batch reports of its sets: the closing table, the JSON summary, and
// the reading back of summaries written by other runs (the shards of one
// installation) to report them as one.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "progress/document.h"

namespace velaccap::batch {

// The status words of a set that are not one word.
inline constexpr const char* kTimedOut = "timed_out";
inline constexpr const char* kNotStarted = "not_started";

// The outcome of one set. Status is one of: succeeded, failed (the run
// stopped, or its target did not reconcile), timed_out, crashed, interrupted
// (rolled back at an interrupt), not_started (the batch was interrupted
// first), skipped (done by an earlier run, source unchanged).
struct SetResult {
  std::string name;
  std::string source;
  std::string target;
  std::string status;
  int exit_code = -1;  // the migration's, -1 when none ran (null in JSON)
  // The run's totals, -1 when none was kept (the JSON's "totals" is null).
  long long rows_read = -1;
  long long rows_written = -1;
  long long rows_updated = -1;
  // The reconciliation as the run's summary gives it ({ok, checked,
  // differences}); null when none was made.
  nlohmann::json reconciliation;
  double seconds = 0;
  std::string error;

  bool ok() const { return status == "succeeded" || status == "skipped"; }
};

nlohmann::json ToJson(const SetResult& r);
SetResult FromJson(const nlohmann::json& j);

// "24 checks, no differences", "2 differences", or "-".
std::string ReconciliationText(const nlohmann::json& reconciliation);

// A set as `batch --check` found it: its status is would_finish,
// would_stop, refused, or not_checked (the check did not end).
struct CheckedSet {
  std::string name;
  std::string source;
  std::string target;
  std::string status;
  int exit_code = -1;           // the check's, -1 when it did not end (null in JSON)
  nlohmann::ordered_json check;  // its `check --json` document, or null
  std::string error;            // what it said on stderr when refused or not ended
};

// The assessment as JSON (apupgrade.batch-check/1).
nlohmann::ordered_json CheckJson(const std::vector<CheckedSet>& sets, const std::string& manifest,
                                 const std::string& shard, int exit_code, document::Clock::time_point started);

// One row per set in the given order, then a line of counts.
void PrintTable(std::ostream& out, const std::vector<SetResult>& results);

// A set's seconds as the table, the page and the log show them: "1.25".
std::string Seconds(double s);

// "12 sets: 10 succeeded, 2 failed".
std::string CountsLine(const std::vector<SetResult>& results);

// The whole batch as JSON (apupgrade.batch-summary/1): its sets and their
// counts; `manifest` empty for a report of other summaries.
nlohmann::json SummaryJson(const std::vector<SetResult>& results, const std::string& manifest,
                           const std::string& shard, int exit_code,
                           document::Clock::time_point started = document::Clock::now());

// The sets of a summary written by `batch --summary`. Throws InputError
// naming the file when it is not one.
std::vector<SetResult> ReadSummary(const std::string& path);

// 0 when every set succeeded or was done before, else 1.
int ExitCodeOf(const std::vector<SetResult>& results);

}  // namespace velaccap::batch
