// The apupgrade tool as a user runs it: the built binary on real SQLite
// files, checked through exit codes, messages, the trace and the rows left.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

using testsupport::Count;
using testsupport::Dump;
using testsupport::Exec;
using testsupport::Lines;
using testsupport::Query;
using testsupport::Result;
using testsupport::Slurp;
using testsupport::Tool;

TEST(Cli, UnusableInputsExitTwoAndWriteNothing) {
  Tool tool;
  ASSERT_EQ(tool.Run("sample src.db --lines 50").code, 0);
  ASSERT_EQ(tool.Run("sample short.db --lines 10").code, 0);
  Exec(tool.file("short.db"), "DROP TABLE Ar_BadPara");
  ASSERT_EQ(tool.Run("new-target tgt.db").code, 0);
  ASSERT_EQ(tool.Run("new-target partial.db").code, 0);
  Exec(tool.file("partial.db"), "DROP TABLE Ap_Note_Sub");
  const auto fresh = Dump(tool.file("tgt.db")), partial = Dump(tool.file("partial.db"));
  std::ofstream(tool.file("junk.db")) << "not a database at all, just some text\n";

  // Each refusal names what is wrong; an Access file of someone else's
  // tables and an 8.12 set lacking a table are no 8.12 source.
  const std::pair<std::string, std::string> refused[] = {
      {"migrate junk.db tgt.db", "junk.db"},
      {"migrate src.db partial.db", "partial.db"},
      {"migrate src.db partial.db", "Ap_Note_Sub"},
      {"migrate '" + testsupport::SharedDir() + "/fixtures/mdb/nwind.mdb' tgt.db",
       "nwind.mdb is not an 8.12 account set the run can use; it lacks Ap_AlarmSet, Ap_BillAge,"},
      {"migrate short.db tgt.db", "SOURCE short.db is not an 8.12 account set the run can use; it lacks Ar_BadPara\n"},
      // A name is a file's, never a URI that turns the engine's safety off.
      {"migrate src.db 'file:tgt.db?nolock=1'", "never a SQLite URI"},
      {"migrate 'file:src.db?immutable=1' tgt.db", "never a SQLite URI"},
      {"check src.db 'file:tgt.db?mode=memory'", "never a SQLite URI"},
      {"new-target tgt.db", "tgt.db"},
      {"new-target 'odbc:DSN=ledger820'", "new-target makes SQLite files; create a SQL Server 8.20 database with "
                                          "the script share/velaccap/target_820_mssql.sql"},
  };
  for (const auto& [args, named] : refused) {
    Result r = tool.Run(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_NE(r.err.find(named), std::string::npos) << args << ": " << r.err;
  }
  // Nothing was written to either target, the one lacking a table included.
  EXPECT_EQ(Dump(tool.file("tgt.db")), fresh);
  EXPECT_EQ(Dump(tool.file("partial.db")), partial);
}

TEST(Cli, SampleMigratesWholeWithTheTraceOfEveryStep) {
  Tool tool;
  ASSERT_EQ(tool.Run("sample src.db --lines 400 --seed 3").code, 0);
  ASSERT_EQ(tool.Run("new-target tgt.db").code, 0);
  Result r = tool.Run("migrate src.db tgt.db --trace run.trace");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string src = tool.file("src.db"), tgt = tool.file("tgt.db");

  // The generic copies carry every row; the input codes gain one.
  for (const char* t : {"Ap_AlarmSet", "Ap_BillAge", "Ap_CloseBill", "Ap_CtrlCode", "Ap_InvCode", "Ap_Note",
                        "Ap_Note_Sub", "Ap_SStyleCode", "Ap_Vouch", "Ap_Vouchs", "Ap_VouchType", "Ar_BadAge",
                        "Ar_BadPara", "Ap_Detail"})
    EXPECT_EQ(Count(tgt, t), Count(src, t)) << t;
  EXPECT_EQ(Count(tgt, "Ap_InputCode"), Count(src, "Ap_InputCode") + 1);
  EXPECT_EQ(Count(tgt, "Ap_CancelNo"), Count(src, "(SELECT DISTINCT cFlag, cType FROM Ap_CancelNo)"));
  // The sample's fixed cases: the continuation lines added into parent line
  // 1 (10 + 3), and a reference to "0000001 3 1" found the parent's first
  // line of its item.
  EXPECT_EQ(Query(tgt, "SELECT iQuantity FROM SaleBillVouchs WHERE AutoID=1")[0][0], "13.0");
  EXPECT_EQ(Query(tgt, "SELECT cVouchID, cCoVouchID, iBVID FROM Ap_Detail WHERE Auto_ID=4"),
            (testsupport::Rows{{"0000001", "0000001", "2"}}));

  // The summary table: 21 tables between two rules, then the total (the
  // counts are the report's own); then the reconciliation's verdict.
  int rows = 0;
  for (const std::string& line : Lines(r.out)) {
    std::istringstream in(line);
    int cells = 0;
    for (std::string cell; in >> cell;) ++cells;
    rows += cells == 10;
  }
  EXPECT_EQ(rows, 24) << r.out;
  EXPECT_NE(r.out.find("\nReconciled with the source: "), std::string::npos) << r.out;

  // Without its batch saves and per-row statements, the trace is the run's
  // frame: all 21 steps in order with their exact texts and lock types.
  std::string frame;
  std::set<std::string> row_statements;
  for (const std::string& line : Lines(Slurp(tool.file("run.trace")))) {
    if (line.starts_with("B\t") || line.starts_with("Q\t")) continue;
    if (line.starts_with("X\t") && !line.starts_with("X\tDelete ") &&
        !line.starts_with("X\tINSERT INTO Ap_Inputcode"))
      row_statements.insert(line.substr(0, line.find(' ', line.find(' ') + 1)));
    else
      frame += line + "\n";
  }
  EXPECT_EQ(frame, testsupport::EmptyRunTrace());
  EXPECT_EQ(row_statements, (std::set<std::string>{"X\tInsert Into", "X\tSelect *", "X\tUpdate AccInformation",
                                                    "X\tUpdate PurBillVouchs", "X\tUpdate SaleBillVouchs"}));
}

TEST(Cli, FailingRunIsUndoneUnlessNoAtomic) {
  Tool tool;
  ASSERT_EQ(tool.Run("sample src.db --lines 100").code, 0);
  // Step 16 fails: the target's Ap_Vouch refuses rows. A row in
  // Ap_AlarmSet (step 1) and one in Ap_Vouchs (step 17) show what each mode
  // leaves.
  for (const char* name : {"atomic.db", "loose.db"}) {
    ASSERT_EQ(tool.Run(std::string("new-target ") + name).code, 0);
    Exec(tool.file(name),
         "CREATE TRIGGER refuse BEFORE INSERT ON Ap_Vouch BEGIN SELECT RAISE(ABORT, 'no vouchers here'); END;"
         "INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('X', '99');"
         "INSERT INTO Ap_Vouchs (cVouchID) VALUES ('KEEP');");
  }
  const auto before = Dump(tool.file("atomic.db"));

  Result r = tool.Run("migrate src.db atomic.db");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "apupgrade: migration failed: target atomic.db: no vouchers here\n"
            "apupgrade: the run was rolled back; atomic.db is as it was\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Dump(tool.file("atomic.db")), before);

  r = tool.Run("migrate src.db loose.db --no-atomic --quiet");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "apupgrade: migration failed: target loose.db: no vouchers here\n"
            "apupgrade: --no-atomic: the work done before the failure was kept in loose.db\n");
  const std::string src = tool.file("src.db"), loose = tool.file("loose.db");
  for (const char* t : {"Ap_AlarmSet", "Ap_SStyleCode"}) EXPECT_EQ(Count(loose, t), Count(src, t)) << t;
  EXPECT_EQ(Count(loose, "Ap_Vouch"), 0);
  EXPECT_EQ(Query(loose, "SELECT cVouchID FROM Ap_Vouchs"), (testsupport::Rows{{"KEEP"}}));
  EXPECT_EQ(Query(loose, "SELECT cValue FROM AccInformation WHERE cSysID='AP' AND cName='iPrecision'"),
            (testsupport::Rows{{"2"}}));

  // --quiet: a successful run prints nothing.
  ASSERT_EQ(tool.Run("new-target good.db").code, 0);
  r = tool.Run("migrate src.db good.db --quiet");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
}

