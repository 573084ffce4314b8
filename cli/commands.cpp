#include "cli/commands.h"

#include <signal.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <optional>

#include <nlohmann/json.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "batch/command.h"
#include "check/check.h"
#include "check/report.h"
#include "check/row_rules.h"
#include "check/trial.h"
#include "cli/account_set.h"
#include "cli/output_file.h"
#include "cli/password.h"
#include "cli/run_guard.h"
#include "cli/sample.h"
#include "cli/summary.h"
#include "cli/version.h"
#include "dbaccess/odbc_connection_string.h"
#include "progress/document.h"
#include "progress/run_report.h"
#include "reconcile/json.h"
#include "reconcile/reconcile.h"
#include "run/verify.h"
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

// A number option's text must be a whole number before its range is
// checked; and CLI11 would read -1 as 2^64-1 for an unsigned one.
CLI::Validator WholeNumber(bool negative_allowed) {
  return CLI::Validator(
      [negative_allowed](std::string& value) -> std::string {
        const std::size_t digits = value.starts_with('-') ? 1 : 0;
        if (value.size() == digits || value.find_first_not_of("0123456789", digits) != std::string::npos)
          return "Value " + value + " is not a whole number";
        if (digits && !negative_allowed) return "Value " + value + " is negative";
        // CLI11 would take a number past 64 bits as the largest one.
        std::uint64_t n = 0;
        if (std::from_chars(value.data() + digits, value.data() + value.size(), n).ec != std::errc())
          return "Value " + value + " is too large";
        return {};
      },
      "");
}

// The lock wait both database commands take.
void AddWaitOption(CLI::App* command, int* seconds) {
  command
      ->add_option("--wait", *seconds,
                   "Wait SECONDS (0 to 86400) for another program's lock on a database file before refusing it")
      ->type_name("SECONDS")
      ->capture_default_str()
      ->check(WholeNumber(true))
      ->check(CLI::Range(0, 86400).description(""));
}

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

const char* SignalName(int sig) { return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "a signal"; }

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

