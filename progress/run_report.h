// The report of one run: what each of the 21 steps read, wrote, updated,
// folded, rewrote, left out and deleted, and how long it took, learnt from
// layers over the two databases (the steps never know they are there), with
// a live progress line while the run goes on.
//
// Use:
//   progress::RunReport report(source, target, options);  // counts the source
//   component.UpdateA812ToS820(report.source(), report.target());
//   report.Finish(ok);                                    // clears the line
//   report.PrintTable(std::cout);
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "progress/live_line.h"
#include "progress/phases.h"
#include "velaccap/dbaccess.h"

namespace velaccap::progress {

// The number of steps of a run.
inline constexpr int kSteps = 21;

// The two invoice families whose continuation lines are folded into parents.
enum class Family { kSales, kPurchase };

// What one step did. Counts are rows unless said otherwise.
struct StepReport {
  int step = 0;       // 1 to 21, the run's order
  std::string table;  // the target table the step writes
  // Rows the step's source queries were counted to hold before the run; -1
  // when the count could not be made.
  long long to_read = -1;
  long long read = 0;     // source rows the step's queries read
  long long written = 0;  // rows added by table recordset or insert statement
  long long updated = 0;  // rows update statements changed
  // Continuation lines added into existing parent lines (merge updates that
  // changed a row), and the parent lines they changed (a parent may hold
  // the item on two lines).
  long long added_into = 0;
  long long added_into_lines = 0;
  long long appended = 0;   // continuation lines appended to parents
  long long rewritten = 0;  // ledger lines referring to a continuation invoice
  // Source rows of the step's table that the rules keep out of the run
  // (other modules' invoices, Null codes, lines without a header, the
  // continuation headers): the table's count before the run less what the
  // step read. Only the invoice tables and Ap_Detail have it; unset when
  // the count could not be made or the step did not complete.
  std::optional<long long> left_out;
  long long deleted = 0;  // rows the target held that the step's clearing removed
  double seconds = 0;     // from the step's first operation to the next step's
  // The step ran to its end: the next step began, or the run succeeded.
  bool completed = false;
};

// How a report is made.
struct ReportOptions {
  // Names shown in the JSON summary. The tool passes display names, which
  // never hold a password.
  std::string source_name;
  std::string target_name;
  LiveOptions live;
  // The phases a command already shows (its checking came first), which
  // the steps continue; nullptr: the report's own, on `live`, with no log.
  Phases* phases = nullptr;
  // The source the counts run on before the run, or nullptr for the wrapped
  // source. Give the source below any trace, so the trace keeps to the run.
  SourceDatabase* count_on = nullptr;
  // The run's start, for the elapsed time (the tool's own start includes
  // opening and checking the files); unset: when the report is made.
  std::optional<std::chrono::steady_clock::time_point> start;
  // Told of the run's progress, for a host's own display: at each step's
  // start and then every 1024 source rows it reads, with the rows read and
  // the rows to read (-1 when unknown).
  std::function<void(int step, const char* table, long long done, long long to_do)> observer;
  // The clock; tests replace it to get exact seconds.
  std::chrono::steady_clock::time_point (*now)() = &std::chrono::steady_clock::now;
};

class RunReport {
 public:
  // Runs the count queries on the source (options.count_on or `source`). A
  // count that fails leaves its numbers unknown: the run itself then meets
  // the cause and reports it. `source` and `target` must outlive the report.
  RunReport(SourceDatabase& source, TargetConnection& target, ReportOptions options);
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // The layers to hand to the run. Clearing statements and updates reach
  // the target as counted executions, so their row counts are known.
  SourceDatabase& source();
  TargetConnection& target();

  // Ends the last step's time and the elapsed time, and clears the live
  // line; `succeeded` tells whether the run completed its last step. Call
  // it before writing anything else to the line's stream; the destructor
  // clears the line too. Further calls do nothing.
  void Finish(bool succeeded);

  // Drops the layers, which refer to the databases, and keeps the counts, so
  // that the databases may be closed before the report is shown. source()
  // and target() may not be called after it.
  void ReleaseLayers();

  // The 21 steps in order, and their sums (step 0, table "Total"; left_out
  // sums the known ones; seconds sums the steps).
  std::vector<StepReport> steps() const;
  StepReport totals() const;

  // From the report's start to Finish() (or to now before it).
  double elapsed_seconds() const;

  // Continuation lines of a family added into existing lines, the lines
  // those additions changed, and the lines appended: what a reconciliation
  // of the folded invoices starts from.
  long long added_into(Family family) const;
  long long added_into_lines(Family family) const;
  long long appended(Family family) const;

  // The closing table: a row per step, the totals, and one line of totals
  // in words with the elapsed time.
  void PrintTable(std::ostream& out) const;

  // The same as JSON: source, target, elapsed_seconds, tables (one object
  // per step with the counts above) and totals.
  nlohmann::json ToJson() const;

  class Recorder;  // the layers' shared state, private to the report

 private:
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<SourceDatabase> source_;
  std::unique_ptr<TargetConnection> target_;
};

}  // namespace velaccap::progress
