// The cost of a continuation line and of a ledger lookup must not grow with
// the account set: every query and update the run sends per row must find
// its rows through an index of the reference schema, never by reading a
// table through. The statements are taken from the trace of a real run and
// planned in the shape they are run in (literals as parameters).
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "dbaccess/sqlite_shapes.h"
#include "tests/support.h"

namespace {

using testsupport::Query;
using testsupport::TempDir;

TEST(QueryPlanTest, RowStatementsOfTheRunSearchIndexesNeverScan) {
  TempDir dir;
  ASSERT_EQ(testsupport::RunTool(dir.path(), "sample src.db --lines 3000").code, 0);
  ASSERT_EQ(testsupport::RunTool(dir.path(), "new-target tgt.db").code, 0);
  ASSERT_EQ(testsupport::RunTool(dir.path(), "migrate src.db tgt.db -q --trace run.trace").code, 0);

  // Each statement sent to the target row by row, by its shape: "X" lines
  // are statements and queries the run executes, "Q" lines the lookups.
  std::map<std::string, std::string> shapes;  // shape -> one statement of it
  std::istringstream trace(testsupport::Slurp(dir.file("run.trace")));
  for (std::string line; std::getline(trace, line);) {
    if (line.size() < 3 || (line[0] != 'X' && line[0] != 'Q') || line[1] != '\t') continue;
    const std::string statement = line.substr(2);
    velaccap::sqlite_internal::Shape shape;
    // Statements without literals run once per table (the clearing deletes).
    if (!velaccap::sqlite_internal::MakeShape(statement, &shape)) continue;
    if (statement.rfind("Delete", 0) == 0 || statement.rfind("Insert", 0) == 0 ||
        statement.rfind("INSERT", 0) == 0)
      continue;  // an insert has nothing to search; a delete runs once per table
    shapes.emplace(shape.text, statement);
  }

  int parent_queries = 0, merge_updates = 0, line_lookups = 0;
  for (const auto& [shape, statement] : shapes) {
    SCOPED_TRACE(statement);
    const testsupport::Rows plan = Query(dir.file("tgt.db"), "EXPLAIN QUERY PLAN " + shape);
    ASSERT_FALSE(plan.empty());
    for (const auto& row : plan) {
      const std::string& detail = row.back();
      EXPECT_EQ(detail.find("SCAN"), std::string::npos) << detail;
      EXPECT_TRUE(detail.find("SEARCH") == 0 && (detail.find("INDEX") != std::string::npos ||
                                                 detail.find("PRIMARY KEY") != std::string::npos))
          << detail;
    }
    if (statement.rfind("Select * From", 0) == 0) ++parent_queries;
    if (statement.rfind("Update SaleBillVouchs", 0) == 0 || statement.rfind("Update PurBillVouchs", 0) == 0)
      ++merge_updates;
    if (statement.rfind("Select AutoID", 0) == 0 || statement.rfind("Select ID", 0) == 0) ++line_lookups;
  }
  // Both kinds of invoice have their parent query, merge update and line
  // lookup (an update adding a negative number or Null has a shape of its
  // own): a run that sent none would prove nothing.
  EXPECT_EQ(parent_queries, 2);
  EXPECT_GE(merge_updates, 2);
  EXPECT_EQ(line_lookups, 2);
}

}  // namespace
