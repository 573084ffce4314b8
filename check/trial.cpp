#include "check/trial.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "check/keys.h"
#include "check/row_rules.h"
#include "component/steps.h"
#include "progress/run_report.h"
#include "dbaccess/ascii.h"
#include "dbaccess/sqlite.h"
#include "dbaccess/sqlite_common.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/layers.h"

namespace velaccap::check {

namespace {

// Which source row each target operation stands for: the step's query is
// the recordset opened last, and a row that is saved when the next one is
// added belongs to the source row read before.
struct Rows {
  int step = 0;
  const SourceRecordset* current = nullptr;
  std::string pending;  // the source row of the pending target row
  std::string failed;   // the source row of the first failing operation
  bool failed_set = false;
  // The row a query was on when it was released before its end: where an
  // error of the run's own making (a value it cannot convert) stopped it.
  std::string abandoned;

  const char* Table() const {
    for (const Step& s : StepTable())
      if (s.number == step) return s.table;
    return "";
  }

  // The row of the step's query the run is on, named as the rules name it.
  std::string CurrentKey() const {
    if (!current || current->eof()) return {};
    const std::string table = Table();
    auto value = [&](const char* column) -> const Value& { return current->field_value(column); };
    try {
      if (table == "SaleBillVouchs") return LineKey("AutoID", value("AutoID"), value("cSBVCode"));
      if (table == "PurBillVouchs") return LineKey("ID", value("ID"), value("cPBVCode"));
      if (table == "SaleBillVouch") return RowKey("SBVID", value("SBVID"));
      if (table == "PurBillVouch") return RowKey("PBVID", value("PBVID"));
      if (table == "AccInformation") return Shown(value("cSysID")) + " " + Shown(value("cName"));
      if (table == "Ap_CancelNo") return "cFlag " + Shown(value("cFlag")) + ", cType " + Shown(value("cType"));
      for (int i = 0; i < current->field_count(); ++i) {
        const std::string& name = current->field_name(i);
        // Named as the rules name it, whatever the letter case of the source.
        if (table == "Ap_Note_Sub" ? EqualNoCase(name, "ID") : EqualNoCase(name, "Auto_ID"))
          return RowKey(table == "Ap_Note_Sub" ? "ID" : "Auto_ID", current->field_value(i));
      }
      // A table without an id column: the row's first column.
      if (current->field_count() > 0) return RowKey(current->field_name(0), current->field_value(0));
    } catch (const Error&) {
    }
    return {};
  }

  void Fail(const std::string& key) {
    if (!failed_set) failed = key;
    failed_set = true;
  }
};

class RowSource : public SourceRecordsetLayer {
 public:
  RowSource(std::unique_ptr<SourceRecordset> inner, Rows& rows) : SourceRecordsetLayer(std::move(inner)), rows_(rows) {
    rows_.current = this;
  }
  ~RowSource() override {
    if (rows_.current != this) return;
    if (!eof()) rows_.abandoned = rows_.CurrentKey();
    rows_.current = nullptr;
  }

 private:
  Rows& rows_;
};

class RowDatabase : public SourceDatabaseLayer {
 public:
  RowDatabase(SourceDatabase& inner, Rows& rows) : SourceDatabaseLayer(inner), rows_(rows) {}

 protected:
  std::unique_ptr<SourceRecordset> Wrap(std::unique_ptr<SourceRecordset> rs) override {
    return std::make_unique<RowSource>(std::move(rs), rows_);
  }

