// The ODBC target through unixODBC and Debian's SQLite ODBC driver, in a
// driver list of the test's own. run_odbc_test.cpp compares whole runs with
// native ones; this covers what a run rarely reaches: failures, value kinds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace {

using testsupport::ErrorOf;
using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using velaccap::DateTime;
using velaccap::Error;
using velaccap::Value;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

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

// Saved rows wait out a query that cannot see them, on either target: the
// refusal of a held row then comes with the next operation that needs them,
// and only the rows before it are written, as when each row went alone.
TEST_F(OdbcTarget, HeldRowsWaitOutOnlyQueriesThatCannotSeeThem) {
  Exec(path_, "CREATE VIEW HeadView AS SELECT * FROM Head; INSERT INTO Ap_T (Auto_ID) VALUES (7);");
  const std::string file = dir_.file("copy.db");
  struct Case {
    const char* query;
    bool waits;
  };
  const Case cases[] = {
      {"Select Qty From Line INNER JOIN Head ON Line.ID=Head.ID Where cCode='A7' and Qty=2", true},
      {"select cCode from head where ID=1", true},
      {"Select cName From ap_t", false},
      {"Select Qty From Line INNER JOIN Ap_T ON Line.ID=Ap_T.iNum", false},
      {"Select cCode From HeadView", false},
      {"Select cCode From Head Where ID In (Select iNum From Ap_T)", false},
      {"Select cCode From Head, Ap_T", false},
  };
  // With `in_transaction` false, or a trigger on the held table, every
  // query sends them first.
  auto run = [&](bool odbc, const char* query, bool in_transaction, const char* extra) {
    std::filesystem::copy_file(path_, file, std::filesystem::copy_options::overwrite_existing);
    if (extra) Exec(file, extra);
    auto cn = odbc ? velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + file) : velaccap::OpenSqliteTarget(file);
    if (in_transaction) cn->BeginTransaction();
    auto rs = cn->NewRecordset();
    rs->set_source("Ap_T");
    rs->OpenTable();
    for (long long id : {1, 7, 8}) {  // 7 is taken; 8 stays pending
      rs->AddNew();
      rs->set_field("Auto_ID", Value::Integer(id));
    }
    std::pair<std::string, std::string> failures{ErrorOf([&] { cn->ExecuteQuery(query)->Close(); }), "no error"};
    // A run stops at its first failure.
    if (failures.first == "no error") failures.second = ErrorOf([&] { rs->UpdateBatch(); });
    rs->Close();
    if (in_transaction) cn->Commit();
    EXPECT_EQ(Query(file, "SELECT Auto_ID FROM Ap_T ORDER BY 1"), (Rows{{"1"}, {"7"}})) << query;
    return failures;
  };
  for (bool odbc : {false, true}) {
    for (const Case& c : cases) {
      const auto [at_query, at_save] = run(odbc, c.query, true, nullptr);
      EXPECT_TRUE(Has(c.waits ? at_save : at_query, "UNIQUE constraint failed")) << c.query << " odbc " << odbc;
      EXPECT_EQ(c.waits ? at_query : at_save, "no error") << c.query << " odbc " << odbc;
    }
    EXPECT_TRUE(Has(run(odbc, cases[0].query, false, nullptr).first, "UNIQUE constraint failed"));
    EXPECT_TRUE(Has(run(odbc, cases[0].query, true,
                        "CREATE TRIGGER Watch AFTER INSERT ON Ap_T BEGIN UPDATE Head SET cCode='W' WHERE 0; END")
                        .first,
                    "UNIQUE constraint failed"));
  }
}

