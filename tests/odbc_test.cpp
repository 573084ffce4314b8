// The ODBC target through unixODBC and Debian's SQLite ODBC driver, in a
// driver list of the test's own. run_odbc_test.cpp compares whole runs with
// native ones; this covers what a run rarely reaches: failures, value kinds.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "dbaccess/odbc.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using velaccap::DateTime;
using velaccap::Error;
using velaccap::Value;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

// The text of the E that `f` throws, or "no error".
template <class E = Error, class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << text;
}

class OdbcTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every column kind the migration writes, an identity column, and a
    // second table whose name the first one's matches as a catalog pattern.
    Exec(path_,
         "CREATE TABLE Ap_T (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cName nvarchar(40), iNum int,"
         " iMoney money, fRate float, dDate datetime, bFlag bit, cMust nvarchar(10) NOT NULL DEFAULT 'x');"
         "CREATE TABLE ApxT (Other int);"
         "CREATE TABLE Head (ID int, cCode nvarchar(10));"
         "CREATE TABLE Line (ID int, Qty float);"
         "INSERT INTO Head VALUES (1,'A7'), (2,'B1');"
         "INSERT INTO Line VALUES (1,1.5), (1,2), (2,3);");
    cn_ = velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + path_);
  }

  testsupport::TempDir dir_;
  std::string path_ = dir_.file("target.db");
  std::unique_ptr<velaccap::TargetConnection> cn_;
};

TEST_F(OdbcTarget, StatementsReportTheRowsTheyChangedWhileAResultIsHeld) {
  // The merge pass holds its parent query's result, updates, then reads it.
  auto parent = cn_->ExecuteQuery("Select ID From Head Where cCode='A7'");
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Line SET Qty=Qty+1 WHERE ID=1"), 2);
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Line SET Qty=0 WHERE ID=9"), 0);
  EXPECT_EQ(parent->field_value("ID"), Value::Integer(1));
  parent->Close();

  // SQL Server's delete forms reach SQLite in the form it has.
  EXPECT_EQ(cn_->ExecuteCount("Delete Line From Head Where cCode='A7' And Line.ID=Head.ID"), 2);
  EXPECT_EQ(Query(path_, "SELECT ID, Qty FROM Line"), (Rows{{"2", "3.0"}}));
  EXPECT_EQ(cn_->ExecuteCount("Delete Head Where ID=2"), 1);
  EXPECT_EQ(cn_->ExecuteCount("Delete Line"), 1);
  // Statement text carries Chinese unharmed.
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Head SET cCode='中文'"), 1);
  EXPECT_EQ(Query(path_, "SELECT * FROM Head"), (Rows{{"1", "中文"}}));
}

TEST_F(OdbcTarget, FailuresCarryTheDriversText) {
  EXPECT_TRUE(Has(ErrorOf([&] { cn_->Execute("Updat Head Set ID=1"); }), "syntax error"));
  EXPECT_TRUE(Has(ErrorOf([&] { cn_->ExecuteQuery("SELECT * FROM Nowhere"); }), "no such table: Nowhere"));

  // A result that fails on its first row leaves the recordset closed.
  auto rs = cn_->NewRecordset();
  EXPECT_TRUE(Has(ErrorOf([&] { rs->OpenQuery("SELECT abs(-9223372036854775807 - 1)"); }), "integer overflow"));
  EXPECT_FALSE(rs->is_open());
  rs->set_source("Nowhere");
  EXPECT_TRUE(Has(ErrorOf([&] { rs->OpenTable(); }), "no such table: Nowhere"));

  rs->set_source("Ap_T");
  rs->OpenTable();
  rs->AddNew();
  EXPECT_EQ(ErrorOf([&] { rs->set_field("cNope", Value::Integer(1)); }), "table Ap_T has no column named cNope");
  rs->set_field("cMust", Value());
  EXPECT_TRUE(Has(ErrorOf([&] { rs->UpdateBatch(); }), "NOT NULL constraint failed"));
  rs->Close();
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Ap_T"), (Rows{{"0"}}));
}

TEST(OdbcConnect, AFailedConnectNamesTheTargetButNoPassword) {
  using velaccap::InputError, velaccap::OpenOdbcTarget;
  std::string text = ErrorOf<InputError>([] { OpenOdbcTarget("DRIVER={NoSuchDriver};Database=/no/x.db;PWD=secret"); });
  EXPECT_TRUE(Has(text, "Database=/no/x.db"));
  EXPECT_TRUE(Has(text, "NoSuchDriver"));  // the driver manager's diagnostic
  EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  text = ErrorOf<InputError>([] { OpenOdbcTarget("DSN={No DSN};PWD={se;cret}}}"); });
  EXPECT_TRUE(Has(text, "DSN=No DSN"));
  EXPECT_EQ(text.find("cret"), std::string::npos) << text;
}

