// The Access source against the real Access files of the fixtures, with
// mdbtools' own command-line readers as the independent expectation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

using testsupport::Hex;

std::string Fixture(const std::string& name) { return testsupport::SharedDir() + "/fixtures/mdb/" + name; }

// Fixture paths and table names hold no single quote.
std::string ShellQuote(const std::string& s) { return "'" + s + "'"; }

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

// mdb-export's CSV: fields in double quotes may hold doubled quotes and line
// breaks; rows end with a line feed.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
      rows.back().back() += text[i++];
    else if (c == '"')
      quoted = !quoted;
    else if (!quoted && c == ',')
      rows.back().emplace_back();
    else if (!quoted && c == '\n')
      rows.emplace_back(1);
    else
      rows.back().back() += c;
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
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
    case Value::Type::Text: return v.text() == exported;
    case Value::Type::Binary: return Hex(v.binary()) == exported;
    case Value::Type::DateTime:
      return exported.starts_with("1900-01-00") || FormatDateTime(v.date()) == exported;
    case Value::Type::YesNo: return exported == (v.yes_no() ? "1" : "0");
  }
  return false;
}

// Every user table of the file: the source has the tables mdb-tables lists,
// with as many rows as mdb-count says and the values mdb-export prints.
void ExpectWholeFileMatches(const std::string& file, SourceDatabase& db) {
  std::vector<std::string> tables, loaded;
  std::istringstream listed(Run("mdb-tables -1 " + ShellQuote(file)));
  for (std::string line; std::getline(listed, line);)
    if (!line.empty()) tables.push_back(line);
  ASSERT_FALSE(tables.empty());
  // No system table comes along, and no user table is left out.
  for (auto rs = db.OpenRecordset("Select name From sqlite_master Where type='table'"); !rs->eof(); rs->move_next())
    loaded.push_back(rs->field_value(0).text());
  EXPECT_TRUE(std::is_permutation(loaded.begin(), loaded.end(), tables.begin(), tables.end()));
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
  // Currency exact to the ten-thousandth, yes/no as yes/no.
  EXPECT_EQ(Row(*db, "Select UnitPrice, Discontinued From Products Where ProductID=5"),
            (std::vector<Value>{Value::Real(21.35), Value::YesNo(true)}));
  // Text compares without regard to letter case, as in the Access engine,
  // for equality and order alike.
  EXPECT_EQ(Row(*db, "Select Count(*) From Customers Where Country='GERMANY' And City>='m'"),
            (std::vector<Value>{Value::Integer(4)}));

  // A file above the in-memory limit goes through a temporary file alike.
  const std::string sum = "Select Count(*), Sum(Quantity) From [Order Details]";
  EXPECT_EQ(Row(*OpenAccessSource(file, 0), sum), Row(*db, sum));
}

TEST(AccessSource, Jet4AndAce12ReadWholeWithDatesBefore1900AndAfter9000) {
  for (const char* name : {"DateTestDatabase.mdb", "ASampleDatabase.accdb"}) {
    SCOPED_TRACE(name);
    ExpectWholeFileMatches(Fixture(name), *OpenAccessSource(Fixture(name)));
  }
  // mdb-export cannot print these dates; the rows' texts name the years.
  auto db = OpenAccessSource(Fixture("DateTestDatabase.mdb"));
  const int years[][4] = {{2, 9999, 9999, 9999}, {3, 1898, 1899, 1900}, {4, 632, 633, 634}};
  for (const auto& y : years)
    EXPECT_EQ(Row(*db, "Select DateTimeCol, DateCol, TimeCol From DateTest Where IDCol=" + std::to_string(y[0])),
              (std::vector<Value>{Value::Date(Date(y[1], 1, 1)), Value::Date(Date(y[2], 1, 1)),
                                  Value::Date(Date(y[3], 1, 1))}));
}

TEST(AccessSource, DateSignRulesAndRounding) {
  EXPECT_EQ(AccessDateToDateTime(0), Date(1899, 12, 30));
  // Before 1899-12-30 the whole part counts back, the fraction still runs forward.
  EXPECT_EQ(AccessDateToDateTime(-1.25), Date(1899, 12, 29, 6));
  EXPECT_EQ(AccessDateToDateTime(-657434), Date(100, 1, 1));
  EXPECT_EQ(AccessDateToDateTime(2958465 + 86399.0 / 86400), Date(9999, 12, 31, 23, 59, 59));
  EXPECT_EQ(AccessDateToDateTime(59.999999999), Date(1900, 2, 28));  // 1900 is no leap year
  EXPECT_EQ(AccessDateToDateTime(-2.9999999999), Date(1899, 12, 29));  // 12-28 24:00
  EXPECT_EQ(AccessDateToDateTime(36526 + 1.0 / 3), Date(2000, 1, 1, 8));
}

TEST(AccessSource, UnusableFilesRaiseInputErrorNamingTheFile) {
  testsupport::TempDir dir;
  const std::string text = dir.file("notes.mdb");
  std::ofstream(text) << std::string(12000, 'x');
  for (const std::string& path : {dir.file("missing.mdb"), text, dir.path()}) {
    try {
      OpenAccessSource(path);
      ADD_FAILURE() << path << " opened";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

// Damaged copies of the fixtures: cut off, as in a broken transfer, or with
// one byte changed. Each stops the load with the file and the table named,
// within the test's time and without a crash: the first cut once sent
// libmdb's catalog reader into an endless loop over a broken property blob,
// and the changed byte gives a text field a negative length.
TEST(AccessSource, DamagedFilesStopNamingTheFileAndTable) {
  testsupport::TempDir dir;
  struct Damage {
    std::string fixture;
    std::size_t keep;       // bytes kept from the start
    std::size_t at = 0;     // where one byte is changed, if anywhere
    char to = 0;
    std::string table_and_why;
  };
  const Damage cases[] = {
      {"nwind.mdb", 1500000, 0, 0, "Umsätze of Access file %: cannot read its definition"},
      {"nwind.mdb", 1065356, 0, 0, "Orders of Access file %: read 412 of its 830 rows; the file is damaged"},
      {"ASampleDatabase.accdb", 544768, 0x2edc6, 0x49, "Asset Items of Access file %: column Owner holds a damaged value"},
  };
  for (const Damage& c : cases) {
    const std::string path = dir.file("damaged_" + c.fixture);
    {
      std::ifstream in(Fixture(c.fixture), std::ios::binary);
      std::vector<char> bytes(c.keep);
      ASSERT_TRUE(in.read(bytes.data(), static_cast<std::streamsize>(c.keep)));
      if (c.at) bytes[c.at] = c.to;
      std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(c.keep));
    }
    std::string expected = "cannot read table " + c.table_and_why;
    expected.replace(expected.find('%'), 1, path);
    try {
      OpenAccessSource(path);
      ADD_FAILURE() << path << " opened";
    } catch (const InputError& e) {
      EXPECT_EQ(e.what(), expected);
    }
  }
}

}  // namespace
}  // namespace velaccap
