// The invoice steps against real SQLite files: which headers and lines are
// carried, the exact statements of the continuation merge and their order,
// the rows left behind, and the failures that must stop a run.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dbaccess/sqlite.h"
#include "invoices/invoices.h"
#include "invoices/voucher_code.h"
#include "tests/support.h"
#include "velaccap/trace.h"

namespace velaccap {
namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;

// The columns the steps read or write; both schemas share the header list.
const char kSalesHeaderColumns[] =
    "SBVID INTEGER, cSBVCode TEXT, cVouchType TEXT, cSTCode TEXT, dDate TEXT, cDepCode TEXT,"
    " cPersonCode TEXT, cSOCode TEXT, cCusCode TEXT, cPayCode TEXT, cexch_name TEXT, cMemo TEXT,"
    " iExchRate REAL, iTaxRate REAL, bReturnFlag INTEGER, cMaker TEXT, cChecker TEXT, cVerifier TEXT,"
    " bFirst INTEGER, citem_class TEXT, citemcode TEXT, cHeadCode TEXT, cDefine1 TEXT, cDefine2 TEXT,"
    " cDefine3 TEXT, cDefine4 TEXT, cDefine5 TEXT, cDefine6 TEXT, cDefine7 TEXT, cDefine8 TEXT,"
    " cDefine9 TEXT, cDefine10 TEXT, bPayMent INTEGER";
const char kSalesLineColumns[] =
    "AutoID INTEGER, SBVID INTEGER, cInvCode TEXT, iQuantity REAL, iUnitPrice REAL,"
    " iTaxUnitPrice REAL, iMoney REAL, iTax REAL, iSum REAL, iNatUnitPrice REAL, iNatMoney REAL,"
    " iNatTax REAL, iNatSum REAL, iMoneySum REAL, iExchSum REAL, cClue TEXT, dSignDate TEXT,"
    " cMemo TEXT, cFree1 TEXT, cFree2 TEXT, iTaxRate REAL";
const char kPurchaseHeaderColumns[] =
    "PBVID INTEGER, cPBVCode TEXT, cPBVBillType TEXT, cBusType TEXT, dPBVDate TEXT, cDepCode TEXT,"
    " cPersonCode TEXT, cOrderCode TEXT, cVenCode TEXT, cUnitCode TEXT, cPayCode TEXT,"
    " cexch_name TEXT, cPBVMemo TEXT, cExchRate REAL, iPBVTaxRate REAL, dSDate TEXT,"
    " bNegative INTEGER, cPBVMaker TEXT, cPBVVerifier TEXT, bFirst INTEGER, citem_class TEXT,"
    " citemcode TEXT, cHeadCode TEXT, cDefine1 TEXT, cDefine2 TEXT, cDefine3 TEXT, cDefine4 TEXT,"
    " cDefine5 TEXT, cDefine6 TEXT, cDefine7 TEXT, cDefine8 TEXT, cDefine9 TEXT, cDefine10 TEXT,"
    " bPayMent INTEGER";
const char kPurchaseLineTail[] =
    "ID INTEGER, PBVID INTEGER, cInvCode TEXT, dInDate TEXT, iPBVQuantity REAL, iOriCost REAL,"
    " iOriMoney REAL, iOriTaxPrice REAL, iOriSum REAL, iCost REAL, iMoney REAL, iTaxPrice REAL,"
    " iSum REAL, iOriTotal REAL, iTotal REAL, cClue TEXT, dSignDate TEXT, cFree1 TEXT, cFree2 TEXT, ";

std::string ZeroDefaults(std::string columns) {
  for (std::size_t at = columns.find(" REAL"); at != std::string::npos; at = columns.find(" REAL", at + 5))
    columns.insert(at + 5, " DEFAULT 0");
  return columns;
}

// A source and a target with the four invoice tables, traced.
class InvoiceDbs {
 public:
  InvoiceDbs() : src_path_(dir_.file("src.db")), tgt_path_(dir_.file("tgt.db")) {
    // Source amounts default to 0 so that a test names only the values it
    // is about; a Null amount is written out where a test wants one.
    Exec(src_path_, std::string("CREATE TABLE SaleBillVouch (") + kSalesHeaderColumns + ");" +
                        "CREATE TABLE SaleBillVouchs (" + ZeroDefaults(kSalesLineColumns) + ");" +
                        "CREATE TABLE PurBillVouch (" + kPurchaseHeaderColumns + ");" +
                        "CREATE TABLE PurBillVouchs (" + ZeroDefaults(kPurchaseLineTail) +
                        "iPBVTaxRate REAL);");
    Exec(tgt_path_, std::string("CREATE TABLE SaleBillVouch (") + kSalesHeaderColumns + ");" +
                        "CREATE TABLE SaleBillVouchs (" + kSalesLineColumns + ");" +
                        "CREATE TABLE PurBillVouch (" + kPurchaseHeaderColumns + ");" +
                        "CREATE TABLE PurBillVouchs (" + kPurchaseLineTail + "iTaxRate REAL);");
  }