TEST_F(OdbcTarget, ResultsAreTypedAndStartOnTheFirstRow) {
  Exec(path_,
       "INSERT INTO Ap_T (cName, iNum, iMoney, fRate, dDate, bFlag) VALUES"
       " ('发票一', 7, 12.5, 0.25, '2024-02-29 13:45:06', 1), (NULL, NULL, NULL, NULL, NULL, 0)");
  auto rs = cn_->ExecuteQuery("SELECT Auto_ID, cName, iNum, fRate, dDate, bFlag, iNum AS INUM, iMoney FROM Ap_T");
  EXPECT_EQ(rs->field_index("CNAME"), 1);
  EXPECT_EQ(rs->field_index("inum"), 2);  // the first of two alike names
  EXPECT_EQ(rs->field_value(0), Value::Integer(1));
  EXPECT_EQ(rs->field_value("cName"), Value::Text("发票一"));
  EXPECT_EQ(rs->field_value("fRate"), Value::Real(0.25));
  EXPECT_EQ(rs->field_value("dDate"), Value::Date(DateTime{2024, 2, 29, 13, 45, 6, 0}));
  EXPECT_EQ(rs->field_value("bFlag"), Value::YesNo(true));
  EXPECT_EQ(rs->field_value("iMoney"), Value::Real(12.5));
  EXPECT_THROW(rs->AddNew(), Error);  // a result takes no rows
  rs->move_next();
  for (const char* name : {"cName", "iNum", "fRate", "dDate", "iMoney"})
    EXPECT_TRUE(rs->field_value(name).is_null()) << name;
  EXPECT_EQ(rs->field_value("bFlag"), Value::YesNo(false));
  rs->move_next();
  EXPECT_TRUE(rs->eof());
  EXPECT_THROW(rs->field_value(0), Error);
  EXPECT_THROW(rs->field_index("Missing"), Error);

  auto empty = cn_->ExecuteQuery("SELECT ID FROM Head WHERE ID=42");
  EXPECT_TRUE(empty->bof());
  EXPECT_TRUE(empty->eof());
  EXPECT_TRUE(Has(ErrorOf([&] { empty->field_value("ID"); }), "Either BOF or EOF is True"));
}

TEST_F(OdbcTarget, TableRecordsetAddsRowsOfEveryKind) {
  auto rs = cn_->NewRecordset();
  rs->set_source("Ap_T");
  rs->OpenTable();
  // Only Ap_T's columns, although "Ap_T" as a catalog pattern matches ApxT.
  ASSERT_EQ(rs->field_count(), 8);

  rs->AddNew();
  rs->set_field("cName", Value::Text("应付单据 Ärger"));
  rs->set_field("inum", Value::Integer(9007199254740993));
  rs->set_field("iMoney", Value::Real(1234.5678));
  rs->set_field("fRate", Value::Real(0.30000000000000004));
  rs->set_field("dDate", Value::Date(DateTime{1899, 12, 30, 0, 0, 0, 0}));
  rs->set_field("bFlag", Value::YesNo(true));
  EXPECT_EQ(rs->field_value("CNAME"), Value::Text("应付单据 Ärger"));
  rs->AddNew();  // saves the row before, held to go with the rows after it
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Ap_T"), (Rows{{"0"}}));
  // Whatever runs on the connection sees it.
  EXPECT_EQ(cn_->ExecuteQuery("SELECT count(*) FROM Ap_T")->field_value(0), Value::Integer(1));
  rs->set_field("cName", Value());
  rs->set_field("dDate", Value::Date(DateTime{9999, 12, 31, 23, 59, 58, 250000}));
  rs->set_field("bFlag", Value::YesNo(false));
  rs->set_field("cMust", Value::Text(std::string(5000, 'w')));
  rs->AddNew();  // a second set of columns
  rs->set_field("cName", Value::Text("第三"));
  rs->UpdateBatch();  // saves the last row
  rs->AddNew();
  rs->set_field("cName", Value::Text("dropped"));
  rs->Close();  // the pending row is discarded

  EXPECT_EQ(Query(path_,
                  "SELECT Auto_ID, cName, iNum, iMoney, fRate = 0.30000000000000004, dDate, bFlag, length(cMust),"
                  " typeof(bFlag) FROM Ap_T"),
            (Rows{{"1", "应付单据 Ärger", "9007199254740993", "1234.5678", "1", "1899-12-30 00:00:00", "1", "1",
                   "integer"},
                  {"2", "NULL", "NULL", "NULL", "NULL", "9999-12-31 23:59:58.250000", "0", "5000", "integer"},
                  {"3", "第三", "NULL", "NULL", "NULL", "NULL", "NULL", "1", "null"}}));

  rs->OpenQuery("SELECT cName FROM Ap_T WHERE Auto_ID=3");  // the closed recordset opens again
  EXPECT_EQ(rs->field_value(0), Value::Text("第三"));
}

