// Everything around the run on two schemas: the reference one of schema/, and
// the least one the run allows (tests/minimal: only the columns the run
// names and the keys, other order, other letter case, amounts as REAL,
// NUMERIC or TEXT, dates as TEXT, columns of its own on either side). The
// same small ledger goes into both; check, migrate, verify, batch and the C
// API must work on each and write the same rows.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbaccess/ascii.h"
#include "tests/support.h"
#include "velaccap/capi.h"
#include "velaccap/value.h"

namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using testsupport::RunTool;
using testsupport::Slurp;

const std::string kMinimal = std::string(VELACCAP_SOURCE_DIR) + "/tests/minimal/";

// The written tables, as the run replaces them.
const char* const kWritten[] = {"Ap_AlarmSet",   "Ap_BillAge",     "Ap_CancelNo",  "Ap_CloseBill",  "Ap_CtrlCode",
                                "SaleBillVouch", "SaleBillVouchs", "PurBillVouch", "PurBillVouchs", "Ap_Detail",
                                "Ap_InputCode",  "Ap_InvCode",     "Ap_Note",      "Ap_Note_Sub",   "Ap_SStyleCode",
                                "Ap_Vouch",      "Ap_Vouchs",      "Ap_VouchType", "Ar_BadAge",     "Ar_BadPara"};

// Writes the pair of one schema into `dir` (s.db, t.db) with the ledger.
void MakeSet(const std::string& dir, bool minimal) {
  if (minimal) {
    Exec(dir + "/s.db", Slurp(kMinimal + "source_812.sql"));
    Exec(dir + "/t.db", Slurp(kMinimal + "target_820.sql"));
  } else {
    Exec(dir + "/s.db", Slurp(std::string(VELACCAP_SOURCE_DIR) + "/schema/source_812.sql"));
    ASSERT_EQ(RunTool(dir, "new-target t.db").code, 0);
  }
  Exec(dir + "/s.db", Slurp(kMinimal + "rows_812.sql"));
}

std::vector<std::string> Columns(const std::string& db, const std::string& table) {
  std::vector<std::string> out;
  for (const auto& row : Query(db, "SELECT name FROM pragma_table_info('" + table + "')")) out.push_back(row[0]);
  return out;
}

// A value whatever type its column gave it: a number by its value, a date
// by its date and time, text as it is.
std::string Normal(const std::string& v) {
  char* end = nullptr;
  const double d = std::strtod(v.c_str(), &end);
  if (!v.empty() && end && *end == '\0') return velaccap::FormatNumber(d);
  velaccap::DateTime dt;
  if (velaccap::ParseDateTime(v, &dt)) return velaccap::FormatDateTime(dt);
  return v;
}

// The rows of the written tables on the columns that all four databases
// have (the values the run carries; not the ids a target numbers itself, nor
// the defaults of a target's own columns), in a stable order.
std::map<std::string, Rows> Written(const std::string& db, const std::vector<std::string>& others) {
  std::map<std::string, Rows> out;
  for (const char* table : kWritten) {
    std::vector<std::string> shared;
    for (const std::string& c : Columns(db, table)) {
      bool everywhere = true;
      for (const std::string& other : others) {
        const std::vector<std::string> theirs = Columns(other, table);
        everywhere = everywhere && std::any_of(theirs.begin(), theirs.end(), [&](const std::string& t) {
                       return velaccap::EqualNoCase(t, c);
                     });
      }
      const bool own_id = velaccap::EqualNoCase(c, "Auto_ID") ||
                          (velaccap::EqualNoCase(c, "ID") && (std::string(table) == "Ap_Note_Sub" ||
                                                              std::string(table) == "Ap_CancelNo"));
      if (everywhere && !own_id) shared.push_back(velaccap::Upper(c));
    }
    std::sort(shared.begin(), shared.end());
    std::string select;
    for (const std::string& c : shared) select += (select.empty() ? "" : ",") + c;
    // A table of ids alone: its row count.
    Rows rows = Query(db, "SELECT " + (select.empty() ? std::string("count(*)") : select) + " FROM " + table);
    for (auto& row : rows)
      for (auto& v : row) v = Normal(v);
    std::sort(rows.begin(), rows.end());
    out[table] = std::move(rows);
  }
  return out;
}

class TwoSchemas : public ::testing::Test {
 protected:
  testsupport::TempDir ours_, least_;
  const std::string& Dir(bool minimal) const { return minimal ? least_.path() : ours_.path(); }
};

