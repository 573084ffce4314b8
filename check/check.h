// The check before a run: reads both databases, writes nothing, and lists in
// one pass every problem on which the run would stop, each with its table,
// the row's key and the reason, in the order the run would meet them, and
// warnings for what migrates but probably not as the user expects.
#pragma once

#include <string>
#include <vector>

#include "velaccap/dbaccess.h"

namespace velaccap::check {

struct Problem {
  enum class Severity { kError, kWarning };
  Severity severity = Severity::kError;
  int step = 0;       // the step of the run that meets it (1 to 21)
  std::string table;  // the table the step writes
  std::string key;    // the row, as "AutoID 17 of invoice 'A7 2'"; empty for a whole table
  std::string reason;
  // The run itself goes through; the reconciliation after it does not
  // balance, and migrate stops there.
  bool after_run = false;
  // What kind of problem it is, for programs: a word of kProblemCodes.
  std::string code;
};

// Every problem code, in the order the check meets them.
inline constexpr const char* kProblemCodes[] = {
    "missing-file", "same-database", "unusable-database", "missing-table", "missing-column", "wrong-release",
    "target-rows-deleted", "unconvertible-value", "empty-reference", "reference-finds-no-line",
    "key-collides-with-kept", "duplicate-key", "parent-without-lines", "null-number", "not-a-number",
    "merge-reaches-kept-invoice", "invoice-without-code", "line-without-header", "not-an-amount", "nul-byte",
    "id-not-whole-number", "input-code-exists", "option-not-in-target", "trial-stop", "trial-proof-failed",
    "trial-difference"};

// How the target compares text: SQLite as the bytes stand, SQL Server
// without regard to letter case and trailing blanks (its default).
enum class TextCompare { kExact, kSqlServer };

struct Options {
  TextCompare compare = TextCompare::kExact;
  // Warnings stop being listed row by row past this many per table and
  // reason; their count is still given.
  int max_warnings_per_kind = 20;
};

// Every problem found, errors and warnings, in run order. Reads the source
// with the run's own queries and the target with plain queries; holds in
// memory only the keys it must match (ids, parent invoices and their items).
std::vector<Problem> FindProblems(SourceDatabase& source, TargetConnection& target, const Options& options);

// True when a problem says a database is not what the run needs (a table or
// column missing, the other release): the run would not start at all.
bool FirstIdentityError(const std::vector<Problem>& problems);

}  // namespace velaccap::check
