// The run as a whole on SQLite account sets built from the reference schemas:
// step order and statement texts, copies by name, the error path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dbaccess/sqlite.h"
#include "tests/support.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/fault.h"
#include "velaccap/trace.h"

namespace velaccap {
namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A fresh, empty pair of account sets from the reference schemas, with room
// for each test to reshape tables before the run.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Exec(src_, ReadFile(std::string(VELACCAP_SOURCE_DIR) + "/schema/source_812.sql"));
    Exec(tgt_, ReadFile(std::string(VELACCAP_SOURCE_DIR) + "/schema/target_820.sql"));
  }

  // Runs the migration on `obj`, tracing into trace_.
  bool Run(clsAPA812& obj) {
    auto src = OpenSqliteSource(src_);
    auto tgt = OpenSqliteTarget(tgt_);
    trace_.str("");
    auto tsrc = TraceSource(*src, trace_);
    auto ttgt = TraceTarget(*tgt, trace_);
    return obj.UpdateA812ToS820(*tsrc, *ttgt);
  }

  testsupport::TempDir dir_;
  std::string src_ = dir_.file("source.db");
  std::string tgt_ = dir_.file("target.db");
  std::ostringstream trace_;
};

// Every statement and query of a run over empty tables, in order: the
// clearing statements and source queries exactly as written, tables opened
// with lock type 3 up to step 7 and 2 after, no batch save, the added code.
TEST_F(RunTest, EmptyAccountSetRunsEveryStepInOrder) {
  Exec(tgt_, "INSERT INTO Ar_BadAge (cNum, iBeginDays) VALUES ('01', 0)");
  clsAPA812 obj;
  EXPECT_EQ(obj.ErrDescription(), "");
  ASSERT_TRUE(Run(obj)) << obj.ErrDescription();
  EXPECT_EQ(obj.ErrDescription(), "");
  EXPECT_EQ(trace_.str(), testsupport::EmptyRunTrace());
  EXPECT_EQ(Query(tgt_, "SELECT COUNT(*) FROM Ar_BadAge"), (Rows{{"0"}}));
  EXPECT_EQ(Query(tgt_, "SELECT cNum, cNote, cFlag, cArCode FROM Ap_InputCode"),
            (Rows{{"49", "币种兑换差异入账科目", "RP", "NULL"}}));
}

// The left-out column is matched in any letter case and the target numbers
// those rows itself; a column that merely contains the name is copied.
// Columns go by name into a target of another order with extra columns.
TEST_F(RunTest, CopiesColumnsByNameLeavingOutTheIdentity) {
  Exec(src_,
       "DROP TABLE Ap_CloseBill; CREATE TABLE Ap_CloseBill (auto_id INTEGER, AUTO_ID2 INTEGER, cName TEXT);"
       "INSERT INTO Ap_CloseBill VALUES (700, 5, 'b'), (500, 6, 'a');"
       "DROP TABLE Ap_Note_Sub; CREATE TABLE Ap_Note_Sub (Id INTEGER, cNote TEXT, dDate DATETIME);"
       "INSERT INTO Ap_Note_Sub VALUES (9, 'x', '2020-02-29 13:14:15');"
       "DROP TABLE Ap_AlarmSet; CREATE TABLE Ap_AlarmSet (cFlag TEXT, cNum TEXT, iDays INTEGER, bOn BIT);"
       "INSERT INTO Ap_AlarmSet VALUES ('P', '2', 30, 1), ('P', '1', NULL, 0);");
  Exec(tgt_,
       "DROP TABLE Ap_CloseBill; CREATE TABLE Ap_CloseBill (cName TEXT, "
       "Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, AUTO_ID2 INTEGER, cExtra TEXT DEFAULT 'dflt');"
       "DROP TABLE Ap_Note_Sub; CREATE TABLE Ap_Note_Sub (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
       "dDate DATETIME, cNote TEXT);"
       "DROP TABLE Ap_AlarmSet; CREATE TABLE Ap_AlarmSet (bOn BIT, iDays INTEGER DEFAULT 7, cNum TEXT, "
       "cFlag TEXT);");
  clsAPA812 obj;
  ASSERT_TRUE(Run(obj)) << obj.ErrDescription();
  EXPECT_EQ(Query(tgt_, "SELECT Auto_ID, AUTO_ID2, cName, cExtra FROM Ap_CloseBill ORDER BY Auto_ID"),
            (Rows{{"1", "6", "a", "dflt"}, {"2", "5", "b", "dflt"}}));
  EXPECT_EQ(Query(tgt_, "SELECT ID, cNote, dDate FROM Ap_Note_Sub"),
            (Rows{{"1", "x", "2020-02-29 13:14:15"}}));
  // Null is written as Null, not left to the column's default.
  EXPECT_EQ(Query(tgt_, "SELECT cFlag, cNum, iDays, bOn FROM Ap_AlarmSet ORDER BY rowid"),
            (Rows{{"P", "1", "NULL", "0"}, {"P", "2", "30", "1"}}));
  EXPECT_NE(trace_.str().find("T\tAp_CloseBill\t3\nB\t2\n"), std::string::npos);
}

