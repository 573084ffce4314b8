// apupgrade check: both databases read, nothing written, every problem listed.
#include <fstream>
#include <optional>
#include <ostream>

#include "check/check.h"
#include "check/report.h"
#include "check/trial.h"
#include "progress/document.h"
#include "cli/commands.h"
#include "progress/messages.h"
#include "progress/phases.h"
#include "run/account_set.h"
#include "run/password.h"
#include "velaccap/open.h"

namespace velaccap::cli {

int Check(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  const auto started = document::Clock::now();
  const bool file_target = IsFileTarget(options.target);
  std::vector<check::Problem> problems;
  const char* refusal = "unusable-database";
  std::ofstream log_file;
  std::optional<progress::Phases> phases;
  try {
    std::vector<std::string> databases{options.source};
    if (file_target) databases.push_back(options.target);
    phases.emplace(progress::LiveOnStderr(false),
                   OpenLog(options.log_path, options.verbose, databases, log_file, err));
    phases->Phase("checking");
    if (file_target) {
      refusal = "same-database";
      run::RefuseSameDatabase(options.source, options.target);
      refusal = "unusable-database";
    }
    OpenOptions open_options{options.wait_seconds * 1000, true};
    open_options.read_only = true;  // the trial runs on a copy
    std::unique_ptr<SourceDatabase> source = OpenSource(options.source, open_options);
    std::unique_ptr<TargetConnection> target =
        OpenTarget(run::ConnectName(options.target, options.odbc_password), open_options);
    check::Options check_options;
    check_options.compare = file_target ? check::TextCompare::kExact : check::TextCompare::kSqlServer;
    problems = check::FindProblems(*source, *target, check_options);
    // The rules cannot foresee a target's own constraints; a run on a copy
    // can. Only a run that could start is tried.
    if (file_target && options.trial && !check::FirstIdentityError(problems))
      check::ApplyTrial(check::TrialRun(*source, options.target, &*phases), &problems);
  } catch (const std::exception& e) {
    if (phases) phases->End(std::string("refused: ") + e.what());
    progress::SayError(err, e.what());
    // A program reading the JSON learns of the refusal there too.
    if (!options.json) return 2;
    if (dynamic_cast<const MissingFileError*>(&e)) refusal = "missing-file";
    problems = {{check::Problem::Severity::kError, 0, "", "", e.what(), false, refusal}};
    phases.reset();  // ended above, as refused
  }
  if (phases) phases->End(check::FirstError(problems) ? "checked: migrate would stop" : "checked: migrate would run to its end");
  if (options.json)
    out << check::ProblemsJson(document::Begin(document::kCheck, started, document::Clock::now()), options.source,
                               run::DisplayName(options.target), problems);
  else
    check::PrintProblems(out, problems);
  return check::ExitCode(problems);
}

}  // namespace velaccap::cli
