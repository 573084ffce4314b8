// A whole migration over ODBC must leave what the native SQLite target
// leaves: the same sample, run once into each of two copies of a fresh
// target, gives the same rows in every table and the same trace.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"
#include "run/account_set.h"
#include "sample/sample.h"
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
  velaccap::sample::SampleOptions options;
  options.lines = 400;
  options.seed = 7;
  const velaccap::sample::SampleCounts counts = velaccap::sample::WriteSample(sample, options);
  ASSERT_GT(counts.continuation_lines, 0);
  velaccap::run::CreateTarget(native_path);
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
  for (const char* table : velaccap::run::kTargetTables) {
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
  velaccap::sample::SampleOptions options;
  options.lines = 50;
  velaccap::sample::WriteSample(sample, options);
  velaccap::run::CreateTarget(target);
  testsupport::Exec(target, "DROP TABLE Ap_Detail");
  auto odbc = velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + target);
  const Outcome run = Migrate(sample, *odbc);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.error.find("no such table: Ap_Detail"), std::string::npos) << run.error;
  // Steps before it stay written.
  EXPECT_NE(Query(target, "SELECT count(*) FROM SaleBillVouchs")[0][0], "0");
}

// The rows the run's table recordsets added, by table, from its trace.
std::map<std::string, long long> AddedRows(const std::string& trace) {
  std::map<std::string, long long> added;
  std::istringstream in(trace);
  std::string line, table;
  while (std::getline(in, line)) {
    if (line.rfind("T\t", 0) == 0) table = line.substr(2, line.find('\t', 2) - 2);
    if (line.rfind("B\t", 0) == 0) added[table] += std::stoll(line.substr(2));
  }
  return added;
}

TEST(RunOverOdbc, TheToolSendsAddedRowsInArraysOfAThousand) {
  testsupport::TempDir dir;
  velaccap::sample::SampleOptions options;
  options.lines = 3000;
  velaccap::sample::WriteSample(dir.file("sample.db"), options);
  velaccap::run::CreateTarget(dir.file("native.db"));
  std::filesystem::copy_file(dir.file("native.db"), dir.file("odbc.db"));
  std::filesystem::create_directory(dir.file("odbc"));
  const std::string env = testsupport::TracedOdbcDriverList(dir.file("odbc"), dir.file("calls.log"));

  const testsupport::Result native = testsupport::RunTool(dir.path(), "migrate sample.db native.db --trace native.trace");
  ASSERT_EQ(native.code, 0) << native.err;
  const testsupport::Result odbc = testsupport::RunTool(
      dir.path(), "migrate sample.db 'odbc:DRIVER={VelSQLite3};Database=odbc.db' --trace odbc.trace", env);
  ASSERT_EQ(odbc.code, 0) << odbc.err;
  const std::string trace = testsupport::Slurp(dir.file("native.trace"));
  EXPECT_EQ(testsupport::Slurp(dir.file("odbc.trace")), trace);
  for (const char* table : velaccap::run::kTargetTables)
    ASSERT_EQ(Contents(dir.file("odbc.db"), table), Contents(dir.file("native.db"), table)) << table;

  // Every added row went once, and an array left with fewer than 1000 rows
  // only when its table's rows ended, another statement came, or the next
  // row wrote other columns (another insert).
  const std::map<std::string, long long> added = AddedRows(trace);
  const std::vector<testsupport::OdbcExecute> calls = testsupport::OdbcExecutes(dir.file("calls.log"));
  std::map<std::string, long long> sent, executes;
  std::map<std::string, std::pair<std::size_t, std::size_t>> span;  // first and last execute
  auto table_of = [&](std::size_t i) {
    const std::string& text = calls[i].statement;
    if (text.rfind("INSERT INTO \"", 0) != 0 || calls[i].rows == 0) return std::string();
    return text.substr(13, text.find('"', 13) - 13);
  };
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const std::string table = table_of(i);
    if (table.empty()) continue;
    sent[table] += calls[i].rows;
    ++executes[table];
    span.try_emplace(table, i, i).first->second.second = i;
    if (calls[i].rows < 1000 && i + 1 < calls.size()) {
      EXPECT_NE(calls[i + 1].statement, calls[i].statement)
          << "an array of " << calls[i].rows << " rows into " << table;
    }
  }
  EXPECT_EQ(sent, added);
  long long rows = 0, copied_alone = 0;
  for (const auto& [table, count] : executes) {
    // Only where no other statement came between the table's arrays.
    bool alone = true;
    for (std::size_t i = span[table].first; i < span[table].second; ++i) alone = alone && table_of(i) == table;
    if (!alone) continue;
    EXPECT_LE(count, 2 * ((added.at(table) + 999) / 1000)) << table;
    if (added.at(table) > 1000) ++copied_alone;
    rows += added.at(table);
  }
  EXPECT_GE(copied_alone, 2);  // the sales and purchase lines at least
  EXPECT_GT(rows, 2000);

  // The payables ledger's line lookups read invoice lines, which its held
  // rows cannot change: they leave its arrays whole. An array is cut only
  // where the next row writes other columns.
  long long lookups = 0;
  std::size_t last = calls.size();  // the payables ledger's last array
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const std::string& text = calls[i].statement;
    if (text.rfind("Select AutoID From SaleBillVouchs", 0) == 0 || text.rfind("Select ID From PurBillVouchs", 0) == 0)
      ++lookups;
    if (table_of(i) != "Ap_Detail") continue;
    if (last < calls.size() && calls[last].rows < 1000) {
      EXPECT_NE(text, calls[last].statement) << "an array of " << calls[last].rows << " rows, cut by a lookup";
    }
    last = i;
  }
  EXPECT_GT(lookups, 100);
}

