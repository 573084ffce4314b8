// The ODBC target through the real unixODBC driver manager and Debian's
// SQLite ODBC driver, registered in a driver list of the test's own so the
// machine's ODBC files are never touched.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using velaccap::DateTime;
using velaccap::Error;
using velaccap::LockType;
using velaccap::Value;

std::string SqliteDriverPath() {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
    std::string path = std::string(dir) + "/libsqlite3odbc.so";
    if (std::filesystem::exists(path)) return path;
  }
  return {};
}

// Writes the private driver list and points the driver manager at it before
// any test makes its first ODBC call.
class PrivateDriverList : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string driver = SqliteDriverPath();
    ASSERT_FALSE(driver.empty()) << "the SQLite ODBC driver (Debian package libsqliteodbc) is not installed";
    std::ofstream(dir_.file("odbcinst.ini")) << "[VelSQLite3]\nDescription=SQLite3 for the tests\nDriver=" << driver
                                             << "\n";
    std::ofstream(dir_.file("odbc.ini")) << "";
    setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    setenv("ODBCINI", dir_.file("odbc.ini").c_str(), 1);
  }

 private:
  testsupport::TempDir dir_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateDriverList);

std::string ConnectionString(const std::string& db) { return "DRIVER={VelSQLite3};Database=" + db; }

// Every column kind the migration writes, an identity column, and a second
// table whose name the first one's matches as a catalog pattern.
const char kSchema[] =
    "CREATE TABLE Ap_T (Auto_ID INTEGER PRIMARY KEY AUTOINCREMENT, cName nvarchar(40), iNum int,"
    " iMoney money, fRate float, dDate datetime, bFlag bit, cMust nvarchar(10) NOT NULL DEFAULT 'x');"
    "CREATE TABLE ApxT (Other int);"
    "CREATE TABLE Head (ID int, cCode nvarchar(10));"
    "CREATE TABLE Line (ID int, Qty float);";

class OdbcTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("target.db");
    Exec(path_, kSchema);
    cn_ = velaccap::OpenOdbcTarget(ConnectionString(path_));
  }

  testsupport::TempDir dir_;
  std::string path_;
  std::unique_ptr<velaccap::TargetConnection> cn_;
};

TEST_F(OdbcTarget, StatementsReportTheRowsTheyChanged) {
  cn_->Execute("INSERT INTO Head VALUES (1,'A7')");
  cn_->Execute("INSERT INTO Head VALUES (2,'B1')");
  cn_->Execute("INSERT INTO Line VALUES (1,1.5)");
  cn_->Execute("INSERT INTO Line VALUES (1,2)");
  cn_->Execute("INSERT INTO Line VALUES (2,3)");
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Line SET Qty=Qty+1 WHERE ID=1"), 2);
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Line SET Qty=0 WHERE ID=9"), 0);

  // SQL Server's two-table delete reaches SQLite in the form it has.
  EXPECT_EQ(cn_->ExecuteCount("Delete Line From Head Where cCode='A7' And Line.ID=Head.ID"), 2);
  EXPECT_EQ(Query(path_, "SELECT ID, Qty FROM Line"), (Rows{{"2", "3.0"}}));
  EXPECT_EQ(cn_->ExecuteCount("Delete Head Where ID=2"), 1);
  EXPECT_EQ(cn_->ExecuteCount("Delete Line"), 1);
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Head"), (Rows{{"1"}}));

  // Statement text carries Chinese unharmed.
  cn_->Execute("INSERT INTO Head VALUES (3,'中文')");
  EXPECT_EQ(Query(path_, "SELECT cCode FROM Head WHERE ID=3"), (Rows{{"中文"}}));
}

TEST_F(OdbcTarget, FailuresCarryTheDriversText) {
  try {
    cn_->Execute("Updat Head Set ID=1");
    FAIL() << "a malformed statement ran";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
  }
  try {
    cn_->ExecuteQuery("SELECT * FROM Nowhere");
    FAIL() << "a query on a missing table ran";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("no such table: Nowhere"), std::string::npos) << e.what();
  }

  // A result that fails on its first row leaves the recordset closed.
  auto query = cn_->NewRecordset();
  try {
    query->OpenQuery("SELECT abs(-9223372036854775807 - 1)");
    FAIL() << "an overflowing result opened";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("integer overflow"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(query->is_open());
  query->OpenQuery("SELECT 1");
  EXPECT_EQ(query->field_value(0), Value::Integer(1));

  auto rs = cn_->NewRecordset();
  rs->set_source("Nowhere");
  try {
    rs->OpenTable();
    FAIL() << "a missing table opened";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("no such table: Nowhere"), std::string::npos) << e.what();
  }

  rs->set_source("Ap_T");
  rs->OpenTable();
  rs->AddNew();
  try {
    rs->set_field("cNope", Value::Integer(1));
    FAIL() << "an unknown column was set";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "table Ap_T has no column named cNope");
  }
  rs->set_field("cMust", Value());
  try {
    rs->UpdateBatch();
    FAIL() << "a Null went into a NOT NULL column";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("NOT NULL constraint failed"), std::string::npos) << e.what();
  }
  rs->Close();
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Ap_T"), (Rows{{"0"}}));
}

