#include "cli/commands.h"

#include <signal.h>

#include <chrono>
#include <optional>

#include <nlohmann/json.hpp>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>

#include "batch/command.h"
#include "check/check.h"
#include "check/report.h"
#include "check/trial.h"
#include "cli/account_set.h"
#include "cli/output_file.h"
#include "cli/run_guard.h"
#include "cli/sample.h"
#include "cli/summary.h"
#include "progress/run_report.h"
#include "reconcile/reconcile.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/fault.h"
#include "velaccap/open.h"
#include "velaccap/trace.h"

namespace velaccap::cli {

namespace {

// One file under two names (a link, another path) is one account set.
void RefuseSameDatabase(const std::string& source, const std::string& target) {
  if (SameFile(source, target))
    throw InputError("SOURCE and TARGET are the same database (" + source + ", " + target +
                     "); the run reads one account set and writes another");
}

// The lock wait both database commands take.
void AddWaitOption(CLI::App* command, int* seconds) {
  command
      ->add_option("--wait", *seconds,
                   "Wait this long for another program's lock on a database file before refusing it")
      ->option_text("SECONDS")
      ->capture_default_str()
      ->check(CLI::Range(0, 86400));
}

const char* SignalName(int sig) { return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "a signal"; }

// Ends the target's transaction after a run that did not succeed, keeping its
// work only when asked to. Returns what became of the target, for the user.
std::string EndFailedRun(TargetConnection& target, const std::string& name, bool keep) {
  if (!target.InTransaction())
    return "the engine rolled back the run's work itself on this error; " + name + " is as it was";
  if (keep) {
    try {
      target.Commit();
      return "--no-atomic: the work done before the failure was kept in " + name;
    } catch (const std::exception& e) {
      std::string why = e.what();
      try {
        target.Rollback();
      } catch (const std::exception&) {
      }
      return "--no-atomic: the work done could not be kept (" + why + "); " + name + " is as it was";
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

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  const std::string target_name = DisplayName(options.target);
  const bool file_target = IsFileTarget(options.target);
  const OpenOptions open_options{options.wait_seconds * 1000, true};
  std::unique_ptr<SourceDatabase> source;
  std::unique_ptr<TargetConnection> target;
  std::unique_ptr<OutputFile> trace_file, summary_file;
  std::ostream trace(nullptr);
  try {
    // Nothing is opened for writing before the paths are known to be safe.
    if (file_target) RefuseSameDatabase(options.source, options.target);
    std::vector<std::string> databases{options.source};
    if (file_target) databases.push_back(options.target);
    if (!options.trace.empty()) CheckOutputPath(options.trace, "trace", databases);
    if (!options.summary.empty()) {
      CheckOutputPath(options.summary, "summary", databases);
      if (!options.trace.empty() && (options.summary == options.trace || SameFile(options.summary, options.trace)))
        throw InputError("the summary file and the trace file are the same file " + options.summary);
    }
    source = OpenSource(options.source, open_options);
    target = OpenTarget(options.target, open_options);
    // Created before the target's journal exists, so that nothing the tool
    // opens for writing can be the engine's file.
    if (!options.trace.empty()) {
      trace_file = std::make_unique<OutputFile>(options.trace, "trace");
      trace.rdbuf(trace_file.get());
      // A failed write reaches the run as the error OutputFile raised.
      trace.exceptions(std::ios::badbit);
    }
    if (!options.summary.empty()) summary_file = std::make_unique<OutputFile>(options.summary, "summary");
    // The write lock first: the checks below then see what the run will see.
    target->BeginTransaction();
    RequireFit(*source, options.source, *target, options.target);
  } catch (const std::exception& e) {
    if (target) {
      try {
        target->Rollback();
      } catch (const std::exception&) {
      }
    }
    err << "apupgrade: " << e.what() << '\n';
    return 2;
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
  RunGuard guard;
  layer(guard.WrapSource(*src), guard.WrapTarget(*tgt));
  if (trace_file) layer(TraceSource(*src, trace), TraceTarget(*tgt, trace));

  progress::ReportOptions report_options;
  report_options.source_name = options.source;
  report_options.target_name = target_name;
  report_options.live = options.live ? *options.live : progress::LiveOnStderr(options.quiet);
  report_options.count_on = source.get();  // below the trace, which keeps to the run
  report_options.start = start;
  std::unique_ptr<progress::RunReport> report_holder;

  clsAPA812 component;
  bool ok;
  std::string failure;
  int signal = 0;
  std::optional<reconcile::Result> proof;
  {
    SignalWatch signals;
    // Its count queries may take a while on a large source: an interrupt
    // there is noted too.
    report_holder = std::make_unique<progress::RunReport>(*src, *tgt, report_options);
    ok = component.UpdateA812ToS820(report_holder->source(), report_holder->target());
    report_holder->Finish(ok);
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
    if (ok && options.verify && SignalWatch::Received() == 0) {
      try {
        proof = reconcile::Reconcile(*source, *target,
                                     {report_holder->added_into(progress::Family::kSales),
                                      report_holder->added_into(progress::Family::kPurchase)});
      } catch (const std::exception& e) {
        ok = false;
        failure = e.what();
      }
    }
    signal = SignalWatch::Received();
    const bool keep = ok && signal == 0 && (!proof || proof->ok() || !options.atomic);
    if (keep) {
      try {
        target->Commit();
      } catch (const std::exception& e) {
        ok = false;
        failure = target_name + ": cannot commit the run: " + e.what();
      }
    }
  }

  const bool mismatch = ok && signal == 0 && proof && !proof->ok();
  std::string outcome;
  if (signal != 0) {
    outcome = EndFailedRun(*target, target_name, false);
  } else if (mismatch) {
    outcome = options.atomic ? EndFailedRun(*target, target_name, false)
                             : "--no-atomic: the run's work was kept in " + target_name;
  } else if (!ok) {
    if (guard.failed_side() == RunGuard::Side::kTarget && failure.find(target_name) == std::string::npos)
      failure = "target " + target_name + ": " + failure;
    else if (guard.failed_side() == RunGuard::Side::kSource)
      failure = "source " + options.source + ": " + failure;
    outcome = EndFailedRun(*target, target_name, !options.atomic);
  }
  try {
    if (trace_file) trace.flush();
  } catch (const std::exception&) {
    // Reported already, or the run succeeded and the trace was finished.
  }

  const progress::RunReport& report = *report_holder;
  const bool succeeded = ok && signal == 0 && !mismatch;
  const int code = signal != 0 ? 128 + signal : mismatch ? 3 : succeeded ? 0 : 1;
  std::string problem;
  if (!succeeded) {
    // Close everything, then let the engine recover whatever the failure
    // left beside the file and check it, so that the target is a clean
    // database.
    report_holder->ReleaseLayers();
    source_layers.clear();
    target_layers.clear();
    target.reset();
    source.reset();
    if (file_target) problem = RecoverTarget(options.target);
  }

  // The table is the record of a run that is kept; a failed run's counts are
  // in the JSON summary.
  if (!options.quiet && succeeded) {
    report.PrintTable(out);
    // Each check is in the JSON summary; the differences go to stderr.
    if (proof && proof->ok())
      out << "Reconciled with the source: " << proof->checked.size() << " checks, no differences.\n";
  }
  if (signal != 0) {
    err << "apupgrade: interrupted by " << SignalName(signal) << ": " << outcome << '\n';
  } else if (mismatch) {
    err << "apupgrade: the target does not reconcile with the source:\n";
    for (const reconcile::Difference& d : proof->differences)
      err << "apupgrade:   " << d.table << ", " << d.what << ": source " << d.source << ", target " << d.target
          << '\n';
    err << "apupgrade: " << outcome << '\n';
  } else if (!succeeded) {
    err << "apupgrade: migration failed: " << failure << '\n' << "apupgrade: " << outcome << '\n';
  }
  if (!problem.empty())
    err << "apupgrade: " << target_name << ": after the failure the engine's quick check reports: " << problem << '\n';

  if (summary_file) {
    nlohmann::json doc = report.ToJson();
    doc["status"] = signal != 0 ? "interrupted" : mismatch ? "mismatch" : succeeded ? "succeeded" : "failed";
    doc["exit_code"] = code;
    if (!succeeded) doc["error"] = signal != 0 ? std::string("interrupted by ") + SignalName(signal) : failure;
    if (!outcome.empty()) doc["target_after"] = outcome;
    if (proof) {
      nlohmann::json rec;
      rec["ok"] = proof->ok();
      rec["checked"] = proof->checked;
      rec["differences"] = nlohmann::json::array();
      for (const reconcile::Difference& d : proof->differences)
        rec["differences"].push_back({{"table", d.table}, {"what", d.what}, {"source", d.source}, {"target", d.target}});
      doc["reconciliation"] = std::move(rec);
    }
    try {
      WriteJson(*summary_file, doc);
    } catch (const std::exception& e) {
      err << "apupgrade: " << e.what() << '\n';
      return code == 0 ? 1 : code;
    }
  }
  return code;
}

int Check(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  const bool file_target = IsFileTarget(options.target);
  std::vector<check::Problem> problems;
  try {
    if (file_target) RefuseSameDatabase(options.source, options.target);
    const OpenOptions open_options{options.wait_seconds * 1000, true};
    std::unique_ptr<SourceDatabase> source = OpenSource(options.source, open_options);
    std::unique_ptr<TargetConnection> target = OpenTarget(options.target, open_options);
    check::Options check_options;
    check_options.compare = file_target ? check::TextCompare::kExact : check::TextCompare::kSqlServer;
    problems = check::FindProblems(*source, *target, check_options);
    // The rules cannot foresee a target's own constraints; a run on a copy
    // can. Only a run that could start is tried.
    if (file_target && options.trial && !check::FirstIdentityError(problems))
      check::ApplyTrial(check::TrialRun(*source, options.target), &problems);
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    return 2;
  }
  if (options.json)
    out << check::ProblemsJson(options.source, DisplayName(options.target), problems);
  else
    check::PrintProblems(out, problems);
  return check::FirstError(problems) ? 1 : 0;
}

int NewTarget(const std::string& path, std::ostream& out, std::ostream& err) {
  try {
    CreateTarget(path);
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    return 2;
  }
  out << path << ": empty 8.20 account set created\n";
  return 0;
}

int Sample(const std::string& path, long long lines, std::uint64_t seed, std::ostream& out,
           std::ostream& err) {
  SampleCounts counts;
  try {
    counts = WriteSample(path, SampleOptions{lines, seed});
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    return 2;
  }
  out << path << ": 8.12 account set with " << counts.sales_lines << " sales and "
      << counts.purchase_lines << " purchase invoice lines (" << counts.continuation_lines
      << " on continuation invoices), " << counts.detail_rows << " ledger lines\n";
  return 0;
}

int Main(int argc, char** argv) {
  CLI::App app{"apupgrade: upgrades the receivables and payables ledger of an account set "
               "from release 8.12 to release 8.20"};
  app.require_subcommand(1);

  MigrateOptions migrate;
  bool no_atomic = false;
  CLI::App* m = app.add_subcommand("migrate", "Migrate the ledger of SOURCE (8.12) into TARGET (8.20)");
  m->add_option("SOURCE", migrate.source, "8.12 account set: a SQLite file, or an Access .mdb/.accdb file")
      ->required();
  m->add_option("TARGET", migrate.target,
                "8.20 account set: an existing SQLite file, or odbc:<connection string>")
      ->required();
  m->add_flag("--no-atomic", no_atomic,
              "No enclosing transaction: a failed run leaves the target as far as it got");
  m->add_option("--trace", migrate.trace, "Write every database operation of the run to FILE")->option_text("FILE");
  m->add_flag("-q,--quiet", migrate.quiet, "No progress and no closing summary; errors only");
  m->add_flag("!--no-verify", migrate.verify,
              "Do not reconcile the target with the source before committing the run");
  m->add_option("--summary", migrate.summary, "Write the run's summary to FILE as JSON")->option_text("FILE");
  AddWaitOption(m, &migrate.wait_seconds);

  CheckOptions check_options;
  CLI::App* c = app.add_subcommand(
      "check", "Read SOURCE and TARGET, write nothing, and list every problem on which migrate would stop");
  c->add_option("SOURCE", check_options.source, "8.12 account set: a SQLite file, or an Access .mdb/.accdb file")
      ->required();
  c->add_option("TARGET", check_options.target,
                "8.20 account set: an existing SQLite file, or odbc:<connection string>")
      ->required();
  c->add_flag("--json", check_options.json, "Write the findings as JSON");
  c->add_flag("!--no-trial", check_options.trial,
              "Skip the trial run of the whole migration on a scratch copy of a SQLite target (faster, but only "
              "the rules' findings)");
  AddWaitOption(c, &check_options.wait_seconds);

  std::string new_target;
  CLI::App* n = app.add_subcommand("new-target", "Create an empty 8.20 SQLite account set");
  n->add_option("FILE", new_target, "File to create; must not exist")->required();

  std::string sample;
  long long lines = 1000;
  std::uint64_t seed = 1;
  CLI::App* s = app.add_subcommand("sample", "Write a synthetic 8.12 SQLite account set");
  s->add_option("FILE", sample, "File to create; must not exist")->required();
  s->add_option("--lines", lines, "About this many invoice lines")
      ->capture_default_str()
      ->check(CLI::Range(0LL, 1000000000LL));
  s->add_option("--seed", seed, "Seed; the same seed gives the same account set")->capture_default_str();

  const auto batch_command = batch::AddCommands(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version exit 0 through here; every real parse error is usage.
    int code = app.exit(e, std::cout, std::cerr);
    return code == 0 ? 0 : 2;
  }

  if (const std::optional<int> code = batch_command()) return *code;
  if (m->parsed()) {
    migrate.atomic = !no_atomic;
    return Migrate(migrate, std::cout, std::cerr);
  }
  if (c->parsed()) return Check(check_options, std::cout, std::cerr);
  if (n->parsed()) return NewTarget(new_target, std::cout, std::cerr);
  return Sample(sample, lines, seed, std::cout, std::cerr);
}

}  // namespace velaccap::cli