TEST(RunOverOdbc, ARefusedRowFailsTheRunWithTheDriversTextAndKeepsOnlyTheRowsBeforeIt) {
  testsupport::TempDir dir;
  velaccap::sample::SampleOptions options;
  options.lines = 3000;
  velaccap::sample::WriteSample(dir.file("sample.db"), options);
  velaccap::run::CreateTarget(dir.file("fresh.db"));

  // A trigger refuses the sales line inserted when the table holds `count`.
  auto refuse_at = [](int count) {
    return "CREATE TRIGGER refuse BEFORE INSERT ON SaleBillVouchs WHEN (SELECT count(*) FROM SaleBillVouchs) = " +
           std::to_string(count) + " BEGIN SELECT RAISE(ABORT, 'line refused'); END;";
  };
  // The driver's text for such a line inserted on its own.
  std::filesystem::copy_file(dir.file("fresh.db"), dir.file("probe.db"));
  testsupport::Exec(dir.file("probe.db"), refuse_at(0));
  std::string one_row;
  {
    auto probe = velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + dir.file("probe.db"));
    try {
      probe->Execute("INSERT INTO SaleBillVouchs (AutoID) VALUES (1)");
    } catch (const velaccap::Error& e) {
      one_row = e.what();
    }
  }
  ASSERT_NE(one_row.find("line refused"), std::string::npos) << one_row;
  // The 1201st sales line copied is refused: it goes in the second array.
  testsupport::Exec(dir.file("fresh.db"), refuse_at(1200));

  for (bool keep : {false, true}) {
    // The native target, refusing the same row, shows what a run keeps.
    const std::string flag = keep ? " --no-atomic" : "";
    for (const char* copy : {"native.db", "odbc.db"}) {
      std::filesystem::copy_file(dir.file("fresh.db"), dir.file(copy),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    EXPECT_EQ(testsupport::RunTool(dir.path(), "migrate sample.db native.db" + flag).code, 1);
    const testsupport::Result run =
        testsupport::RunTool(dir.path(), "migrate sample.db 'odbc:DRIVER={VelSQLite3};Database=odbc.db'" + flag);
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find(one_row), std::string::npos) << run.err;
    EXPECT_EQ(Query(dir.file("odbc.db"), "SELECT count(*) FROM SaleBillVouchs")[0][0], keep ? "1200" : "0");
    for (const char* table : velaccap::run::kTargetTables) {
      const Rows want = Contents(dir.file(keep ? "native.db" : "fresh.db"), table);
      const Rows got = Contents(dir.file("odbc.db"), table);
      ASSERT_EQ(got.size(), want.size()) << table << flag;
      EXPECT_TRUE(got == want) << table << flag;
    }
  }
}