TEST_F(TwoSchemas, CheckMigrateAndVerifyWorkOnBothAndWriteTheSameRows) {
  for (bool minimal : {false, true}) {
    SCOPED_TRACE(minimal ? "least schema" : "reference schema");
    const std::string& dir = Dir(minimal);
    MakeSet(dir, minimal);
    for (const char* check : {"check s.db t.db", "check s.db t.db --no-trial"}) {
      const testsupport::Result r = RunTool(dir, check);
      EXPECT_EQ(r.code, 0) << check << "\n" << r.out << r.err;
      EXPECT_NE(r.out.find("migrate would run to its end"), std::string::npos) << r.out;
    }
    const testsupport::Result m = RunTool(dir, "migrate s.db t.db --summary run.json");
    ASSERT_EQ(m.code, 0) << m.out << m.err;
    EXPECT_NE(m.out.find("\nReconciled with the source: "), std::string::npos) << m.out;
    const testsupport::Result v = RunTool(dir, "verify s.db t.db");
    EXPECT_EQ(v.code, 0) << v.out << v.err;
    EXPECT_TRUE(v.out.ends_with("No differences: nothing was lost.\n")) << v.out;
    EXPECT_EQ(v.err, "");
  }

  // The least schema's own columns are named as not compared, and a number
  // kept as text is counted, not summed.
  const std::string summary = Slurp(least_.file("run.json"));
  EXPECT_NE(summary.find("\"column\": \"cCheckedBy\",\n        \"reason\": \"only in the target\""), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\"reason\": \"text in the source, a number in the target: counted, not summed\""),
            std::string::npos);

  const std::string a = ours_.file("t.db"), b = least_.file("t.db");
  const std::vector<std::string> all{a, b, ours_.file("s.db"), least_.file("s.db")};
  const std::map<std::string, Rows> ours = Written(a, all), least = Written(b, all);
  for (const char* table : kWritten) {
    EXPECT_EQ(ours.at(table), least.at(table)) << table;
    EXPECT_FALSE(ours.at(table).empty()) << table;
  }
  // The continuation invoices folded in: S001 holds X (2+1), Y and the
  // appended Z; its ledger line points at the appended line.
  EXPECT_EQ(Query(b, "SELECT cInvCode, iQuantity FROM SaleBillVouchs WHERE sbvid = 1 ORDER BY AutoID"),
            (Rows{{"X", "3.0"}, {"Y", "1.0"}, {"Z", "-1.0"}}));
  EXPECT_EQ(Query(b, "SELECT cvouchid, cCoVouchID, IBVID FROM Ap_Detail ORDER BY Auto_ID"),
            (Rows{{"V1", "S001", "1"}, {"V2", "S001", "5"}, {"V3", "P001", "3"}, {"V4", "NULL", "0"}}));
  for (const std::string& db : {a, b})
    EXPECT_EQ(Query(db, "SELECT cSysID, cValue FROM AccInformation WHERE (cSysID, cName) IN "
                        "(VALUES ('AR', 'bAutoVerify'), ('AP', 'bCtlCredit')) ORDER BY cSysID"),
              (Rows{{"AP", "NULL"}, {"AR", "0"}}));
}

