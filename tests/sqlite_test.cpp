// The native SQLite source and target on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dbaccess/sqlite.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace velaccap {
namespace {

using testsupport::ErrorOf;
using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using testsupport::TempDir;

// A source and a target file side by side; both hold R, whose dates and
// yes/no values must cross unchanged.
class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string r = "CREATE TABLE R (dDate DATETIME, dDay DATE, bOk BIT, cText TEXT);";
    Exec(src_, r + R"(
      CREATE TABLE Inv (id INTEGER, cCode VARCHAR(20), bOk BIT, dDate DATETIME, iQty INT,
                        fPrice MONEY, nAmt DECIMAL(18,2), fRate DOUBLE, misc);
      CREATE TABLE Line (id INTEGER, invId INTEGER, cItem TEXT);
      INSERT INTO Inv VALUES (1, 'A7', 1, '2020-05-06 07:08:09', 3, 12, 5, 2.5, 'x');
      INSERT INTO Inv VALUES (2, 'A7 2', 0, '2020-05-06', 'many', 1.25, 2.75, 3, 4.5);
      INSERT INTO Inv VALUES (3, NULL, NULL, 45000, NULL, NULL, NULL, NULL, NULL);
      INSERT INTO Line VALUES (10, 1, 'X'), (11, 2, 'Y');
      INSERT INTO R VALUES ('2019-12-31 23:59:59', '2019-12-31', 1, 'a'),
                           ('2019-12-31 23:59:59.250000', '2019-12-31T10:00', 0, NULL);)");
    Exec(path_, r + R"(
      CREATE TABLE T (id INTEGER PRIMARY KEY, n INTEGER DEFAULT 7, c TEXT NOT NULL, d DATETIME, b BIT, r REAL);
      CREATE TABLE U (id INTEGER, c TEXT);
      INSERT INTO U VALUES (1, 'u1'), (2, 'u2'), (3, 'u3');)");
    db_ = OpenSqliteSource(src_);
    cn_ = OpenSqliteTarget(path_);
  }

  Rows All() { return Query(path_, "SELECT id, n, c, d, b, r FROM T ORDER BY id"); }

  TempDir dir_;
  std::string src_ = dir_.file("source.db"), path_ = dir_.file("target.db");
  std::unique_ptr<SourceDatabase> db_;
  std::unique_ptr<TargetConnection> cn_;
};

TEST_F(SqliteTest, DateTimesAndYesNoPassUnchanged) {
  auto in = db_->OpenRecordset("Select * From R");
  auto out = cn_->NewRecordset();
  out->set_source("R");
  out->OpenTable();
  for (; !in->eof(); in->move_next()) {
    out->AddNew();
    for (int i = 0; i < in->field_count(); ++i) out->set_field(in->field_name(i), in->field_value(i));
  }
  out->UpdateBatch();
  const char* q = "SELECT dDate, dDay, bOk, typeof(bOk), cText FROM R";
  EXPECT_EQ(Query(path_, q), Query(src_, q));
}

TEST_F(SqliteTest, SourceQualifiesJoinedNamesTypesByDeclaredTypeAndWritesNothing) {
  auto rs = db_->OpenRecordset("Select * From Line, Inv Where Line.invId=Inv.id And Instr(cCode,' ')>0");
  ASSERT_EQ(rs->field_count(), 12);
  EXPECT_EQ(rs->field_name(0), "Line.id");
  EXPECT_EQ(rs->field_index("INV.ID"), 3);
  EXPECT_EQ(rs->field_index("ccode"), 4);
  EXPECT_EQ(rs->field_index("Line.cItem"), 2);  // qualified, though unique
  EXPECT_EQ(rs->field_value("line.ID"), Value::Integer(11));
  EXPECT_NE(ErrorOf([&] { rs->field_index("Nope"); }).find("Nope"), std::string::npos);
  EXPECT_THROW(rs->field_index("id"), Error);

  rs = db_->OpenRecordset("Select * From Inv Order By id");
  auto v = [&](const char* name) { return rs->field_value(name); };
  EXPECT_EQ(v("bOk"), Value::YesNo(true));
  EXPECT_EQ(v("dDate"), Value::Date(DateTime{2020, 5, 6, 7, 8, 9, 0}));
  EXPECT_EQ(v("fPrice"), Value::Real(12));  // money stored as a whole number
  EXPECT_EQ(v("nAmt"), Value::Integer(5));
  rs->move_next();
  EXPECT_EQ(v("bOk"), Value::YesNo(false));
  EXPECT_EQ(v("dDate"), Value::Text("2020-05-06"));  // kept as written
  EXPECT_EQ(v("iQty"), Value::Text("many"));         // does not fit: passes as stored
  EXPECT_EQ(v("nAmt"), Value::Real(2.75));
  EXPECT_EQ(v("misc"), Value::Real(4.5));
  rs->move_next();
  EXPECT_TRUE(v("bOk").is_null());
  EXPECT_EQ(v("dDate"), Value::Integer(45000));
  rs->move_next();
  EXPECT_TRUE(rs->eof());
  EXPECT_EQ(rs->record_count(), 3);
  EXPECT_THROW(rs->field_value(0), Error);
  rs = db_->OpenRecordset("Select Max(id) As m From Inv");
  EXPECT_EQ(rs->field_value("M"), Value::Integer(3));

  // An empty result still has its columns; nothing can be written.
  rs = db_->OpenRecordset("Select * From Inv Where id > 99");
  EXPECT_TRUE(rs->eof());
  EXPECT_EQ(rs->field_count(), 9);
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("Select * From Missing"); }), "no such table: Missing");
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("Delete From Inv"); }), "attempt to write a readonly database");
  EXPECT_EQ(Query(src_, "Select count(*) From Inv"), (Rows{{"3"}}));
}

