// `apupgrade check` held against `apupgrade migrate`: on damaged account sets
// check must say whether the run stops and at which step, table and row, and
// the run must stop exactly there and leave the target as it was. Both
// commands run as the built tool on real SQLite files; the row where the run
// stops is found by running the component in-process under layers that
// remember which source row it was writing.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "check/row_rules.h"
#include "dbaccess/ascii.h"
#include "tests/support.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/layers.h"
#include "velaccap/open.h"
#include "velaccap/value.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::Dump;
using testsupport::Exec;
using testsupport::Leftovers;
using testsupport::Lines;
using testsupport::Query;
using testsupport::Result;
using testsupport::Rows;
using testsupport::RunTool;
using testsupport::Slurp;
using testsupport::TempDir;

// ------------------------------------------------------------ check's output

std::string Where(const json& p) {
  // Before the first step, and for the databases as a whole, they are null.
  std::string where = p["step"].is_null() ? "" : "step " + std::to_string(p["step"].get<int>()) + " ";
  const std::string table = p["table"].is_null() ? "" : p["table"], key = p["key"].is_null() ? "" : p["key"];
  where += table.empty() ? "(both databases)" : table;
  if (!key.empty()) where += ", " + key;
  return where;
}

std::string Counted(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The JSON document says what the text says: one line per problem in the
// same order, the counts, and the stop.
void ExpectJsonAgreesWithText(const json& doc, const std::string& text, const std::string& source,
                              const std::string& target) {
  EXPECT_EQ(doc["source"], source);
  EXPECT_EQ(doc["target"], target);
  std::vector<std::string> expected;
  long long errors = 0;
  const json* first_error = nullptr;
  for (const json& p : doc["problems"]) {
    // A problem of the databases as a whole names no step or table.
    const bool whole = p["step"].is_null() && p["table"].is_null();
    expected.push_back(p["severity"].get<std::string>() + ": " + (whole ? "" : Where(p) + ": ") +
                       p["reason"].get<std::string>());
    if (p["severity"] == "error") {
      ++errors;
      if (!first_error) first_error = &p;
    } else {
      EXPECT_EQ(p["severity"], "warning");
    }
  }
  const long long warnings = static_cast<long long>(doc["problems"].size()) - errors;
  EXPECT_EQ(doc["errors"], errors);
  EXPECT_EQ(doc["warnings"], warnings);
  EXPECT_EQ(doc["would_stop"], first_error != nullptr);
  if (first_error)
    EXPECT_EQ(doc["stop"], *first_error);
  else
    EXPECT_TRUE(doc["stop"].is_null()) << doc["stop"];
  expected.push_back(Counted(errors, "error", "errors") + ", " + Counted(warnings, "warning", "warnings") + ". " +
                     (!first_error                   ? std::string("migrate would run to its end.")
                      : (*first_error)["step"].is_null() ? std::string("migrate would refuse these databases before "
                                                                  "writing anything (exit 2).")
                                                     : "migrate would stop at " + Where(*first_error) + "."));
  EXPECT_EQ(Lines(text), expected);
}

struct Checked {
  int code = -1;
  std::string text;
  json doc;
};

// Runs check twice, as text and as JSON, and holds the two against each
// other. Neither run writes to the target or leaves a scratch file.
Checked CheckBoth(const std::string& dir, const std::string& source, const std::string& target) {
  const std::string bytes = Slurp(dir + "/" + target);
  Checked c;
  const Result text = RunTool(dir, "check " + source + " " + target);
  const Result js = RunTool(dir, "check " + source + " " + target + " --json");
  EXPECT_EQ(text.code, js.code);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(js.err, "");
  c.code = text.code;
  c.text = text.out;
  try {
    c.doc = json::parse(js.out);
  } catch (const json::exception& e) {
    ADD_FAILURE() << "check --json does not parse: " << e.what() << "\n" << js.out;
    return c;
  }
  ExpectJsonAgreesWithText(c.doc, c.text, source, target);
  EXPECT_EQ(Slurp(dir + "/" + target), bytes) << "check wrote to the target";
  EXPECT_FALSE(Leftovers(dir + "/" + target));
  EXPECT_TRUE(fs::is_empty(dir + "/tmp")) << "the trial run left a scratch file";
  return c;
}

// ------------------------------------------------------------ the run in-process

using Row = std::vector<std::pair<std::string, velaccap::Value>>;

// Where the run is: the current row of the source recordset opened last, the
// source rows behind the target row being added and the one being saved,
// and the table of the step under way.
struct Position {
  Row current;
  Row pending;
  Row saving;
  Row failed;
  bool failed_known = false;
  std::string table;
  int newest = 0;
};

// A failure while the target saves a row belongs to the source row behind
// it, which is no longer the current one.
void Guard(Position& at, const Row& row, const std::function<void()>& op) {
  try {
    op();
  } catch (...) {
    if (!at.failed_known) {
      at.failed = row;
      at.failed_known = true;
    }
    throw;
  }
}

class WatchedRecordset : public velaccap::SourceRecordsetLayer {
 public:
  WatchedRecordset(std::unique_ptr<velaccap::SourceRecordset> inner, Position& at)
      : SourceRecordsetLayer(std::move(inner)), at_(at), id_(++at.newest) {
    Note();
  }
  void move_next() override {
    SourceRecordsetLayer::move_next();
    Note();
  }

 private:
  void Note() {
    if (id_ != at_.newest) return;
    at_.current.clear();
    if (eof()) return;
    for (int i = 0; i < field_count(); ++i) {
      try {
        at_.current.emplace_back(field_name(i), field_value(i));
      } catch (const velaccap::Error&) {  // a value the source cannot hand over
        at_.current.emplace_back(field_name(i), velaccap::Value());
      }
    }
  }
  Position& at_;
  int id_;
};

class WatchedSource : public velaccap::SourceDatabaseLayer {
 public:
  WatchedSource(velaccap::SourceDatabase& inner, Position& at) : SourceDatabaseLayer(inner), at_(at) {}

 protected:
  std::unique_ptr<velaccap::SourceRecordset> Wrap(std::unique_ptr<velaccap::SourceRecordset> rs) override {
    return std::make_unique<WatchedRecordset>(std::move(rs), at_);
  }

 private:
  Position& at_;
};

class WatchedTable : public velaccap::TargetRecordsetLayer {
 public:
  WatchedTable(std::unique_ptr<velaccap::TargetRecordset> inner, Position& at)
      : TargetRecordsetLayer(std::move(inner)), at_(at) {}
  // A new row saves the one before it.
  void AddNew() override {
    at_.saving = std::exchange(at_.pending, at_.current);
    Guard(at_, at_.saving, [&] { inner_->AddNew(); });
  }
  void UpdateBatch() override {
    Guard(at_, at_.pending, [&] { inner_->UpdateBatch(); });
  }
  void Close() override {
    at_.pending.clear();
    inner_->Close();
  }

 private:
  Position& at_;
};

class WatchedTarget : public velaccap::TargetConnectionLayer {
 public:
  WatchedTarget(velaccap::TargetConnection& inner, Position& at) : TargetConnectionLayer(inner), at_(at) {}
  void Execute(const std::string& statement) override {
    Note(statement);
    Guard(at_, at_.current, [&] { inner_.Execute(statement); });
  }
  long long ExecuteCount(const std::string& statement) override {
    Note(statement);
    long long n = 0;
    Guard(at_, at_.current, [&] { n = inner_.ExecuteCount(statement); });
    return n;
  }

 protected:
  std::unique_ptr<velaccap::TargetRecordset> Wrap(std::unique_ptr<velaccap::TargetRecordset> rs) override {
    return std::make_unique<WatchedTable>(std::move(rs), at_);
  }

 private:
  // Every step but the last begins by clearing its table.
  void Note(const std::string& statement) {
    if (statement.starts_with("Delete ")) {
      const std::string rest = statement.substr(7);
      at_.table = rest.substr(0, rest.find(' '));
    } else if (statement.starts_with("Update AccInformation")) {
      at_.table = "AccInformation";
    }
  }
  Position& at_;
};

// The id column that names a row of each table the cases stop in.
std::string IdColumn(const std::string& table) {
  if (table == "SaleBillVouch") return "SBVID";
  if (table == "SaleBillVouchs") return "AutoID";
  if (table == "PurBillVouch") return "PBVID";
  if (table == "PurBillVouchs" || table == "Ap_Note_Sub") return "ID";
  return "Auto_ID";
}

struct Stop {
  bool ok = true;
  std::string error;
  std::string table;
  std::string key;  // "Column value" of the source row, empty when none was being written
};

// The component's own run from `source` into `target`, under the tool's row
// rules, rolled back.
Stop RunInProcess(const std::string& source, const std::string& target) {
  std::unique_ptr<velaccap::SourceDatabase> src = velaccap::OpenSource(source);
  velaccap::OpenOptions one_by_one;
  one_by_one.batch_rows = 1;  // each row fails where it is saved, so the watch can name it
  std::unique_ptr<velaccap::TargetConnection> tgt = velaccap::OpenTarget(target, one_by_one);
  tgt->BeginTransaction();
  Position at;
  WatchedSource watched_source(*src, at);
  WatchedTarget watched_target(*tgt, at);
  velaccap::check::RowRules ruled_source(watched_source);
  velaccap::clsAPA812 component;
  Stop stop;
  stop.ok = component.UpdateA812ToS820(ruled_source, watched_target);
  if (tgt->InTransaction()) tgt->Rollback();
  if (stop.ok) return stop;
  stop.error = component.ErrDescription();
  stop.table = at.table;
  const Row& row = at.failed_known ? at.failed : at.current;
  const std::string id = IdColumn(at.table);
  for (const auto& [name, value] : row)
    if (velaccap::EqualNoCase(name, id)) stop.key = id + " " + velaccap::DebugString(value);
  return stop;
}

// The row in check's key: "AutoID 4 of invoice '0000001 2'" names the
// source line "AutoID 4".
std::string RowOf(const std::string& key) { return key.substr(0, key.find(" of invoice ")); }

// ------------------------------------------------------------ account sets

// One sample and one fresh target, made once and copied for every case.
const std::string& BaseDir() {
  static TempDir dir;
  static const bool made = [] {
    if (RunTool(dir.path(), "sample s.db --lines 200").code != 0 ||
        RunTool(dir.path(), "new-target t.db").code != 0)
      throw std::runtime_error("cannot make the sample account sets");
    return true;
  }();
  (void)made;
  return dir.path();
}

// A damage done to the sample (source) or the fresh target, and what it
// makes the run do. The row numbers are the sample's fixed cases (see
// sample/sample.cpp), the same whatever its size and seed.
struct Damage {
  const char* name;
  const char* source_sql = "";
  const char* target_sql = "";
  // Where migrate stops; step 0: it runs to its end.
  int step = 0;
  const char* table = "";
  const char* key = "";      // check's key for the row
  const char* reason = "";   // text in check's reason
  const char* failure = "";  // text in migrate's message
  // The source row the run was writing when it stopped, when that is not
  // the row of `key` ("": the run's own statement, no source row).
  const char* run_key = nullptr;
  // The rules alone, without the trial run, foresee the stop.
  bool rules = true;
  // The least schema lacks the key (or the number column) the stop comes
  // from: check and migrate both go through there.
  bool only_with_reference_keys = false;
  // The run goes through every step but its target does not reconcile with
  // the source, so migrate rolls it back (exit 3).
  bool unreconciled = false;
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

// Another module's invoice kept in the target, for lines and collisions.
#define KEPT_SALES_INVOICE \
  "INSERT INTO SaleBillVouch (SBVID,cVouchType,cSBVCode,cSTCode) VALUES (900000,'26','SA-9','05');"

const Damage kDamages[] = {
    // The merge of continuation lines.
    {.name = "ParentInvoiceWithoutLines", .source_sql = "DELETE FROM SaleBillVouchs WHERE SBVID=1",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 4 of invoice '0000001 2'",
     .reason = "its parent invoice '0000001' of vouch type '26' will have no lines in the target; the merge stops here",
     .failure = "Either BOF or EOF is True, or the current record has been deleted"},
    {.name = "ParentInvoiceMissing", .source_sql = "DELETE FROM PurBillVouch WHERE PBVID=1",
     .step = 9, .table = "PurBillVouchs", .key = "ID 3 of invoice '0000001 2'",
     .reason = "its parent invoice '0000001' of vouch type '01' will have no lines in the target",
     .failure = "Either BOF or EOF is True"},
    {.name = "NullAmountAddedIntoParentLine", .source_sql = "UPDATE SaleBillVouchs SET iSum=NULL WHERE AutoID=8",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 8 of invoice '0000001 3 1'",
     .reason = "iSum is Null, which leaves the merge's statement malformed", .failure = "syntax error"},
    {.name = "TextQuantityAddedIntoParentLine",
     .source_sql = "UPDATE SaleBillVouchs SET iQuantity='12 --' WHERE AutoID=4",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 4 of invoice '0000001 2'",
     .reason = "iQuantity holds '12 --', which is not a number",
     .failure = "SaleBillVouchs line AutoID 4 of invoice '0000001 2': iQuantity holds '12 --', which is not a number"},
    {.name = "TextCostOfAppendedPurchaseLine", .source_sql = "UPDATE PurBillVouchs SET iOriCost='7 apples' WHERE ID=4",
     .step = 9, .table = "PurBillVouchs", .key = "ID 4 of invoice '0000001 2'",
     .reason = "iOriCost holds '7 apples', which is not a number",
     .failure = "PurBillVouchs line ID 4 of invoice '0000001 2': iOriCost holds '7 apples', which is not a number"},
    {.name = "NullUnitPriceOfAppendedLine", .source_sql = "UPDATE SaleBillVouchs SET iUnitPrice=NULL WHERE AutoID=5",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 5 of invoice '0000001 2'",
     .reason = "iUnitPrice is Null, which leaves the merge's statement malformed", .failure = "syntax error"},
    // The payables detail ledger.
    {.name = "LedgerLineWithNullLineId", .source_sql = "UPDATE Ap_Detail SET iBVID=NULL WHERE Auto_ID=1",
     .step = 10, .table = "Ap_Detail", .key = "Auto_ID 1",
     .reason = "iBVID NULL cannot be converted (Invalid use of Null); the step stops here",
     .failure = "migration failed: Ap_Detail Auto_ID 1: iBVID NULL cannot be converted (Invalid use of Null)\n"},
    {.name = "ContinuationReferenceWithNullVouchType",
     .source_sql = "UPDATE Ap_Detail SET cCoVouchType=NULL WHERE Auto_ID=3",
     .step = 10, .table = "Ap_Detail", .key = "Auto_ID 3",
     .reason = "cCoVouchType NULL cannot be converted (Invalid use of Null)",
     .failure = "migration failed: Ap_Detail Auto_ID 3: cCoVouchType NULL cannot be converted (Invalid use of Null)\n"},
    {.name = "LedgerLineIdOutOf32Bits", .source_sql = "UPDATE Ap_Detail SET iBVID=3000000000 WHERE Auto_ID=14",
     .step = 10, .table = "Ap_Detail", .key = "Auto_ID 14",
     .reason = "iBVID 3000000000 cannot be converted (Overflow)",
     .failure = "migration failed: Ap_Detail Auto_ID 14: iBVID 3000000000 cannot be converted (Overflow)\n"},
    {.name = "ContinuationReferenceWithNullOwnVoucher",
     .source_sql = "UPDATE Ap_Detail SET cVouchID=NULL WHERE Auto_ID=12",
     .step = 10, .table = "Ap_Detail", .key = "Auto_ID 12",
     .reason = "cVouchID NULL cannot be converted (Invalid use of Null)",
     .failure = "migration failed: Ap_Detail Auto_ID 12: cVouchID NULL cannot be converted (Invalid use of Null)\n"},
    // What no engine refuses but the run cannot take.
    {.name = "InfiniteQuantityOfACopiedLine", .source_sql = "UPDATE SaleBillVouchs SET iQuantity=-1e309 WHERE AutoID=1",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 1 of invoice '0000001'",
     .reason = "iQuantity holds -inf, which is not an amount",
     .failure = "SaleBillVouchs AutoID 1 of invoice '0000001': iQuantity holds -inf, which is not an amount"},
    {.name = "InfiniteLedgerAmount", .source_sql = "UPDATE Ap_Detail SET iAmount=1e309 WHERE Auto_ID=3",
     .step = 10, .table = "Ap_Detail", .key = "Auto_ID 3",
     .reason = "iAmount holds inf, which is not an amount",
     .failure = "Ap_Detail Auto_ID 3: iAmount holds inf, which is not an amount",
     .only_with_reference_keys = true},  // a text column there: 'Inf' is text
    {.name = "BlobQuantityOfACopiedLine", .source_sql = "UPDATE SaleBillVouchs SET iQuantity=x'3132' WHERE AutoID=2",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 2 of invoice '0000001'",
     .reason = "iQuantity holds X'3132', which is not an amount",
     .failure = "SaleBillVouchs AutoID 2 of invoice '0000001': iQuantity holds X'3132', which is not an amount"},
    {.name = "NulByteInTheItemOfAContinuationLine",
     .source_sql = "UPDATE SaleBillVouchs SET cInvCode=CAST(x'4930303031004a' AS TEXT) WHERE AutoID=4",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 4 of invoice '0000001 2'",
     .reason = "cInvCode holds a NUL byte, which would cut the run's statement short",
     .failure = "SaleBillVouchs AutoID 4 of invoice '0000001 2': cInvCode holds a NUL byte"},
    // Headers of a source without its primary key.
    {.name = "NullHeaderId",
     .source_sql = "CREATE TABLE h AS SELECT * FROM SaleBillVouch; DROP TABLE SaleBillVouch;"
                   "ALTER TABLE h RENAME TO SaleBillVouch; UPDATE SaleBillVouch SET SBVID=NULL WHERE SBVID=3",
     .step = 6, .table = "SaleBillVouch", .key = "SBVID NULL",
     .reason = "SBVID is Null: the invoice's lines cannot be tied to it",
     .failure = "SaleBillVouch SBVID NULL: SBVID is Null"},
    {.name = "TextHeaderId",
     .source_sql = "CREATE TABLE h AS SELECT * FROM PurBillVouch; DROP TABLE PurBillVouch;"
                   "ALTER TABLE h RENAME TO PurBillVouch; UPDATE PurBillVouch SET PBVID='P1' WHERE PBVID=1",
     .step = 8, .table = "PurBillVouch", .key = "PBVID 'P1'",
     .reason = "PBVID is 'P1', not a whole number", .failure = "PurBillVouch PBVID 'P1': PBVID is 'P1'"},
    {.name = "NullLineId",
     .source_sql = "CREATE TABLE l AS SELECT * FROM SaleBillVouchs; DROP TABLE SaleBillVouchs;"
                   "ALTER TABLE l RENAME TO SaleBillVouchs; UPDATE SaleBillVouchs SET AutoID=NULL WHERE AutoID=2",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID NULL of invoice '0000001'",
     .reason = "AutoID is Null: the target would make up an id of its own for the line",
     .failure = "SaleBillVouchs AutoID NULL of invoice '0000001': AutoID is Null"},
    // The added input code.
    {.name = "SourceHoldsInputCode49RP",
     .source_sql = "INSERT INTO Ap_InputCode (Auto_ID,cNum,cNote,cFlag) VALUES (40,'49','Exchange','RP')",
     .step = 11, .table = "Ap_InputCode", .key = "Auto_ID 40",
     .reason = "the source already holds input code 49 with flag RP, which the run adds",
     .failure = "UNIQUE constraint failed: Ap_InputCode.cNum, Ap_InputCode.cFlag", .run_key = "",
     .only_with_reference_keys = true},
    // What the target keeps of other modules.
    {.name = "KeptSalesInvoiceWithAnOwnedId",
     .target_sql = "INSERT INTO SaleBillVouch (SBVID,cVouchType,cSBVCode,cSTCode) VALUES (1,'26','SA-1','05')",
     .step = 6, .table = "SaleBillVouch", .key = "SBVID 1",
     .reason = "the target keeps an invoice of another module with this id (its cSTCode is set)",
     .failure = "UNIQUE constraint failed: SaleBillVouch.SBVID"},
    {.name = "KeptPurchaseInvoiceWithAnOwnedId",
     .target_sql = "INSERT INTO PurBillVouch (PBVID,cPBVBillType,cPBVCode,cBusType) VALUES (7,'01','PU-7','Stock')",
     .step = 8, .table = "PurBillVouch", .key = "PBVID 7",
     .reason = "the target keeps an invoice of another module with this id (its cBusType is set)",
     .failure = "UNIQUE constraint failed: PurBillVouch.PBVID"},
    {.name = "KeptLineWithACopiedLineId",
     .target_sql = KEPT_SALES_INVOICE "INSERT INTO SaleBillVouchs (AutoID,SBVID,cInvCode) VALUES (2,900000,'I0001')",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 2 of invoice '0000001'",
     .reason = "the target keeps a line with this id (of another module's invoice, or without a header)",
     .failure = "UNIQUE constraint failed: SaleBillVouchs.AutoID"},
    {.name = "KeptLineWithAnAppendedLineId",
     .target_sql = KEPT_SALES_INVOICE "INSERT INTO SaleBillVouchs (AutoID,SBVID,cInvCode) VALUES (5,900000,'I0001')",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 5 of invoice '0000001 2'",
     .reason = "the appended line keeps its id, which a line the target keeps already has",
     .failure = "UNIQUE constraint failed: SaleBillVouchs.AutoID"},
    // The old header goes in step 6 and is not written again: its line
    // outlives the clearing of step 7.
    {.name = "TargetLineLeftWithoutHeader",
     .target_sql = "INSERT INTO SaleBillVouch (SBVID,cVouchType,cSBVCode) VALUES (800000,'26','OLD');"
                   "INSERT INTO SaleBillVouchs (AutoID,SBVID,cInvCode) VALUES (3,800000,'I0002')",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 3 of invoice '0000001'",
     .reason = "the target keeps a line with this id", .failure = "UNIQUE constraint failed: SaleBillVouchs.AutoID"},
    {.name = "HeaderlessPurchaseLineWithACopiedId",
     .target_sql = "INSERT INTO PurBillVouchs (ID,PBVID,cInvCode) VALUES (6,777777,'I0001')",
     .step = 9, .table = "PurBillVouchs", .key = "ID 6 of invoice '0000001'",
     .reason = "the target keeps a line with this id", .failure = "UNIQUE constraint failed: PurBillVouchs.ID"},

    // Damage the run goes through.
    {.name = "Clean"},
    {.name = "NullUnitPriceOfLineAddedIntoParent",
     .source_sql = "UPDATE SaleBillVouchs SET iUnitPrice=NULL WHERE AutoID=4"},
    {.name = "OrdinaryReferenceWithNullVouchType",
     .source_sql = "UPDATE Ap_Detail SET cCoVouchType=NULL WHERE Auto_ID=1"},
    {.name = "SourceHoldsInputCode49OfAnotherFlag",
     .source_sql = "INSERT INTO Ap_InputCode (Auto_ID,cNum,cNote,cFlag) VALUES (40,'49','Exchange','R')"},
    {.name = "OwnedTargetInvoiceReplaced",
     .target_sql = "INSERT INTO SaleBillVouch (SBVID,cVouchType,cSBVCode) VALUES (1,'26','OLD');"
                   "INSERT INTO SaleBillVouchs (AutoID,SBVID,cInvCode) VALUES (1,1,'I0001'),(5,1,'I0002')"},

    // Only the trial run on a copy of the target can foresee these.
    {.name = "TriggerRefusesACopiedRow",
     .target_sql = "CREATE TRIGGER refuse BEFORE INSERT ON Ap_SStyleCode WHEN NEW.cSSName='Bank draft' "
                   "BEGIN SELECT RAISE(ABORT, 'no bank drafts here'); END",
     .step = 15, .table = "Ap_SStyleCode", .key = "Auto_ID 3",
     .reason = "the trial run on a copy of the target stopped here: no bank drafts here",
     .failure = "target t.db: no bank drafts here", .rules = false},
    {.name = "NullVouchTypeOfAnOwnedInvoice", .source_sql = "UPDATE SaleBillVouch SET cVouchType=NULL WHERE SBVID=3",
     .step = 6, .table = "SaleBillVouch", .key = "SBVID 3",
     .reason = "NOT NULL constraint failed: SaleBillVouch.cVouchType",
     .failure = "NOT NULL constraint failed: SaleBillVouch.cVouchType", .rules = false},
    // The parent's line found for the ledger line Auto_ID 2 has an id past
    // 32 bits.
    {.name = "LineLookupFindsAnIdPast32Bits",
     .source_sql = "UPDATE SaleBillVouchs SET AutoID=3000000000 WHERE AutoID=1",
     .step = 10, .table = "Ap_Detail", .key = "Auto_ID 2",
     .reason = "Overflow", .failure = "migration failed: Ap_Detail Auto_ID 2: Overflow\n", .rules = false},
    // The trigger refuses a copied line before the merge meets the Null.
    {.name = "EarlierRefusalInTheSameStep", .source_sql = "UPDATE SaleBillVouchs SET iSum=NULL WHERE AutoID=8",
     .target_sql = "CREATE TRIGGER refuse BEFORE INSERT ON SaleBillVouchs WHEN NEW.AutoID=14 "
                   "BEGIN SELECT RAISE(ABORT, 'line refused'); END",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 14 of invoice '0000002'",
     .reason = "line refused", .failure = "target t.db: line refused", .rules = false},
    // The parent's lines are those of another module's invoice with its
    // vouch type and code: the continuation lines go into that invoice, the
    // first (AutoID 4) adding into its line, and the owned lines no longer
    // add up to the source's.
    {.name = "MergeIntoAnotherModulesInvoiceDoesNotReconcile", .source_sql = "DELETE FROM SaleBillVouchs WHERE SBVID=1",
     .target_sql = "INSERT INTO SaleBillVouch (SBVID,cVouchType,cSBVCode,cSTCode) VALUES (900000,'26','0000001','05');"
                   "INSERT INTO SaleBillVouchs (AutoID,SBVID,cInvCode,iQuantity,iSum,iNatSum,iMoneySum,iExchSum) "
                   "VALUES (900000,900000,'I0001',1,1,1,1,1)",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 4 of invoice '0000001 2'",
     .failure = "apupgrade: the target does not reconcile with the source:\n", .unreconciled = true},
    // A source without its primary key repeats a copied line; the copy pass
    // meets the repeat before the merge meets the Null.
    {.name = "RepeatedLineIdMetBeforeTheMerge",
     .source_sql = "CREATE TABLE lines AS SELECT * FROM SaleBillVouchs; DROP TABLE SaleBillVouchs;"
                   "ALTER TABLE lines RENAME TO SaleBillVouchs;"
                   "INSERT INTO SaleBillVouchs SELECT * FROM SaleBillVouchs WHERE AutoID=2;"
                   "UPDATE SaleBillVouchs SET iSum=NULL WHERE AutoID=8",
     .step = 7, .table = "SaleBillVouchs", .key = "AutoID 2 of invoice '0000001'",
     .reason = "an earlier line the run writes has this id; this one collides with it",
     .failure = "UNIQUE constraint failed: SaleBillVouchs.AutoID"},
};

// The same account sets in the least schema the run allows (tests/minimal):
// every value of a column both schemas have, copied over.
const std::string& MinimalBaseDir() {
  static TempDir dir;
  static const bool made = [] {
    const std::string minimal = std::string(VELACCAP_SOURCE_DIR) + "/tests/minimal/";
    for (const char* db : {"s.db", "t.db"}) {
      const std::string to = dir.file(db), from = BaseDir() + "/" + db;
      Exec(to, testsupport::Slurp(minimal + (db[0] == 's' ? "source_812.sql" : "target_820.sql")));
      std::string sql = "ATTACH '" + from + "' AS o; DELETE FROM AccInformation;";
      for (const auto& t : Query(to, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'")) {
        std::string columns;
        const Rows theirs = Query(from, "SELECT upper(name) FROM pragma_table_info('" + t[0] + "')");
        for (const auto& c : Query(to, "SELECT name, upper(name) FROM pragma_table_info('" + t[0] + "')"))
          if (std::find(theirs.begin(), theirs.end(), std::vector<std::string>{c[1]}) != theirs.end())
            columns += (columns.empty() ? "" : ",") + c[0];
        if (!columns.empty())
          sql += "INSERT INTO " + t[0] + " (" + columns + ") SELECT " + columns + " FROM o." + t[0] + ";";
      }
      Exec(to, sql);
    }
    return true;
  }();
  (void)made;
  return dir.path();
}

// Each damage, on the reference schema and on the least one.
class DamagedAccountSet : public ::testing::TestWithParam<std::tuple<Damage, bool>> {};

TEST_P(DamagedAccountSet, CheckNamesWhereMigrateStops) {
  const Damage& d = std::get<0>(GetParam());
  const bool minimal = std::get<1>(GetParam());
  TempDir dir;
  const std::string src = dir.file("s.db"), tgt = dir.file("t.db");
  const std::string& base = minimal ? MinimalBaseDir() : BaseDir();
  fs::copy_file(base + "/s.db", src);
  fs::copy_file(base + "/t.db", tgt);
  if (*d.source_sql) Exec(src, d.source_sql);
  if (*d.target_sql) Exec(tgt, d.target_sql);
  fs::copy_file(tgt, dir.file("in-process.db"));
  const bool stops = d.step > 0 && !(minimal && d.only_with_reference_keys);

  // What check predicts, as text and as JSON; then the rules alone, which
  // name the same stop without the trial run.
  const auto expect_stop = [&](int code, const json& doc, const std::string& said) {
    EXPECT_EQ(code, stops ? 1 : 0) << said;
    EXPECT_EQ(doc["stop"].is_object(), stops) << said;
    if (!stops) {
      EXPECT_EQ(doc["errors"], 0) << said;
      return;
    }
    if (!doc["stop"].is_object()) return;
    EXPECT_EQ(doc["stop"]["step"], d.step) << said;
    EXPECT_EQ(doc["stop"]["table"], std::string(d.table)) << said;
    EXPECT_EQ(doc["stop"]["key"], std::string(d.key)) << said;
    EXPECT_NE(doc["stop"]["reason"].get<std::string>().find(d.reason), std::string::npos) << said;
  };
  const Checked c = CheckBoth(dir.path(), "s.db", "t.db");
  const json& stop = c.doc["stop"];
  expect_stop(c.code, c.doc, c.text);
  if (d.rules && !(minimal && d.only_with_reference_keys)) {
    const Result rules = RunTool(dir.path(), "check s.db t.db --no-trial --json");
    const json doc = json::parse(rules.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << rules.out;
    expect_stop(rules.code, doc, rules.out);
  }

  // What migrate does: stops, says why, and leaves the target as it was.
  const Rows before = Dump(tgt);
  const Result m = RunTool(dir.path(), "migrate s.db t.db --quiet");
  EXPECT_FALSE(Leftovers(tgt));
  if (stops) {
    EXPECT_EQ(m.code, d.unreconciled ? 3 : 1) << m.err;
    EXPECT_TRUE(m.err.starts_with(d.unreconciled ? d.failure : "apupgrade: migration failed: ")) << m.err;
    // The engine names a column as the schema spells it.
    EXPECT_NE(velaccap::Upper(m.err).find(velaccap::Upper(d.failure)), std::string::npos) << m.err;
    EXPECT_TRUE(m.err.ends_with("t.db is as it was\n")) << m.err;
    EXPECT_EQ(Dump(tgt), before);
  } else {
    EXPECT_EQ(m.code, 0) << m.err;
    EXPECT_EQ(m.err, "");
    EXPECT_NE(Dump(tgt), before);
  }

  // Where the run stops: the step's table and the source row it was
  // writing, the same run as migrate's (its error is migrate's).
  const Stop run = RunInProcess(src, dir.file("in-process.db"));
  EXPECT_EQ(run.ok, !stops || d.unreconciled) << run.error;
  if (!stops || run.ok) return;
  EXPECT_NE(m.err.find(run.error), std::string::npos) << run.error << "\n" << m.err;
  EXPECT_EQ(run.table, std::string(d.table)) << run.error;
  EXPECT_EQ(run.key, d.run_key ? d.run_key : RowOf(d.key)) << run.error;
  // check's stop is that table and row.
  if (!d.run_key && stop.is_object()) {
    EXPECT_EQ(stop["table"], run.table) << "check: " << Where(stop) << "\nmigrate: " << run.table << ", " << run.key;
    EXPECT_EQ(RowOf(stop["key"]), run.key) << "check: " << Where(stop) << "\nmigrate: " << run.table << ", "
                                           << run.key << ": " << run.error;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedAccountSet, ::testing::Combine(::testing::ValuesIn(kDamages), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Damage, bool>>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "OnTheLeastSchema" : "");
                         });

// Past 20 rows of one kind, warnings are counted instead of listed; the
// count is a problem of its own in both outputs.
TEST(CheckOutput, CountedWarningsAgreeInJsonAndText) {
  TempDir dir;
  fs::copy_file(BaseDir() + "/s.db", dir.file("s.db"));
  fs::copy_file(BaseDir() + "/t.db", dir.file("t.db"));
  // 25 more references to a continuation invoice for items its parent lacks,
  // beside the sample's own one.
  Exec(dir.file("s.db"),
       "INSERT INTO Ap_Detail (cFlag,cVouchType,cVouchID,cInvCode,iBVID,cCoVouchType,cCoVouchID) "
       "SELECT 'R','48','SK9','I9' || Auto_ID,0,'26','0000001 2' FROM Ap_Detail ORDER BY Auto_ID LIMIT 25");
  const Checked c = CheckBoth(dir.path(), "s.db", "t.db");
  EXPECT_EQ(c.code, 0) << c.text;
  const std::string kind =
      "refers to a continuation invoice whose parent will hold no line of its item: iBVID becomes 0";
  // The JSON problems say what the text lines say (CheckBoth); the count
  // keeps the code of the rows it stands for.
  int listed = 0;
  for (const std::string& line : Lines(c.text))
    listed += line.starts_with("warning: step 10 Ap_Detail, Auto_ID ") && line.ends_with(": " + kind);
  EXPECT_EQ(listed, 20) << c.text;
  EXPECT_NE(c.text.find("\nwarning: step 10 Ap_Detail: 6 more rows: " + kind + "\n"), std::string::npos) << c.text;
  for (const json& p : c.doc["problems"])
    EXPECT_TRUE(p["reason"] != "6 more rows: " + kind || p["code"] == "reference-finds-no-line") << p;
  EXPECT_EQ(RunTool(dir.path(), "migrate s.db t.db --quiet").code, 0);
}

// ------------------------------------------------------------ identification

// The names a refusal lists after "it lacks", per side.
std::vector<std::string> LackedNames(const std::string& message, const std::string& side) {
  std::vector<std::string> names;
  for (const std::string& line : Lines(message)) {
    if (line.find(side + " ") == std::string::npos) continue;
    const std::size_t at = line.find("; it lacks ");
    if (at == std::string::npos) continue;
    std::string list = line.substr(at + 11);
    for (std::size_t comma; (comma = list.find(", ")) != std::string::npos; list.erase(0, comma + 2))
      names.push_back(list.substr(0, comma));
    names.push_back(list);
  }
  return names;
}

// The names check lists as missing on one side ("source" or "target").
std::vector<std::string> CheckedLacks(const json& doc, const std::string& side) {
  std::vector<std::string> names;
  const std::string lead = "the " + side + " lacks ";
  for (const json& p : doc["problems"]) {
    const std::string reason = p["reason"];
    if (p["severity"] == "error" && p["step"].is_null() && reason.starts_with(lead))
      names.push_back(reason.substr(lead.size()));
  }
  return names;
}

TEST(CheckIdentity, AccountSetsOfTheWrongKindAreRefusedAndNamed) {
  TempDir dir;
  const std::string d = dir.path();
  ASSERT_EQ(RunTool(d, "sample s.db --lines 50").code, 0);
  ASSERT_EQ(RunTool(d, "sample old.db --lines 10 --seed 2").code, 0);
  ASSERT_EQ(RunTool(d, "new-target t.db").code, 0);
  ASSERT_EQ(RunTool(d, "new-target new.db").code, 0);
  ASSERT_EQ(RunTool(d, "new-target lacking.db").code, 0);
  // A table and two columns: one the run names itself, one a copy by name
  // carries from the source.
  Exec(dir.file("lacking.db"),
       "DROP TABLE Ap_Note_Sub; DROP INDEX Ap_Detail_CoVouch; ALTER TABLE Ap_Detail DROP COLUMN cCoVouchID;"
       "ALTER TABLE Ap_Vouch DROP COLUMN cDigest");

  const struct {
    const char* source;
    const char* target;
    const char* refusal;
  } kCases[] = {
      {"new.db", "t.db",
       "apupgrade: SOURCE new.db is not an 8.12 account set the run can use: it looks like an 8.20 account set; it "
       "lacks PurBillVouchs.iPBVTaxRate\n"},
      {"s.db", "old.db",
       "apupgrade: TARGET old.db is not an 8.20 account set the run can use: it looks like an 8.12 account set; it "
       "lacks PurBillVouchs.iTaxRate\n"},
      {"new.db", "old.db",
       "apupgrade: SOURCE new.db is not an 8.12 account set the run can use: it looks like an 8.20 account set; it "
       "lacks PurBillVouchs.iPBVTaxRate\n"
       // The 8.20 source's own columns, copied by name, are missing from the
       // 8.12 target too.
       "apupgrade: TARGET old.db is not an 8.20 account set the run can use: it looks like an 8.12 account set; it "
       "lacks PurBillVouchs.iTaxRate, Ap_AlarmSet.bEmail, Ap_CloseBill.cItem_Class, Ap_CloseBill.cItemCode, "
       "Ap_Detail.iAmount_s, Ap_Detail.cProcStyle, Ap_Vouch.cCheckMan\n"},
      {"s.db", "lacking.db",
       "apupgrade: TARGET lacking.db is not an 8.20 account set the run can use; it lacks Ap_Detail.cCoVouchID, "
       "Ap_Note_Sub, Ap_Vouch.cDigest\n"},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(std::string(k.source) + " -> " + k.target);
    const std::string target = dir.file(k.target), bytes = Slurp(target);
    const Result m = RunTool(d, std::string("migrate ") + k.source + " " + k.target);
    EXPECT_EQ(m.code, 2);
    EXPECT_EQ(m.err, k.refusal);
    EXPECT_EQ(m.out, "");
    EXPECT_EQ(Slurp(target), bytes);
    EXPECT_FALSE(Leftovers(target));

    // check lists the same names as problems, each missing name once, and
    // says what each set looks like when the refusal does.
    const Checked c = CheckBoth(d, k.source, k.target);
    EXPECT_EQ(c.code, 2) << c.text;
    EXPECT_EQ(CheckedLacks(c.doc, "source"), LackedNames(m.err, "SOURCE")) << c.text;
    EXPECT_EQ(CheckedLacks(c.doc, "target"), LackedNames(m.err, "TARGET")) << c.text;
    EXPECT_TRUE(c.doc["stop"]["step"].is_null()) << c.text;
    const std::pair<const char*, const char*> kLooks[] = {
        {"it looks like an 8.20", "the source looks like an 8.20 account set, not an 8.12 one"},
        {"it looks like an 8.12", "the target looks like an 8.12 account set, not an 8.20 one"}};
    std::size_t looks = 0;
    for (const auto& [refused, said] : kLooks) {
      const bool so = m.err.find(refused) != std::string::npos;
      EXPECT_EQ(std::any_of(c.doc["problems"].begin(), c.doc["problems"].end(),
                            [&](const json& p) { return p["severity"] == "error" && p["reason"] == said; }),
                so)
          << said << "\n" << c.text;
      looks += so;
    }
    EXPECT_EQ(c.doc["errors"], CheckedLacks(c.doc, "source").size() + CheckedLacks(c.doc, "target").size() + looks)
        << c.text;
  }
}

TEST(CheckIdentity, OneFileUnderTwoNamesAndMissingFilesAreUnusable) {
  TempDir dir;
  const std::string d = dir.path();
  ASSERT_EQ(RunTool(d, "sample s.db --lines 50").code, 0);
  ASSERT_EQ(RunTool(d, "new-target t.db").code, 0);
  fs::create_directory(dir.file("sub"));
  fs::create_symlink("s.db", dir.file("link.db"));
  fs::create_symlink("../t.db", dir.file("sub/t-link.db"));
  fs::create_hard_link(dir.file("t.db"), dir.file("hard.db"));
  const std::string source_bytes = Slurp(dir.file("s.db")), target_bytes = Slurp(dir.file("t.db"));

  // One file under two names; a missing database is named, and never made.
  const std::pair<std::string, std::string> kRefused[] = {
      {"s.db", "s.db"}, {"s.db", "link.db"}, {"link.db", "s.db"}, {"s.db", "sub/../s.db"},
      {"t.db", "sub/t-link.db"}, {"t.db", "hard.db"}, {"sub/../t.db", "./t.db"},
      {"s.db", "missing.db"}, {"absent.db", "t.db"},
  };
  for (const auto& [source, target] : kRefused) {
    SCOPED_TRACE(source + " -> " + target);
    const bool missing = source == "absent.db" || target == "missing.db";
    const std::string named = target == "missing.db" ? "TARGET " + target : "SOURCE " + source;
    const std::string refusal =
        missing ? "apupgrade: " + named + " does not exist\n"
                : "apupgrade: SOURCE and TARGET are the same database (" + source + ", " + target +
                      "); the run reads one account set and writes another\n";
    for (const char* command : {"migrate ", "check ", "check --json "}) {
      const Result r = RunTool(d, command + source + " " + target);
      EXPECT_EQ(r.code, 2) << command;
      EXPECT_EQ(r.err, refusal) << command;
      if (!std::string(command).ends_with("--json ")) {
        EXPECT_EQ(r.out, "") << command;
        continue;
      }
      // check --json writes its document, the refusal its one problem.
      json doc = json::parse(r.out);
      EXPECT_EQ(doc["status"], "refused");
      EXPECT_EQ(doc["problems"].size(), 1u);
      EXPECT_EQ(doc["problems"][0]["code"], missing ? "missing-file" : "same-database");
    }
  }
  EXPECT_EQ(Slurp(dir.file("s.db")), source_bytes);
  EXPECT_FALSE(Leftovers(dir.file("s.db")));
  EXPECT_FALSE(Leftovers(dir.file("t.db")));
  EXPECT_FALSE(fs::exists(dir.file("missing.db")));
  EXPECT_FALSE(fs::exists(dir.file("absent.db")));
  EXPECT_EQ(Slurp(dir.file("t.db")), target_bytes);
}

// ------------------------------------------------------------ target shapes

// The reference schema with `table`'s columns in reverse order and a column
// of the target's own among them; table constraints stay last.
std::string Reshaped(std::string ddl, const std::string& table) {
  const std::string head = "CREATE TABLE " + table + " (\n";
  const std::size_t at = ddl.find(head);
  if (at == std::string::npos) throw std::runtime_error("no table " + table + " in the schema");
  const std::size_t body = at + head.size(), end = ddl.find("\n);", body);
  std::vector<std::string> columns, constraints;
  for (std::string line : Lines(ddl.substr(body, end - body))) {
    if (line.ends_with(",")) line.pop_back();
    (line.starts_with("  PRIMARY KEY") ? constraints : columns).push_back(line);
  }
  std::reverse(columns.begin(), columns.end());
  columns.insert(columns.begin() + static_cast<long>(columns.size() / 2),
                 "  cLocalNote NVARCHAR(10) NOT NULL DEFAULT 'local'");
  columns.insert(columns.end(), constraints.begin(), constraints.end());
  std::string joined;
  for (const std::string& c : columns) joined += (joined.empty() ? "" : ",\n") + c;
  return ddl.replace(body, end - body, joined);
}

TEST(CheckTargetShape, ColumnsInAnotherOrderAndExtraColumnsMigrateAsBefore) {
  TempDir dir;
  const std::string d = dir.path();
  ASSERT_EQ(RunTool(d, "sample s.db --lines 200").code, 0);
  ASSERT_EQ(RunTool(d, "new-target fresh.db").code, 0);
  const char* const kReshaped[] = {"Ap_AlarmSet", "SaleBillVouch", "SaleBillVouchs", "PurBillVouchs",
                                   "Ap_Detail",   "Ap_InputCode",  "Ap_Vouch",       "AccInformation"};
  std::string ddl = Slurp(std::string(VELACCAP_SOURCE_DIR) + "/schema/target_820.sql");
  for (const char* t : kReshaped) ddl = Reshaped(ddl, t);
  Exec(dir.file("shaped.db"), ddl);

  // check sees the same account set in both.
  const Checked fresh_check = CheckBoth(d, "s.db", "fresh.db"), shaped_check = CheckBoth(d, "s.db", "shaped.db");
  EXPECT_EQ(shaped_check.code, 0) << shaped_check.text;
  EXPECT_EQ(shaped_check.text, fresh_check.text);

  Result r = RunTool(d, "migrate s.db fresh.db --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTool(d, "migrate s.db shaped.db --quiet");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // Every column of the reference schema holds the same rows; the target's
  // own column keeps its default.
  for (const auto& t : Query(dir.file("fresh.db"),
                             "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%'")) {
    const std::string columns = Query(dir.file("fresh.db"), "SELECT group_concat(name) FROM (SELECT name FROM "
                                                            "pragma_table_info('" + t[0] + "') ORDER BY cid)")[0][0];
    const std::string sql = "SELECT " + columns + " FROM " + t[0] + " ORDER BY rowid";
    const Rows fresh = Query(dir.file("fresh.db"), sql);
    EXPECT_EQ(Query(dir.file("shaped.db"), sql), fresh) << t[0];
  }
  for (const char* t : kReshaped) {
    EXPECT_EQ(Query(dir.file("shaped.db"), std::string("SELECT DISTINCT cLocalNote FROM ") + t), (Rows{{"local"}}))
        << t;
  }
  EXPECT_GT(std::stoll(Query(dir.file("shaped.db"), "SELECT count(*) FROM SaleBillVouchs")[0][0]), 50);
}

}  // namespace
