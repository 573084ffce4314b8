// The frame every row-writing step shares: clear the target, read the source
// query, add one target row per source row through the run's table recordset,
// save in one batch, close both.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/run_context.h"
#include "dbaccess/ascii.h"

namespace velaccap {

struct CopyFrame {
  std::string clear;   // statement run on the target first
  std::string query;   // source query, in the source's dialect
  std::string table;   // target table opened for adding rows
  // Set on the table recordset after the source query has been opened and
  // before the table is opened (the payables detail ledger does this).
  std::optional<LockType> lock_after_query;
};

// Writes the columns of the new target row from the current source row.
using RowWriter = std::function<void(const SourceRecordset& source, TargetRecordset& target)>;

// Runs the frame. The batch save happens only when rows were read.
void RunCopyFrame(RunContext& ctx, const CopyFrame& frame, const RowWriter& write_row);

// The generic copy of one table by column names: every source column is
// written into the same-named target column, except the one whose name in
// capitals equals left_out (an empty left_out leaves nothing out).
void CopyTable(RunContext& ctx, const std::string& table, const std::string& query,
               const std::string& left_out);

// Sets target columns from source columns by a fixed list of name pairs, in
// list order. Source columns are looked up by name on the first row (so an
// empty source raises nothing) and by index after that.
class FieldMapWriter {
 public:
  // Views, so that a name's length is known once, not measured per value.
  struct Pair {
    std::string_view target;
    std::string_view source;
  };
  FieldMapWriter(const Pair* pairs, std::size_t count) : pairs_(pairs), count_(count) {}
  void operator()(const SourceRecordset& source, TargetRecordset& target);

 private:
  const Pair* pairs_;
  std::size_t count_;
  std::vector<int> source_index_;
};

}  // namespace velaccap
