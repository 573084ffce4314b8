// The Access source against the real Access files of the fixtures, with
// mdbtools' own command-line readers as the independent expectation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbaccess/mdb.h"
#include "tests/support.h"
#include "velaccap/open.h"

namespace velaccap {
namespace {

std::string Fixture(const std::string& name) { return testsupport::SharedDir() + "/fixtures/mdb/" + name; }

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Standard output of a shell command that must succeed.
std::string Run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) out.append(buf, n);
  if (pclose(pipe.release()) != 0) throw std::runtime_error("failed: " + command);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// mdb-export's CSV: fields in double quotes may hold doubled quotes and line
// breaks; rows end with a line feed.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c != '"') {
        rows.back().back() += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        rows.back().back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\n') {
      rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Whether a value read through the source is what mdb-export printed for it.
// mdb-export prints Null and empty text alike, money with four decimals,
// singles with eight digits, blobs in hex, and cannot print dates outside
// about 1900 to 2700 ("1900-01-00"); those are checked on their own.
bool SameAsExport(const Value& v, const std::string& exported) {
  switch (v.type()) {
    case Value::Type::Null: return exported.empty();
    case Value::Type::Integer: return std::to_string(v.integer()) == exported;
    case Value::Type::Real: {
      double e = std::strtod(exported.c_str(), nullptr);
      return v.real() == e || static_cast<float>(v.real()) == static_cast<float>(e);
    }
    case Value::Type::Text: return v.text() == exported || Hex(v.text()) == exported;
    case Value::Type::DateTime:
      return exported.starts_with("1900-01-00") || FormatDateTime(v.date()) == exported;
    case Value::Type::YesNo: return exported == (v.yes_no() ? "1" : "0");
  }
  return false;
}

// Every user table of the file: the source has the tables mdb-tables lists,
// with as many rows as mdb-count says and the values mdb-export prints.
void ExpectWholeFileMatches(const std::string& file, SourceDatabase& db) {
  std::vector<std::string> tables = Lines(Run("mdb-tables -1 " + ShellQuote(file)));
  ASSERT_FALSE(tables.empty());
  // No system table comes along, and no user table is left out.
  std::vector<std::string> sorted = tables, loaded;
  std::sort(sorted.begin(), sorted.end());
  for (auto rs = db.OpenRecordset("Select name From sqlite_master Where type='table' Order By name"); !rs->eof();
       rs->move_next())
    loaded.push_back(rs->field_value(0).text());
  EXPECT_EQ(loaded, sorted);
  for (const std::string& table : tables) {
    SCOPED_TRACE(table);
    long long count = std::stoll(Run("mdb-count " + ShellQuote(file) + " " + ShellQuote(table)));
    auto csv = ParseCsv(Run("mdb-export -b hex -T '%Y-%m-%d %H:%M:%S' " + ShellQuote(file) + " " +
                            ShellQuote(table)));
    ASSERT_EQ(static_cast<long long>(csv.size()), count + 1);
    auto rs = db.OpenRecordset("Select * From [" + table + "]");
    ASSERT_EQ(rs->field_count(), static_cast<int>(csv[0].size()));
    for (int i = 0; i < rs->field_count(); ++i) EXPECT_EQ(rs->field_name(i), csv[0][i]);
    for (std::size_t row = 1; !rs->eof(); ++row, rs->move_next()) {
      ASSERT_LT(row, csv.size());
      ASSERT_EQ(csv[row].size(), csv[0].size()) << "row " << row;
      for (int i = 0; i < rs->field_count(); ++i)
        EXPECT_TRUE(SameAsExport(rs->field_value(i), csv[row][i]))
            << "row " << row << " column " << csv[0][i] << ": " << DebugString(rs->field_value(i))
            << " but mdb-export says " << csv[row][i].substr(0, 80);
    }
    EXPECT_EQ(rs->record_count(), count);
  }
}

DateTime Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return {y, mo, d, h, mi, s, 0}; }

// One query's single row, column by column.
std::vector<Value> Row(SourceDatabase& db, const std::string& query) {
  auto rs = db.OpenRecordset(query);
  std::vector<Value> out;
  if (rs->eof()) return out;
  for (int i = 0; i < rs->field_count(); ++i) out.push_back(rs->field_value(i));
  rs->move_next();
  EXPECT_TRUE(rs->eof()) << query;
  return out;
}