// A source column that the target lacks stops the run at that step: the
// description is the target's own, no later step touches the target, and a
// later good run on the same object clears the description.
TEST_F(RunTest, MissingTargetColumnStopsTheRun) {
  Exec(src_,
       "DROP TABLE Ap_Vouch; CREATE TABLE Ap_Vouch (Auto_ID INTEGER, cVouchID TEXT, cStray TEXT);"
       "INSERT INTO Ap_Vouch VALUES (1, 'V1', 's');");
  Exec(tgt_,
       "DROP TABLE Ap_Vouch; CREATE TABLE Ap_Vouch (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cVouchID TEXT);"
       "INSERT INTO Ap_Vouch (cVouchID) VALUES ('old');"
       "DROP TABLE Ar_BadAge; CREATE TABLE Ar_BadAge (cNum TEXT); INSERT INTO Ar_BadAge VALUES ('kept');");
  clsAPA812 obj;
  EXPECT_FALSE(Run(obj));
  EXPECT_EQ(obj.ErrDescription(), "table Ap_Vouch has no column named cStray");
  const std::string trace = trace_.str();
  EXPECT_TRUE(trace.ends_with("X\tDelete Ap_Vouch\nS\tSelect * From Ap_Vouch Order By Auto_ID\nT\tAp_Vouch\t2\n"))
      << trace;
  EXPECT_EQ(Query(tgt_, "SELECT COUNT(*) FROM Ap_Vouch"), (Rows{{"0"}}));
  EXPECT_EQ(Query(tgt_, "SELECT cNum FROM Ar_BadAge"), (Rows{{"kept"}}));

  Exec(src_, "DROP TABLE Ap_Vouch; CREATE TABLE Ap_Vouch (Auto_ID INTEGER, cVouchID TEXT);"
             "INSERT INTO Ap_Vouch VALUES (1, 'V1');");
  EXPECT_TRUE(Run(obj)) << obj.ErrDescription();
  EXPECT_EQ(obj.ErrDescription(), "");
  EXPECT_EQ(Query(tgt_, "SELECT cVouchID FROM Ap_Vouch"), (Rows{{"V1"}}));
}

// Every operation of a run is made to fail in turn: each failure ends the run
// with its description, no operation follows it, and no recordset survives.
TEST_F(RunTest, ErrorPathReleasesEveryRecordset) {
  Exec(src_,
       "DROP TABLE Ap_Vouchs; CREATE TABLE Ap_Vouchs (Auto_ID INTEGER, cVouchID TEXT);"
       "INSERT INTO Ap_Vouchs VALUES (1, 'a'), (2, 'b'), (3, 'c');");
  Exec(tgt_, "DROP TABLE Ap_Vouchs; CREATE TABLE Ap_Vouchs (Auto_ID INTEGER PRIMARY KEY, cVouchID TEXT);");
  auto run = [&](FaultInjector& faults) {
    auto src = OpenSqliteSource(src_);
    auto tgt = OpenSqliteTarget(tgt_);
    auto fsrc = faults.WrapSource(*src);
    auto ftgt = faults.WrapTarget(*tgt);
    clsAPA812 obj;
    const bool ok = obj.UpdateA812ToS820(*fsrc, *ftgt);
    return ok ? std::string() : obj.ErrDescription();
  };
  FaultInjector clean;
  ASSERT_EQ(run(clean), "");
  EXPECT_EQ(clean.open_recordsets(), 0);
  ASSERT_GT(clean.operations(), 60);
  for (long long k = 1; k <= clean.operations(); ++k) {
    FaultInjector faults(k, "injected failure");
    EXPECT_EQ(run(faults), "injected failure") << "operation " << k;
    EXPECT_EQ(faults.open_recordsets(), 0) << "operation " << k;
    EXPECT_EQ(faults.operations(), k) << "no operation after the failing one";
  }
}

}  // namespace
}  // namespace velaccap