// A target that loses a ledger line and changes an amount on the way (its
// own triggers): check foresees it, migrate stops at the proof and keeps
// nothing, and verify finds the same loss made after a clean run.
TEST_F(TwoSchemas, APlantedLossIsExitThreeFromMigrateAndVerify) {
  const std::string& dir = least_.path();
  MakeSet(dir, true);
  const std::string pristine = least_.file("pristine.db");
  Exec(pristine, Slurp(kMinimal + "target_820.sql"));
  Exec(least_.file("t.db"),
       "CREATE TRIGGER lose AFTER INSERT ON Ap_Detail WHEN NEW.cVouchID = 'V4' BEGIN "
       "DELETE FROM Ap_Detail WHERE Auto_ID = NEW.Auto_ID; END;"
       "CREATE TRIGGER bump AFTER INSERT ON SaleBillVouchs WHEN NEW.AutoID = 2 BEGIN "
       "UPDATE SaleBillVouchs SET iSum = iSum + 1 WHERE AutoID = 2; END;");
  const testsupport::Result c = RunTool(dir, "check s.db t.db");
  EXPECT_EQ(c.code, 1) << c.out << c.err;
  EXPECT_NE(c.out.find("error: step 7 SaleBillVouchs: after the trial run on a copy of the target, sum of iSum over "
                       "owned lines does not reconcile: source 71.955, target 72.955"),
            std::string::npos)
      << c.out;
  EXPECT_NE(c.out.find("error: step 10 Ap_Detail: after the trial run on a copy of the target, rows does not "
                       "reconcile: source 4, target 3"),
            std::string::npos)
      << c.out;

  const testsupport::Result m = RunTool(dir, "migrate s.db t.db");
  EXPECT_EQ(m.code, 3) << m.out << m.err;
  EXPECT_EQ(m.err, "apupgrade: the target does not reconcile with the source:\n"
                   "apupgrade:   SaleBillVouchs, sum of iSum over owned lines: source 71.955, target 72.955\n"
                   "apupgrade:   Ap_Detail, rows: source 4, target 3\n"
                   "apupgrade: the run was rolled back; t.db is as it was\n");
  EXPECT_EQ(Query(least_.file("t.db"), "SELECT count(*) FROM Ap_Detail"), (Rows{{"0"}}));

  // The same loss, made after a clean run.
  std::rename(pristine.c_str(), least_.file("t.db").c_str());
  ASSERT_EQ(RunTool(dir, "migrate -q s.db t.db").code, 0);
  Exec(least_.file("t.db"),
       "DELETE FROM Ap_Detail WHERE cvouchid = 'V4'; UPDATE SaleBillVouchs SET iSum = iSum + 1 WHERE AutoID = 2;");
  const testsupport::Result v = RunTool(dir, "verify s.db t.db");
  EXPECT_EQ(v.code, 3);
  EXPECT_NE(v.out.find("Differences from the source:\n"
                       "  SaleBillVouchs, sum of iSum over owned lines: source 71.955, target 72.955\n"
                       "  Ap_Detail, rows: source 4, target 3\n"),
            std::string::npos)
      << v.out;
  EXPECT_EQ(v.err, "apupgrade: the target does not reconcile with the source\n");
  const testsupport::Result j = RunTool(dir, "verify s.db t.db --json");
  EXPECT_EQ(j.code, 3);
  EXPECT_NE(j.out.find("\"status\": \"differences\""), std::string::npos) << j.out;
}

TEST_F(TwoSchemas, BatchAndTheCApiRunOnBoth) {
  MakeSet(ours_.path(), false);
  MakeSet(least_.path(), true);
  testsupport::TempDir batch;
  std::ofstream(batch.file("sets.csv")) << "name,source,target\n"
                                        << "ours," << ours_.file("s.db") << "," << ours_.file("t.db") << "\n"
                                        << "least," << least_.file("s.db") << "," << least_.file("t.db") << "\n";
  const testsupport::Result r = RunTool(batch.path(), "batch sets.csv -q");
  EXPECT_EQ(r.code, 0) << r.out << r.err;

  // Both sets again through the library: the run, then the proof alone.
  void* lib = dlopen(VELACCAP_BINARY_DIR "/libVelAccAP.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto create = reinterpret_cast<decltype(VelAccAP_CreateObject)*>(dlsym(lib, "VelAccAP_CreateObject"));
  auto migrate = reinterpret_cast<decltype(VelAccAP_Migrate)*>(dlsym(lib, "VelAccAP_Migrate"));
  auto verify = reinterpret_cast<decltype(VelAccAP_Verify)*>(dlsym(lib, "VelAccAP_Verify"));
  auto describe = reinterpret_cast<decltype(VelAccAP_ErrDescription)*>(dlsym(lib, "VelAccAP_ErrDescription"));
  auto summary = reinterpret_cast<decltype(VelAccAP_Summary)*>(dlsym(lib, "VelAccAP_Summary"));
  auto release = reinterpret_cast<decltype(VelAccAP_Release)*>(dlsym(lib, "VelAccAP_Release"));
  ASSERT_TRUE(create && migrate && verify && describe && summary && release);
  VelAccAPObject* obj = create();
  for (const testsupport::TempDir* set : {&ours_, &least_}) {
    const std::string s = set->file("s.db"), t = set->file("t.db");
    EXPECT_EQ(migrate(obj, s.c_str(), t.c_str(), nullptr), VELACCAP_OK) << describe(obj);
    EXPECT_EQ(verify(obj, s.c_str(), t.c_str()), VELACCAP_OK) << describe(obj);
    EXPECT_NE(std::string(summary(obj)).find("\"status\": \"reconciled\""), std::string::npos) << summary(obj);
  }
  EXPECT_EQ(verify(obj, nullptr, "t.db"), VELACCAP_BAD_CALL);
  EXPECT_STREQ(describe(obj), "no source named");
  release(obj);
  dlclose(lib);
}

}  // namespace
