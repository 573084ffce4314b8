// Statement shapes of the SQLite target: what is taken out of a statement,
// and that a target reusing shapes leaves the same rows, counts, results and
// errors as one preparing every statement as written.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include "dbaccess/sqlite_shapes.h"
#include "tests/support.h"

namespace velaccap::sqlite_internal {
namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using testsupport::TempDir;

// The shape with its literals spelled after it: 'text', int:N, dec:D.
std::string Shaped(const std::string& sql) {
  Shape s;
  if (!MakeShape(sql, &s)) return "as written";
  std::string out = s.text;
  for (std::size_t i = 0; i < s.count; ++i) {
    const Literal& lit = s.literals[i];
    out += " | ";
    switch (lit.kind) {
      case Literal::Kind::Text: out += "'" + lit.text + "'"; break;
      case Literal::Kind::Integer: out += "int:" + std::to_string(lit.integer); break;
      case Literal::Kind::Decimal: out += "dec:" + lit.text; break;
    }
  }
  return out;
}

TEST(SqliteShapes, TakesOutTheLiteralsOfTheMigrationStatements) {
  EXPECT_EQ(Shaped("Select * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID "
                   "Where cVouchType='26' And cSBVCode='0000001'"),
            "Select * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID "
            "Where cVouchType=? And cSBVCode=? | '26' | '0000001'");
  // The sign stays an operator; a doubled quote is one quote of the text.
  EXPECT_EQ(Shaped("Update SaleBillVouchs Set iQuantity=iQuantity+-2,iSum=iSum+3.5,cDefine1='O''Brien' "
                   "From SaleBillVouch Where SaleBillVouchs.SBVID=SaleBillVouch.SBVID And "
                   "SaleBillVouch.cVouchType='26' And SaleBillVouchs.AutoID=7"),
            "Update SaleBillVouchs Set iQuantity=iQuantity+-?,iSum=iSum+?,cDefine1=? "
            "From SaleBillVouch Where SaleBillVouchs.SBVID=SaleBillVouch.SBVID And "
            "SaleBillVouch.cVouchType=? And SaleBillVouchs.AutoID=? | int:2 | dec:3.5 | 'O'Brien' | '26' | int:7");
  // A zero decimal stays: negated as a literal it is -0.0.
  EXPECT_EQ(Shaped("Insert Into SaleBillVouchs (SBVID,AutoID,cInvCode,iQuantity,iSum,iTax) "
                   "Values(12,34,'X',-1.25,0.00,.5)"),
            "Insert Into SaleBillVouchs (SBVID,AutoID,cInvCode,iQuantity,iSum,iTax) "
            "Values(?,?,?,-?,0.00,?) | int:12 | int:34 | 'X' | dec:1.25 | dec:.5");
  EXPECT_EQ(Shaped("Select AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON "
                   "SaleBillVouchs.SBVID=SaleBillVouch.SBVID Where cVouchType='26' and cSBVCode='A' and cInvCode='I'"),
            "Select AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON "
            "SaleBillVouchs.SBVID=SaleBillVouch.SBVID Where cVouchType=? and cSBVCode=? and cInvCode=? "
            "| '26' | 'A' | 'I'");
  EXPECT_EQ(Shaped("DELETE FROM Ap_Vouchs WHERE cVouchID='V1' and iAmount>-0.5"),
            "DELETE FROM Ap_Vouchs WHERE cVouchID=? and iAmount>-? | 'V1' | dec:0.5");
}

TEST(SqliteShapes, KeepsWhatNamesColumnsOrCountsPositions) {
  // Identifiers with digits, quoted names and comments are not literals.
  EXPECT_EQ(Shaped("Update t1 Set cDefine1='x',c2=t1.c3+12 Where t1.id2=5 And \"a'1\"=[b 2] -- 'no'\n"),
            "Update t1 Set cDefine1=?,c2=t1.c3+? Where t1.id2=? And \"a'1\"=[b 2] -- 'no'\n | 'x' | int:12 | int:5");
  // Result columns (also inside a subquery there) are named after their
  // text; ORDER BY and GROUP BY numbers are positions.
  EXPECT_EQ(Shaped("Select 'a' AS k, n+1, (Select max(n) From T Where c='z') From T "
                   "Where c='y' Group By c, 2 Having n>3 Order By 1 Desc, 2 Limit 10"),
            "Select 'a' AS k, n+1, (Select max(n) From T Where c='z') From T "
            "Where c=? Group By c, 2 Having n>? Order By 1 Desc, 2 Limit ? | 'y' | int:3 | int:10");
  EXPECT_EQ(Shaped("Select * From T Where n In (Select n From U Where c='q' Order By 1) And c='r'"),
            "Select * From T Where n In (Select n From U Where c=? Order By 1) And c=? | 'q' | 'r'");
  // A type's size, exponents, hexadecimal and numbers past 64 bits stay.
  EXPECT_EQ(Shaped("Select * From T Where CAST(n AS DECIMAL(18, 2))=1e3 And n<>9223372036854775808 And "
                   "n<>9223372036854775807 And c='s';"),
            "Select * From T Where CAST(n AS DECIMAL(18, 2))=1e3 And n<>9223372036854775808 And "
            "n<>? And c=?; | int:9223372036854775807 | 's'");
}

TEST(SqliteShapes, LeavesOtherStatementsAsWritten) {
  for (const char* sql : {
           "CREATE TABLE Z (a TEXT DEFAULT 'x')", "PRAGMA user_version=3", "BEGIN", "COMMIT",
           "WITH q AS (SELECT 1) SELECT * FROM q WHERE 1=1",
           "Delete From T Where id=1; Delete From T Where id=2",
           "Select * From T Where id=? And c='a'", "Select * From T Where id=:id And c='a'",
           "Select * From T Where id=@id And c='a'", "Select * From T Where id=$id And c='a'",
           "Select * From T Where b=x'00' And c='a'", "Select * From T Where id=0x10 And c='a'",
           "Select * From T Where c='unterminated", "Select * From T", "Select 1, 'a' From T",
       })
    EXPECT_EQ(Shaped(sql), "as written") << sql;
}

// What one run of statements shows: change counts, result columns with the
// type and text of each value, and errors.
using Step = std::function<std::string(TargetConnection&)>;

std::string Describe(TargetRecordset& rs) {
  std::string out;
  for (int i = 0; i < rs.field_count(); ++i) out += rs.field_name(i) + ";";
  for (; !rs.eof(); rs.move_next()) {
    out += "\n";
    for (int i = 0; i < rs.field_count(); ++i) {
      Value v = rs.field_value(i);
      out += std::to_string(static_cast<int>(v.type())) + ":" + (v.is_null() ? "" : v.ToText()) + ";";
    }
  }
  return out;
}

Step Count(std::string sql) {
  return [sql](TargetConnection& cn) { return std::to_string(cn.ExecuteCount(sql)); };
}
Step Exe(std::string sql) {
  return [sql](TargetConnection& cn) {
    cn.Execute(sql);
    return std::string("done");
  };
}
Step Ask(std::string sql) {
  return [sql](TargetConnection& cn) { return Describe(*cn.ExecuteQuery(sql)); };
}
Step Open(std::string sql) {
  return [sql](TargetConnection& cn) {
    auto rs = cn.NewRecordset();
    rs->set_lock_type(LockType::Optimistic);
    rs->OpenQuery(sql);
    return Describe(*rs);
  };
}

const char kSchema[] = R"(
  CREATE TABLE Head (SBVID INTEGER, cVouchType TEXT, cSBVCode TEXT, iCount INTEGER, nRate NUMERIC);
  CREATE TABLE Line (AutoID INTEGER PRIMARY KEY, SBVID INTEGER, cInvCode TEXT NOT NULL, iQuantity INTEGER,
                     iSum REAL, cDefine1 TEXT, nAny);
  INSERT INTO Head VALUES (1, '26', '0000001', 26, 1), (2, '27', '0000001', 27, 2.5);
  INSERT INTO Line VALUES (10, 1, 'I', 5, 10.5, NULL, NULL), (11, 2, 'J', 7, 1, 'x', NULL);)";

