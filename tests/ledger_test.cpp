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

std::string SaleLookup(const std::string& type, const std::string& code, const std::string& inv) {
  return "Q\tSelect AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON "
         "SaleBillVouchs.SBVID=SaleBillVouch.SBVID Where cVouchType='" +
         type + "' and cSBVCode='" + code + "' and cInvCode='" + inv + "'";
}

std::string PurLookup(const std::string& type, const std::string& code, const std::string& inv) {
  return "Q\tSelect ID From PurBillVouchs INNER JOIN PurBillVouch ON "
         "PurBillVouchs.PBVID=PurBillVouch.PBVID Where cPBVBillType='" +
         type + "' and cPBVCode='" + code + "' and cInvCode='" + inv + "'";
}

class LedgerTest : public ::testing::Test {
 protected:
  // Runs the steps in one context, as the run would, on fresh connections.
  // Returns the trace; a failure leaves its text in error_.
  std::string Run(std::initializer_list<Step> steps) {
    std::ostringstream trace;
    error_.clear();
    try {
      auto src = OpenSqliteSource(src_);
      auto tgt = OpenSqliteTarget(tgt_);
      auto tsrc = TraceSource(*src, trace);
      auto ttgt = TraceTarget(*tgt, trace);
      RunContext ctx{*tsrc, *ttgt, ttgt->NewRecordset()};
      for (const Step& step : steps) step(ctx);
    } catch (const Error& e) {
      error_ = e.what();
    }
    return trace.str();
  }

  testsupport::TempDir dir_;
  std::string src_ = dir_.file("source.db");
  std::string tgt_ = dir_.file("target.db");
  std::string error_;
};

// ------------------------------------------------------- cancellation numbers

class CancelNumbersTest : public LedgerTest {
 protected:
  void SetUp() override {
    Exec(src_, "CREATE TABLE Ap_CancelNo(Auto_ID INTEGER PRIMARY KEY, cFlag TEXT, cType TEXT,"
               " iCancelNo INTEGER);");
    // cNote is not written by the step and keeps its default.
    Exec(tgt_, "CREATE TABLE Ap_CancelNo(Auto_ID INTEGER PRIMARY KEY, cNote TEXT"
               " DEFAULT 'dflt', iCancelNo INTEGER, cType TEXT, cFlag TEXT);"
               "INSERT INTO Ap_CancelNo(iCancelNo, cType, cFlag) VALUES(99, 'old', 'old');");
  }
};

TEST_F(CancelNumbersTest, OneRowPerGroupWithItsMaximumNullGroupsIncluded) {
  Exec(src_, "INSERT INTO Ap_CancelNo(cFlag, cType, iCancelNo) VALUES"
             "('P','A',5),('P','A',9),('P','A',7),('R','A',3),"  // 9 and 3
             "(NULL,'A',4),(NULL,'A',6),('P',NULL,2),"          // Null flag, Null type
             "('R','B',NULL),('R','B',NULL);");                 // all-Null numbers
  EXPECT_EQ(Run({MigrateCancelNumbers}),
            Lines({"X\tDelete Ap_CancelNo",
                   "S\tSelect Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType",
                   "T\tAp_CancelNo\t3", "B\t5"}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT cFlag, cType, iCancelNo, cNote FROM Ap_CancelNo"
                        " ORDER BY cFlag, cType"),
            (Rows{{"NULL", "A", "6", "dflt"},
                  {"P", "NULL", "2", "dflt"},
                  {"P", "A", "9", "dflt"},
                  {"R", "A", "3", "dflt"},
                  {"R", "B", "NULL", "dflt"}}));
}

