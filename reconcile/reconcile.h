// Reconciliation of a run's target with its source: counts and sums taken on
// both databases after a successful run and before its transaction is
// committed, so that a row lost or a value changed on its way shows before
// the work is kept. It reads the run's own uncommitted writes through the
// same connection, and works through the data-access interfaces alone, so it
// serves every kind of target; the target queries are plain portable SQL.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "velaccap/dbaccess.h"

namespace velaccap::reconcile {

// One thing the target does not hold as the source says it should, e.g.
// {"Ap_Note", "rows", "10", "9"}. `source` is what the source leads one to
// expect (its count, sum or value), `target` what the target holds.
struct Difference {
  std::string table;
  std::string what;
  std::string source;
  std::string target;

  bool operator==(const Difference&) const = default;
};

// A column of a table copied by name that the proof could not compare, and
// why: it is on one side only, or only one side declares it a number (its
// values are then counted, not summed). Never a failure: what the databases
// hold decides what can be compared.
struct NotCompared {
  std::string table;
  std::string column;
  std::string reason;  // "only in the target", "text in the source, a number in the target: ..."

  bool operator==(const NotCompared&) const = default;
};

// Every check's outcome: a line for each check that passed, a difference for
// each that did not, and the columns left out of the sums.
struct Result {
  std::vector<Difference> differences;
  std::vector<std::string> checked;  // human readable, one per passed check
  std::vector<NotCompared> not_compared;

  bool ok() const { return differences.empty(); }
};

// What only the run itself knows, counted by a layer over the target: the
// continuation lines that the merge added into existing lines (its update
// changed rows) instead of appending a line of their own.
struct RunCounts {
  long long sales_lines_added_into = 0;
  long long purchase_lines_added_into = 0;
};

// Compares the target with the source, in the order of the run's steps:
// for the tables copied by name (Ap_Detail among them), the row counts
// (Ap_InputCode with the added code 49) and the sums of every column that
// both databases have and declare a number, but those the run leaves to the
// target or rewrites; the cancellation numbers, one row per flag and type
// with the source's highest number; per invoice family the owned headers,
// the owned lines and the sums of the quantity and of the amounts the merge
// adds; the receivable and payable option values. The columns are learned
// from the two databases, not assumed. A continuation line that the merge
// added into several lines of one item counts once for each of them.
// Without `counts` (a run done earlier), the lines added into existing ones
// are worked out from the source as the merge would have found them. Throws
// Error, naming the check that could not run, its database and query, when
// a query fails.
Result Reconcile(SourceDatabase& source, TargetConnection& target, const std::optional<RunCounts>& counts);

// A short block for the user: a line per passed check, the columns not
// compared, then the differences (or that there are none).
void PrintResult(std::ostream& out, const Result& result);

}  // namespace velaccap::reconcile