// A result held open reads the rest of its rows in when a statement needs
// the connection: every row comes, as it was when the result was opened.
TEST_F(OdbcTarget, AHeldResultKeepsItsRowsAcrossStatements) {
  auto lines = cn_->ExecuteQuery("Select ID, Qty From Line Order By Qty");
  EXPECT_EQ(lines->field_value("Qty"), Value::Real(1.5));
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Line SET Qty=Qty+10"), 3);
  auto head = cn_->ExecuteQuery("Select cCode From Head Where ID=2");
  EXPECT_EQ(head->field_value(0), Value::Text("B1"));
  Rows read;
  for (lines->move_next(); !lines->eof(); lines->move_next())
    read.push_back({lines->field_value(0).ToText(), lines->field_value(1).ToText()});
  EXPECT_EQ(read, (Rows{{"1", "2"}, {"2", "3"}}));
  EXPECT_EQ(ErrorOf([&] { lines->move_next(); }), ErrorOf([&] { head->move_next(), head->move_next(); }));
  head->Close();
  lines->Close();
  EXPECT_EQ(Query(path_, "SELECT sum(Qty) FROM Line"), (Rows{{"36.5"}}));
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

// Every row of `table`, in storage order, each value quoted as SQLite holds
// it, so a value stored as another type shows.
Rows Stored(const std::string& db, const std::string& table) {
  return Query(db, "SELECT quote(ID), quote(Val), quote(Note) FROM " + table + " ORDER BY rowid");
}

// Saves `count` rows on `rs` (open on a table with ID, Val and Note), the
// i-th (from 0) with the ID and Val that `id` and `val` give; stops at the
// first failure, returning the number of the row whose AddNew failed (or
// `count` for the closing UpdateBatch) and its text.
template <class I, class F>
std::pair<long long, std::string> AddRows(velaccap::TargetRecordset& rs, long long count, I id, F val) {
  for (long long i = 0; i <= count; ++i) {
    try {
      if (i == count) {
        rs.UpdateBatch();
        break;
      }
      rs.AddNew();
    } catch (const Error& e) {
      return {i, e.what()};
    }
    rs.set_field("ID", id(i));
    rs.set_field("Val", val(i));
    rs.set_field("Note", i % 11 == 3 ? Value() : Value::Text("第" + std::to_string(i)));
  }
  return {-1, "no error"};
}

TEST_F(OdbcTarget, SavedRowsGoInArraysBoundAsEachAloneWouldBe) {
  // Val has no type, so SQLite keeps each value as it was bound.
  const char* const kTables =
      "CREATE TABLE Mixed (ID int, Val, Note nvarchar(40));"
      "CREATE TABLE Log (Seq INTEGER PRIMARY KEY, What text);"
      "CREATE TRIGGER LogMixed AFTER INSERT ON Mixed BEGIN INSERT INTO Log (What) VALUES ('Mixed'); END;"
      "CREATE TRIGGER LogHead AFTER INSERT ON Head BEGIN INSERT INTO Log (What) VALUES ('Head'); END;";
  Exec(path_, kTables);
  const std::string native_path = dir_.file("native.db");
  Exec(native_path, std::string("CREATE TABLE Head (ID int, cCode nvarchar(10));") + kTables);
  auto native = velaccap::OpenSqliteTarget(native_path);

  // Rows of one kind per column, Nulls among them, then a column whose kind
  // changes from row to row: every value stored as the native target
  // stores it.
  const std::vector<Value> kinds{Value::Integer(7),
                                 Value::Real(2.5),
                                 Value(),
                                 Value::Text("七"),
                                 Value::Date(DateTime{2024, 2, 29, 13, 45, 6, 250000}),
                                 Value::YesNo(true),
                                 Value::Integer(9007199254740993),
                                 Value::Text(std::string(4001, 'w')),
                                 Value::Text("short"),
                                 Value::Date(DateTime{1899, 12, 30, 0, 0, 0, 0}),
                                 Value::Real(-0.0)};
  auto val = [&](long long i) {
    if (i >= 2500) return kinds[static_cast<std::size_t>(i - 2500) % kinds.size()];
    return i % 7 == 2 ? Value() : Value::Real(static_cast<double>(i) + 0.25);
  };
  for (velaccap::TargetConnection* target : {cn_.get(), native.get()}) {
    target->BeginTransaction();
    auto rs = target->NewRecordset();
    rs->set_source("Mixed");
    rs->OpenTable();
    EXPECT_EQ(AddRows(*rs, 2500 + 2 * static_cast<long long>(kinds.size()), Value::Integer, val).first, -1);
    rs->Close();
    target->Commit();
  }
  const Rows stored = Stored(path_, "Mixed");
  EXPECT_EQ(stored.size(), 2522u);
  EXPECT_EQ(stored, Stored(native_path, "Mixed"));

  // Rows saved wait for the array they go in, and whatever reaches the
  // connection (a statement, another recordset's row, a transaction begun)
  // sends them first, in the order they were saved, also when their
  // recordset is gone.
  auto mixed = cn_->NewRecordset();
  mixed->set_source("Mixed");
  mixed->OpenTable();
  auto head = cn_->NewRecordset();
  head->set_source("Head");
  head->OpenTable();
  Exec(path_, "DELETE FROM Log");
  mixed->AddNew();
  mixed->set_field("ID", Value::Integer(-1));
  mixed->AddNew();  // saves ID -1
  mixed->set_field("ID", Value::Integer(-2));
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM Mixed WHERE ID<0"), (Rows{{"0"}}));
  EXPECT_EQ(cn_->ExecuteCount("UPDATE Mixed SET Note='seen' WHERE ID<0"), 1);
  mixed->AddNew();  // saves ID -2
  head->AddNew();
  head->set_field("ID", Value::Integer(3));
  head->UpdateBatch();
  mixed->set_field("ID", Value::Integer(-3));
  mixed->AddNew();  // saves ID -3, then the recordset goes without a word
  mixed.reset();
  cn_->BeginTransaction();
  auto seen = cn_->ExecuteQuery("SELECT group_concat(What) FROM (SELECT What FROM Log ORDER BY Seq)");
  EXPECT_EQ(seen->field_value(0), Value::Text("Mixed,Mixed,Head,Mixed"));
  cn_->Rollback();
  EXPECT_EQ(Query(path_, "SELECT ID, Note FROM Mixed WHERE ID<0 ORDER BY rowid"),
            (Rows{{"-1", "seen"}, {"-2", "NULL"}, {"-3", "NULL"}}));

  // A commit sends them first; a rollback drops them with the rest.
  for (bool commit : {true, false}) {
    cn_->BeginTransaction();
    auto rs = cn_->NewRecordset();
    rs->set_source("Mixed");
    rs->OpenTable();
    rs->AddNew();
    rs->set_field("ID", Value::Integer(commit ? -4 : -5));
    rs->AddNew();
    if (commit)
      cn_->Commit();
    else
      cn_->Rollback();
  }
  EXPECT_EQ(Query(path_, "SELECT ID FROM Mixed WHERE ID<-3"), (Rows{{"-4"}}));
}

TEST_F(OdbcTarget, AFailingRowKeepsTheRowsBeforeItAndNoneAfter) {
  Exec(path_, "CREATE TABLE Uniq (ID int NOT NULL UNIQUE, Val NOT NULL, Note nvarchar(40));");
  // Rows written without a transaction commit one by one; unsynced, they
  // take no time.
  cn_ = velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};SyncPragma=OFF;Database=" + path_);
  // The texts a row of its own gets from the driver.
  const std::string duplicate = ErrorOf([&] { cn_->Execute("INSERT INTO Uniq (ID, Val) VALUES (3, 0), (3, 0)"); });
  EXPECT_TRUE(Has(duplicate, "UNIQUE constraint failed: Uniq.ID"));
  const std::string no_val = ErrorOf([&] { cn_->Execute("INSERT INTO Uniq (ID) VALUES (3)"); });
  EXPECT_TRUE(Has(no_val, "NOT NULL constraint failed: Uniq.Val"));
  auto zero = [](long long) { return Value::Integer(0); };

  auto rs = cn_->NewRecordset();
  rs->set_source("Uniq");
  rs->OpenTable();
  // Without a transaction: the 1501st row repeats an ID. It fails with the
  // second array, sent as the 2000th row is saved (at the AddNew after it);
  // rows 1 to 1500 stay, none after them.
  auto [failed_at, text] =
      AddRows(*rs, 2500, [](long long i) { return Value::Integer(i == 1500 ? 3 : i); }, zero);
  EXPECT_EQ(failed_at, 2000);
  EXPECT_EQ(text, duplicate);
  rs->Close();
  EXPECT_EQ(Query(path_, "SELECT count(*), min(ID), max(ID) FROM Uniq"), (Rows{{"1500", "0", "1499"}}));

  // A Null where none may be, in the first and last array of the table.
  cn_->Execute("DELETE FROM Uniq");
  rs->OpenTable();
  std::tie(failed_at, text) = AddRows(*rs, 900, Value::Integer, [](long long i) {
    return i == 700 ? Value() : Value::Integer(0);
  });
  rs->Close();
  EXPECT_EQ(failed_at, 900);
  EXPECT_EQ(text, no_val);
  EXPECT_EQ(Query(path_, "SELECT count(*), max(ID) FROM Uniq"), (Rows{{"700", "699"}}));

  // In a transaction, a trigger refuses a row: a rollback leaves nothing; a
  // commit after the failure, as --no-atomic does, keeps the rows before it.
  cn_->Execute("DELETE FROM Uniq");
  Exec(path_, "CREATE TRIGGER refuse BEFORE INSERT ON Uniq WHEN NEW.ID=1500"
              " BEGIN SELECT RAISE(ABORT, 'row 1500 refused'); END;");
  for (bool commit : {false, true}) {
    cn_->BeginTransaction();
    rs->OpenTable();
    std::tie(failed_at, text) = AddRows(*rs, 1800, Value::Integer, zero);
    EXPECT_EQ(failed_at, 1800);  // at the closing UpdateBatch
    EXPECT_TRUE(Has(text, "row 1500 refused"));
    rs->Close();
    if (commit)
      cn_->Commit();
    else
      cn_->Rollback();
    EXPECT_EQ(Query(path_, "SELECT count(*), max(ID) FROM Uniq"),
              (commit ? Rows{{"1500", "1499"}} : Rows{{"0", "NULL"}}));
  }
}

