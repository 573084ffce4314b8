// A whole migration over ODBC must leave what the native SQLite target
// leaves: the same sample, run once into each of two copies of a fresh
// target, gives the same rows in every table and the same trace.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "cli/account_set.h"
#include "cli/sample.h"
#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"
#include "tests/support.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/open.h"
#include "velaccap/trace.h"

namespace {

using testsupport::Query;
using testsupport::Rows;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

// Every row of `table`, in storage order, each value quoted with its type
// (text quoted, reals with their point), so a value stored as another type
// or in another text form shows.
Rows Contents(const std::string& db, const std::string& table) {
  std::string columns;
  for (const auto& row : Query(db, "SELECT name FROM pragma_table_info('" + table + "')")) {
    if (!columns.empty()) columns += ", ";
    columns += "quote(\"" + row[0] + "\")";
  }
  return Query(db, "SELECT " + columns + " FROM \"" + table + "\" ORDER BY rowid");
}

struct Outcome {
  bool ok = false;
  std::string error;
  std::string trace;
};

Outcome Migrate(const std::string& sample, velaccap::TargetConnection& target) {
  auto source = velaccap::OpenSource(sample);
  std::ostringstream trace;
  auto traced_source = velaccap::TraceSource(*source, trace);
  auto traced_target = velaccap::TraceTarget(target, trace);
  velaccap::clsAPA812 component;
  Outcome run;
  run.ok = component.UpdateA812ToS820(*traced_source, *traced_target);
  run.error = component.ErrDescription();
  run.trace = trace.str();
  return run;
}

TEST(RunOverOdbc, LeavesTheRowsAndTraceOfTheNativeRun) {
  testsupport::TempDir dir;
  const std::string sample = dir.file("sample.db");
  const std::string native_path = dir.file("native.db");
  const std::string odbc_path = dir.file("odbc.db");
  velaccap::cli::SampleOptions options;
  options.lines = 400;
  options.seed = 7;
  const velaccap::cli::SampleCounts counts = velaccap::cli::WriteSample(sample, options);
  ASSERT_GT(counts.continuation_lines, 0);
  velaccap::cli::CreateTarget(native_path);
  std::filesystem::copy_file(native_path, odbc_path);

  Outcome native_run, odbc_run;
  {
    auto native = velaccap::OpenSqliteTarget(native_path);
    native_run = Migrate(sample, *native);
  }
  {
    auto odbc = velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + odbc_path);
    odbc_run = Migrate(sample, *odbc);
  }
  ASSERT_TRUE(native_run.ok) << native_run.error;
  ASSERT_TRUE(odbc_run.ok) << odbc_run.error;
  EXPECT_EQ(odbc_run.trace, native_run.trace);
  // The merge passes ran, so held results and row counts were exercised.
  EXPECT_NE(native_run.trace.find("\nQ\t"), std::string::npos);

  long long rows = 0;
  for (const char* table : velaccap::cli::kTargetTables) {
    const Rows want = Contents(native_path, table);
    const Rows got = Contents(odbc_path, table);
    rows += static_cast<long long>(want.size());
    ASSERT_EQ(got.size(), want.size()) << table;
    for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << table << " row " << i + 1;
  }
  EXPECT_GT(rows, options.lines);
}

TEST(RunOverOdbc, AFailingRunStopsWithTheDriversText) {
  // A target without the payables detail ledger: the run stops at step 10
  // with the engine's own description, as the native target words it.
  testsupport::TempDir dir;
  const std::string sample = dir.file("sample.db");
  const std::string target = dir.file("odbc.db");
  velaccap::cli::SampleOptions options;
  options.lines = 50;
  velaccap::cli::WriteSample(sample, options);
  velaccap::cli::CreateTarget(target);
  testsupport::Exec(target, "DROP TABLE Ap_Detail");
  auto odbc = velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + target);
  const Outcome run = Migrate(sample, *odbc);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.error.find("no such table: Ap_Detail"), std::string::npos) << run.error;
  // Steps before it stay written.
  EXPECT_NE(Query(target, "SELECT count(*) FROM SaleBillVouchs")[0][0], "0");
}

}  // namespace