TEST(SqliteOpenTest, MissingOrForeignFileIsAnInputErrorNamingIt) {
  TempDir dir;
  std::string missing = dir.file("missing.db"), text = dir.file("notes.db");
  std::ofstream(text) << "These are not the pages of a database, but they are long enough to be read as one.";
  for (auto open : {+[](const std::string& p) { OpenSqliteSource(p); },
                    +[](const std::string& p) { OpenSqliteTarget(p); }}) {
    try {
      open(missing);
      ADD_FAILURE() << "opened";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_THROW(open(text), InputError);
  }
}

TEST_F(SqliteTest, TableRecordsetSavesPendingRowsOnAddNewOrUpdateBatch) {
  auto rs = cn_->NewRecordset();
  rs->set_source("t");
  rs->OpenTable();
  rs->AddNew();
  rs->set_field("C", Value::Text("first"));
  rs->set_field("id", Value::Integer(1));
  EXPECT_EQ(rs->field_value("c"), Value::Text("first"));  // the pending row reads back
  EXPECT_TRUE(All().empty());
  rs->AddNew();  // saves the first row, held until the batch is written
  EXPECT_TRUE(All().empty());
  rs->set_field("id", Value::Integer(2));
  rs->set_field("n", Value());  // Null is written, not the default
  rs->set_field("c", Value::Text("it's"));
  rs->set_field("r", Value::Real(0.1));
  rs->UpdateBatch();
  EXPECT_EQ(All(), (Rows{{"1", "7", "first", "NULL", "NULL", "NULL"},  // unset columns take their defaults
                         {"2", "NULL", "it's", "NULL", "NULL", "0.1"}}));

  EXPECT_EQ(ErrorOf([&] { rs->set_field("zz", Value::Integer(1)); }), "table t has no column named zz");
  rs->AddNew();
  rs->set_field("id", Value::Integer(4));
  rs->set_field("c", Value::Text("discarded"));
  rs->Close();
  EXPECT_EQ(All().size(), 2u);
  rs->OpenTable();
  rs->AddNew();
  rs->set_field("id", Value::Integer(3));
  EXPECT_EQ(ErrorOf([&] { rs->UpdateBatch(); }), "NOT NULL constraint failed: T.c");
}

// Saved rows are held and written together, yet every other use of the
// connection meets them in the table, and a failing row fails as it would
// on its own: the rows before it written, the rows after it not.
TEST_F(SqliteTest, HeldRowsMeetEveryOtherUseAndFailAtTheirOwnRow) {
  auto rs = cn_->NewRecordset();
  rs->set_source("T");
  rs->OpenTable();
  auto add = [&](long long id, const char* c) {
    rs->AddNew();
    rs->set_field("id", Value::Integer(id));
    if (c) rs->set_field("c", Value::Text(c));
    rs->set_field("d", Value::Date({2020, 5, 6, 7, 8, 9, 0}));
    rs->set_field("b", Value::YesNo(true));
  };
  for (long long id = 1; id <= 5; ++id) add(id, "x");
  add(6, "y");
  // A statement, a query and another table's rows all come after them.
  EXPECT_EQ(cn_->ExecuteCount("Update T Set n=n+1 Where c='x'"), 5);
  add(7, "z");
  add(8, "z");  // pending: saved by the next AddNew
  EXPECT_EQ(cn_->ExecuteQuery("Select count(*) As k From T")->field_value("k"), Value::Integer(7));
  add(9, "q");
  auto other = cn_->NewRecordset();
  other->set_source("U");
  other->OpenTable();
  other->AddNew();
  other->set_field("id", Value::Integer(99));
  other->UpdateBatch();
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM T"), (Rows{{"8"}}));
  EXPECT_EQ(Query(path_, "SELECT d, b FROM T WHERE id=8"), (Rows{{"2020-05-06 07:08:09", "1"}}));

  // Rows up to id 1800, the one in place of 1709 refused: a whole batch
  // before it, and it in the middle of the next.
  for (long long id = 10; id <= 1800; ++id) add(id == 1709 ? 5 : id, "w");
  EXPECT_EQ(ErrorOf([&] { rs->UpdateBatch(); }), "UNIQUE constraint failed: T.id");
  EXPECT_EQ(Query(path_, "SELECT count(*), max(id) FROM T"), (Rows{{"1708", "1708"}}));
  rs->Close();

  // In a transaction: a commit writes what is held, a rollback drops it.
  cn_->BeginTransaction();
  rs->OpenTable();
  add(5000, "t");
  rs->UpdateBatch();
  // Nothing is seen outside before the commit: the transaction holds the
  // file exclusively from its start.
  EXPECT_THROW(Query(path_, "SELECT c FROM T WHERE id=5000"), std::runtime_error);
  cn_->Commit();
  EXPECT_EQ(Query(path_, "SELECT c FROM T WHERE id=5000"), (Rows{{"t"}}));
  cn_->BeginTransaction();
  add(5001, "t");
  add(5002, "t");
  cn_->Rollback();
  rs->Close();
  EXPECT_EQ(Query(path_, "SELECT count(*) FROM T WHERE id>5000"), (Rows{{"0"}}));

  // Rows of more columns than a batch carries go one at a time.
  std::string wide = "CREATE TABLE W (id INTEGER PRIMARY KEY";
  for (int i = 0; i < 140; ++i) wide += ", v" + std::to_string(i);
  cn_->Execute(wide + ")");
  rs->set_source("W");
  rs->OpenTable();
  for (long long id = 1; id <= 3; ++id) {
    rs->AddNew();
    rs->set_field("id", Value::Integer(id));
    for (int i = 0; i < 140; ++i) rs->set_field("v" + std::to_string(i), Value::Integer(id * 1000 + i));
  }
  rs->UpdateBatch();
  rs->Close();
  EXPECT_EQ(Query(path_, "SELECT count(*), sum(v139) FROM W"), (Rows{{"3", "6417"}}));

  // One at a time on request: the failure comes with the row itself.
  OpenOptions one;
  one.batch_rows = 1;
  auto single = OpenSqliteTarget(path_, one);
  auto t = single->NewRecordset();
  t->set_source("T");
  t->OpenTable();
  t->AddNew();
  t->set_field("id", Value::Integer(6000));
  EXPECT_EQ(ErrorOf([&] { t->AddNew(); }), "NOT NULL constraint failed: T.c");
}

TEST_F(SqliteTest, TargetStatementsTransactionsAndResults) {
  cn_->Execute("Insert Into T (id, c) Select id, 'x' From U");
  EXPECT_EQ(cn_->ExecuteCount("Update T Set c=U.c From U Where T.id=U.id And U.id>1"), 2);
  EXPECT_EQ(cn_->ExecuteCount("Update T Set c='none' Where id>99"), 0);
  cn_->Execute("Delete T From U Where U.c='u2' And T.id=U.id");
  EXPECT_EQ(Query(path_, "SELECT id, c FROM T ORDER BY id"), (Rows{{"1", "x"}, {"3", "u3"}}));
  cn_->Execute("Delete T Where id=3");
  EXPECT_EQ(Query(path_, "SELECT id FROM T"), (Rows{{"1"}}));

  cn_->BeginTransaction();
  cn_->Execute("Insert Into U Values (4, 'u4')");
  cn_->Rollback();

  // Results, empty or not, and a closed one reused as a table.
  auto rs = cn_->ExecuteQuery("Select id From U Where id>99");
  EXPECT_TRUE(rs->bof());
  EXPECT_EQ(ErrorOf([&] { rs->field_value(0); }),
            "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
            "current record.");

  rs = cn_->ExecuteQuery("Select U.id, a.id, U.c From U, U As a Where a.id=U.id+1 Order By U.id");
  EXPECT_EQ(rs->field_value("ID"), Value::Integer(1));  // the first of that name
  EXPECT_EQ(rs->field_value(1), Value::Integer(2));
  EXPECT_THROW(rs->set_field("c", Value::Text("no")), Error);
  rs->Close();
  rs->set_source("U");
  rs->OpenTable();
  cn_->BeginTransaction();
  rs->AddNew();
  rs->set_field("id", Value::Integer(9));
  rs->UpdateBatch();
  cn_->Commit();
  EXPECT_EQ(Query(path_, "SELECT id, c FROM U WHERE id>3"), (Rows{{"9", "NULL"}}));
}

}  // namespace
}  // namespace velaccap