TEST(Cli, SampleIsDeterministicAndHoldsTheSpecialCases) {
  Tool tool;
  for (const char* args : {"a.db --lines 300 --seed 42", "b.db --lines 300 --seed 42", "c.db --lines 300 --seed 43"})
    ASSERT_EQ(tool.Run(std::string("sample ") + args).code, 0);
  const std::string db = tool.file("a.db");
  const auto a = Dump(db);
  EXPECT_EQ(a, Dump(tool.file("b.db")));
  EXPECT_NE(a, Dump(tool.file("c.db")));
  // About the lines asked for: the fixed cases come on top.
  const long long lines = Count(db, "SaleBillVouchs") + Count(db, "PurBillVouchs");
  EXPECT_GE(lines, 300);
  EXPECT_LE(lines, 340);

  // The cases the steps treat specially are all there.
  for (const char* where : {"SaleBillVouch WHERE cSTCode IS NULL AND instr(cSBVCode,' ')>1",
                            "SaleBillVouch WHERE cSTCode IS NULL AND cSBVCode LIKE ' %'",
                            "PurBillVouch WHERE cBusType IS NULL AND instr(cPBVCode,' ')>0",
                            "SaleBillVouch WHERE cSTCode IS NOT NULL", "PurBillVouch WHERE cBusType IS NOT NULL",
                            "SaleBillVouchs WHERE iQuantity<0", "PurBillVouchs WHERE iPBVQuantity<0",
                            "SaleBillVouchs WHERE cMemo LIKE '%''%'", "Ap_Detail WHERE instr(cCoVouchID,' ')>0",
                            "Ap_Detail WHERE cCoVouchID IS NULL", "Ap_Detail WHERE cCoVouchID=''",
                            "Ap_CancelNo WHERE cFlag IS NULL", "Ap_CancelNo WHERE cType IS NULL",
                            "Ap_CancelNo WHERE iCancelNo IS NULL", "AccInformation WHERE cSysID NOT IN ('AR','AP')",
                            "AccInformation WHERE cSysID IN ('AR','AP') AND cValue IS NULL",
                            "AccInformation WHERE cSysID IN ('AR','AP') AND cValue=''"})
    EXPECT_GT(Count(db, where), 0) << where;
  EXPECT_EQ(Count(db, "Ap_Detail WHERE iBVID IS NULL") + Count(db, "Ap_InputCode WHERE cNum='49' AND cFlag='RP'"), 0);
}