 private:
  Rows& rows_;
};

// Runs `op`; a failure is the row `key()` names.
template <typename Op, typename Key>
auto Noting(Rows& rows, Key key, Op&& op) -> decltype(op()) {
  try {
    return op();
  } catch (...) {
    rows.Fail(key());
    throw;
  }
}

class RowRecordset : public TargetRecordsetLayer {
 public:
  RowRecordset(std::unique_ptr<TargetRecordset> inner, Rows& rows) : TargetRecordsetLayer(std::move(inner)), rows_(rows) {}
  void AddNew() override {
    // Adding saves the pending row, which stands for the row read before.
    Noting(rows_, [&] { return rows_.pending; }, [&] { TargetRecordsetLayer::AddNew(); });
    rows_.pending = rows_.CurrentKey();
  }
  void set_field(std::string_view name, const Value& value) override {
    Noting(rows_, [&] { return rows_.pending; }, [&] { TargetRecordsetLayer::set_field(name, value); });
  }
  void UpdateBatch() override {
    Noting(rows_, [&] { return rows_.pending; }, [&] { TargetRecordsetLayer::UpdateBatch(); });
  }
  void OpenQuery(const std::string& query) override {
    Noting(rows_, [&] { return rows_.CurrentKey(); }, [&] { TargetRecordsetLayer::OpenQuery(query); });
  }
  Value field_value(int index) const override {
    return Noting(rows_, [&] { return rows_.CurrentKey(); }, [&] { return TargetRecordsetLayer::field_value(index); });
  }
  using TargetRecordset::field_value;

 private:
  Rows& rows_;
};

// Follows the run from step to step by the statements that begin them, and
// names the row of a statement that fails.
class RowTarget : public TargetConnectionLayer {
 public:
  RowTarget(TargetConnection& inner, Rows& rows) : TargetConnectionLayer(inner), rows_(rows) {}
  void Execute(const std::string& statement) override {
    Note(statement);
    Noting(rows_, [&] { return Keyed(statement); }, [&] { TargetConnectionLayer::Execute(statement); });
  }
  long long ExecuteCount(const std::string& statement) override {
    Note(statement);
    return Noting(rows_, [&] { return Keyed(statement); },
                  [&] { return TargetConnectionLayer::ExecuteCount(statement); });
  }
  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    return Noting(rows_, [&] { return rows_.CurrentKey(); },
                  [&] { return TargetConnectionLayer::ExecuteQuery(query); });
  }

 protected:
  std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) override {
    return std::make_unique<RowRecordset>(std::move(rs), rows_);
  }

 private:
  // A step's clearing statement and the added input code stand for no row.
  std::string Keyed(std::string_view statement) const {
    if (statement.starts_with("Delete ") || statement.starts_with("INSERT INTO Ap_Inputcode")) return {};
    return rows_.CurrentKey();
  }

  // Each step but the last begins with "Delete <its table>"; the last one
  // only updates AccInformation.
  void Note(std::string_view statement) {
    for (const Step& s : StepTable()) {
      if (s.number <= rows_.step) continue;
      const std::string table = s.table;
      if ((statement.starts_with("Delete ") && statement.size() > 7 &&
           EqualNoCase(statement.substr(7, table.size()), table) &&
           (statement.size() == 7 + table.size() || statement[7 + table.size()] == ' ')) ||
          (s.number == 21 && statement.starts_with("Update AccInformation"))) {
        rows_.step = s.number;
        return;
      }
    }
  }

