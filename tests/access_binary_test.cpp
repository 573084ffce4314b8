// OLE objects of a real Access file carried as bytes: read from the file
// (mdb_test compares them with libmdb's own export), written through the
// target interfaces into SQLite and through the SQLite ODBC driver, and equal
// byte for byte there.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "dbaccess/mdb.h"
#include "dbaccess/odbc.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace {

using testsupport::Hex;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

TEST(AccessBinary, OleObjectsArriveByteForByteThroughBothTargets) {
  const std::string file = testsupport::SharedDir() + "/fixtures/mdb/nwind.mdb";
  auto source = velaccap::OpenAccessSource(file);
  testsupport::TempDir dir;
  const std::string native = dir.file("native.db"), odbc = dir.file("odbc.db");
  for (const std::string& db : {native, odbc})
    testsupport::Exec(db, "CREATE TABLE Pictures (Id INTEGER, Picture BLOB)");

  for (const auto& [table, column] : {std::pair<std::string, std::string>{"Categories", "Picture"},
                                      {"Employees", "Photo"}}) {
    SCOPED_TRACE(table);
    std::vector<std::string> read;
    auto rs = source->OpenRecordset("Select " + column + " From " + table);
    EXPECT_EQ(rs->field_type(0), velaccap::ColumnType::kBinary);
    for (; !rs->eof(); rs->move_next()) {
      const velaccap::Value& v = rs->field_value(0);
      ASSERT_EQ(v.type(), velaccap::Value::Type::Binary);
      read.push_back(v.binary());
    }
    // Of unlike lengths, so that no row takes another's.
    ASSERT_GT(read.size(), 5u);


    // Through each target, in one batch, then read back as the engine holds it.
    for (const std::string& name : {native, "odbc:DRIVER={VelSQLite3};Database=" + odbc}) {
      auto target = velaccap::OpenTarget(name);
      target->Execute("Delete Pictures");
      auto t = target->NewRecordset();
      t->set_source("Pictures");
      t->OpenTable();
      for (std::size_t i = 0; i < read.size(); ++i) {
        t->AddNew();
        t->set_field("Id", velaccap::Value::Integer(static_cast<std::int64_t>(i)));
        t->set_field("Picture", velaccap::Value::Binary(read[i]));
      }
      t->UpdateBatch();
      t->Close();
      // Read back through the target's own results too.
      auto back = target->ExecuteQuery("Select Picture From Pictures Order By Id");
      for (std::size_t i = 0; i < read.size(); ++i, back->move_next())
        EXPECT_EQ(back->field_value(0), velaccap::Value::Binary(read[i])) << name << " " << i;
      back->Close();
    }
    for (const std::string& db : {native, odbc}) {
      const testsupport::Rows rows = testsupport::Query(db, "SELECT typeof(Picture), hex(Picture) FROM Pictures ORDER BY Id");
      ASSERT_EQ(rows.size(), read.size()) << db;
      for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i], (std::vector<std::string>{"blob", Hex(read[i])})) << db << " " << i;
    }
  }
}

}  // namespace