TEST(RunOverOdbc, ARefusedLedgerRowHeldAcrossLookupsFailsAsTheNativeRunFails) {
  // Two ledger rows that the target's index refuses together, the second
  // some lookups after the first and followed by two rows that need a
  // lookup: it waits among held rows while they run, and is refused when
  // the rows are sent; the traces show where each run stopped.
  testsupport::TempDir dir;
  velaccap::sample::SampleOptions options;
  options.lines = 3000;
  velaccap::sample::WriteSample(dir.file("sample.db"), options);
  for (int from : {300, 600}) {
    testsupport::Exec(dir.file("sample.db"),
                      "UPDATE Ap_Detail SET iBVID=-77, iPeriod=99 WHERE Auto_ID=(SELECT min(Auto_ID) FROM Ap_Detail d"
                      " WHERE Auto_ID>=" + std::to_string(from) + " AND instr(cCoVouchID,' ')=0 AND (SELECT count(*)"
                      " FROM Ap_Detail n WHERE n.Auto_ID IN (d.Auto_ID+1, d.Auto_ID+2) AND instr(n.cCoVouchID,' ')>1"
                      " AND n.cInvCode<>'' AND n.cCoVouchType<>'')=2)");
  }
  velaccap::run::CreateTarget(dir.file("fresh.db"));
  testsupport::Exec(dir.file("fresh.db"), "CREATE UNIQUE INDEX Refuse ON Ap_Detail (iPeriod) WHERE iBVID=-77");

  for (const char* flag : {"", " --no-atomic"}) {
    for (const char* copy : {"native.db", "odbc.db"})
      std::filesystem::copy_file(dir.file("fresh.db"), dir.file(copy),
                                 std::filesystem::copy_options::overwrite_existing);
    const testsupport::Result native =
        testsupport::RunTool(dir.path(), std::string("migrate sample.db native.db --trace native.trace") + flag);
    const testsupport::Result odbc = testsupport::RunTool(
        dir.path(),
        std::string("migrate sample.db 'odbc:DRIVER={VelSQLite3};Database=odbc.db' --trace odbc.trace") + flag);
    EXPECT_EQ(native.code, 1) << native.err;
    EXPECT_EQ(odbc.code, 1) << odbc.err;
    EXPECT_NE(odbc.err.find("UNIQUE constraint failed: Ap_Detail.iPeriod"), std::string::npos) << odbc.err;
    EXPECT_EQ(testsupport::Slurp(dir.file("odbc.trace")), testsupport::Slurp(dir.file("native.trace")));
    for (const char* table : velaccap::run::kTargetTables)
      EXPECT_EQ(Contents(dir.file("odbc.db"), table), Contents(dir.file("native.db"), table)) << table << flag;
    // With --no-atomic the rows before the refused one stay, none after it.
    const std::string before = Query(dir.file("sample.db"), "SELECT count(*) FROM Ap_Detail WHERE Auto_ID<(SELECT "
                                                            "max(Auto_ID) FROM Ap_Detail WHERE iBVID=-77)")[0][0];
    EXPECT_EQ(Query(dir.file("odbc.db"), "SELECT count(*) FROM Ap_Detail")[0][0], *flag ? before : "0") << flag;
  }
}

}  // namespace

// A SQLite ODBC target whose file is missing is refused before connecting:
// the driver would create it, and check and verify write nothing, ever.
TEST(RunOverOdbc, AMissingDatabaseFileIsRefusedNotCreated) {
  testsupport::TempDir dir;
  velaccap::sample::SampleOptions options;
  options.lines = 100;
  velaccap::sample::WriteSample(dir.file("sample.db"), options);
  std::filesystem::create_directory(dir.file("odbc"));
  const std::string env = testsupport::TracedOdbcDriverList(dir.file("odbc"), "");
  std::ofstream(dir.file("odbc/odbc.ini")) << "[ledger820]\nDriver=VelSQLite3\nDatabase=" << dir.file("dsn.db")
                                           << "\n";
  for (const std::string target : {"'odbc:DRIVER={VelSQLite3};Database=missing.db'", "'odbc:DSN=ledger820'"}) {
    for (const char* command : {"check", "verify", "migrate"}) {
      const testsupport::Result r = testsupport::RunTool(dir.path(), std::string(command) + " sample.db " + target, env);
      EXPECT_EQ(r.code, 2) << command << " " << target << "\n" << r.err;
      EXPECT_NE(r.err.find(" does not exist (the driver would create an empty one)"), std::string::npos) << r.err;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.db")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("dsn.db")));
}