TEST(AccessSource, Jet3NorthwindReadsWholeWithUmlautsMoneyAndYesNo) {
  std::string file = Fixture("nwind.mdb");
  auto db = OpenAccessSource(file);
  ExpectWholeFileMatches(file, *db);

  // A table name and text beyond ASCII, from the file's code page.
  EXPECT_EQ(Row(*db, "Select ShipName, ShipCity, Freight From [Umsätze] Where OrderID=10332"),
            (std::vector<Value>{Value::Text("Mère Paillarde"), Value::Text("Montréal"), Value::Real(52.84)}));
  // Currency exact to the ten-thousandth, yes/no as yes/no, singles by
  // their decimal form, Null kept.
  EXPECT_EQ(Row(*db, "Select UnitPrice, Discontinued From Products Where ProductID=5"),
            (std::vector<Value>{Value::Real(21.35), Value::YesNo(true)}));
  EXPECT_EQ(Row(*db, "Select Discount From [Order Details] Where OrderID=10250 And ProductID=51"),
            (std::vector<Value>{Value::Real(0.15)}));
  EXPECT_EQ(Row(*db, "Select ShipRegion From Orders Where OrderID=10331"), (std::vector<Value>{Value()}));
  // Text compares without regard to letter case, as in the Access engine.
  EXPECT_EQ(Row(*db, "Select CustomerID From Customers Where CustomerID='alfki'"),
            (std::vector<Value>{Value::Text("ALFKI")}));
  EXPECT_EQ(Row(*db, "Select Count(*) From Customers Where Country='GERMANY' And City>='m'"),
            (std::vector<Value>{Value::Integer(4)}));

  // A file above the in-memory limit goes through a temporary file alike.
  auto on_disk = OpenAccessSource(file, 0);
  EXPECT_EQ(Row(*on_disk, "Select Count(*), Sum(Quantity) From [Order Details]"),
            Row(*db, "Select Count(*), Sum(Quantity) From [Order Details]"));
}

TEST(AccessSource, Jet4DatesBefore1900AndAfter9000AndMemos) {
  std::string file = Fixture("DateTestDatabase.mdb");
  auto db = OpenAccessSource(file);
  ExpectWholeFileMatches(file, *db);

  // mdb-export cannot print these dates; the rows' texts name the years.
  auto rs = db->OpenRecordset("Select DateTimeCol, DateCol, TimeCol, LongTextCol From DateTest Where IDCol In (2,3,4) "
                              "Order By IDCol");
  std::vector<std::vector<Value>> expected = {
      {Value::Date(Date(9999, 1, 1)), Value::Date(Date(9999, 1, 1)), Value::Date(Date(9999, 1, 1)),
       Value::Text("Year 9999")},
      {Value::Date(Date(1898, 1, 1)), Value::Date(Date(1899, 1, 1)), Value::Date(Date(1900, 1, 1)),
       Value::Text("Pre-1900 years")},
      {Value::Date(Date(632, 1, 1)), Value::Date(Date(633, 1, 1)), Value::Date(Date(634, 1, 1)),
       Value::Text("Pre-1000 years")}};
  for (const auto& want : expected) {
    ASSERT_FALSE(rs->eof());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rs->field_value(i), want[i]) << DebugString(rs->field_value(i));
    rs->move_next();
  }
  EXPECT_TRUE(rs->eof());
  EXPECT_EQ(Row(*db, "Select LongTextCol From DateTest Where IDCol=6"),
            (std::vector<Value>{Value::Text("New line\r\nin field")}));
}

TEST(AccessSource, Ace12ReadsWhole) {
  std::string file = Fixture("ASampleDatabase.accdb");
  auto db = OpenAccessSource(file);
  ExpectWholeFileMatches(file, *db);
  EXPECT_EQ(Row(*db, "Select [Asset Category], Acquired, Cost From [Asset Items] Where [Asset No]='30051'"),
            (std::vector<Value>{Value::Text("Computer Hardware"), Value::Date(Date(1997, 9, 2)),
                                Value::Real(2450)}));
}

TEST(AccessSource, DateSignRulesAndRounding) {
  EXPECT_EQ(AccessDateToDateTime(0), Date(1899, 12, 30));
  EXPECT_EQ(AccessDateToDateTime(2.75), Date(1900, 1, 1, 18));
  // Before 1899-12-30 the whole part counts back, the fraction still runs forward.
  EXPECT_EQ(AccessDateToDateTime(-1.25), Date(1899, 12, 29, 6));
  EXPECT_EQ(AccessDateToDateTime(-0.5), Date(1899, 12, 30, 12));
  EXPECT_EQ(AccessDateToDateTime(-657434), Date(100, 1, 1));
  EXPECT_EQ(AccessDateToDateTime(2958465 + 86399.0 / 86400), Date(9999, 12, 31, 23, 59, 59));
  EXPECT_EQ(AccessDateToDateTime(59.999999999), Date(1900, 2, 28));  // 1900 is no leap year
  EXPECT_EQ(AccessDateToDateTime(-2.9999999999), Date(1899, 12, 29));  // 12-28 24:00
  EXPECT_EQ(AccessDateToDateTime(36526 + 1.0 / 3), Date(2000, 1, 1, 8));
}

TEST(AccessSource, UnusableFilesRaiseInputErrorNamingTheFile) {
  testsupport::TempDir dir;
  std::string missing = dir.file("missing.mdb");
  std::string text = dir.file("notes.mdb");
  {
    FILE* f = std::fopen(text.c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 400; ++i) std::fputs("not an Access database at all\n", f);
    std::fclose(f);
  }
  for (const std::string& path : {missing, text, dir.path()}) {
    try {
      OpenAccessSource(path);
      ADD_FAILURE() << path << " opened";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace velaccap