TEST(OdbcConnect, AFailedConnectNamesTheTargetButNoPassword) {
  try {
    velaccap::OpenOdbcTarget("DRIVER={NoSuchDriver};Database=/no/where.db;UID=sa;PWD=secret");
    FAIL() << "connected through a driver that does not exist";
  } catch (const velaccap::InputError& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("Database=/no/where.db"), std::string::npos) << text;
    EXPECT_NE(text.find("NoSuchDriver"), std::string::npos) << text;  // the driver manager's diagnostic
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  }
  try {
    velaccap::OpenOdbcTarget("DSN={No DSN};PWD={se;cret}}}");
    FAIL() << "connected to a DSN that does not exist";
  } catch (const velaccap::InputError& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("DSN=No DSN"), std::string::npos) << text;
    EXPECT_EQ(text.find("cret"), std::string::npos) << text;
  }
}

TEST_F(OdbcTarget, ResultsAreTypedAndStartOnTheFirstRow) {
  Exec(path_,
       "INSERT INTO Ap_T (cName, iNum, iMoney, fRate, dDate, bFlag) VALUES"
       " ('发票一', 7, 12.5, 0.25, '2024-02-29 13:45:06', 1),"
       " (NULL, NULL, NULL, NULL, NULL, 0)");
  auto rs = cn_->ExecuteQuery(
      "SELECT Auto_ID, cName, iNum, fRate, dDate, bFlag, iNum AS INUM, iMoney FROM Ap_T ORDER BY Auto_ID");
  ASSERT_TRUE(rs->is_open());
  EXPECT_FALSE(rs->bof());
  EXPECT_FALSE(rs->eof());
  ASSERT_EQ(rs->field_count(), 8);
  EXPECT_EQ(rs->field_name(1), "cName");
  EXPECT_EQ(rs->field_index("CNAME"), 1);
  EXPECT_EQ(rs->field_index("inum"), 2);  // the first of two alike names
  EXPECT_EQ(rs->field_value(0), Value::Integer(1));
  EXPECT_EQ(rs->field_value("cName"), Value::Text("发票一"));
  EXPECT_EQ(rs->field_value("iNum"), Value::Integer(7));
  EXPECT_EQ(rs->field_value("fRate"), Value::Real(0.25));
  EXPECT_EQ(rs->field_value("dDate"), Value::Date(DateTime{2024, 2, 29, 13, 45, 6, 0}));
  EXPECT_EQ(rs->field_value("bFlag"), Value::YesNo(true));
  EXPECT_EQ(rs->field_value("iMoney"), Value::Real(12.5));
  rs->move_next();
  EXPECT_FALSE(rs->eof());
  for (const char* name : {"cName", "iNum", "fRate", "dDate", "iMoney"}) EXPECT_TRUE(rs->field_value(name).is_null()) << name;
  EXPECT_EQ(rs->field_value("bFlag"), Value::YesNo(false));
  rs->move_next();
  EXPECT_TRUE(rs->eof());
  EXPECT_FALSE(rs->bof());
  EXPECT_THROW(rs->field_value(0), Error);
  EXPECT_THROW(rs->field_index("Missing"), Error);
  rs->Close();
  EXPECT_FALSE(rs->is_open());

  auto empty = cn_->ExecuteQuery("SELECT ID FROM Head WHERE ID=42");
  EXPECT_TRUE(empty->bof());
  EXPECT_TRUE(empty->eof());
  try {
    empty->field_value("ID");
    FAIL() << "a field of an empty result was read";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("Either BOF or EOF is True"), std::string::npos) << e.what();
  }
}

