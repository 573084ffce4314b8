// The ledger steps against real SQLite files: the statements they send, in
// order, and the rows they leave in the target.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>

#include "component/run_context.h"
#include "dbaccess/sqlite.h"
#include "ledger/ledger.h"
#include "tests/support.h"
#include "velaccap/trace.h"

namespace velaccap {
namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using Step = std::function<void(RunContext&)>;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// Clearing, reading and opening a table copied row by row.
std::string CopyHead(const std::string& table, int lock, std::string select = "") {
  if (select.empty()) select = "Select * From " + table + " Order By Auto_ID";
  return Lines({"X\tDelete " + table, "S\t" + select, "T\t" + table + "\t" + std::to_string(lock)});
}
const std::string kCancelSelect =
    "Select Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType";
const std::string kOptionsTable =
    "CREATE TABLE AccInformation(cSysID TEXT, cName TEXT, cValue TEXT);";
const std::string kInputCodeTable =
    "CREATE TABLE Ap_InputCode(Auto_ID INTEGER PRIMARY KEY, cNum TEXT, cNote TEXT, cNote_f TEXT,"
    " cFlag TEXT, cArCode TEXT, cArCodeName TEXT, cApCode TEXT, cApCodeName TEXT";
const std::string kOptionsQuery =
    "S\tSELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP'"
    " ORDER BY cSysID,cName";
constexpr const char kNote[] = "币种兑换差异入账科目";
const std::string kInsert49 =
    "X\tINSERT INTO Ap_Inputcode(cNum,cNote,cNote_f,cFlag,cArCode,cArCodeName,cApCode,cApCodeName)"
    " VALUES('49','币种兑换差异入账科目','dhcyrzkm','RP',Null,Null,Null,Null)";

std::string Lookup(bool sale, const std::string& type, const std::string& code,
                   const std::string& inv) {
  return sale ? "Q\tSelect AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON "
                "SaleBillVouchs.SBVID=SaleBillVouch.SBVID Where cVouchType='" +
                    type + "' and cSBVCode='" + code + "' and cInvCode='" + inv + "'"
              : "Q\tSelect ID From PurBillVouchs INNER JOIN PurBillVouch ON "
                "PurBillVouchs.PBVID=PurBillVouch.PBVID Where cPBVBillType='" +
                    type + "' and cPBVCode='" + code + "' and cInvCode='" + inv + "'";
}

class LedgerTest : public ::testing::Test {
 protected:
  // Runs the steps in one context, as the run would, on fresh connections,
  // and expects the given failure text ("" for none). Returns the trace.
  std::string Run(std::initializer_list<Step> steps, const std::string& want_error = "") {
    std::ostringstream trace;
    std::string error;
    try {
      auto src = OpenSqliteSource(src_);
      auto tgt = OpenSqliteTarget(tgt_);
      auto tsrc = TraceSource(*src, trace);
      auto ttgt = TraceTarget(*tgt, trace);
      RunContext ctx{*tsrc, *ttgt, ttgt->NewRecordset()};
      for (const Step& step : steps) step(ctx);
    } catch (const Error& e) {
      error = e.what();
    }
    EXPECT_EQ(error, want_error);
    return trace.str();
  }

