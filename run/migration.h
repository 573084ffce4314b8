// The whole checked run of one account set: open both databases, identify
// them, take the target's write lock, stack the layers, run the component,
// reconcile, commit or roll back and recover, and say what became of it.
// The tool's migrate command and the library's VelAccAP_Migrate both run
// this; they only choose the options and show the outcome.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "progress/live_line.h"
#include "progress/run_report.h"
#include "reconcile/reconcile.h"
#include "run/output_file.h"

namespace velaccap {
class FaultInjector;
class TargetConnection;
}  // namespace velaccap

namespace velaccap::run {

// The exit code of a run a host cancelled.
inline constexpr int kCancelled = 4;
// The exit code of a run that was committed but whose summary or closing
// table could not be written: the target holds the migration.
inline constexpr int kOutputLost = 5;

struct Options {
  std::string source;
  std::string target;
  bool atomic = true;    // a failed run is rolled back; otherwise its work is kept
  std::string trace;     // trace file, or empty for none
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
  // operation and is rolled back, with kCancelled.
  const std::atomic<bool>* cancel = nullptr;
  // Told of the run's progress (see progress::ReportOptions::observer).
  std::function<void(int step, const char* table, long long done, long long to_do)> observer;
  // How messages name a kept failed run.
  std::string keep_label = "--no-atomic";
  // Where the live progress line goes; none unless given.
  progress::LiveOptions live;
  // Where each phase and step is written as a line stamped with the time,
  // or nullptr.
  std::ostream* log = nullptr;
  // A file the run keeps its rows read in as it goes (for the batch that
  // started it), or empty.
  std::string rows_file;
  // Tests only: fails an operation of the run as an engine would, below
  // every other layer.
  FaultInjector* faults = nullptr;
  // Tests only: a layer put over the target below every other one (a lost
  // row, a changed value), given the connection it wraps.
  std::function<std::unique_ptr<TargetConnection>(TargetConnection&)> target_layer;
};

enum class Status { kSucceeded, kFailed, kMismatch, kRefused, kInterrupted, kCancelled };

struct Outcome {
  Status status = Status::kRefused;
  int exit_code = 2;  // 0, 1, 2, 3 (mismatch), kCancelled, kOutputLost, 128 + signal
  // Why the run did not succeed, as the summary's "error" says it.
  std::string error;
  // What the user is told, a message each (some span lines), in order,
  // without the tool's name.
  std::vector<std::string> messages;
  std::optional<reconcile::Result> reconciliation;
  // The per-step counts; unset for a run refused before it began. Its
  // layers are released: the databases are closed.
  std::unique_ptr<progress::RunReport> report;
  // The JSON summary, as the summary file gets it, also for a refused run.
  nlohmann::json summary;
  // The summary file, opened and proven writable before the run; written by
  // WriteSummary once the face has shown the outcome.
  std::unique_ptr<OutputFile> summary_file;

  bool succeeded() const { return status == Status::kSucceeded; }
  // A committed run whose `what` could not be written: told, and kOutputLost.
  void LoseOutput(const std::string& what);
};

Outcome Migrate(const Options& options);

// Writes the summary file, if the run has one, with the outcome as it now
// is. A write that fails is a message; for a run that succeeded, the exit
// code becomes kOutputLost.
void WriteSummary(Outcome& outcome);

}  // namespace velaccap::run