// The target to connect to: an ODBC connection string gets the password
// given apart from it.
std::string ConnectName(const std::string& target, const std::string& password) {
  constexpr std::string_view kOdbc = "odbc:";
  if (password.empty() || !target.starts_with(kOdbc)) return target;
  return std::string(kOdbc) + AddOdbcPassword(std::string_view(target).substr(kOdbc.size()), password);
}


}  // namespace

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  const auto started_at = document::Clock::now();
  // "-": the summary goes to stdout, once, at the end, in place of the table.
  const bool summary_to_stdout = options.summary == "-";
  const bool summary_to_file = !options.summary.empty() && !summary_to_stdout;
  bool summary_path_ok = false;  // cleared by the checks: a refusal may be written there
  const std::string target_name = DisplayName(options.target);
  const bool file_target = IsFileTarget(options.target);
  OpenOptions open_options{options.wait_seconds * 1000, true};
  if (options.watch_signals) open_options.interrupted = [] { return SignalWatch::Received() != 0; };
  std::unique_ptr<SourceDatabase> source;
  std::unique_ptr<TargetConnection> target;
  std::unique_ptr<OutputFile> trace_file, summary_file;
  std::ostream trace(nullptr);
  // Watched from the start: a signal while the databases are opened and
  // checked is noted, and the run then does not begin.
  std::optional<SignalWatch> signals;
  if (options.watch_signals) signals.emplace();
  try {
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
      summary_file = std::move(file);
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
    const int code = sig ? 128 + sig : 2;
    const std::string why =
        sig ? std::string("interrupted by ") + SignalName(sig) + " before the run began; nothing was written" : e.what();
    err << "apupgrade: " << why << '\n';
    nlohmann::json doc;
    document::Stamp(doc, document::kSummary, started_at, document::Clock::now());
    doc.update({{"source", options.source}, {"target", target_name},
                {"status", sig ? "interrupted" : "refused"}, {"exit_code", code}, {"error", why}});
    if (options.summary_json) *options.summary_json = doc;
    try {
      // A refusal before the file was made is written too, where the path
      // was found safe.
      if (!summary_file && summary_path_ok) summary_file = std::make_unique<OutputFile>(options.summary, "summary");
      if (summary_file) {
        summary_file->Restart();
        WriteJson(*summary_file, doc);
      } else if (summary_to_stdout) {
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
      }
    } catch (const std::exception& w) {
      err << "apupgrade: " << w.what() << '\n';
    }
    return code;
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
  report_options.live = options.live ? *options.live : progress::LiveOnStderr(options.quiet);
  report_options.count_on = source.get();  // below the trace, which keeps to the run
  report_options.start = start;
  report_options.observer = options.observer;
  std::unique_ptr<progress::RunReport> report_holder;

  clsAPA812 component;
  bool ok;
  std::string failure;
  int signal = 0;
  bool cancelled = false;
  std::optional<reconcile::Result> proof;
  {
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
    if (ok && options.verify && SignalWatch::Received() == 0 && !(options.cancel && options.cancel->load())) {
      try {
        proof = reconcile::Reconcile(*source, *target,
                                     reconcile::RunCounts{report_holder->added_into(progress::Family::kSales),
                                                          report_holder->added_into(progress::Family::kPurchase)});
      } catch (const std::exception& e) {
        ok = false;
        failure = e.what();
      }
    }
    signal = SignalWatch::Received();
    cancelled = options.cancel && options.cancel->load();
    const bool keep = ok && signal == 0 && !cancelled && (!proof || proof->ok() || !options.atomic);
    if (keep) {
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
  std::string outcome;
  if (signal != 0 || cancelled) {
    outcome = EndFailedRun(*target, target_name, false, options.keep_label);
  } else if (mismatch) {
    outcome = options.atomic ? EndFailedRun(*target, target_name, false, options.keep_label)
                             : options.keep_label + ": the run's work was kept in " + target_name;
  } else if (!ok) {
    // The runtime's conversion errors name no value: the row and column
    // the run read last do.
    if (guard.failed_side() == RunGuard::Side::kNone) failure = rules->Named(failure);
    if (guard.failed_side() == RunGuard::Side::kTarget && failure.find(target_name) == std::string::npos)
      failure = "target " + target_name + ": " + failure;
    else if (guard.failed_side() == RunGuard::Side::kSource)
      failure = "source " + options.source + ": " + failure;
    outcome = EndFailedRun(*target, target_name, !options.atomic, options.keep_label);
  }
  try {
    if (trace_file) trace.flush();
  } catch (const std::exception&) {
    // Reported already, or the run succeeded and the trace was finished.
  }

  const progress::RunReport& report = *report_holder;
  const bool succeeded = ok && signal == 0 && !cancelled && !mismatch;
  int code = signal != 0 ? 128 + signal : cancelled ? kCancelled : mismatch ? 3 : succeeded ? 0 : 1;
  std::string problem;
  if (!succeeded) {
    // Close everything, then let the engine recover whatever the failure
    // left beside the file and check it, so that the target is a clean
    // database.
    report_holder->ReleaseLayers();
    rules.reset();
    source_layers.clear();
    target_layers.clear();
    target.reset();
    source.reset();
    if (file_target) problem = RecoverTarget(options.target);
  }

  // The table is the record of a run that is kept; a failed run's counts are
  // in the JSON summary.
  if (!options.quiet && succeeded && !summary_to_stdout) {
    report.PrintTable(out);
    // Each check is in the JSON summary; the differences go to stderr.
    if (proof && proof->ok()) {
      out << "Reconciled with the source: " << Plural(static_cast<long long>(proof->checked.size()), "check", "checks")
          << ", no differences.\n";
      if (!proof->not_compared.empty())
        out << "Not compared: " << Plural(static_cast<long long>(proof->not_compared.size()), "column", "columns")
            << " that one side lacks or does not declare a number (--summary lists them).\n";
    }
    if (!out.flush()) {
      err << "apupgrade: " << kOutputLostText << " the closing table could not be written to the standard output\n";
      code = kOutputLost;
    }
  }
  if (signal != 0) {
    err << "apupgrade: interrupted by " << SignalName(signal) << ": " << outcome << '\n';
  } else if (cancelled) {
    err << "apupgrade: cancelled by the host: " << outcome << '\n';
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

  nlohmann::json doc;
  if (summary_file || summary_to_stdout || options.summary_json) {
    doc = report.ToJson();
    document::Stamp(doc, document::kSummary, started_at, document::Clock::now());
    doc["status"] = signal != 0 ? "interrupted"
                    : cancelled ? "cancelled"
                    : mismatch  ? "mismatch"
                    : succeeded ? "succeeded"
                                : "failed";
    doc["exit_code"] = code;
    if (!succeeded)
      doc["error"] = signal != 0 ? std::string("interrupted by ") + SignalName(signal)
                     : cancelled ? std::string("cancelled by the host")
                                 : failure;
    if (!outcome.empty()) doc["target_after"] = outcome;
    if (proof) doc["reconciliation"] = reconcile::ToJson(*proof);
    if (options.summary_json) *options.summary_json = doc;
  }
  if (summary_file) {
    try {
      summary_file->Restart();
      WriteJson(*summary_file, doc);
    } catch (const std::exception& e) {
      // A failed run stays a failure; a committed one is not undone by it.
      err << "apupgrade: " << (succeeded ? std::string(kOutputLostText) + " the summary could not be written: " : "")
          << e.what() << '\n';
      if (succeeded) return kOutputLost;
    }
  } else if (summary_to_stdout) {
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    if (!out.flush()) {
      err << "apupgrade: " << (succeeded ? std::string(kOutputLostText) + " the summary" : std::string("the summary"))
          << " could not be written to the standard output\n";
      if (succeeded) return kOutputLost;
    }
  }
  return code;
}

int Check(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  const auto started = document::Clock::now();
  const bool file_target = IsFileTarget(options.target);
  std::vector<check::Problem> problems;
  const char* refusal = "same-database";
  try {
    if (file_target) RefuseSameDatabase(options.source, options.target);
    refusal = "unusable-database";
    OpenOptions open_options{options.wait_seconds * 1000, true};
    open_options.read_only = true;  // the trial runs on a copy
    std::unique_ptr<SourceDatabase> source = OpenSource(options.source, open_options);
    std::unique_ptr<TargetConnection> target =
        OpenTarget(ConnectName(options.target, options.odbc_password), open_options);
    check::Options check_options;
    check_options.compare = file_target ? check::TextCompare::kExact : check::TextCompare::kSqlServer;
    problems = check::FindProblems(*source, *target, check_options);
    // The rules cannot foresee a target's own constraints; a run on a copy
    // can. Only a run that could start is tried.
    if (file_target && options.trial && !check::FirstIdentityError(problems))
      check::ApplyTrial(check::TrialRun(*source, options.target), &problems);
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    // A program reading the JSON learns of the refusal there too.
    if (!options.json) return 2;
    std::error_code ec;
    if (!std::filesystem::exists(options.source, ec) || (file_target && !std::filesystem::exists(options.target, ec)))
      refusal = "missing-file";
    problems = {{check::Problem::Severity::kError, 0, "", "", e.what(), false, refusal}};
  }
  if (options.json)
    out << check::ProblemsJson(options.source, DisplayName(options.target), problems, started,
                               document::Clock::now());
  else
    check::PrintProblems(out, problems);
  return check::ExitCode(problems);
}

int Verify(const VerifyCommandOptions& options, std::ostream& out, std::ostream& err) {
  const auto started = document::Clock::now();
  run::VerifyOutcome v;
  try {
    if (IsFileTarget(options.target)) RefuseSameDatabase(options.source, options.target);
    v = run::Verify(options.source, ConnectName(options.target, options.odbc_password),
                    run::VerifyOptions{options.wait_seconds});
  } catch (const InputError& e) {
    v.code = run::VerifyOutcome::kRefused;
    v.error = e.what();
  }
  if (options.json) {
    out << run::VerifyJson(options.source, DisplayName(options.target), v, v.code, started) << '\n';
  } else if (v.result) {
    reconcile::PrintResult(out, *v.result);
  }
  if (!v.error.empty()) {
    std::istringstream lines(v.error);
    for (std::string line; std::getline(lines, line);) err << "apupgrade: " << line << '\n';
    if (v.code == run::VerifyOutcome::kNotRun) err << "apupgrade: the target is not proven to reconcile\n";
  } else if (v.code == run::VerifyOutcome::kDifferences) {
    err << "apupgrade: the target does not reconcile with the source\n";
  }
  return v.code;
}

int NewTarget(const std::string& path, std::ostream& out, std::ostream& err) {
  if (!IsFileTarget(path)) {
    // A file named so would only confuse: the database is the server's.
    err << "apupgrade: new-target makes SQLite files; create a SQL Server 8.20 database with the script "
           "share/velaccap/target_820_mssql.sql (for example: sqlcmd -S HOST -d ledger820 -i "
           "target_820_mssql.sql)\n";
    return 2;
  }
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
      << Plural(counts.purchase_lines, "purchase invoice line", "purchase invoice lines") << " ("
      << counts.continuation_lines << " on continuation invoices), "
      << Plural(counts.detail_rows, "ledger line", "ledger lines") << '\n';
  return 0;
}

namespace {

constexpr const char* kTool = "apupgrade";

// What each of the two databases may be, as the help says it.
constexpr const char* kSourceHelp = "8.12 account set: a SQLite file, or an Access .mdb/.accdb file";
constexpr const char* kTargetHelp =
    "8.20 account set: an existing SQLite file, or odbc:<connection string> (its password may instead come "
    "from APUPGRADE_ODBC_PASSWORD or --password-prompt)";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0    success\n"
    "  1    the migration failed; without --no-atomic the target is as it was\n"
    "  2    bad usage, or a database or file that cannot be used; nothing was written\n"
    "  3    the target does not reconcile with the source; rolled back unless --no-atomic\n"
    "  5    migrated and committed, but the summary or the closing table could not be written\n"
    "  130  interrupted by SIGINT (143: SIGTERM); rolled back\n";

constexpr const char* kFooter =
    "Examples:\n"
    "  apupgrade sample ledger812.db --lines 10000\n"
    "  apupgrade new-target ledger820.db\n"
    "  apupgrade check ledger812.db ledger820.db\n"
    "  apupgrade migrate ledger812.db ledger820.db --summary run.json\n"
    "  apupgrade batch installation.csv --jobs 4 --report batch.html\n"
    "  APUPGRADE_ODBC_PASSWORD=... apupgrade migrate ledger812.mdb 'odbc:DSN=ledger820;UID=upgrade'\n"
    "\n"
    "Exit codes:\n"
    "  0    success (check: migrate would run to its end)\n"
    "  1    the migration failed (check: migrate would stop)\n"
    "  2    bad usage, or a database or file that cannot be used; nothing was written\n"
    "  3    the target does not reconcile with the source\n"
    "  5    migrated and committed, but the summary or the closing table could not be written\n"
    "  130  interrupted by SIGINT (143: SIGTERM); rolled back\n"
    "\n"
    "Environment:\n"
    "  APUPGRADE_ODBC_PASSWORD  the password of an odbc: target whose connection string has\n"
    "                           no PWD (the command line is visible to every user in ps)\n"
    "\n"
    "Run 'apupgrade COMMAND --help' for the options of a command.";

// A command of the tool: its parser and what runs when it is given.
struct Command {
  CLI::App* parser;
  std::function<int()> run;
};

// A parse error as one line naming the command, then where help is.
int UsageError(const std::string& command, const std::string& message) {
  const std::string who = command.empty() ? "" : command + ": ";
  std::cerr << kTool << ": " << who << message << '\n'
            << kTool << ": see '" << kTool << (command.empty() ? "" : " " + command) << " --help'\n";
  return 2;
}

// A required argument; its name says what it takes (CLI11 would add TEXT).
CLI::Option* Positional(CLI::App* app, const char* name, std::string& into, const char* help) {
  return app->add_option(name, into, help)->required()->type_name("");
}

// The password of an odbc: target (from the environment or the terminal)
// into *out; false, with the reason printed, when it cannot be had.
bool TakePassword(const std::string& target, bool prompt, std::string* out) {
  try {
    *out = OdbcPassword(target, prompt);
    return true;
  } catch (const std::exception& e) {
    std::cerr << kTool << ": " << e.what() << '\n';
    return false;
  }
}

// Where a quiet command's report goes.
std::ostream& NullOut() {
  static std::ostream null(nullptr);
  return null;
}

void AddPasswordPrompt(CLI::App* command, bool* prompt) {
  command->add_flag("--password-prompt", *prompt,
                    "Ask on the terminal (without echo) for the password of an odbc: TARGET whose connection "
                    "string has no PWD");
}

}  // namespace

int Main(int argc, char** argv) {
  CLI::App app{"apupgrade: upgrades the receivables and payables ledger of an account set "
               "from release 8.12 to release 8.20",
               kTool};
  app.set_version_flag("-V,--version", [] { return VersionText(); }, "Print the version of the tool and of "
                       "SQLite, unixODBC and libmdb, and exit");
  app.footer(kFooter);
  app.get_formatter()->label("REQUIRED", "");
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  std::vector<Command> commands;
  // A command registers its parser and what it runs; Main finds the one given.
  auto add = [&](const char* name, const char* description, std::function<int()> run) {
    CLI::App* parser = app.add_subcommand(name, description)->group("Commands");
    commands.push_back({parser, std::move(run)});
    return parser;
  };

  MigrateOptions migrate;
  bool no_atomic = false, no_verify = false, migrate_prompt = false;
  CLI::App* m = add("migrate", "Migrate the ledger of SOURCE (8.12) into TARGET (8.20)", [&] {
    migrate.atomic = !no_atomic;
    migrate.verify = !no_verify;
    if (!TakePassword(migrate.target, migrate_prompt, &migrate.odbc_password)) return 2;
    return Migrate(migrate, std::cout, std::cerr);
  });
  Positional(m, "SOURCE", migrate.source, kSourceHelp);
  Positional(m, "TARGET", migrate.target, kTargetHelp);
  m->add_flag("--no-atomic", no_atomic,
              "Keep the work done before a failure (the steps before the failing one, that one in part) instead "
              "of rolling the run back; the run is still committed in one go at its end, so an error on which "
              "the engine rolls back by itself, a failed commit and an interrupt keep nothing");
  m->add_option("--trace", migrate.trace, "Write every database operation of the run to FILE")->type_name("FILE");
  m->add_flag("-q,--quiet", migrate.quiet, "No progress line and no closing table; errors only");
  m->add_flag("--no-verify", no_verify,
              "Do not reconcile the target with the source before committing the run");
  m->add_option("--summary", migrate.summary,
                "Write the run's counts, reconciliation and outcome to FILE as JSON, also for a refused run; "
                "'-' writes it to stdout in place of the closing table")
      ->type_name("FILE");
  AddWaitOption(m, &migrate.wait_seconds);
  AddPasswordPrompt(m, &migrate_prompt);
  m->footer(std::string("Example:\n  apupgrade migrate ledger812.db ledger820.db --trace run.trace --summary "
                        "run.json\n\n") +
            kExitCodes);

  CheckOptions check_options;
  bool check_prompt = false, no_trial = false;
  CLI::App* c = add("check", "Read SOURCE and TARGET, write nothing, and list every problem on which migrate would stop",
                    [&] {
                      check_options.trial = !no_trial;
                      if (!TakePassword(check_options.target, check_prompt, &check_options.odbc_password))
                        return 2;
                      return Check(check_options, std::cout, std::cerr);
                    });
  Positional(c, "SOURCE", check_options.source, kSourceHelp);
  Positional(c, "TARGET", check_options.target, kTargetHelp);
  c->add_flag("--json", check_options.json, "Write the findings as JSON");
  c->add_flag("--no-trial", no_trial,
              "Skip the trial run of the whole migration on a scratch copy of a SQLite target (faster, but only "
              "the rules' findings)");
  AddWaitOption(c, &check_options.wait_seconds);
  AddPasswordPrompt(c, &check_prompt);
  c->footer("Example:\n  apupgrade check ledger812.db ledger820.db\n\n"
            "Exit codes:\n"
            "  0  migrate would run to its end (warnings may be listed)\n"
            "  1  migrate would stop: the first error is where\n"
            "  2  a database cannot be used at all; bad usage\n");

  VerifyCommandOptions verify_options;
  bool verify_prompt = false;
  CLI::App* v = add("verify",
                    "Reconcile TARGET with SOURCE after a migration, before the books are used; read both, write "
                    "nothing",
                    [&] {
                      if (!TakePassword(verify_options.target, verify_prompt, &verify_options.odbc_password))
                        return 2;
                      return Verify(verify_options, std::cout, std::cerr);
                    });
  Positional(v, "SOURCE", verify_options.source, kSourceHelp);
  Positional(v, "TARGET", verify_options.target, kTargetHelp);
  v->add_flag("--json", verify_options.json, "Write the reconciliation as JSON");
  AddWaitOption(v, &verify_options.wait_seconds);
  AddPasswordPrompt(v, &verify_prompt);
  v->footer("Example:\n  apupgrade verify ledger812.db ledger820.db\n\n"
            "Exit codes:\n"
            "  0  the target reconciles with the source\n"
            "  1  a check could not run: the target is not proven\n"
            "  2  a database cannot be used at all; bad usage\n"
            "  3  the target does not reconcile: the differences are listed\n");

  std::string new_target;
  bool new_target_quiet = false;
  CLI::App* n = add("new-target", "Create FILE as an empty 8.20 SQLite account set",
                    [&] { return NewTarget(new_target, new_target_quiet ? NullOut() : std::cout, std::cerr); });
  Positional(n, "FILE", new_target, "File to create; must not exist");
  n->add_flag("-q,--quiet", new_target_quiet, "Print nothing on success");

  std::string sample;
  long long lines = 1000;
  std::uint64_t seed = 1;
  bool sample_quiet = false;
  CLI::App* s = add("sample", "Write FILE as a synthetic 8.12 SQLite account set", [&] {
    return Sample(sample, lines, seed, sample_quiet ? NullOut() : std::cout, std::cerr);
  });
  Positional(s, "FILE", sample, "File to create; must not exist");
  s->add_option("--lines", lines, "About N invoice lines (1 to 1000000000), half sales, half purchases")
      ->type_name("N")
      ->capture_default_str()
      ->check(WholeNumber(true))
      ->check(CLI::Range(1LL, 1000000000LL).description(""));
  s->add_option("--seed", seed, "Seed (0 or more); the same seed gives the same account set")
      ->type_name("N")
      ->capture_default_str()
      ->check(WholeNumber(false));
  s->add_flag("-q,--quiet", sample_quiet, "Print nothing on success");
  s->footer("Example:\n  apupgrade sample ledger812.db --lines 100000 --seed 7\n");

  // The batch's commands register themselves; they run as any other.
  const auto batch_command = batch::AddCommands(app);
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    bool listed = false;
    for (const Command& known : commands) listed = listed || known.parser == sub;
    if (listed) continue;
    sub->group("Commands");
    commands.push_back({sub, [&batch_command] { return batch_command().value_or(2); }});
  }

  // The command named, looked at before CLI11 parses, so that an unknown
  // one and "help" get their own words.
  std::string command;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] != '\0') continue;
    command = argv[i];
    if (command == "help") {
      if (i + 1 >= argc) {
        std::cout << app.help();
        return 0;
      }
      const std::string of = argv[i + 1];
      for (const Command& c : commands)
        if (c.parser->get_name() == of) {
          std::cout << c.parser->help(kTool);
          return 0;
        }
      return UsageError("", "unknown command '" + of + "'");
    }
    bool known = false;
    for (const Command& c : commands) known = known || c.parser->get_name() == command;
    if (!known) return UsageError("", "unknown command '" + command + "'");
    break;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();  // of the command given, if one was
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what();
    return 0;
  } catch (const CLI::ExtrasError&) {
    const std::vector<std::string> extra = app.remaining(true);
    const std::string first = extra.empty() ? "" : extra.front();
    if (first.size() > 1 && first[0] == '-') return UsageError(command, "unknown option '" + first + "'");
    return UsageError(command, "unexpected argument '" + first + "'");
  } catch (const CLI::ParseError& e) {
    return UsageError(command, e.what());
  }
  for (const Command& c : commands)
    if (c.parser->parsed()) return c.run();
  // No command: the usage, as an error.
  std::cerr << app.help();
  return UsageError("", "a command is required: " + [&] {
    std::string names;
    for (const Command& c : commands) names += (names.empty() ? "" : ", ") + c.parser->get_name();
    return names;
  }());
}

}  // namespace velaccap::cli