TEST_F(CancelNumbersTest, EmptySourceEmptiesTargetWithoutBatchSave) {
  EXPECT_EQ(Run({MigrateCancelNumbers}),
            Lines({"X\tDelete Ap_CancelNo",
                   "S\tSelect Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType",
                   "T\tAp_CancelNo\t3"}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT count(*) FROM Ap_CancelNo"), (Rows{{"0"}}));
}

// ------------------------------------------------------ payables detail ledger

class ApDetailTest : public LedgerTest {
 protected:
  void SetUp() override {
    // iBVID has no declared type, so each row keeps the kind of value given.
    Exec(src_, "CREATE TABLE Ap_Detail(Auto_ID INTEGER PRIMARY KEY, cVouchID TEXT,"
               " cCoVouchID TEXT, cCoVouchType TEXT, cInvCode TEXT, iBVID, cDigest TEXT);");
    // Other column order than the source: columns go by name.
    Exec(tgt_, "CREATE TABLE Ap_Detail(Auto_ID INTEGER PRIMARY KEY, cDigest TEXT,"
               " iBVID INTEGER, cInvCode TEXT, cCoVouchType TEXT, cCoVouchID TEXT DEFAULT 'dflt',"
               " cVouchID TEXT);"
               "INSERT INTO Ap_Detail(cDigest) VALUES('old');"
               "CREATE TABLE SaleBillVouch(SBVID INTEGER, cVouchType TEXT, cSBVCode TEXT);"
               "CREATE TABLE SaleBillVouchs(AutoID INTEGER, SBVID INTEGER, cInvCode TEXT);"
               "CREATE TABLE PurBillVouch(PBVID INTEGER, cPBVBillType TEXT, cPBVCode TEXT);"
               "CREATE TABLE PurBillVouchs(ID INTEGER, PBVID INTEGER, cInvCode TEXT);"
               "INSERT INTO SaleBillVouch VALUES(1,'26','A7'),(2,'27','A7');"
               "INSERT INTO SaleBillVouchs VALUES(501,1,'X'),(502,1,'Y'),(601,2,'X');"
               "INSERT INTO PurBillVouch VALUES(1,'01','P5');"
               "INSERT INTO PurBillVouchs VALUES(701,1,'X');");
  }

  std::string Head() {
    return Lines({"X\tDelete Ap_Detail", "S\tSelect * From Ap_Detail Order By Auto_ID",
                  "T\tAp_Detail\t2"});
  }

  Rows Target() {
    return Query(tgt_, "SELECT Auto_ID, cVouchID, cCoVouchID, cCoVouchType, cInvCode, iBVID,"
                       " cDigest FROM Ap_Detail ORDER BY Auto_ID");
  }
};

TEST_F(ApDetailTest, ContinuationReferencesPointAtParentLine) {
  Exec(src_, "INSERT INTO Ap_Detail VALUES"
             "(10,'V1 a','A7 2','26','X',11,'sale')," // parent A7 of type 26, line for X
             "(20,'V2','A7 2 3','27','X',12,'other type')," // same code, other invoice
             "(30,'V3 b','P5 1','01','X',13,'purchase'),"
             "(40,'V4','A7 9','26','Z',14,'no line'),"     // parent has no line for Z
             "(50,'V5 c','A7','26','Y',15,'ordinary');");  // no blank: copied as it is
  EXPECT_EQ(Run({MigrateApDetail}),
            Head() + Lines({SaleLookup("26", "A7", "X"), SaleLookup("27", "A7", "X"),
                            PurLookup("01", "P5", "X"), SaleLookup("26", "A7", "Z"), "B\t5"}));
  EXPECT_EQ(error_, "");
  // Auto_ID is the target's own numbering.
  EXPECT_EQ(Target(), (Rows{{"1", "V1", "A7", "26", "X", "501", "sale"},
                            {"2", "V2", "A7", "27", "X", "601", "other type"},
                            {"3", "V3", "P5", "01", "X", "701", "purchase"},
                            {"4", "V4", "A7", "26", "Z", "0", "no line"},
                            {"5", "V5 c", "A7", "26", "Y", "15", "ordinary"}}));
}

TEST_F(ApDetailTest, BlanksNullAndEmptyLookupTexts) {
  Exec(src_, "INSERT INTO Ap_Detail VALUES"
             "(1,' V6 q','  A7','26','Y',1,'leading blanks'),"
             "(2,'V7 r','A7 ','26','X',2,'trailing blank'),"
             "(3,'V8 s','   ','26','X',3,'blanks only'),"
             "(4,'V9 t','','26','X',4,'empty'),"
             "(5,'VA u',NULL,'26','X',5,'null'),"
             "(6,'VB v','A7 2','','X',6,'empty type'),"
             "(7,'VC w','A7 2','26',NULL,7,'null item'),"
             "(8,'VD x','A7 2','26','',8,'empty item');");
  // Only the first two have all three lookup texts.
  EXPECT_EQ(Run({MigrateApDetail}),
            Head() + Lines({SaleLookup("26", "A7", "Y"), SaleLookup("26", "A7", "X"), "B\t8"}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Target(), (Rows{{"1", "V6", "A7", "26", "Y", "502", "leading blanks"},
                            {"2", "V7", "A7", "26", "X", "501", "trailing blank"},
                            {"3", "V8", "", "26", "X", "0", "blanks only"},
                            {"4", "V9 t", "", "26", "X", "4", "empty"},
                            {"5", "VA u", "dflt", "26", "X", "5", "null"},
                            {"6", "VB", "A7", "", "X", "0", "empty type"},
                            {"7", "VC", "A7", "26", "NULL", "0", "null item"},
                            {"8", "VD", "A7", "26", "", "0", "empty item"}}));
}

TEST_F(ApDetailTest, ColumnNamesMatchedWithoutLetterCase) {
  Exec(src_, "DROP TABLE Ap_Detail;"
             "CREATE TABLE Ap_Detail(auto_id INTEGER PRIMARY KEY, CVOUCHID TEXT,"
             " ccovouchid TEXT, CCOVOUCHTYPE TEXT, cinvcode TEXT, IBVID INTEGER, AUTO_ID2 TEXT);"
             "INSERT INTO Ap_Detail VALUES(7,'V1 a','A7 2','26','X',11,'kept');");
  Exec(tgt_, "ALTER TABLE Ap_Detail ADD COLUMN Auto_ID2 TEXT;");
  EXPECT_EQ(Run({MigrateApDetail}), Head() + Lines({SaleLookup("26", "A7", "X"), "B\t1"}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT Auto_ID, cVouchID, cCoVouchID, iBVID, Auto_ID2 FROM Ap_Detail"),
            (Rows{{"1", "V1", "A7", "501", "kept"}}));
}

TEST_F(ApDetailTest, LineIdConvertedToInt32) {
  Exec(src_, "INSERT INTO Ap_Detail(Auto_ID, cVouchID, cCoVouchID, iBVID) VALUES"
             "(1,'a','A',7),(2,'b','B',2.5),(3,'c','C',3.5),(4,'d','D',-2.5),"
             "(5,'e','E','12'),(6,'f','F',2147483647),(7,'g','G',-2147483648);");
  EXPECT_EQ(Run({MigrateApDetail}), Head() + Lines({"B\t7"}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT iBVID, typeof(iBVID) FROM Ap_Detail ORDER BY Auto_ID"),
            (Rows{{"7", "integer"},
                  {"2", "integer"},
                  {"4", "integer"},
                  {"-2", "integer"},
                  {"12", "integer"},
                  {"2147483647", "integer"},
                  {"-2147483648", "integer"}}));
}

TEST_F(ApDetailTest, UnconvertibleValuesStopTheStep) {
  struct Case {
    const char* rows;
    const char* error;
  };
  const Case cases[] = {
      {"(3,'c','C',NULL,'X','26')", "Invalid use of Null"},        // iBVID Null
      {"(3,'c','C',2147483648,'X','26')", "Overflow"},             // iBVID too large
      {"(3,NULL,'A7 2',1,'X','26')", "Invalid use of Null"},       // continuation, cVouchID Null
      {"(3,'c','A7 2',1,'X',NULL)", "Invalid use of Null"},        // continuation, type Null
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    Exec(src_, std::string("DELETE FROM Ap_Detail;"
                           "INSERT INTO Ap_Detail(Auto_ID, cVouchID, cCoVouchID, iBVID, cInvCode,"
                           " cCoVouchType) VALUES(1,'a','A',1,'X','26'),(2,'b','B',2,'X','26'),") +
                   c.rows + ";");
    std::string trace = Run({MigrateApDetail});
    EXPECT_EQ(error_, c.error);
    // No batch save; the rows before the failing one were saved by AddNew.
    EXPECT_EQ(trace.find("B\t"), std::string::npos) << trace;
    EXPECT_EQ(Query(tgt_, "SELECT cVouchID, iBVID FROM Ap_Detail ORDER BY Auto_ID"),
              (Rows{{"a", "1"}, {"b", "2"}}));
  }
}

TEST_F(ApDetailTest, EmptySourceEmptiesTargetWithoutBatchSave) {
  EXPECT_EQ(Run({MigrateApDetail}), Head());
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT count(*) FROM Ap_Detail"), (Rows{{"0"}}));
}

// ----------------------------------------------------------------- input codes

constexpr const char kNote[] = "币种兑换差异入账科目";
const std::string kInsert49 =
    "X\tINSERT INTO Ap_Inputcode(cNum,cNote,cNote_f,cFlag,cArCode,cArCodeName,cApCode,cApCodeName)"
    " VALUES('49','币种兑换差异入账科目','dhcyrzkm','RP',Null,Null,Null,Null)";

class InputCodesTest : public LedgerTest {
 protected:
  void SetUp() override {
    const std::string columns =
        "cNum TEXT, cNote TEXT, cNote_f TEXT, cFlag TEXT, cArCode TEXT, cArCodeName TEXT,"
        " cApCode TEXT, cApCodeName TEXT";
    Exec(src_, "CREATE TABLE Ap_InputCode(Auto_ID INTEGER PRIMARY KEY, " + columns + ");");
    Exec(tgt_, "CREATE TABLE Ap_InputCode(Auto_ID INTEGER PRIMARY KEY, " + columns +
                   ", bSys INTEGER DEFAULT 0, UNIQUE(cNum, cFlag));"
                   "INSERT INTO Ap_InputCode(cNum, cFlag) VALUES('old', 'RP');");
  }

  std::string Head() {
    return Lines({"X\tDelete Ap_InputCode", "S\tSelect * From Ap_InputCode Order By Auto_ID",
                  "T\tAp_InputCode\t3"});
  }
};

TEST_F(InputCodesTest, EmptySourceLeavesOnlyTheAddedCode) {
  EXPECT_EQ(Run({MigrateInputCodes}), Head() + Lines({kInsert49}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT cNum, cNote, length(cNote), hex(cNote), cNote_f, cFlag, cArCode,"
                        " cArCodeName, cApCode, cApCodeName, bSys FROM Ap_InputCode"),
            (Rows{{"49", kNote, "10", "E5B881E7A78DE58591E68DA2E5B7AEE5BC82E585A5E8B4A6E7A791E79BAE",
                   "dhcyrzkm", "RP", "NULL", "NULL", "NULL", "NULL", "0"}}));
}

TEST_F(InputCodesTest, FullSourceCopiedThenCodeAdded) {
  Exec(src_, "INSERT INTO Ap_InputCode VALUES"
             "(5,'01','Note a','a','AR','1122','Recv',NULL,NULL),"
             "(9,'02','Note b','b','AP',NULL,NULL,'2202','Pay');");
  EXPECT_EQ(Run({MigrateInputCodes}), Head() + Lines({"B\t2", kInsert49}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT Auto_ID, cNum, cNote, cFlag, cArCode, cApCodeName"
                        " FROM Ap_InputCode ORDER BY Auto_ID"),
            (Rows{{"1", "01", "Note a", "AR", "1122", "NULL"},
                  {"2", "02", "Note b", "AP", "NULL", "Pay"},
                  {"3", "49", kNote, "RP", "NULL", "NULL"}}));
}

TEST_F(InputCodesTest, ClashWithCopiedCodeStopsAfterCopy) {
  Exec(src_, "INSERT INTO Ap_InputCode(Auto_ID, cNum, cFlag) VALUES(1,'49','RP');");
  EXPECT_EQ(Run({MigrateInputCodes}), Head() + Lines({"B\t1", kInsert49}));
  EXPECT_NE(error_.find("UNIQUE"), std::string::npos) << error_;
  EXPECT_EQ(Query(tgt_, "SELECT cNum, cNote FROM Ap_InputCode"), (Rows{{"49", "NULL"}}));
}

// --------------------------------------------------------------------- options

class OptionsTest : public LedgerTest {
 protected:
  void SetUp() override {
    const char* schema = "CREATE TABLE AccInformation(cSysID TEXT, cName TEXT, cValue TEXT);";
    Exec(src_, schema);
    Exec(tgt_, std::string(schema) +
                   "INSERT INTO AccInformation VALUES('AP','bQuote','old'),('AP','cEmpty','old'),"
                   "('AP','cNull','old'),('AR','cPlain','old'),('AR','cKept','8.20'),"
                   "('GL','cPlain','old');");
  }

  const std::string kQuery =
      "S\tSELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP'"
      " ORDER BY cSysID,cName";
};

TEST_F(OptionsTest, ValuesCarriedOptionByOption) {
  Exec(src_, "INSERT INTO AccInformation VALUES('GL','cPlain','gl'),('AR','cPlain','5'),"
             "('AR','cAbsent','x'),('AP','cNull',NULL),('AP','cEmpty',''),"
             "('AP','bQuote','it''s');");
  EXPECT_EQ(
      Run({TransferOptions}),
      Lines({kQuery,
             "X\tUpdate AccInformation Set cValue='it''s' Where cSysID='AP' And cName='bQuote'",
             "X\tUpdate AccInformation Set cValue='' Where cSysID='AP' And cName='cEmpty'",
             "X\tUpdate AccInformation Set cValue=Null Where cSysID='AP' And cName='cNull'",
             "X\tUpdate AccInformation Set cValue='x' Where cSysID='AR' And cName='cAbsent'",
             "X\tUpdate AccInformation Set cValue='5' Where cSysID='AR' And cName='cPlain'"}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT cSysID, cName, cValue, typeof(cValue) FROM AccInformation"
                        " ORDER BY cSysID, cName"),
            (Rows{{"AP", "bQuote", "it's", "text"},
                  {"AP", "cEmpty", "", "text"},
                  {"AP", "cNull", "NULL", "null"},
                  {"AR", "cKept", "8.20", "text"},
                  {"AR", "cPlain", "5", "text"},
                  {"GL", "cPlain", "old", "text"}}));
}

TEST_F(OptionsTest, NoReceivableOrPayableRowsSendNothing) {
  Exec(src_, "INSERT INTO AccInformation VALUES('GL','cPlain','gl'),('ar','cPlain','lower');");
  EXPECT_EQ(Run({TransferOptions}), Lines({kQuery}));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(Query(tgt_, "SELECT count(*) FROM AccInformation WHERE cValue = 'old'"), (Rows{{"5"}}));
}

TEST_F(OptionsTest, RejectedStatementStopsWithTargetText) {
  Exec(src_, "INSERT INTO AccInformation VALUES('AP','cEmpty','new'),('AR','cPlain','5');");
  Exec(tgt_, "CREATE TRIGGER refuse BEFORE UPDATE ON AccInformation WHEN NEW.cSysID = 'AR'"
             " BEGIN SELECT RAISE(ABORT, 'AR options are read-only'); END;");
  Run({TransferOptions});
  EXPECT_EQ(error_, "AR options are read-only");
  EXPECT_EQ(Query(tgt_, "SELECT cValue FROM AccInformation WHERE cSysID <> 'GL'"
                        " AND cName IN ('cEmpty','cPlain') ORDER BY cName"),
            (Rows{{"new"}, {"old"}}));
}

// ----------------------------------------------------------- the steps in a run

// Within one run the ledger steps share the table recordset: step 3 opens it
// with the set-up's optimistic lock, step 10 makes it pessimistic, and step 11
// keeps that.
TEST_F(LedgerTest, LockTypeCarriesFromStepToStep) {
  for (const std::string& db : {src_, tgt_})
    Exec(db, "CREATE TABLE Ap_CancelNo(cFlag TEXT, cType TEXT, iCancelNo INTEGER);"
             "CREATE TABLE Ap_Detail(Auto_ID INTEGER PRIMARY KEY, cVouchID TEXT, cCoVouchID TEXT,"
             " cCoVouchType TEXT, cInvCode TEXT, iBVID INTEGER);"
             "CREATE TABLE Ap_InputCode(Auto_ID INTEGER PRIMARY KEY, cNum TEXT, cNote TEXT,"
             " cNote_f TEXT, cFlag TEXT, cArCode TEXT, cArCodeName TEXT, cApCode TEXT,"
             " cApCodeName TEXT);"
             "CREATE TABLE AccInformation(cSysID TEXT, cName TEXT, cValue TEXT);");
  Exec(src_, "INSERT INTO Ap_CancelNo VALUES('P','A',1);"
             "INSERT INTO Ap_Detail VALUES(1,'V','C','26','X',3);"
             "INSERT INTO AccInformation VALUES('AR','c','v');");
  EXPECT_EQ(Run({MigrateCancelNumbers, MigrateApDetail, MigrateInputCodes, TransferOptions}),
            Lines({"X\tDelete Ap_CancelNo",
                   "S\tSelect Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType",
                   "T\tAp_CancelNo\t3", "B\t1", "X\tDelete Ap_Detail",
                   "S\tSelect * From Ap_Detail Order By Auto_ID", "T\tAp_Detail\t2", "B\t1",
                   "X\tDelete Ap_InputCode", "S\tSelect * From Ap_InputCode Order By Auto_ID",
                   "T\tAp_InputCode\t2", kInsert49,
                   "S\tSELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or "
                   "cSysID='AP' ORDER BY cSysID,cName",
                   "X\tUpdate AccInformation Set cValue='v' Where cSysID='AR' And cName='c'"}));
  EXPECT_EQ(error_, "");
}

}  // namespace
}  // namespace velaccap