  void Source(const std::string& sql) { Exec(src_path_, sql); }
  void Target(const std::string& sql) { Exec(tgt_path_, sql); }
  Rows TargetRows(const std::string& sql) { return Query(tgt_path_, sql); }

  // Opens both files; call after the rows are in.
  RunContext Open() {
    src_raw_ = OpenSqliteSource(src_path_);
    tgt_raw_ = OpenSqliteTarget(tgt_path_);
    src_ = TraceSource(*src_raw_, trace_);
    tgt_ = TraceTarget(*tgt_raw_, trace_);
    RunContext ctx{*src_, *tgt_, tgt_->NewRecordset()};
    ctx.table->set_lock_type(LockType::Optimistic);
    return ctx;
  }

  // Opens both files and runs a header step, forgetting its trace.
  RunContext OpenAfter(void (*headers)(RunContext&)) {
    RunContext ctx = Open();
    headers(ctx);
    TakeTrace();
    return ctx;
  }

  TargetConnection& target() { return *tgt_; }

  // The trace lines written since the last call.
  std::vector<std::string> TakeTrace() {
    std::vector<std::string> lines;
    std::istringstream in(trace_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    trace_.str("");
    return lines;
  }

 private:
  testsupport::TempDir dir_;
  std::string src_path_, tgt_path_;
  std::ostringstream trace_;
  std::unique_ptr<SourceDatabase> src_raw_, src_;
  std::unique_ptr<TargetConnection> tgt_raw_, tgt_;
};

// ------------------------------------------------------------ voucher codes

TEST(VoucherCodeTest, FirstWordSplitsOnBlanksOnly) {
  EXPECT_EQ(GetFirstWord("A7 2 3"), "A7");
  EXPECT_EQ(GetFirstWord("   A7  2"), "A7");
  EXPECT_EQ(GetFirstWord("A7 "), "A7");
  EXPECT_EQ(GetFirstWord(""), "");
  EXPECT_EQ(GetFirstWord("   "), "");
  EXPECT_EQ(GetFirstWord("A7\t2"), "A7\t2");
  EXPECT_EQ(GetFirstWord("\tA7 2"), "\tA7");
}

TEST(VoucherCodeTest, DetailLineIdLooksUpTheFamilyOfTheVouchType) {
  InvoiceDbs dbs;
  dbs.Target(
      "INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType) VALUES (1, 'S''1', '26'), (2, 'S2', '2'), (3, 'S3', '26');"
      "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode) VALUES (11, 1, 'I''1'), (12, 1, 'I2'), (21, 2, 'I2'),"
      " (4294967296, 3, 'I1'), (NULL, 3, 'I2');"
      "INSERT INTO PurBillVouch (PBVID, cPBVCode, cPBVBillType) VALUES (5, 'P1', '01'), (6, 'P2', ' 2');"
      "INSERT INTO PurBillVouchs (ID, PBVID, cInvCode) VALUES (51, 5, 'I1'), (61, 6, 'I2');");
  RunContext ctx = dbs.Open();
  TargetConnection& cn = dbs.target();
  EXPECT_EQ(GetDetailLineId("26", "S'1", "I'1", cn), 11);
  EXPECT_EQ(GetDetailLineId("26", "S'1", "I2", cn), 12);
  EXPECT_EQ(GetDetailLineId("2", "S2", "I2", cn), 21);
  EXPECT_EQ(GetDetailLineId("26", "S'1", "I9", cn), 0);
  EXPECT_EQ(GetDetailLineId(" 2", "P2", "I2", cn), 61);
  EXPECT_EQ(GetDetailLineId("A2", "P1", "I1", cn), 0);  // a type of no sales family reads purchases
  std::vector<std::string> trace = dbs.TakeTrace();
  ASSERT_EQ(trace.size(), 6u);
  EXPECT_EQ(trace[0],
            "Q\tSelect AutoID From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID="
            "SaleBillVouch.SBVID Where cVouchType='26' and cSBVCode='S''1' and cInvCode='I''1'");
  EXPECT_EQ(trace[5],
            "Q\tSelect ID From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID="
            "PurBillVouch.PBVID Where cPBVBillType='A2' and cPBVCode='P1' and cInvCode='I1'");
  // An empty text sends nothing at all.
  EXPECT_EQ(GetDetailLineId("", "S2", "I2", cn), 0);
  EXPECT_EQ(GetDetailLineId("2", "", "I2", cn), 0);
  EXPECT_EQ(GetDetailLineId("2", "S2", "", cn), 0);
  EXPECT_TRUE(dbs.TakeTrace().empty());
  // An id that is no 32-bit integer, or Null, is an error.
  EXPECT_THROW(GetDetailLineId("26", "S3", "I1", cn), Error);
  EXPECT_THROW(GetDetailLineId("26", "S3", "I2", cn), Error);
  // The slot of the run is not the lookup's recordset.
  EXPECT_FALSE(ctx.table->is_open());
}

// ------------------------------------------------------------ headers, lines

// Purchase lines take their tax rate from the line's iPBVTaxRate.
TEST(InvoiceCopyTest, PurchaseHeadersAndLinesTurnTheRunPessimistic) {
  InvoiceDbs dbs;
  dbs.Source(
      "INSERT INTO PurBillVouch (PBVID, cPBVCode, cPBVBillType, cBusType, cExchRate, iPBVTaxRate, cUnitCode,"
      " dSDate, cPBVMaker, cDefine10, bPayMent)"
      " VALUES (2, 'P2', '01', NULL, 6.5, 99, 'U', '2001-02-03', 'mk', 'd10', 1),"
      "        (1, 'P1 b', '01', NULL, 1, 0, NULL, NULL, NULL, NULL, 0),"
      "        (3, 'P3', '01', 'busy', 1, 0, NULL, NULL, NULL, NULL, 0);"
      "INSERT INTO PurBillVouchs (ID, PBVID, cInvCode, dInDate, iPBVQuantity, iTotal, iPBVTaxRate) VALUES"
      " (20, 2, 'I1', '2002-03-04', -2, 7.25, 6), (21, 2, 'I3', NULL, 1, 1, NULL), (30, 3, 'I1', NULL, 1, 1, 1);");
  RunContext ctx = dbs.Open();
  MigratePurchaseHeaders(ctx);
  EXPECT_EQ(ctx.table->lock_type(), LockType::Pessimistic);
  EXPECT_EQ(dbs.TargetRows("SELECT PBVID, cPBVCode, cPBVBillType, cBusType, cExchRate, iPBVTaxRate, cUnitCode,"
                           " dSDate, cPBVMaker, cDefine10, bPayMent FROM PurBillVouch"),
            (Rows{{"2", "P2", "01", "NULL", "6.5", "99.0", "U", "2001-02-03", "mk", "d10", "1"}}));
  MigratePurchaseDetails(ctx);
  EXPECT_EQ(dbs.TargetRows("SELECT ID, PBVID, cInvCode, dInDate, iPBVQuantity, iTotal, iTaxRate"
                           " FROM PurBillVouchs ORDER BY ID"),
            (Rows{{"20", "2", "I1", "2002-03-04", "-2.0", "7.25", "6.0"},
                  {"21", "2", "I3", "NULL", "1.0", "1.0", "NULL"}}));
}

TEST(InvoiceCopyTest, AMappedFieldTheSourceLacksStopsAfterTheDelete) {
  InvoiceDbs dbs;
  dbs.Source("ALTER TABLE SaleBillVouch DROP COLUMN cDefine7;"
             "INSERT INTO SaleBillVouch (SBVID, cSBVCode) VALUES (1, 'A1');");
  dbs.Target("INSERT INTO SaleBillVouch (SBVID, cSBVCode) VALUES (9, 'A9');");
  RunContext ctx = dbs.Open();
  EXPECT_THROW(MigrateSalesHeaders(ctx), Error);
  EXPECT_TRUE(dbs.TargetRows("SELECT SBVID FROM SaleBillVouch").empty());
}

// With nothing to carry both steps still clear the owned rows, save nothing
// and, with nothing to merge, leave the closed recordset in the slot.
TEST(InvoiceCopyTest, NothingToCarryStillClearsTheOwnedRows) {
  InvoiceDbs dbs;
  dbs.Source("INSERT INTO SaleBillVouch (SBVID, cSBVCode, cSTCode) VALUES (1, 'A 1', NULL), (2, 'A2', 'X');");
  dbs.Target("INSERT INTO SaleBillVouch (SBVID, cSBVCode, cSTCode) VALUES (1, 'A1', NULL), (2, 'A2', 'X');"
             "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode) VALUES (10, 1, 'I'), (20, 2, 'I');");
  RunContext ctx = dbs.Open();
  TargetRecordset* slot = ctx.table.get();
  MigrateSalesDetails(ctx);
  EXPECT_EQ(dbs.TakeTrace().size(), 4u);  // delete, copy query, open, merge query
  EXPECT_EQ(dbs.TargetRows("SELECT AutoID FROM SaleBillVouchs"), (Rows{{"20"}}));
  EXPECT_EQ(ctx.table.get(), slot);
  EXPECT_FALSE(ctx.table->is_open());
  MigrateSalesHeaders(ctx);
  EXPECT_EQ(dbs.TakeTrace().size(), 3u);  // delete, query, open
  EXPECT_EQ(dbs.TargetRows("SELECT SBVID FROM SaleBillVouch"), (Rows{{"2"}}));
}

// ------------------------------------------------------------------- merge

// Parent A1 of type 26 has two lines of item X; A1 of type 27 is another
// invoice. Continuations A1 2 and A1 3 (and A1 9 of type 27) follow; A1 8 is
// owned elsewhere, header 7 has no code and header 8 is missing.
TEST(InvoiceMergeTest, SalesHeadersAndLinesCopiedThenMergedIntoEveryMatch) {
  InvoiceDbs dbs;
  dbs.Source(
      "INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType, cSTCode, cMemo, iTaxRate, cMaker, cChecker) VALUES"
      " (1, 'A1', '26', NULL, 'head', 99, 'cy', 'dee'), (2, 'A1', '27', NULL, NULL, NULL, NULL, 'eve'),"
      " (3, 'A1 2', '26', NULL, 'c', 99, 'ann', NULL), (4, 'A1 3 z', '26', NULL, NULL, NULL, 'ann', NULL),"
      " (5, 'A1 9', '27', NULL, NULL, NULL, 'ann', NULL), (6, 'A1 8', '26', 'X', NULL, NULL, 'ann', NULL),"
      " (7, NULL, '26', NULL, NULL, NULL, 'ann', NULL), (10, 'A\t7', '26', NULL, NULL, 17, 'ann', 'bob'),"
      " (11, ' A3', '26', NULL, NULL, NULL, 'ann', NULL), (12, 'A5 ', '26', NULL, NULL, NULL, 'ann', NULL);"
      "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode, iQuantity, iSum, iNatSum, iMoneySum, iExchSum,"
      " cMemo, iTaxRate) VALUES"
      " (11, 1, 'X', 2, 20, 20, 20, 20, 'b', 17), (12, 1, 'Y', 1, 10, 10, 10, 10, NULL, 17),"
      " (20, 2, 'X', 1, 10, 10, 10, 10, NULL, 17), (31, 3, 'X', -1, -5, -5, -5, -5, 'ignored', 17),"
      " (32, 3, 'Z', 3, 30, 30, 30, 30, NULL, 13), (33, 3, 'W', 1, 1, 1, 1, 1, '', 13),"
      " (41, 4, 'Z', 2, 20, 20, 20, 20, 'second', 17), (51, 5, 'X', 7, 70, 70, 70, 70, NULL, 17),"
      " (61, 6, 'X', 100, 100, 100, 100, 100, NULL, 17), (71, 7, 'X', 5, 5, 5, 5, 5, NULL, 17),"
      " (81, 8, 'X', 5, 5, 5, 5, 5, NULL, 17);"
      "INSERT INTO SaleBillVouchs VALUES (10, 1, 'X', 1, 0, 0, 0, 0, 10, 0, 0, 0, 10, 10, 10, 'c', '2001-01-01',"
      " 'a', 'f1', 'f2', 17);");
  dbs.Target("INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType, cSTCode, cMaker) VALUES"
             " (9, 'K9', '26', 'kept', 'x'), (101, 'G1', '26', NULL, 'gone');"
             "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode) VALUES (90, 9, 'K'), (95, 99, 'orphan');");
  RunContext ctx = dbs.OpenAfter(MigrateSalesHeaders);
  // The checker takes the maker; the marker field is never written; a tab is
  // no blank; a Null stays Null; duplicates of code are both carried.
  EXPECT_EQ(dbs.TargetRows("SELECT SBVID, cSBVCode, cSTCode, cMaker, cChecker, cMemo, iTaxRate"
                           " FROM SaleBillVouch ORDER BY rowid"),
            (Rows{{"9", "K9", "kept", "x", "NULL", "NULL", "NULL"}, {"1", "A1", "NULL", "cy", "cy", "head", "99.0"},
                  {"2", "A1", "NULL", "NULL", "NULL", "NULL", "NULL"}, {"10", "A\t7", "NULL", "ann", "ann", "NULL", "17.0"}}));
  EXPECT_FALSE(ctx.table->is_open());

  dbs.Target("INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode) VALUES (99, 1, 'stale');");
  MigrateSalesDetails(ctx);
  EXPECT_EQ(dbs.TargetRows("SELECT AutoID, SBVID, cInvCode, iQuantity, iSum, iNatSum, iMoneySum, iExchSum,"
                           " cMemo, typeof(cMemo), iTaxRate FROM SaleBillVouchs ORDER BY AutoID"),
            (Rows{{"10", "1", "X", "0.0", "5.0", "5.0", "5.0", "5.0", "a", "text", "17.0"},
                  {"11", "1", "X", "1.0", "15.0", "15.0", "15.0", "15.0", "b", "text", "17.0"},
                  {"12", "1", "Y", "1.0", "10.0", "10.0", "10.0", "10.0", "NULL", "null", "17.0"},
                  {"20", "2", "X", "8.0", "80.0", "80.0", "80.0", "80.0", "NULL", "null", "17.0"},
                  {"32", "1", "Z", "5.0", "50.0", "50.0", "50.0", "50.0", "NULL", "null", "13.0"},
                  {"33", "1", "W", "1.0", "1.0", "1.0", "1.0", "1.0", "", "text", "13.0"},
                  {"90", "9", "K", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "null", "NULL"},
                  {"95", "99", "orphan", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "null", "NULL"}}));
  EXPECT_EQ(dbs.TargetRows("SELECT cClue, dSignDate, cFree1, cFree2 FROM SaleBillVouchs WHERE AutoID = 10"),
            (Rows{{"c", "2001-01-01", "f1", "f2"}}));

  // The Null memo goes in as the word Null, the empty one as ''; the parent
  // query runs for every line, also when the update finds one.
  std::vector<std::string> inserts;
  int parent_queries = 0;
  for (const std::string& line : dbs.TakeTrace()) {
    if (line.rfind("X\tInsert Into SaleBillVouchs", 0) == 0) inserts.push_back(line.substr(line.find("Values(")));
    if (line.rfind("X\tSelect * From SaleBillVouchs INNER JOIN", 0) == 0) ++parent_queries;
  }
  EXPECT_EQ(inserts, (std::vector<std::string>{"Values(1,32,'Z',3,0,0,0,0,30,0,0,0,30,30,30,Null,13)",
                                               "Values(1,33,'W',1,0,0,0,0,1,0,0,0,1,1,1,'',13)"}));
  EXPECT_EQ(parent_queries, 5);
}

// Steps 6 to 9 back to back: every operation in order, with the lock type
// each table is opened with and the exact statements of one continuation
// line per kind, with negative amounts and quotes inside the values.
TEST(InvoiceMergeTest, FourStepsInOrder) {
  InvoiceDbs dbs;
  dbs.Source(
      "INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType) VALUES (1, 'Q''1', '26'), (2, 'Q''1 x', '26');"
      "INSERT INTO SaleBillVouchs VALUES"
      " (10, 1, 'O', 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, NULL, NULL, NULL, NULL, NULL, 17),"
      " (20, 2, 'K''1', -2, 1.5, 1.75, -3, -0.5, -3.5, 1.5, -3, -0.5, -3.25, -3.125, -3.0625,"
      "  'clue', '2001-01-01', 'it''s', 'f1', 'f2', 17);"
      "INSERT INTO PurBillVouch (PBVID, cPBVCode, cPBVBillType, iPBVTaxRate) VALUES"
      " (1, 'P''7', '0''1', 99), (2, '  P''7 b c', '0''1', 99);"
      "INSERT INTO PurBillVouchs VALUES"
      " (10, 1, 'O', NULL, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, NULL, NULL, NULL, NULL, 13),"
      " (30, 2, 'M''2', '2001-01-01', -4, 2.5, -10, 2.75, -11, 2.5, -10, 2.75, -11, -11.5, -12, 'c',"
      "  '2001-01-01', 'f1', 'f2', 13);");
  RunContext ctx = dbs.Open();
  MigrateSalesHeaders(ctx);
  MigrateSalesDetails(ctx);
  MigratePurchaseHeaders(ctx);
  MigratePurchaseDetails(ctx);
  EXPECT_EQ(
      dbs.TakeTrace(),
      (std::vector<std::string>{
          "X\tDelete SaleBillVouch Where cSTCode Is Null",
          "S\tSelect * From SaleBillVouch Where cSTCode Is Null And Instr(cSBVCode,' ')=0 Order By SBVID",
          "T\tSaleBillVouch\t3",
          "B\t1",
          "X\tDelete SaleBillVouchs From SaleBillVouch Where cSTCode Is Null And "
          "SaleBillVouchs.SBVID=SaleBillVouch.SBVID",
          "S\tSelect * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID"
          "  Where cSTCode Is Null And Instr(cSBVCode,' ')=0 Order By SaleBillVouchs.SBVID,SaleBillVouchs.AutoID",
          "T\tSaleBillVouchs\t3",
          "B\t1",
          "S\tSelect * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID"
          "  Where cSTCode Is Null And Instr(cSBVCode,' ')>0 Order By SaleBillVouchs.SBVID,SaleBillVouchs.AutoID",
          "X\tSelect * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID="
          "SaleBillVouch.SBVID Where cVouchType='26' And cSBVCode='Q''1'",
          "X\tUpdate SaleBillVouchs Set iQuantity=iQuantity+-2,iSum=iSum+-3.5,iNatSum=iNatSum+-3.25,"
          "iMoneySum=iMoneySum+-3.125,iExchSum=iExchSum+-3.0625 From SaleBillVouch Where "
          "SaleBillVouchs.SBVID=SaleBillVouch.SBVID And SaleBillVouch.cVouchType='26' And "
          "SaleBillVouch.cSBVCode='Q''1' And SaleBillVouchs.cInvCode='K''1'",
          "X\tInsert Into SaleBillVouchs (SBVID,AutoID,cInvCode,iQuantity,iUnitPrice,iTaxUnitPrice,"
          "iMoney,iTax,iSum,iNatUnitPrice,iNatMoney,iNatTax,iNatSum,iMoneySum,iExchSum,cMemo,iTaxRate)"
          " Values(1,20,'K''1',-2,1.5,1.75,-3,-0.5,-3.5,1.5,-3,-0.5,-3.25,-3.125,-3.0625,'it''s',17)",
          "X\tDelete PurBillVouch Where cBusType Is Null",
          "S\tSelect * From PurBillVouch Where cBusType Is Null And Instr(cPBVCode,' ')=0 Order By PBVID",
          "T\tPurBillVouch\t2",
          "B\t1",
          "X\tDelete PurBillVouchs From PurBillVouch Where cBusType Is Null And "
          "PurBillVouchs.PBVID=PurBillVouch.PBVID",
          "S\tSelect * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID"
          "  Where cBusType Is Null And Instr(cPBVCode,' ')=0 Order By PurBillVouchs.PBVID,PurBillVouchs.ID",
          "T\tPurBillVouchs\t2",
          "B\t1",
          "S\tSelect * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID"
          "  Where cBusType Is Null And Instr(cPBVCode,' ')>0 Order By PurBillVouchs.PBVID,PurBillVouchs.ID",
          "X\tSelect * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID="
          "PurBillVouch.PBVID Where cPBVBillType='0''1' And cPBVCode='P''7'",
          "X\tUpdate PurBillVouchs Set iPBVQuantity=iPBVQuantity+-4,iSum=iSum+-11,iOriSum=iOriSum+-11,"
          "iTotal=iTotal+-12,iOriTotal=iOriTotal+-11.5 From PurBillVouch Where "
          "PurBillVouchs.PBVID=PurBillVouch.PBVID And PurBillVouch.cPBVBillType='0''1' And "
          "PurBillVouch.cPBVCode='P''7' And PurBillVouchs.cInvCode='M''2'",
          "X\tInsert Into PurBillVouchs (PBVID,ID,cInvCode,iPBVQuantity,iOriCost,iOriMoney,iOriTaxPrice,"
          "iOriSum,iCost,iMoney,iTaxPrice,iSum,iOriTotal,iTotal,iTaxRate)"
          " Values(1,30,'M''2',-4,2.5,-10,2.75,-11,2.5,-10,2.75,-11,-11.5,-12,13)",
      }));
  // Appended lines carry no clue, sign date, in date or free columns.
  EXPECT_EQ(dbs.TargetRows("SELECT SBVID, cInvCode, iQuantity, cMemo, cClue, dSignDate, cFree1, cFree2"
                           " FROM SaleBillVouchs WHERE AutoID = 20"),
            (Rows{{"1", "K'1", "-2.0", "it's", "NULL", "NULL", "NULL", "NULL"}}));
  EXPECT_EQ(dbs.TargetRows("SELECT PBVID, cInvCode, iPBVQuantity, iTaxRate, dInDate, cClue, cFree1 FROM PurBillVouchs"
                           " WHERE ID = 30"),
            (Rows{{"1", "M'2", "-4.0", "13.0", "NULL", "NULL", "NULL"}}));
}

TEST(InvoiceMergeTest, AParentWithoutLinesStopsWithTheTargetsDescription) {
  InvoiceDbs dbs;
  dbs.Source(
      "INSERT INTO PurBillVouch (PBVID, cPBVCode, cPBVBillType, cBusType) VALUES"
      " (1, 'P1', '01', NULL), (2, 'P1 a', '01', NULL), (3, 'P9', '01', NULL), (4, 'P9 a', '01', NULL);"
      "INSERT INTO PurBillVouchs (ID, PBVID, cInvCode, iPBVQuantity, iSum, iOriSum, iTotal, iOriTotal)"
      " VALUES (10, 1, 'I', 1, 1, 1, 1, 1), (20, 2, 'I', 2, 2, 2, 2, 2), (40, 4, 'I', 4, 4, 4, 4, 4);");
  RunContext ctx = dbs.OpenAfter(MigratePurchaseHeaders);
  // What the target says when a field of an empty result is read.
  std::string expected;
  try {
    dbs.target().ExecuteQuery("Select * From PurBillVouch Where PBVID=-1")->field_value(std::string_view("PBVID"));
  } catch (const Error& e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());
  dbs.TakeTrace();
  try {
    MigratePurchaseDetails(ctx);
    FAIL() << "a parent without lines must stop the run";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), expected);
  }
  // The line before the failure stays merged; nothing was appended to P9.
  EXPECT_EQ(dbs.TargetRows("SELECT ID, PBVID, iPBVQuantity FROM PurBillVouchs ORDER BY ID"), (Rows{{"10", "1", "3.0"}}));
}