TEST_F(OdbcTarget, AResultStaysReadableWhileStatementsRun) {
  // The merge pass holds its parent query's result, updates, then reads it.
  Exec(path_, "INSERT INTO Head VALUES (5,'A7'); INSERT INTO Line VALUES (5,1);");
  auto parent = cn_->ExecuteQuery("Select ID From Head Where cCode='A7'");
  EXPECT_EQ(cn_->ExecuteCount("Update Line Set Qty=Qty+2 Where ID=5"), 1);
  cn_->Execute("INSERT INTO Line VALUES (" + parent->field_value("ID").ToStatementText() + ",9)");
  parent->Close();
  EXPECT_EQ(Query(path_, "SELECT ID, Qty FROM Line ORDER BY Qty"), (Rows{{"5", "3.0"}, {"5", "9.0"}}));
}

TEST_F(OdbcTarget, TableRecordsetAddsRowsOfEveryKind) {
  auto rs = cn_->NewRecordset();
  EXPECT_EQ(rs->lock_type(), LockType::Optimistic);
  rs->set_source("Ap_T");
  rs->OpenTable();
  // Only Ap_T's columns, although "Ap_T" as a catalog pattern matches ApxT.
  ASSERT_EQ(rs->field_count(), 8);
  EXPECT_THROW(rs->field_index("Other"), Error);

  rs->AddNew();
  rs->set_field("cName", Value::Text("应付单据 Ärger"));
  rs->set_field("inum", Value::Integer(9007199254740993));
  rs->set_field("iMoney", Value::Real(1234.5678));
  rs->set_field("fRate", Value::Real(0.30000000000000004));
  rs->set_field("dDate", Value::Date(DateTime{1899, 12, 30, 0, 0, 0, 0}));
  rs->set_field("bFlag", Value::YesNo(true));
  EXPECT_EQ(rs->field_value("CNAME"), Value::Text("应付单据 Ärger"));
  EXPECT_TRUE(rs->field_value("cMust").is_null());  // not set yet
  rs->AddNew();  // saves the row before
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Ap_T"), (Rows{{"1"}}));
  rs->set_field("cName", Value());
  rs->set_field("dDate", Value::Date(DateTime{9999, 12, 31, 23, 59, 58, 250000}));
  rs->set_field("bFlag", Value::YesNo(false));
  rs->set_field("cMust", Value::Text(std::string(5000, 'w')));
  rs->AddNew();  // a second set of columns
  rs->set_field("cName", Value::Text("第三"));
  rs->UpdateBatch();  // saves the last row
  rs->Close();

  EXPECT_EQ(Query(path_,
                  "SELECT Auto_ID, cName, iNum, iMoney, fRate = 0.30000000000000004, dDate, bFlag, length(cMust),"
                  " typeof(bFlag) FROM Ap_T ORDER BY Auto_ID"),
            (Rows{{"1", "应付单据 Ärger", "9007199254740993", "1234.5678", "1", "1899-12-30 00:00:00", "1", "1",
                   "integer"},
                  {"2", "NULL", "NULL", "NULL", "NULL", "9999-12-31 23:59:58.250000", "0", "5000", "integer"},
                  {"3", "第三", "NULL", "NULL", "NULL", "NULL", "NULL", "1", "null"}}));
}

TEST_F(OdbcTarget, StoresWhatTheNativeTargetStores) {
  // The same rows through both backends leave the same stored values, types
  // included: a run over ODBC must leave the tables a native run leaves.
  const std::string native_path = dir_.file("native.db");
  Exec(native_path, kSchema);
  auto native = velaccap::OpenSqliteTarget(native_path);
  const Value values[] = {Value(),
                          Value::Integer(-42),
                          Value::Real(2.5),
                          Value::Real(0.1),
                          Value::Text("中文 'quoted'"),
                          Value::Text(""),
                          Value::Date(DateTime{2023, 1, 2, 3, 4, 5, 0}),
                          Value::Date(DateTime{2023, 1, 2, 3, 4, 5, 600}),
                          Value::YesNo(true),
                          Value::YesNo(false)};
  for (velaccap::TargetConnection* cn : {cn_.get(), native.get()}) {
    auto rs = cn->NewRecordset();
    rs->set_source("Ap_T");
    rs->OpenTable();
    for (const Value& v : values) {
      rs->AddNew();
      for (const char* column : {"cName", "iNum", "iMoney", "fRate", "dDate", "bFlag"}) rs->set_field(column, v);
    }
    rs->UpdateBatch();
    rs->Close();
  }
  const char kAll[] =
      "SELECT Auto_ID, cName, typeof(cName), iNum, typeof(iNum), iMoney, typeof(iMoney), quote(fRate),"
      " typeof(fRate), dDate, typeof(dDate), bFlag, typeof(bFlag) FROM Ap_T ORDER BY Auto_ID";
  EXPECT_EQ(Query(path_, kAll), Query(native_path, kAll));
  EXPECT_EQ(Query(path_, kAll).size(), std::size(values));
}