TEST_F(OdbcTarget, TextOutsideTheBasicPlaneArrivesAndBrokenTextStops) {
  auto rs = cn_->NewRecordset();
  rs->set_source("Ap_T");
  rs->OpenTable();
  rs->AddNew();
  rs->set_field("cName", Value::Text("\U00020000\U0002A6D6 名"));  // two UTF-16 units each
  rs->UpdateBatch();
  rs->Close();
  rs->OpenQuery("SELECT cName FROM Ap_T");
  EXPECT_EQ(rs->field_value(0), Value::Text("\U00020000\U0002A6D6 名"));

  // Bytes that are not UTF-8 are not swapped for a replacement character.
  rs->Close();
  rs->OpenTable();
  rs->AddNew();
  rs->set_field("cName", Value::Text("ab\xff"));
  EXPECT_TRUE(Has(ErrorOf([&] { rs->UpdateBatch(); }), "Text is not valid UTF-8 at byte 2"));
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Ap_T"), (Rows{{"1"}}));
}

TEST_F(OdbcTarget, TransactionsCommitOrRollBack) {
  cn_->BeginTransaction();
  cn_->Execute("DELETE FROM Head");
  auto rs = cn_->NewRecordset();
  rs->set_source("Line");
  rs->OpenTable();
  rs->AddNew();
  rs->set_field("ID", Value::Integer(9));
  rs->UpdateBatch();
  rs->Close();
  cn_->Rollback();
  EXPECT_EQ(Query(path_, "SELECT (SELECT count(*) FROM Head), (SELECT count(*) FROM Line)"), (Rows{{"2", "3"}}));

  cn_->BeginTransaction();
  cn_->Execute("INSERT INTO Head VALUES (3,'kept')");
  cn_->Commit();
  EXPECT_THROW(cn_->Commit(), Error);  // none is open any more
  cn_->Execute("INSERT INTO Head VALUES (4,'autocommit')");
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Head"), (Rows{{"4"}}));
}

std::string ReadSchema(const std::string& name) {
  std::ifstream in(std::string(VELACCAP_SOURCE_DIR) + "/schema/" + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Table, column, key and index layout of a database, and its option rows.
Rows Layout(const std::string& db) {
  // A primary key column is never Null, whether or not it says so.
  Rows layout = Query(db,
                      "SELECT m.name, c.cid, c.name, c.\"notnull\" OR c.pk > 0, c.pk, c.dflt_value FROM sqlite_schema m,"
                      " pragma_table_info(m.name) c WHERE m.type='table' AND m.name NOT LIKE 'sqlite%'"
                      " ORDER BY m.name, c.cid");
  for (const char* sql : {"SELECT m.name, i.name, i.\"unique\", group_concat(k.name) FROM sqlite_schema m,"
                          " pragma_index_list(m.name) i, pragma_index_info(i.name) k WHERE m.type='table'"
                          " AND i.origin='c' GROUP BY m.name, i.name ORDER BY m.name, i.name",
                          "SELECT * FROM AccInformation ORDER BY cSysID, cName"})
    for (auto& row : Query(db, sql)) layout.push_back(row);
  return layout;
}

TEST(SqlServerSchema, MirrorsTheSqliteReferenceSchema) {
  // SQLite reads SQL Server's DDL as far as layout goes (IDENTITY(1,1) passes
  // as part of a type name), so the two schemas can be laid side by side.
  testsupport::TempDir dir;
  const std::string mssql_text = ReadSchema("target_820_mssql.sql");
  Exec(dir.file("sqlite.db"), ReadSchema("target_820.sql"));
  Exec(dir.file("mssql.db"), mssql_text);
  const Rows want = Layout(dir.file("sqlite.db"));
  ASSERT_GT(want.size(), 300u);
  EXPECT_EQ(Layout(dir.file("mssql.db")), want);

  // Identities where SQLite counts by itself, and no SQLite-only words.
  EXPECT_EQ(mssql_text.find("AUTOINCREMENT"), std::string::npos);
  EXPECT_EQ(mssql_text.find("INTEGER"), std::string::npos);
  EXPECT_NE(mssql_text.find("Auto_ID INT IDENTITY(1,1) PRIMARY KEY"), std::string::npos);
  EXPECT_NE(mssql_text.find("ID INT IDENTITY(1,1) PRIMARY KEY,\n  cNoteNo"), std::string::npos);
}

}  // namespace