TEST(InvoiceMergeTest, ANullAmountMakesTheTargetRejectTheUpdate) {
  InvoiceDbs dbs;
  dbs.Source(
      "INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType) VALUES (1, 'A1', '26'), (2, 'A1 2', '26');"
      "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode, iQuantity, iSum, iNatSum, iMoneySum, iExchSum)"
      " VALUES (10, 1, 'I', 1, 1, 1, 1, 1), (20, 2, 'I', 1, NULL, 1, 1, 1);");
  RunContext ctx = dbs.OpenAfter(MigrateSalesHeaders);
  EXPECT_THROW(MigrateSalesDetails(ctx), Error);
  std::vector<std::string> trace = dbs.TakeTrace();
  ASSERT_FALSE(trace.empty());
  EXPECT_NE(trace.back().find("iQuantity=iQuantity+1,iSum=iSum+,iNatSum"), std::string::npos) << trace.back();
  EXPECT_EQ(dbs.TargetRows("SELECT iQuantity FROM SaleBillVouchs"), (Rows{{"1.0"}}));
}

}  // namespace
}  // namespace velaccap

namespace velaccap {
namespace {

// A number column of a loosely typed source can hold text. Standing in a
// statement, it would become part of the statement: the run stops before
// sending it, naming the line, the column and the value.
TEST(InvoiceMergeTest, AValueThatIsNotANumberStopsTheRunBeforeTheStatement) {
  struct Case {
    const char* column;  // of the continuation line
    const char* value;   // SQL for the value stored there
    bool appended;       // the line's item is new to the parent: the insert carries it
    const char* shown;
  };
  const Case cases[] = {
      {"iQuantity", "'0 Where 0; DELETE FROM SaleBillVouch; --'", false,
       "iQuantity holds '0 Where 0; DELETE FROM SaleBillVouch; --', which is not a number"},
      {"iSum", "'1000000 --'", false, "iSum holds '1000000 --', which is not a number"},
      {"iExchSum", "'abc'", false, "iExchSum holds 'abc', which is not a number"},
      {"iNatSum", "'1,5'", false, "iNatSum holds '1,5', which is not a number"},
      {"iMoneySum", "9e999", false, "iMoneySum holds inf, which is not a number"},
      {"iUnitPrice", "'NaN'", true, "iUnitPrice holds 'NaN', which is not a number"},
      {"iTaxRate", "'0x10'", true, "SaleBillVouchs.iTaxRate holds '0x10', which is not a number"},
      {"AutoID", "'20) --'", true, "AutoID holds '20) --', which is not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    InvoiceDbs dbs;
    dbs.Source(std::string(
                   "INSERT INTO SaleBillVouch (SBVID, cSBVCode, cVouchType) VALUES (1, 'A1', '26'), (2, 'A1 2', '26');"
                   "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode, iQuantity, iSum) VALUES"
                   " (10, 1, 'I', 1, 1), (20, 2, '") +
               (c.appended ? "J" : "I") + "', 2, 2);" + "UPDATE SaleBillVouchs SET " + c.column + "=" + c.value +
               " WHERE SBVID=2");
    RunContext ctx = dbs.OpenAfter(MigrateSalesHeaders);
    try {
      MigrateSalesDetails(ctx);
      FAIL() << "ran through";
    } catch (const Error& e) {
      const std::string line = std::string(c.column) == "AutoID" ? "'20) --'" : "20";
      EXPECT_EQ(std::string(e.what()), "SaleBillVouchs line AutoID " + line + " of invoice 'A1 2': " + c.shown);
    }
    // The statement the value would have stood in was never sent.
    const std::vector<std::string> trace = dbs.TakeTrace();
    ASSERT_FALSE(trace.empty());
    const std::string& last = trace.back();
    EXPECT_TRUE(last.starts_with(c.appended ? "X\tUpdate SaleBillVouchs" : "X\tSelect * From SaleBillVouchs"))
        << last;
    EXPECT_EQ(dbs.TargetRows("SELECT AutoID, iQuantity, iSum FROM SaleBillVouchs"), (Rows{{"10", "1.0", "1.0"}}));
  }
}

}  // namespace
}  // namespace velaccap