std::string ReadSchema(const std::string& name) {
  std::ifstream in(std::string(VELACCAP_SOURCE_DIR) + "/schema/" + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Table, column, type, key and index layout of a database, and its option
// rows. A primary key column is never Null, whether or not it says so; an
// identity is SQLite's AUTOINCREMENT key or SQL Server's IDENTITY(1,1), and
// INTEGER is SQL Server's INT.
Rows Layout(const std::string& db) {
  Rows layout = Query(db,
                      "SELECT m.name, c.cid, c.name, c.\"notnull\" OR c.pk > 0, c.pk, c.dflt_value,"
                      " CASE WHEN c.type = 'INT IDENTITY(1,1)' OR (c.pk AND m.sql LIKE '%AUTOINCREMENT%')"
                      " THEN 'identity' ELSE replace(c.type, 'INTEGER', 'INT') END"
                      " FROM sqlite_schema m, pragma_table_info(m.name) c WHERE m.type='table'"
                      " AND m.name NOT LIKE 'sqlite%' ORDER BY m.name, c.cid");
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

  // No SQLite-only words.
  EXPECT_EQ(mssql_text.find("AUTOINCREMENT"), std::string::npos);
  EXPECT_EQ(mssql_text.find("INTEGER"), std::string::npos);
}

}  // namespace
