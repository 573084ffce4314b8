#include "run/migration.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ostream>

#include "check/row_rules.h"
#include "progress/document.h"
#include "progress/phases.h"
#include "progress/rows_file.h"
#include "reconcile/json.h"
#include "run/account_set.h"
#include "run/password.h"
#include "run/run_guard.h"
#include "run/summary.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/fault.h"
#include "velaccap/open.h"
#include "velaccap/trace.h"

namespace velaccap::run {

namespace {

const char* SignalName(int sig) { return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "a signal"; }

const char* StatusWord(Status status) {
  switch (status) {
    case Status::kSucceeded: return "succeeded";
    case Status::kFailed: return "failed";
    case Status::kMismatch: return "mismatch";
    case Status::kRefused: return "refused";
    case Status::kInterrupted: return "interrupted";
    case Status::kCancelled: return "cancelled";
  }
  return "failed";
}

// What a committed run says when its output is lost.
constexpr const char* kOutputLostText = "migrated; the run was committed, but";

// Ends the target's transaction after a run that did not succeed, keeping its
// work only when asked to. Returns what became of the target, for the user.
std::string EndFailedRun(TargetConnection& target, const std::string& name, bool keep, const std::string& label) {
  if (!target.InTransaction())
    return "the engine rolled back the run's work itself on this error; " + name + " is as it was";
  if (keep) {
    try {
      target.Commit();
      return label + ": the work done before the failure was kept in " + name;
    } catch (const std::exception& e) {
      std::string why = e.what();
      try {
        target.Rollback();
      } catch (const std::exception&) {
      }
      return label + ": the work done could not be kept (" + why + "); " + name + " is as it was";
    }
  }
  try {
    target.Rollback();
  } catch (const std::exception& e) {
    // The file is recovered from its journal when it is next opened.
    return "the rollback failed (" + std::string(e.what()) + "); the engine restores " + name +
           " from its journal when it is next opened";
  }
  return "the run was rolled back; " + name + " is as it was";
}

}  // namespace

void Outcome::LoseOutput(const std::string& what) {
  messages.push_back(std::string(kOutputLostText) + " " + what);
  exit_code = kOutputLost;
  if (summary.is_object()) summary["exit_code"] = exit_code;
}

void WriteSummary(Outcome& outcome) {
  if (!outcome.summary_file) return;
  try {
    outcome.summary_file->Restart();
    WriteJson(*outcome.summary_file, outcome.summary);
  } catch (const std::exception& e) {
    // A failed run stays a failure; a committed one is not undone by it.
    if (outcome.succeeded())
      outcome.LoseOutput(std::string("the summary could not be written: ") + e.what());
    else
      outcome.messages.push_back(e.what());
  }
}

Outcome Migrate(const Options& options) {
  const auto start = std::chrono::steady_clock::now();
  const auto started_at = document::Clock::now();
  // "-" is the face's: the summary goes to stdout, with no file.
  const bool summary_to_file = !options.summary.empty() && options.summary != "-";
  bool summary_path_ok = false;  // cleared by the checks: a refusal may be written there
  const std::string target_name = DisplayName(options.target);
  const bool file_target = IsFileTarget(options.target);
  OpenOptions open_options{options.wait_seconds * 1000, true};
  if (options.watch_signals) open_options.interrupted = [] { return SignalWatch::Received() != 0; };
  Outcome outcome;
  std::unique_ptr<SourceDatabase> source;
  std::unique_ptr<TargetConnection> target;
  std::unique_ptr<OutputFile> trace_file;
  std::ostream trace(nullptr);
  // Watched from the start: a signal while the databases are opened and
  // checked is noted, and the run then does not begin.
  std::optional<SignalWatch> signals;
  if (options.watch_signals) signals.emplace();
  progress::Phases phases(options.live, options.log, start);
  std::unique_ptr<progress::RowsFile> rows_file;
  try {
    phases.Phase("checking");
    // Nothing is opened for writing before the paths are known to be safe.
    if (file_target && options.checks) RefuseSameDatabase(options.source, options.target);
    std::vector<std::string> databases{options.source};
    if (file_target) databases.push_back(options.target);
    if (!options.trace.empty()) CheckOutputPath(options.trace, "trace", databases);
    if (summary_to_file) {
      CheckOutputPath(options.summary, "summary", databases);
      if (!options.trace.empty() && (options.summary == options.trace || SameFile(options.summary, options.trace)))
        throw InputError("the summary file and the trace file are the same file " + options.summary);
      summary_path_ok = true;
    }
    source = OpenSource(options.source, open_options);
    target = OpenTarget(ConnectName(options.target, options.odbc_password), open_options);
    // Created before the target's journal exists, so that nothing the tool
    // opens for writing can be the engine's file.
    if (!options.trace.empty()) {
      trace_file = std::make_unique<OutputFile>(options.trace, "trace");
      trace.rdbuf(trace_file.get());
      // A failed write reaches the run as the error OutputFile raised.
      trace.exceptions(std::ios::badbit);
    }
    if (summary_to_file) {
      // Proved writable now: after the commit a summary that cannot be
      // written can no longer change what became of the target.
      summary_path_ok = false;  // a file that cannot be made is not tried again
      auto file = std::make_unique<OutputFile>(options.summary, "summary");
      nlohmann::json running;
      document::Stamp(running, document::kSummary, started_at, std::nullopt);
      running.update({{"source", options.source}, {"target", target_name}, {"status", "running"},
                      {"exit_code", nullptr}});
      WriteJson(*file, running);
      outcome.summary_file = std::move(file);
    }
    if (!options.rows_file.empty()) {
      rows_file = std::make_unique<progress::RowsFile>(options.rows_file);
      phases.KeepRowsIn(rows_file.get());
    }
    // The write lock first: the checks below then see what the run will see.
    target->BeginTransaction();
    if (options.checks) RequireFit(*source, options.source, *target, options.target);
    if (options.watch_signals && SignalWatch::Received()) throw Error("interrupted");  // named below
  } catch (const std::exception& e) {
    if (target) {
      try {
        target->Rollback();
      } catch (const std::exception&) {
      }
    }
    // A signal that ended a wait for a lock is the reason, not the lock.
    const int sig = options.watch_signals ? SignalWatch::Received() : 0;
    outcome.status = sig ? Status::kInterrupted : Status::kRefused;
    outcome.exit_code = sig ? 128 + sig : 2;
    outcome.error =
        sig ? std::string("interrupted by ") + SignalName(sig) + " before the run began; nothing was written" : e.what();
    outcome.messages.push_back(outcome.error);
    phases.End(std::string(StatusWord(outcome.status)) + ": " + outcome.error);
    document::Stamp(outcome.summary, document::kSummary, started_at, document::Clock::now());
    outcome.summary.update({{"source", options.source},       {"target", target_name},
                            {"status", StatusWord(outcome.status)}, {"exit_code", outcome.exit_code},
                            {"error", outcome.error}});
    // A refusal before the file was made is written too, where the path was
    // found safe.
    if (summary_path_ok) {
      try {
        outcome.summary_file = std::make_unique<OutputFile>(options.summary, "summary");
      } catch (const std::exception& w) {
        outcome.messages.push_back(w.what());
      }
    }
    return outcome;
  }

  // Layers, innermost first: a test's own layer and injected faults stand
  // where an engine fails; the guard stops at an interrupt and notes which
  // database failed (below the trace, whose own write errors are no
  // database's); the trace records what reaches the databases; the report
  // counts and shows progress.
  SourceDatabase* src = source.get();
  TargetConnection* tgt = target.get();
  std::vector<std::unique_ptr<SourceDatabase>> source_layers;
  std::vector<std::unique_ptr<TargetConnection>> target_layers;
  auto layer = [&](std::unique_ptr<SourceDatabase> s, std::unique_ptr<TargetConnection> t) {
    src = source_layers.emplace_back(std::move(s)).get();
    tgt = target_layers.emplace_back(std::move(t)).get();
  };
  if (options.target_layer) {
    target_layers.push_back(options.target_layer(*tgt));
    tgt = target_layers.back().get();
  }
  if (options.faults) layer(options.faults->WrapSource(*src), options.faults->WrapTarget(*tgt));
  RunGuard guard(options.cancel);
  layer(guard.WrapSource(*src), guard.WrapTarget(*tgt));
  // Above the guard: a row it refuses is no database's failure.
  auto rules = std::make_unique<check::RowRules>(*src);
  src = rules.get();
  if (trace_file) layer(TraceSource(*src, trace), TraceTarget(*tgt, trace));

  progress::ReportOptions report_options;
  report_options.source_name = options.source;
  report_options.target_name = target_name;
  report_options.live = options.live;
  report_options.count_on = source.get();  // below the trace, which keeps to the run
  report_options.start = start;
  report_options.observer = options.observer;
  report_options.phases = &phases;

  clsAPA812 component;
  bool ok;
  std::string failure;
  int signal = 0;
  bool cancelled = false;
  std::optional<reconcile::Result>& proof = outcome.reconciliation;
  {
    // Its count queries may take a while on a large source: an interrupt
    // there is noted too.
    outcome.report = std::make_unique<progress::RunReport>(*src, *tgt, report_options);
    ok = component.UpdateA812ToS820(outcome.report->source(), outcome.report->target());
    outcome.report->Finish(ok);
    if (!ok) failure = component.ErrDescription();
    if (ok && trace_file) {
      // The trace is whole on disk before the run's work is committed.
      try {
        trace.flush();
        trace_file->Finish();
      } catch (const std::exception& e) {
        ok = false;
        failure = e.what();
      }
    }
    // The proof reads the run's own writes, before they are committed, on
    // the databases themselves: the trace keeps to the run.
    if (ok && options.verify && SignalWatch::Received() == 0 && !(options.cancel && options.cancel->load())) {
      phases.Phase("reconciling");
      try {
        proof = reconcile::Reconcile(*source, *target,
                                     reconcile::RunCounts{outcome.report->added_into(progress::Family::kSales),
                                                          outcome.report->added_into(progress::Family::kPurchase)});
      } catch (const std::exception& e) {
        ok = false;
        failure = e.what();
      }
    }
    signal = SignalWatch::Received();
    cancelled = options.cancel && options.cancel->load();
    const bool keep = ok && signal == 0 && !cancelled && (!proof || proof->ok() || !options.atomic);
    if (keep) {
      phases.Phase("committing");
      try {
        target->Commit();
      } catch (const std::exception& e) {
        ok = false;
        failure = target_name + ": cannot commit the run: " + e.what();
      }
    }
    signals.reset();
  }

  const bool mismatch = ok && signal == 0 && !cancelled && proof && !proof->ok();
  std::string after;
  if (signal != 0 || cancelled) {
    after = EndFailedRun(*target, target_name, false, options.keep_label);
  } else if (mismatch) {
    after = options.atomic ? EndFailedRun(*target, target_name, false, options.keep_label)
                           : options.keep_label + ": the run's work was kept in " + target_name;
  } else if (!ok) {
    // The runtime's conversion errors name no value: the row and column
    // the run read last do.
    if (guard.failed_side() == RunGuard::Side::kNone) failure = rules->Named(failure);
    if (guard.failed_side() == RunGuard::Side::kTarget && failure.find(target_name) == std::string::npos)
      failure = "target " + target_name + ": " + failure;
    else if (guard.failed_side() == RunGuard::Side::kSource)
      failure = "source " + options.source + ": " + failure;
    after = EndFailedRun(*target, target_name, !options.atomic, options.keep_label);
  }
  try {
    if (trace_file) trace.flush();
  } catch (const std::exception&) {
    // Reported already, or the run succeeded and the trace was finished.
  }

  const bool succeeded = ok && signal == 0 && !cancelled && !mismatch;
  outcome.status = signal != 0 ? Status::kInterrupted
                   : cancelled ? Status::kCancelled
                   : mismatch  ? Status::kMismatch
                   : succeeded ? Status::kSucceeded
                               : Status::kFailed;
  outcome.exit_code = signal != 0 ? 128 + signal : cancelled ? kCancelled : mismatch ? 3 : succeeded ? 0 : 1;
  {
    const progress::StepReport totals = outcome.report->totals();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", outcome.report->elapsed_seconds());
    phases.End(std::string(succeeded ? "committed" : StatusWord(outcome.status)) + ": " +
               std::to_string(totals.read) + " rows read, " + std::to_string(totals.written) + " written in " +
               seconds + " s");
  }
  // Close everything before the outcome is shown; after a failure, let the
  // engine recover whatever it left beside the file and check it, so that
  // the target is a clean database.
  outcome.report->ReleaseLayers();
  rules.reset();
  source_layers.clear();
  target_layers.clear();
  target.reset();
  source.reset();
  std::string problem;
  if (!succeeded && file_target) problem = RecoverTarget(options.target);

  if (signal != 0) {
    outcome.messages.push_back(std::string("interrupted by ") + SignalName(signal) + ": " + after);
  } else if (cancelled) {
    outcome.messages.push_back("cancelled by the host: " + after);
  } else if (mismatch) {
    outcome.messages.push_back("the target does not reconcile with the source:");
    for (const reconcile::Difference& d : proof->differences)
      outcome.messages.push_back("  " + d.table + ", " + d.what + ": source " + d.source + ", target " + d.target);
    outcome.messages.push_back(after);
  } else if (!succeeded) {
    outcome.messages.push_back("migration failed: " + failure);
    outcome.messages.push_back(after);
  }
  if (!problem.empty())
    outcome.messages.push_back(target_name + ": after the failure the engine's quick check reports: " + problem);

  if (!succeeded)
    outcome.error = signal != 0 ? std::string("interrupted by ") + SignalName(signal)
                    : cancelled ? std::string("cancelled by the host")
                                : failure;
  nlohmann::json& doc = outcome.summary;
  doc = outcome.report->ToJson();
  document::Stamp(doc, document::kSummary, started_at, document::Clock::now());
  doc["status"] = StatusWord(outcome.status);
  doc["exit_code"] = outcome.exit_code;
  if (!succeeded) doc["error"] = outcome.error;
  if (!after.empty()) doc["target_after"] = after;
  if (proof) doc["reconciliation"] = reconcile::ToJson(*proof);
  return outcome;
}

}  // namespace velaccap::run