// Every table's rows with each value's storage class, in rowid order.
Rows Contents(const std::string& path) {
  Rows all;
  for (const char* sql : {"SELECT typeof(SBVID), quote(SBVID), quote(cVouchType), quote(cSBVCode), "
                          "quote(iCount), quote(nRate), typeof(nRate) FROM Head ORDER BY rowid",
                          "SELECT AutoID, SBVID, cInvCode, quote(iQuantity), typeof(iQuantity), quote(iSum), "
                          "typeof(iSum), printf('%.17g', iSum), quote(cDefine1), quote(nAny), typeof(nAny), "
                          "printf('%.17g', nAny), "
                          "CAST(nAny AS TEXT) FROM Line ORDER BY AutoID",
                          "SELECT name FROM sqlite_master ORDER BY name"})
    for (auto& row : Query(path, sql)) all.push_back(row);
  return all;
}

class SqliteShapesRun : public ::testing::Test {
 protected:
  // Runs `steps` on fresh copies of the tables through targets keeping
  // 64, 1 and no shapes; all three must show the same and leave the same.
  void ExpectSame(const std::vector<Step>& steps) {
    std::vector<std::string> logs;
    std::vector<Rows> contents;
    for (std::size_t capacity : {std::size_t{0}, kShapeCapacity, std::size_t{1}}) {
      const std::string path = dir_.file("t" + std::to_string(runs_++) + ".db");
      Exec(path, kSchema);
      auto cn = OpenSqliteTargetWithShapes(path, capacity);
      std::string log;
      for (const Step& step : steps) {
        try {
          log += step(*cn);
        } catch (const Error& e) {
          log += std::string("error: ") + e.what();
        }
        log += "\n";
      }
      cn.reset();
      logs.push_back(log);
      contents.push_back(Contents(path));
    }
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(logs[2], logs[0]);
    EXPECT_EQ(contents[1], contents[0]);
    EXPECT_EQ(contents[2], contents[0]);
    last_log_ = logs[0];
  }

