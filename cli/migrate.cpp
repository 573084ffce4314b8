// apupgrade migrate: the run, its closing table and its messages.
#include <ostream>

#include "cli/commands.h"
#include "cli/print.h"

namespace velaccap::cli {

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err) {
  run::Options run_options = options;
  if (!run_options.live.out) run_options.live = progress::LiveOnStderr(options.quiet);
  run::Outcome outcome = run::Migrate(run_options);

  // The table is the record of a run that is kept; a failed run's counts are
  // in the JSON summary.
  if (!options.quiet && outcome.succeeded()) {
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
  for (const std::string& message : outcome.messages) err << "apupgrade: " << message << '\n';
  return outcome.exit_code;
}

}  // namespace velaccap::cli