  Rows& rows_;
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
  int rc = sqlite3_open_v2(sqlite_internal::PlainPath(from).c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
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

TrialOutcome TrialRun(SourceDatabase& source, const std::string& target_path, progress::Phases* phases) {
  if (phases) phases->Phase("trial run: copying the target");
  std::string pattern = (std::filesystem::temp_directory_path() / "apupgrade-trial-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw Error("cannot make a scratch file for the trial run in " + pattern);
  ::close(fd);
  Scratch scratch{pattern};
  Copy(target_path, scratch.path);

  OpenOptions options;
  options.verify = false;  // the target was checked when it was opened
  options.batch_rows = 1;  // a failing row fails when it is saved, where the run stands on it
  std::unique_ptr<TargetConnection> copy = OpenSqliteTarget(scratch.path, options);
  copy->BeginTransaction();
  TrialOutcome outcome;
  {
    Rows rows;
    // The run's own refusals (row_rules.h) stop the trial as they stop a run.
    RowRules ruled_source(source);
    RowDatabase tracked_source(ruled_source, rows);
    RowTarget tracked_target(*copy, rows);
    clsAPA812 component;
    std::optional<progress::RunReport> report;
    if (phases) {
      progress::ReportOptions report_options;
      report_options.phases = phases;
      report_options.count_on = &source;
      report.emplace(tracked_source, tracked_target, report_options);
    }
    outcome.ok = report ? component.UpdateA812ToS820(report->source(), report->target())
                        : component.UpdateA812ToS820(tracked_source, tracked_target);
    if (report) report->Finish(outcome.ok);
    if (!outcome.ok) {
      outcome.error = component.ErrDescription();
      outcome.step = rows.step;
      outcome.table = rows.Table();
      // A failure of the run's own making (a value it cannot convert) went
      // through no layer: it is the row the step was on.
      outcome.key = rows.failed_set ? rows.failed : rows.abandoned;
    }
  }
  if (outcome.ok) {
    if (phases) phases->Phase("reconciling the trial run");
    try {
      outcome.differences = reconcile::Reconcile(source, *copy, std::nullopt).differences;
    } catch (const std::exception& e) {
      outcome.proof_error = e.what();
    }
  }
  copy->Rollback();
  return outcome;
}

void ApplyTrial(const TrialOutcome& trial, std::vector<Problem>* problems) {
  for (Problem& p : *problems) {
    if (p.severity != Problem::Severity::kError) continue;
    // A run that stops never reaches its reconciliation; one that goes
    // through keeps its errors. Rules' stops before the trial's, or in a
    // run that went through, were not stops for this target.
    const bool cleared = p.after_run ? !trial.ok : trial.ok || p.step < trial.step;
    if (!cleared) continue;
    p.severity = Problem::Severity::kWarning;
    p.reason += p.after_run ? " (the trial run stops earlier)" : " (the trial run shows the target accepts it)";
  }
  if (trial.ok) {
    // Migrate reconciles before it commits: a target that does not balance
    // stops it there, foreseen by a rule or not.
    bool foreseen = false;
    for (const Problem& p : *problems) foreseen = foreseen || (p.severity == Problem::Severity::kError && p.after_run);
    auto step_of = [](const std::string& table) {
      for (const Step& s : StepTable())
        if (table == s.table) return s.number;
      return 21;
    };
    if (!trial.proof_error.empty())
      problems->push_back({Problem::Severity::kError, 21, "", "",
                           "after the trial run on a copy of the target, " + trial.proof_error +
                               "; migrate stops there and rolls back",
                           true, "trial-proof-failed"});
    else if (!foreseen)
      for (const reconcile::Difference& d : trial.differences)
        problems->push_back({Problem::Severity::kError, step_of(d.table), d.table, "",
                             "after the trial run on a copy of the target, " + d.what + " does not reconcile: source " +
                                 d.source + ", target " + d.target +
                                 "; migrate stops there (exit 3; with --no-verify the run completes)",
                             true, "trial-difference"});
    std::stable_sort(problems->begin(), problems->end(),
                     [](const Problem& a, const Problem& b) { return a.step < b.step; });
    return;
  }
  // The first error left is where the rules say the run stops.
  auto first = problems->end();
  for (auto it = problems->begin(); it != problems->end(); ++it)
    if (it->severity == Problem::Severity::kError) {
      first = it;
      break;
    }
  if (first != problems->end() && first->step == trial.step && (trial.key.empty() || first->key == trial.key)) {
    // The rule's own words are the trial's when it stops where foreseen.
    if (trial.error.find(first->reason) == std::string::npos)
      first->reason += "; the trial run on a copy of the target stopped here: " + trial.error;
    return;
  }
  // The rules did not foresee where the run stops: the trial's stop comes
  // first, and what they saw later in the step still follows.
  Problem stop{Problem::Severity::kError, trial.step, trial.table, trial.key,
               "the trial run on a copy of the target stopped here: " + trial.error, false, "trial-stop"};
  auto at = problems->begin();
  while (at != problems->end() && at->step < trial.step) ++at;
  problems->insert(at, stop);
}

}  // namespace velaccap::check