  TempDir dir_;
  int runs_ = 0;
  std::string last_log_;
};

TEST_F(SqliteShapesRun, MergeStatementsLeaveTheSameRows) {
  const std::string parent =
      "Select * From Line INNER JOIN Head ON Line.SBVID=Head.SBVID Where cVouchType='26' And cSBVCode='0000001'";
  ExpectSame({
      Ask(parent),
      Count("Update Line Set iQuantity=iQuantity+-2,iSum=iSum+3.5,cDefine1='O''Brien' From Head "
            "Where Line.SBVID=Head.SBVID And Head.cVouchType='26' And Head.cSBVCode='0000001'"),
      Count("Update Line Set iQuantity=iQuantity+-3,iSum=iSum+0.1,cDefine1='it''s' From Head "
            "Where Line.SBVID=Head.SBVID And Head.cVouchType='27' And Head.cSBVCode='0000001'"),
      Count("Insert Into Line (AutoID,SBVID,cInvCode,iQuantity,iSum,nAny) Values(12,34,'X',-1.25,2.675,'26')"),
      Count("Insert Into Line (AutoID,SBVID,cInvCode,iQuantity,iSum,nAny) Values(13,34,'Y',7,-0.0,-0.0)"),
      Count("Insert Into Line (AutoID,SBVID,cInvCode,iQuantity,iSum,nAny) "
            "Values(14,9223372036854775807,'Z',-9223372036854775808,1e3,0.30000000000000004)"),
      Count("Insert Into Line (AutoID,SBVID,cInvCode,iQuantity,iSum,nAny) "
            "Values(15,007,'W',9223372036854775808,123456789.123456789,'0012')"),
      // Text against numbers: the column's affinity decides, as for a literal.
      Ask("Select AutoID From Line INNER JOIN Head ON Line.SBVID=Head.SBVID Where cVouchType='26' and "
          "cSBVCode='0000001' and cInvCode='I'"),
      Ask("Select cVouchType From Head Where iCount='26' Or cVouchType=27 Or nRate='2.50'"),
      Ask("Select AutoID, nAny From Line Where nAny=-0.0 Or nAny='26' Or iSum>1000.0"),
      Ask("Select cInvCode, 1, 'lit', iSum+0.5 From Line Where iQuantity>-3 Order By 1 Desc, 2"),
      Count("Delete Line Where cInvCode='X' And iSum>2.5"),
      Count("Delete From Line Where cInvCode='nothing'"),
      Open("Select * From Line Where AutoID>11 And cInvCode<>'Q'"),
      // A string SQLite takes as a name: the shape does not compile, the
      // statement as written does, also the second time.
      Ask("Select L.AutoID From Line 'L' Where L.cInvCode='W'"),
      Ask("Select L.AutoID From Line 'L' Where L.cInvCode='Y'"),
  });
  // The delete took one row, the nothing-delete none.
  EXPECT_NE(last_log_.find("\n1\n0\n"), std::string::npos) << last_log_;
  EXPECT_NE(last_log_.find("AutoID;\n1:15;\nAutoID;\n1:13;\n"), std::string::npos) << last_log_;
}

