#include "check/trial.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "component/steps.h"
#include "dbaccess/ascii.h"
#include "dbaccess/sqlite.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/layers.h"

namespace velaccap::check {

namespace {

// Follows the run from step to step by the statements that begin them.
class StepTracker : public TargetConnectionLayer {
 public:
  using TargetConnectionLayer::TargetConnectionLayer;
  void Execute(const std::string& statement) override {
    Note(statement);
    TargetConnectionLayer::Execute(statement);
  }
  long long ExecuteCount(const std::string& statement) override {
    Note(statement);
    return TargetConnectionLayer::ExecuteCount(statement);
  }
  int step() const { return step_; }

 private:
  // Each step but the last begins with "Delete <its table>"; the last one
  // only updates AccInformation.
  void Note(std::string_view statement) {
    for (const Step& s : StepTable()) {
      if (s.number <= step_) continue;
      const std::string table = s.table;
      if ((statement.starts_with("Delete ") && statement.size() > 7 &&
           EqualNoCase(statement.substr(7, table.size()), table) &&
           (statement.size() == 7 + table.size() || statement[7 + table.size()] == ' ')) ||
          (s.number == 21 && statement.starts_with("Update AccInformation"))) {
        step_ = s.number;
        return;
      }
    }
  }
  int step_ = 0;
};

struct Scratch {
  std::string path;
  ~Scratch() {
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
  }
};

void Copy(const std::string& from, const std::string& to) {
  sqlite3* src = nullptr;
  sqlite3* dst = nullptr;
  int rc = sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_open_v2(to.c_str(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::string error;
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(src, 5000);
    sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
    if (!b) {
      error = sqlite3_errmsg(dst);
    } else {
      rc = sqlite3_backup_step(b, -1);
      sqlite3_backup_finish(b);
      if (rc != SQLITE_DONE) error = sqlite3_errstr(rc);
    }
  } else {
    error = sqlite3_errstr(rc);
  }
  sqlite3_close(src);
  sqlite3_close(dst);
  if (!error.empty()) throw Error("cannot copy " + from + " for the trial run: " + error);
}

}  // namespace

TrialOutcome TrialRun(SourceDatabase& source, const std::string& target_path) {
  std::string pattern = (std::filesystem::temp_directory_path() / "apupgrade-trial-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw Error("cannot make a scratch file for the trial run in " + pattern);
  ::close(fd);
  Scratch scratch{pattern};
  Copy(target_path, scratch.path);

  OpenOptions options;
  options.verify = false;  // the target was checked when it was opened
  std::unique_ptr<TargetConnection> copy = OpenSqliteTarget(scratch.path, options);
  copy->BeginTransaction();
  StepTracker tracker(*copy);
  clsAPA812 component;
  TrialOutcome outcome;
  outcome.ok = component.UpdateA812ToS820(source, tracker);
  if (!outcome.ok) {
    outcome.error = component.ErrDescription();
    outcome.step = tracker.step();
    for (const Step& s : StepTable())
      if (s.number == outcome.step) outcome.table = s.table;
  }
  copy->Rollback();
  return outcome;
}

void ApplyTrial(const TrialOutcome& trial, std::vector<Problem>* problems) {
  // Errors of steps the trial ran through were not errors for this target.
  for (Problem& p : *problems) {
    if (p.severity != Problem::Severity::kError || (!trial.ok && p.step >= trial.step)) continue;
    p.severity = Problem::Severity::kWarning;
    p.reason += " (the trial run shows the target accepts it)";
  }
  if (trial.ok) return;
  Problem* first = nullptr;
  for (Problem& p : *problems)
    if (p.severity == Problem::Severity::kError) {
      first = &p;
      break;
    }
  const std::string what = "the trial run on a copy of the target stopped in this step: " + trial.error;
  if (first && first->step == trial.step) {
    // The rule's own words are the trial's when it stops where foreseen.
    if (trial.error.find(first->reason) == std::string::npos) first->reason += "; " + what;
    return;
  }
  // The rules did not foresee where the run stops, or foresaw a later stop:
  // the trial's stop comes first.
  Problem stop{Problem::Severity::kError, trial.step, trial.table, "", what};
  auto at = problems->begin();
  while (at != problems->end() && at->step <= trial.step) ++at;
  problems->insert(at, stop);
}

}  // namespace velaccap::check