// What the tool writes to its terminal: the live line is for people watching
// a long run, never for logs.
std::string OnTerminal(const std::string& dir, const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) {
  const testsupport::TerminalResult r = testsupport::OnTerminal(dir, args, 120, env);
  EXPECT_EQ(r.code, 0) << r.text;
  return r.text;
}

TEST(Cli, LargeRunShowsProgressOnATerminalAndNoneWhenPiped) {
  Tool tool;
  ASSERT_EQ(tool.Run("sample src.db --lines 40000").code, 0);
  for (const char* t : {"a.db", "b.db", "c.db", "d.db", "e.db"})
    ASSERT_EQ(tool.Run(std::string("new-target ") + t).code, 0);
  const std::string dir = tool.file("");

  const std::string seen = OnTerminal(dir, {"migrate", "src.db", "a.db"});
  // Every phase named, the steps with the run's share and the time left.
  for (const char* phase : {"\rchecking  0:00 elapsed", "\rstep 1 of 21  Ap_AlarmSet  0 of 5 rows  0%",
                            "\rreconciling  ", "\rcommitting  "})
    EXPECT_NE(seen.find(phase), std::string::npos) << phase << "\n" << seen;
  // The shape of each step's line and its clearing: ProgressLive.
  EXPECT_NE(seen.find("Reconciled with the source"), std::string::npos) << seen;

  // Quiet on a terminal: nothing at all.
  EXPECT_EQ(OnTerminal(dir, {"migrate", "src.db", "b.db", "--quiet"}), "");

  // A dumb terminal, or none named: the same line without escape sequences.
  for (const char* term : {"TERM=dumb", "TERM"}) {
    const std::string plain = OnTerminal(dir, {"migrate", "src.db", term[4] ? "d.db" : "e.db"}, {term});
    EXPECT_NE(plain.find("\rstep 1 of 21  Ap_AlarmSet"), std::string::npos) << term << "\n" << plain;
    EXPECT_EQ(plain.find('\x1b'), std::string::npos) << term << "\n" << plain;
  }

  // -v through a pipe: one line per phase and step, stamped in UTC.
  Result logged = tool.Run("migrate src.db c.db -v --summary run.json 2>&1 >/dev/null | cat");
  ASSERT_EQ(logged.code, 0);
  const std::regex stamped(R"(20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3}Z (.*))");
  std::vector<std::string> said;
  for (const std::string& line : Lines(logged.out)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, stamped)) << line;
    said.push_back(m[1]);
  }
  ASSERT_EQ(said.size(), 25u) << logged.out;
  EXPECT_EQ(said[0], "checking");
  EXPECT_EQ(said[1], "step 1 of 21 Ap_AlarmSet: 5 rows to read");
  EXPECT_TRUE(said[21].starts_with("step 21 of 21 AccInformation: ")) << said[21];
  EXPECT_EQ(said[22], "reconciling");
  EXPECT_EQ(said[23], "committing");
  EXPECT_TRUE(said[24].starts_with("committed: ")) << said[24];

  // Piped: the table, and not a byte of the live line.
  ASSERT_EQ(tool.Run("new-target f.db").code, 0);
  Result r = tool.Run("migrate src.db f.db 2>&1 | cat");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(r.out.find("of 21"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Reconciled with the source"), std::string::npos) << r.out;
}

}  // namespace