TEST_F(OdbcTarget, ClosedRecordsetsOpenAgainInEitherMode) {
  Exec(path_, "INSERT INTO Head VALUES (1,'A7')");
  auto rs = cn_->ExecuteQuery("SELECT ID FROM Head");
  EXPECT_EQ(rs->lock_type(), LockType::ReadOnly);
  EXPECT_THROW(rs->set_lock_type(LockType::Pessimistic), Error);  // only while closed
  EXPECT_THROW(rs->AddNew(), Error);                              // a result takes no rows
  rs->Close();
  rs->set_lock_type(LockType::Pessimistic);
  rs->set_source("Line");
  rs->OpenTable();
  EXPECT_EQ(rs->lock_type(), LockType::Pessimistic);
  EXPECT_FALSE(rs->bof());
  rs->AddNew();
  rs->set_field("ID", Value::Integer(1));
  rs->set_field("Qty", Value::Real(4));
  rs->AddNew();
  rs->set_field("ID", Value::Integer(2));
  rs->Close();  // the pending second row is discarded
  EXPECT_EQ(Query(path_, "SELECT ID, Qty FROM Line"), (Rows{{"1", "4.0"}}));

  rs->OpenQuery("SELECT Qty FROM Line");
  EXPECT_EQ(rs->field_value(0), Value::Real(4));
  rs->Close();
  rs->Close();  // closing twice is harmless
}

TEST_F(OdbcTarget, TransactionsCommitOrRollBack) {
  cn_->BeginTransaction();
  cn_->Execute("INSERT INTO Head VALUES (1,'gone')");
  auto rs = cn_->NewRecordset();
  rs->set_source("Line");
  rs->OpenTable();
  rs->AddNew();
  rs->set_field("ID", Value::Integer(1));
  rs->UpdateBatch();
  rs->Close();
  cn_->Rollback();
  EXPECT_EQ(Query(path_, "SELECT (SELECT count(*) FROM Head), (SELECT count(*) FROM Line)"), (Rows{{"0", "0"}}));

  cn_->BeginTransaction();
  cn_->Execute("INSERT INTO Head VALUES (2,'kept')");
  cn_->Commit();
  EXPECT_EQ(Query(path_, "SELECT cCode FROM Head"), (Rows{{"kept"}}));
  EXPECT_THROW(cn_->Commit(), Error);  // none is open any more
  cn_->Execute("INSERT INTO Head VALUES (3,'autocommit')");
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Head"), (Rows{{"2"}}));
}

}  // namespace

namespace {

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
  for (auto& row : Query(db,
                         "SELECT m.name, i.name, i.\"unique\", group_concat(k.name) FROM sqlite_schema m,"
                         " pragma_index_list(m.name) i, pragma_index_info(i.name) k WHERE m.type='table'"
                         " AND i.origin='c' GROUP BY m.name, i.name ORDER BY m.name, i.name"))
    layout.push_back(row);
  for (auto& row : Query(db, "SELECT * FROM AccInformation ORDER BY cSysID, cName")) layout.push_back(row);
  return layout;
}

TEST(SqlServerSchema, MirrorsTheSqliteReferenceSchema) {
  // SQLite reads SQL Server's DDL as far as layout goes (IDENTITY(1,1) passes
  // as part of a type name), so the two schemas can be laid side by side.
  testsupport::TempDir dir;
  const std::string sqlite_text = ReadSchema("target_820.sql");
  const std::string mssql_text = ReadSchema("target_820_mssql.sql");
  ASSERT_FALSE(sqlite_text.empty());
  ASSERT_FALSE(mssql_text.empty());
  Exec(dir.file("sqlite.db"), sqlite_text);
  Exec(dir.file("mssql.db"), mssql_text);
  const Rows want = Layout(dir.file("sqlite.db"));
  const Rows got = Layout(dir.file("mssql.db"));
  ASSERT_GT(want.size(), 300u);
  EXPECT_EQ(got, want);

  // Identities where SQLite counts by itself, and no SQLite-only words.
  EXPECT_EQ(mssql_text.find("AUTOINCREMENT"), std::string::npos);
  EXPECT_EQ(mssql_text.find("INTEGER"), std::string::npos);
  EXPECT_NE(mssql_text.find("Auto_ID INT IDENTITY(1,1) PRIMARY KEY"), std::string::npos);
  EXPECT_NE(mssql_text.find("ID INT IDENTITY(1,1) PRIMARY KEY,\n  cNoteNo"), std::string::npos);
}

}  // namespace
