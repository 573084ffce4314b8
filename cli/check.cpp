// apupgrade check: both databases read, nothing written, every problem listed.
#include <optional>
#include <ostream>

#include "check/check.h"
#include "check/report.h"
#include "check/trial.h"
#include "cli/commands.h"
#include "progress/messages.h"
#include "progress/phases.h"
#include "run/account_set.h"
#include "run/password.h"
#include "velaccap/open.h"

namespace velaccap::cli {

int Check(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  const bool file_target = IsFileTarget(options.target);
  std::vector<check::Problem> problems;
  std::ofstream log_file;
  std::optional<progress::Phases> phases;
  try {
    std::vector<std::string> databases{options.source};
    if (file_target) databases.push_back(options.target);
    phases.emplace(progress::LiveOnStderr(false),
                   OpenLog(options.log_path, options.verbose, databases, log_file, err));
    phases->Phase("checking");
    if (file_target) run::RefuseSameDatabase(options.source, options.target);
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
    return 2;
  }
  phases->End(check::FirstError(problems) ? "checked: migrate would stop" : "checked: migrate would run to its end");
  if (options.json)
    out << check::ProblemsJson(options.source, run::DisplayName(options.target), problems);
  else
    check::PrintProblems(out, problems);
  return check::FirstError(problems) ? 1 : 0;
}

}  // namespace velaccap::cli
