// The trial run: the whole migration on a scratch copy of a SQLite target,
// rolled back and thrown away. It finds, exactly, where the run would stop
// for reasons no rule can foresee (the target's own constraints, triggers,
// column types), and confirms or clears what the rules predict. The target
// itself is only read.
#pragma once

#include <string>
#include <vector>

#include "check/check.h"
#include "progress/phases.h"
#include "reconcile/reconcile.h"
#include "velaccap/dbaccess.h"

namespace velaccap::check {

struct TrialOutcome {
  bool ok = true;
  int step = 0;        // the step that failed
  std::string table;   // its table
  std::string key;     // the source row it was on, named as the rules name rows
  std::string error;   // the run's ErrDescription
  // A run that went through is reconciled on the copy, as migrate does
  // before it commits: what does not balance, or why the proof could not run.
  std::vector<reconcile::Difference> differences;
  std::string proof_error;
};

// Copies the SQLite file `target_path` into a temporary file (in the system's
// temporary folder) and runs the migration from `source` into the copy.
// Throws Error when the copy cannot be made. `phases`, when given, shows
// the copy, each step and the reconciliation as they come.
TrialOutcome TrialRun(SourceDatabase& source, const std::string& target_path, progress::Phases* phases = nullptr);

// Reconciles the rules' findings with what the trial run did: a stop the
// rules missed becomes an error of its own, and errors the trial ran through
// become warnings (the target accepts what the rule feared).
void ApplyTrial(const TrialOutcome& trial, std::vector<Problem>* problems);

}  // namespace velaccap::check
