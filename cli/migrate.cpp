// apupgrade migrate: the run, its closing table and its messages.
#include <cerrno>
#include <cstring>
#include <ostream>

#include "cli/commands.h"
#include "cli/print.h"
#include "progress/messages.h"
#include "run/account_set.h"
#include "run/output_file.h"
#include "velaccap/open.h"

namespace velaccap::cli {

std::ostream* OpenLog(const std::string& path, bool verbose, const std::vector<std::string>& databases,
                      std::ofstream& file, std::ostream& err) {
  if (path.empty()) return verbose ? &err : nullptr;
  run::CheckOutputPath(path, "log", databases);
  file.open(path, std::ios::app);
  if (!file) throw InputError("cannot open the log file " + path + ": " + std::strerror(errno));
  return &file;
}

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err) {
  run::Options run_options = options;
  if (!run_options.live.out) run_options.live = progress::LiveOnStderr(options.quiet);
  std::ofstream log_file;
  try {
    std::vector<std::string> databases{options.source};
    if (IsFileTarget(options.target)) databases.push_back(options.target);
    run_options.log = OpenLog(options.log_path, options.verbose, databases, log_file, err);
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }
  run::Outcome outcome = run::Migrate(run_options);

  // The table is the record of a run that is kept; a failed run's counts are
  // in the JSON summary.
  // "--summary -": the summary is the standard output, in place of the table.
  const bool summary_to_stdout = options.summary == "-";
  if (!options.quiet && outcome.succeeded() && !summary_to_stdout) {
    outcome.report->PrintTable(out);
    // Each check is in the JSON summary; the differences go to stderr.
    const std::optional<reconcile::Result>& proof = outcome.reconciliation;
    if (proof && proof->ok()) {
      out << "Reconciled with the source: " << Plural(static_cast<long long>(proof->checked.size()), "check", "checks")
          << ", no differences.\n";
      if (!proof->not_compared.empty())
        out << "Not compared: " << Plural(static_cast<long long>(proof->not_compared.size()), "column", "columns")
            << " that one side lacks or does not declare a number (--summary lists them).\n";
    }
    if (!out.flush()) outcome.LoseOutput("the closing table could not be written to the standard output");
  }
  run::WriteSummary(outcome);
  if (summary_to_stdout) {
    out << outcome.summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    if (!out.flush()) {
      if (outcome.succeeded())
        outcome.LoseOutput("the summary could not be written to the standard output");
      else
        outcome.messages.push_back("the summary could not be written to the standard output");
    }
  }
  for (const std::string& message : outcome.messages) progress::SayError(err, message);
  return outcome.exit_code;
}

}  // namespace velaccap::cli