  testsupport::TempDir dir_;
  std::string src_ = dir_.file("source.db");
  std::string tgt_ = dir_.file("target.db");
};

TEST_F(LedgerTest, CancelNumbersOneRowPerGroupWithItsMaximum) {
  Exec(src_, "CREATE TABLE Ap_CancelNo(cFlag TEXT, cType TEXT, iCancelNo INTEGER);");
  // cNote is not written by the step and keeps its default.
  Exec(tgt_, "CREATE TABLE Ap_CancelNo(Auto_ID INTEGER PRIMARY KEY, cNote TEXT DEFAULT 'dflt',"
             " iCancelNo INTEGER, cType TEXT, cFlag TEXT);"
             "INSERT INTO Ap_CancelNo(iCancelNo, cType, cFlag) VALUES(99, 'old', 'old');");
  Exec(src_, "INSERT INTO Ap_CancelNo(cFlag, cType, iCancelNo) VALUES"
             "('P','A',5),('P','A',9),('P','A',7),('R','A',3),"  // 9 and 3
             "(NULL,'A',4),(NULL,'A',6),('P',NULL,2),"          // Null flag, Null type
             "('R','B',NULL),('R','B',NULL);");                 // all-Null numbers
  EXPECT_EQ(Run({MigrateCancelNumbers}), CopyHead("Ap_CancelNo", 3, kCancelSelect) + "B\t5\n");
  EXPECT_EQ(Query(tgt_, "SELECT cFlag, cType, iCancelNo, cNote FROM Ap_CancelNo"
                        " ORDER BY cFlag, cType"),
            (Rows{{"NULL", "A", "6", "dflt"}, {"P", "NULL", "2", "dflt"},
                  {"P", "A", "9", "dflt"}, {"R", "A", "3", "dflt"}, {"R", "B", "NULL", "dflt"}}));
}

TEST_F(LedgerTest, ApDetailContinuationsPointAtParentLineOthersCopied) {
  // iBVID has no declared type, so each row keeps the kind of value given.
  // Columns go by name whatever their letter case and order; Auto_ID2 is
  // an ordinary column, not the numbering.
  Exec(src_, "CREATE TABLE Ap_Detail(auto_id INTEGER PRIMARY KEY, CVOUCHID TEXT,"
             " ccovouchid TEXT, CCOVOUCHTYPE TEXT, cinvcode TEXT, IBVID, AUTO_ID2 TEXT);");
  Exec(tgt_, "CREATE TABLE Ap_Detail(Auto_ID INTEGER PRIMARY KEY, Auto_ID2 TEXT,"
             " iBVID INTEGER, cInvCode TEXT, cCoVouchType TEXT, cCoVouchID TEXT DEFAULT 'dflt',"
             " cVouchID TEXT);"
             "INSERT INTO Ap_Detail(Auto_ID2) VALUES('old');"
             "CREATE TABLE SaleBillVouch(SBVID INTEGER, cVouchType TEXT, cSBVCode TEXT);"
             "CREATE TABLE SaleBillVouchs(AutoID INTEGER, SBVID INTEGER, cInvCode TEXT);"
             "CREATE TABLE PurBillVouch(PBVID INTEGER, cPBVBillType TEXT, cPBVCode TEXT);"
             "CREATE TABLE PurBillVouchs(ID INTEGER, PBVID INTEGER, cInvCode TEXT);"
             "INSERT INTO SaleBillVouch VALUES(1,'26','A7'),(2,'27','A7');"
             "INSERT INTO SaleBillVouchs VALUES(501,1,'X'),(502,1,'Y'),(601,2,'X');"
             "INSERT INTO PurBillVouch VALUES(1,'01','P5');"
             "INSERT INTO PurBillVouchs VALUES(701,1,'X');");
  Exec(src_, "INSERT INTO Ap_Detail VALUES"
             // Continuations: the parent's line for the item, 0 when it has none.
             "(31,'V1 a','A7 2','26','X',11,'sale'),(32,'V2','A7 2 3','27','X',12,'type 27'),"
             "(33,'V3 b','P5 1','01','X',13,'purchase'),(34,'V4','A7 9','26','Z',14,'no line'),"
             "(35,' V6 q','  A7','26','Y',1,'leading'),(36,'V7 r','A7 ','26','X',2,'trailing'),"
             // An empty lookup text sends no statement.
             "(37,'V8 s','   ','26','X',3,'blanks'),(38,'VB v','A7 2','','X',6,'empty type'),"
             "(39,'VC w','A7 2','26',NULL,7,'null item'),(40,'VD x','A7 2','26','',8,'empty item'),"
             // No blank in the reference: copied as they are, iBVID to 32 bits half to even.
             "(41,'V5 c','A7','26','Y',2.5,'plain'),(42,'V9 t','','26','X',3.5,'empty'),"
             "(43,'VA u',NULL,'26','X',-2.5,'null'),(44,'e','E',NULL,NULL,'12','text'),"
             "(45,'f','F','','',2147483647,'max'),(46,'g','G','','',-2147483648,'min');");
  EXPECT_EQ(Run({MigrateApDetail}),
            CopyHead("Ap_Detail", 2) +
                Lines({Lookup(true, "26", "A7", "X"), Lookup(true, "27", "A7", "X"),
                       Lookup(false, "01", "P5", "X"), Lookup(true, "26", "A7", "Z"),
                       Lookup(true, "26", "A7", "Y"), Lookup(true, "26", "A7", "X"), "B\t16"}));
  // Auto_ID is the target's own numbering; a Null reference keeps the target's default.
  EXPECT_EQ(Query(tgt_, "SELECT Auto_ID, cVouchID, cCoVouchID, cCoVouchType, cInvCode, iBVID,"
                        " Auto_ID2 FROM Ap_Detail ORDER BY Auto_ID"),
            (Rows{{"1", "V1", "A7", "26", "X", "501", "sale"},
                  {"2", "V2", "A7", "27", "X", "601", "type 27"},
                  {"3", "V3", "P5", "01", "X", "701", "purchase"},
                  {"4", "V4", "A7", "26", "Z", "0", "no line"},
                  {"5", "V6", "A7", "26", "Y", "502", "leading"},
                  {"6", "V7", "A7", "26", "X", "501", "trailing"},
                  {"7", "V8", "", "26", "X", "0", "blanks"},
                  {"8", "VB", "A7", "", "X", "0", "empty type"},
                  {"9", "VC", "A7", "26", "NULL", "0", "null item"},
                  {"10", "VD", "A7", "26", "", "0", "empty item"},
                  {"11", "V5 c", "A7", "26", "Y", "2", "plain"},
                  {"12", "V9 t", "", "26", "X", "4", "empty"},
                  {"13", "VA u", "dflt", "26", "X", "-2", "null"},
                  {"14", "e", "E", "NULL", "NULL", "12", "text"},
                  {"15", "f", "F", "", "", "2147483647", "max"},
                  {"16", "g", "G", "", "", "-2147483648", "min"}}));

  // Values that cannot be converted stop the step.
  const std::pair<const char*, const char*> cases[] = {
      {"(3,'c','C',NULL,'X','26')", "Invalid use of Null"},     // iBVID Null
      {"(3,'c','C',2147483648,'X','26')", "Overflow"},          // iBVID too large
      {"(3,NULL,'A7 2',1,'X','26')", "Invalid use of Null"},    // continuation, cVouchID Null
      {"(3,'c','A7 2',1,'X',NULL)", "Invalid use of Null"}};    // continuation, type Null
  for (const auto& [row, error] : cases) {
    SCOPED_TRACE(row);
    Exec(src_, std::string("DELETE FROM Ap_Detail; INSERT INTO Ap_Detail(Auto_ID, cVouchID,"
                           " cCoVouchID, iBVID, cInvCode, cCoVouchType) VALUES"
                           "(1,'a','A',1,'X','26'),(2,'b','B',2,'X','26'),") + row + ";");
    std::string trace = Run({MigrateApDetail}, error);
    // No batch save; the rows before the failing one were saved by AddNew.
    EXPECT_EQ(trace.find("B\t"), std::string::npos) << trace;
    EXPECT_EQ(Query(tgt_, "SELECT cVouchID, iBVID FROM Ap_Detail ORDER BY Auto_ID"),
              (Rows{{"a", "1"}, {"b", "2"}}));
  }
}

TEST_F(LedgerTest, InputCodesCopiedThenCodeAdded) {
  Exec(src_, kInputCodeTable + ");");
  Exec(tgt_, kInputCodeTable + ", bSys INTEGER DEFAULT 0, UNIQUE(cNum, cFlag));"
             "INSERT INTO Ap_InputCode(cNum, cFlag) VALUES('old', 'RP');");
  const std::string head = CopyHead("Ap_InputCode", 3);
  EXPECT_EQ(Run({MigrateInputCodes}), head + Lines({kInsert49}));  // empty source
  EXPECT_EQ(Query(tgt_, "SELECT cNum, cNote, cNote_f, cFlag, cArCode, cArCodeName, cApCode,"
                        " cApCodeName, bSys FROM Ap_InputCode"),
            (Rows{{"49", kNote, "dhcyrzkm", "RP", "NULL", "NULL", "NULL", "NULL", "0"}}));

  Exec(src_, "INSERT INTO Ap_InputCode VALUES"
             "(5,'01','Note a','a','AR','1122','Recv',NULL,NULL),"
             "(9,'02','Note b','b','AP',NULL,NULL,'2202','Pay');");
  EXPECT_EQ(Run({MigrateInputCodes}), head + Lines({"B\t2", kInsert49}));
  EXPECT_EQ(Query(tgt_, "SELECT Auto_ID, cNum, cNote, cFlag, cArCode, cApCodeName"
                        " FROM Ap_InputCode ORDER BY Auto_ID"),
            (Rows{{"1", "01", "Note a", "AR", "1122", "NULL"},
                  {"2", "02", "Note b", "AP", "NULL", "Pay"},
                  {"3", "49", kNote, "RP", "NULL", "NULL"}}));

  // A copied code 49 makes the added one clash: the target's text, after the copy.
  Exec(src_, "DELETE FROM Ap_InputCode; INSERT INTO Ap_InputCode(cNum, cFlag) VALUES('49','RP');");
  EXPECT_EQ(Run({MigrateInputCodes},
                "UNIQUE constraint failed: Ap_InputCode.cNum, Ap_InputCode.cFlag"),
            head + Lines({"B\t1", kInsert49}));
  EXPECT_EQ(Query(tgt_, "SELECT cNum, cNote FROM Ap_InputCode"), (Rows{{"49", "NULL"}}));
}

TEST_F(LedgerTest, OptionsCarriedOptionByOption) {
  Exec(src_, kOptionsTable);
  Exec(tgt_, kOptionsTable + "INSERT INTO AccInformation VALUES('AP','bQuote','old'),"
             "('AP','cEmpty','old'),('AP','cNull','old'),('AR','cPlain','old'),"
             "('AR','cKept','8.20'),('GL','cPlain','old');");
  Exec(src_, "INSERT INTO AccInformation VALUES('GL','cPlain','gl'),('AR','cPlain','5'),"
             "('AR','cAbsent','x'),('AP','cNull',NULL),('AP','cEmpty',''),"
             "('AP','bQuote','it''s');");
  EXPECT_EQ(
      Run({TransferOptions}),
      Lines({kOptionsQuery,
             "X\tUpdate AccInformation Set cValue='it''s' Where cSysID='AP' And cName='bQuote'",
             "X\tUpdate AccInformation Set cValue='' Where cSysID='AP' And cName='cEmpty'",
             "X\tUpdate AccInformation Set cValue=Null Where cSysID='AP' And cName='cNull'",
             "X\tUpdate AccInformation Set cValue='x' Where cSysID='AR' And cName='cAbsent'",
             "X\tUpdate AccInformation Set cValue='5' Where cSysID='AR' And cName='cPlain'"}));
  EXPECT_EQ(Query(tgt_, "SELECT cSysID, cName, cValue, typeof(cValue) FROM AccInformation"
                        " ORDER BY cSysID, cName"),
            (Rows{{"AP", "bQuote", "it's", "text"}, {"AP", "cEmpty", "", "text"},
                  {"AP", "cNull", "NULL", "null"}, {"AR", "cKept", "8.20", "text"},
                  {"AR", "cPlain", "5", "text"}, {"GL", "cPlain", "old", "text"}}));

  // A rejected statement stops the step with the target's text.
  Exec(tgt_, "UPDATE AccInformation SET cValue = 'old';"
             "CREATE TRIGGER refuse BEFORE UPDATE ON AccInformation WHEN NEW.cSysID = 'AR'"
             " BEGIN SELECT RAISE(ABORT, 'AR options are read-only'); END;");
  Run({TransferOptions}, "AR options are read-only");
  EXPECT_EQ(Query(tgt_, "SELECT cValue FROM AccInformation WHERE cName IN ('cEmpty','cPlain')"
                        " ORDER BY cSysID"),
            (Rows{{""}, {"old"}, {"old"}}));
}

// Within one run the ledger steps share the table recordset: step 3 opens it
// with the set-up's optimistic lock, step 10 makes it pessimistic, and step 11
// keeps that.
TEST_F(LedgerTest, LockTypeCarriesFromStepToStep) {
  for (const std::string& db : {src_, tgt_})
    Exec(db, "CREATE TABLE Ap_CancelNo(cFlag TEXT, cType TEXT, iCancelNo INTEGER);"
             "CREATE TABLE Ap_Detail(Auto_ID INTEGER PRIMARY KEY, cVouchID TEXT, cCoVouchID TEXT,"
             " cCoVouchType TEXT, cInvCode TEXT, iBVID INTEGER);" +
                 kInputCodeTable + ");" + kOptionsTable);
  Exec(src_, "INSERT INTO Ap_CancelNo VALUES('P','A',1);"
             "INSERT INTO Ap_Detail VALUES(1,'V','C','26','X',3);"
             "INSERT INTO AccInformation VALUES('AR','c','v');");
  EXPECT_EQ(Run({MigrateCancelNumbers, MigrateApDetail, MigrateInputCodes, TransferOptions}),
            CopyHead("Ap_CancelNo", 3, kCancelSelect) + "B\t1\n" + CopyHead("Ap_Detail", 2) +
                "B\t1\n" + CopyHead("Ap_InputCode", 2) +
                Lines({kInsert49, kOptionsQuery,
                       "X\tUpdate AccInformation Set cValue='v' Where cSysID='AR' And cName='c'"}));
}

}  // namespace
}  // namespace velaccap