TEST_F(SqliteShapesRun, SameShapeWhileAResultIsOpen) {
  // A result of a shape still being read when the shape runs again must keep
  // its own bindings and rows.
  ExpectSame({[](TargetConnection& cn) {
    auto a = cn.ExecuteQuery("Select AutoID, cInvCode From Line Where SBVID=1 Or cInvCode='J' Order By 1");
    auto b = cn.ExecuteQuery("Select AutoID, cInvCode From Line Where SBVID=2 Or cInvCode='none' Order By 1");
    auto c = cn.ExecuteQuery("Select AutoID, cInvCode From Line Where SBVID=3 Or cInvCode='I' Order By 1");
    std::string out = Describe(*a) + "|" + Describe(*b) + "|" + Describe(*c);
    a.reset();
    return out + "|" +
           Describe(*cn.ExecuteQuery("Select AutoID, cInvCode From Line Where SBVID=2 Or cInvCode='I' Order By 1"));
  }});
  EXPECT_EQ(last_log_,
            "AutoID;cInvCode;\n1:10;3:I;\n1:11;3:J;|AutoID;cInvCode;\n1:11;3:J;|AutoID;cInvCode;\n1:10;3:I;|"
            "AutoID;cInvCode;\n1:10;3:I;\n1:11;3:J;\n");
}

// The engine's own error text for `sql` as written.
std::string EngineError(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* st = nullptr;
  std::string text = "no error";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    text = sqlite3_errmsg(db);
  } else if (sqlite3_step(st) != SQLITE_DONE) {
    text = sqlite3_errmsg(db);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return text;
}

TEST_F(SqliteShapesRun, ErrorsAreTheEnginesForTheStatementAsWritten) {
  const std::string bad = "Select * From Line Where cInvCode='abc' 'def'";
  const std::string missing = "Insert Into Later (a) Values ('v')";
  const std::string null = "Insert Into Line (AutoID, cInvCode) Values (20, NULL)";
  ExpectSame({Ask(bad), Ask(bad), Exe(missing), Exe("CREATE TABLE Later (a TEXT)"), Exe(missing),
              Exe("Insert Into Line (AutoID, cInvCode) Values (10, 'dup')"), Exe(null),
              Ask("Select count(*) From Later Where a='v'")});

  const std::string path = dir_.file("engine.db");
  Exec(path, kSchema);
  EXPECT_EQ(EngineError(path, bad), "near \"'def'\": syntax error");
  EXPECT_EQ(EngineError(path, missing), "no such table: Later");
  EXPECT_EQ(last_log_, "error: near \"'def'\": syntax error\n"
                       "error: near \"'def'\": syntax error\n"
                       "error: no such table: Later\ndone\ndone\n"
                       "error: UNIQUE constraint failed: Line.AutoID\n"
                       "error: " + EngineError(path, null) + "\n"
                       "count(*);\n1:1;\n");
}

TEST_F(SqliteShapesRun, AShapeIsPreparedOnceAndTheLeastRecentlyUsedGoes) {
  const std::string path = dir_.file("reuse.db");
  Exec(path, kSchema);
  auto shapes = std::make_shared<ShapeCache>(OpenExisting(path, SQLITE_OPEN_READWRITE, "target", {}), 2);
  auto run = [&](const std::string& sql) {
    ShapeCache::Lease st;
    EXPECT_TRUE(shapes->Take(sql, &st)) << sql;
    EXPECT_EQ(sqlite3_step(st.get()), SQLITE_DONE) << sql;
    return st.get();
  };
  sqlite3_stmt* insert = nullptr;
  for (int i = 0; i < 50; ++i) {
    sqlite3_stmt* st = run("Insert Into Line (AutoID, SBVID, cInvCode, iSum) Values (" + std::to_string(100 + i) +
                           ", 1, 'c" + std::to_string(i) + "', " + std::to_string(i) + ".25)");
    if (i == 0) insert = st;
    EXPECT_EQ(st, insert);
  }
  sqlite3_stmt* update = run("Update Line Set iSum=iSum+1.5 Where AutoID=100");
  EXPECT_EQ(run("Update Line Set iSum=iSum+1.5 Where AutoID=102"), update);
  EXPECT_EQ(shapes->size(), 2u);
  // A third shape pushes out the insert, used least recently.
  run("Delete From Line Where AutoID=101");
  EXPECT_EQ(shapes->size(), 2u);
  EXPECT_EQ(run("Update Line Set iSum=iSum+1.5 Where AutoID=103"), update);
  EXPECT_EQ(Query(path, "SELECT count(*), sum(iSum) FROM Line WHERE AutoID>=100"), (Rows{{"49", "1240.75"}}));
}

}  // namespace
}  // namespace velaccap::sqlite_internal
