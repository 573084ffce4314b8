// The run report and the live progress line: the component run on sample
// account sets through the report's layers, every count checked against SQL
// on the files; the closing table and JSON as a user reads them; the live
// line on a real pseudo-terminal, and nothing of it elsewhere.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "component/steps.h"
#include "progress/run_report.h"
#include "run/account_set.h"
#include "run/summary.h"
#include "sample/sample.h"
#include "tests/support.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/open.h"

namespace velaccap::progress {
namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::TempDir;

long long Number(const std::string& db, const std::string& sql) { return std::stoll(Query(db, sql)[0][0]); }

std::set<std::string> Column(const std::string& db, const std::string& sql) {
  std::set<std::string> values;
  for (const auto& row : Query(db, sql)) values.insert(row[0]);
  return values;
}

// A clock that moves 125 ms at every reading, so the seconds are exact.
std::chrono::steady_clock::time_point SteppingClock() {
  static long long readings = 0;
  return std::chrono::steady_clock::time_point(std::chrono::milliseconds(125 * ++readings));
}

// A run through the report's layers, in one transaction. Members go in the
// order they are made: the report is released before the databases it wraps.
struct Migration {
  std::unique_ptr<SourceDatabase> source;
  std::unique_ptr<TargetConnection> target;
  std::unique_ptr<RunReport> report;
  bool ok = false;
  std::string error;
};

ReportOptions Named(const std::string& source, const std::string& target,
                    std::chrono::steady_clock::time_point (*now)() = &std::chrono::steady_clock::now) {
  ReportOptions options;
  options.source_name = source;
  options.target_name = target;
  options.now = now;
  return options;
}

Migration Migrate(const std::string& src, const std::string& tgt, ReportOptions options) {
  Migration run;
  run.source = OpenSource(src);
  run.target = OpenTarget(tgt);
  run.target->BeginTransaction();
  run.report = std::make_unique<RunReport>(*run.source, *run.target, std::move(options));
  clsAPA812 component;
  run.ok = component.UpdateA812ToS820(run.report->source(), run.report->target());
  run.error = component.ErrDescription();
  run.report->Finish(run.ok);
  if (run.ok) run.target->Commit();
  else run.target->Rollback();
  return run;
}

TEST(ProgressReport, EveryCountAgreesWithTheFiles) {
  TempDir dir;
  const std::string src = dir.file("src.db"), tgt = dir.file("tgt.db");
  velaccap::sample::WriteSample(src, {400, 3});
  velaccap::run::CreateTarget(tgt);
  // Lines without a header are left out as well.
  Exec(src,
       "INSERT INTO SaleBillVouchs (SBVID, AutoID, cInvCode, iQuantity) VALUES (990000, 990000, 'I0001', 1);"
       "INSERT INTO PurBillVouchs (PBVID, ID, cInvCode, iPBVQuantity) VALUES (990000, 990000, 'I0001', 1);");
  // The target already holds rows: ones the steps clear, another module's
  // invoice they keep, and lines of an owned header that step 6 removes,
  // which step 7's clearing (by header) then no longer reaches.
  const std::string owned_sbvid =
      Query(src, "SELECT min(SBVID) FROM SaleBillVouch WHERE cSTCode IS NULL AND instr(cSBVCode,' ')=0")[0][0];
  Exec(tgt,
       "INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('R', '91'), ('P', '92');"
       "INSERT INTO Ap_Detail (cFlag, cVouchID) VALUES ('R', 'OLD1'), ('R', 'OLD2'), ('P', 'OLD3');"
       "INSERT INTO SaleBillVouch (SBVID, cVouchType, cSBVCode, cSTCode) VALUES "
       "  (" + owned_sbvid + ", '26', 'OLD', NULL), (980001, '26', 'GONE', NULL), (980002, '26', 'KEPT', '01');"
       "INSERT INTO SaleBillVouchs (AutoID, SBVID, cInvCode) VALUES (980000, " + owned_sbvid + ", 'X'),"
       "  (980001, " + owned_sbvid + ", 'Y'), (980002, 980001, 'Z'), (980003, 980002, 'K');"
       "INSERT INTO PurBillVouch (PBVID, cPBVBillType, cPBVCode, cBusType) VALUES (980002, '01', 'KEPT', 'x');");

  // What the target holds before, as each step's clearing statement sees it.
  const char* const kWhole[] = {"Ap_AlarmSet", "Ap_BillAge",   "Ap_CancelNo", "Ap_CloseBill",  "Ap_CtrlCode",
                                "Ap_Detail",   "Ap_InputCode", "Ap_InvCode",  "Ap_Note",       "Ap_Note_Sub",
                                "Ap_SStyleCode", "Ap_Vouch",   "Ap_Vouchs",   "Ap_VouchType",  "Ar_BadAge",
                                "Ar_BadPara"};
  std::map<std::string, long long> held;
  for (const char* t : kWhole) held[t] = Number(tgt, std::string("SELECT count(*) FROM ") + t);
  ASSERT_EQ(held["Ap_AlarmSet"], 2);
  const long long owned_headers_held = Number(tgt, "SELECT count(*) FROM SaleBillVouch WHERE cSTCode IS NULL");
  // Step 7 clears the lines under the owned headers step 6 wrote: the
  // source's ordinary owned headers.
  const std::set<std::string> written_headers =
      Column(src, "SELECT SBVID FROM SaleBillVouch WHERE cSTCode IS NULL AND cSBVCode NOT LIKE '% %'");
  long long lines_cleared = 0;
  for (const std::string& id : Column(tgt, "SELECT AutoID || ':' || SBVID FROM SaleBillVouchs"))
    lines_cleared += written_headers.contains(id.substr(id.find(':') + 1));
  ASSERT_EQ(lines_cleared, 2);

  const Migration run = Migrate(src, tgt, Named("src.db", "tgt.db"));
  ASSERT_TRUE(run.ok) << run.error;
  const RunReport* report = run.report.get();
  const std::vector<StepReport> steps = report->steps();
  ASSERT_EQ(steps.size(), 21u);

  auto at = [&](const std::string& table) -> const StepReport& {
    for (const StepReport& r : steps)
      if (r.table == table) return r;
    throw std::runtime_error(table);
  };

  // Whole-table copies: every source row read and written; what the target
  // held deleted first.
  for (const char* t : kWhole) {
    const std::string table = t;
    const StepReport& r = at(t);
    EXPECT_EQ(r.deleted, held[table]) << t;
    EXPECT_EQ(r.written, Number(tgt, "SELECT count(*) FROM " + table)) << t;
    const std::string counted =
        table == "Ap_CancelNo" ? "DISTINCT ifnull(cFlag,'~') || '|' || ifnull(cType,'~')" : "*";
    EXPECT_EQ(r.read, Number(src, "SELECT count(" + counted + ") FROM " + table)) << t;
    // Ap_InputCode gets the added code "49".
    EXPECT_TRUE(table == "Ap_CancelNo" || r.written == r.read + (table == "Ap_InputCode")) << t;
    EXPECT_EQ(r.updated + r.added_into + r.appended, 0) << t;
    EXPECT_EQ(r.left_out, table == "Ap_Detail" ? std::optional<long long>(0) : std::nullopt) << t;
  }

  // Ledger lines that refer to a continuation invoice are rewritten.
  const long long references = Number(src, "SELECT count(*) FROM Ap_Detail WHERE cCoVouchID LIKE '% %'");
  EXPECT_GE(references, 8);
  EXPECT_EQ(at("Ap_Detail").rewritten, references);
  EXPECT_EQ(report->totals().rewritten, references);  // and no other step's lines

  // Sales headers: only ordinary owned ones are read; the rest of the
  // table (other modules, the Null code, continuation headers) is left out.
  const StepReport& headers = at("SaleBillVouch");
  EXPECT_EQ(headers.read, static_cast<long long>(written_headers.size()));
  EXPECT_EQ(*headers.left_out, Number(src, "SELECT count(*) FROM SaleBillVouch WHERE cSTCode IS NOT NULL OR "
                                           "cSBVCode IS NULL OR cSBVCode LIKE '% %'"));
  EXPECT_EQ(headers.deleted, owned_headers_held);
  EXPECT_EQ(headers.written, Number(tgt, "SELECT count(*) FROM SaleBillVouch WHERE cSTCode IS NULL"));
  EXPECT_EQ(Number(tgt, "SELECT count(*) FROM SaleBillVouch WHERE cSTCode IS NOT NULL"), 1);

  // Invoice lines of both families: ordinary lines copied, continuation
  // lines added into parent lines or appended; lines of other modules, of
  // the Null code and without a header left out.
  using Names = std::tuple<Family, std::string, std::string, std::string, std::string, std::string>;
  for (const auto& [family, lines, header, id, code, marker] :
       {Names{Family::kSales, "SaleBillVouchs", "SaleBillVouch", "SBVID", "cSBVCode", "cSTCode"},
        Names{Family::kPurchase, "PurBillVouchs", "PurBillVouch", "PBVID", "cPBVCode", "cBusType"}}) {
    const std::string join = " FROM " + lines + " l JOIN " + header + " h ON l." + id + "=h." + id + " WHERE h." +
                             marker + " IS NULL AND h." + code;
    const long long ordinary = Number(src, "SELECT count(*)" + join + " NOT LIKE '% %'");
    const long long continuation = Number(src, "SELECT count(*)" + join + " LIKE '% %'");
    const StepReport& r = at(lines);
    SCOPED_TRACE(lines);
    EXPECT_GT(continuation, 0);
    EXPECT_EQ(r.read, ordinary + continuation);
    EXPECT_EQ(*r.left_out, Number(src, "SELECT count(*) FROM " + lines + " l LEFT JOIN " + header + " h ON l." + id +
                                           "=h." + id + " WHERE h." + id + " IS NULL OR h." + marker +
                                           " IS NOT NULL OR h." + code + " IS NULL"));
    EXPECT_GE(*r.left_out, 3);  // another module's line and its continuation, one without a header
    EXPECT_EQ(r.read + *r.left_out, Number(src, "SELECT count(*) FROM " + lines));
    // Each continuation line either changed parent lines or was appended.
    EXPECT_EQ(r.added_into + r.appended, continuation);
    EXPECT_GT(r.added_into, 0);
    EXPECT_GT(r.appended, 0);
    EXPECT_EQ(r.updated, r.added_into_lines);
    EXPECT_GE(r.added_into_lines, r.added_into);
    EXPECT_EQ(r.written, ordinary + r.appended);
    EXPECT_EQ(report->added_into(family), r.added_into);  // what the reconciliation is given
    // The owned lines the target now holds are exactly those written.
    EXPECT_EQ(r.written, Number(tgt, "SELECT count(*) FROM " + lines + " l JOIN " + header + " h ON l." + id +
                                         "=h." + id + " WHERE h." + marker + " IS NULL"));
  }
  EXPECT_EQ(at("SaleBillVouchs").deleted, lines_cleared);
  EXPECT_EQ(at("PurBillVouchs").deleted, 0);
  // The other module's line and the orphans of the removed header stay.
  EXPECT_EQ(Column(tgt, "SELECT AutoID FROM SaleBillVouchs WHERE AutoID >= 980000"),
            (std::set<std::string>{"980002", "980003"}));

  // Options: each AR and AP option of the source that the target has is
  // updated once.
  std::set<std::string> target_options = Column(tgt, "SELECT cSysID || '|' || cName FROM AccInformation");
  long long matching = 0;
  for (const std::string& o : Column(src, "SELECT cSysID || '|' || cName FROM AccInformation "
                                          "WHERE cSysID IN ('AR','AP')"))
    matching += target_options.contains(o);
  const StepReport& options = at("AccInformation");
  EXPECT_EQ(options.read, Number(src, "SELECT count(*) FROM AccInformation WHERE cSysID IN ('AR','AP')"));
  EXPECT_EQ(options.updated, matching);
  EXPECT_GT(matching, 0);
  EXPECT_EQ(options.written + options.deleted, 0);

  // The totals are the steps' sums; the steps' times fit in the elapsed time.
  const StepReport total = report->totals();
  for (long long StepReport::*count : {&StepReport::read, &StepReport::written, &StepReport::updated,
                                       &StepReport::added_into, &StepReport::added_into_lines, &StepReport::appended,
                                       &StepReport::rewritten, &StepReport::deleted}) {
    long long sum = 0;
    for (const StepReport& r : steps) sum += r.*count;
    EXPECT_EQ(total.*count, sum);
  }
  double seconds = 0;
  long long left_out = 0;
  for (const StepReport& r : steps) {
    EXPECT_EQ(r.to_read, r.read) << r.table;  // the counts made before the run
    left_out += r.left_out.value_or(0);
    seconds += r.seconds;
    EXPECT_GT(r.seconds, 0) << r.table;
  }
  EXPECT_EQ(total.left_out, left_out);
  EXPECT_EQ(total.to_read, total.read);
  EXPECT_DOUBLE_EQ(total.seconds, seconds);
  EXPECT_LE(seconds, report->elapsed_seconds());
}

TEST(ProgressReport, CountsThatCannotBeMadeStayUnknownAndTheRunSaysWhy) {
  TempDir dir;
  const std::string src = dir.file("src.db"), tgt = dir.file("tgt.db");
  velaccap::sample::WriteSample(src, {0, 1});
  velaccap::run::CreateTarget(tgt);
  // Without the marker column neither the counts nor the header step can
  // select the owned invoices; the run fails on its own error.
  Exec(src, "ALTER TABLE SaleBillVouch DROP COLUMN cSTCode");
  const Migration run = Migrate(src, tgt, Named("", "", &SteppingClock));
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.error.find("cSTCode"), std::string::npos) << run.error;
  const RunReport* report = run.report.get();
  const std::vector<StepReport> steps = report->steps();
  EXPECT_EQ(steps[5].to_read, -1);  // SaleBillVouch
  EXPECT_EQ(steps[6].to_read, -1);  // SaleBillVouchs
  EXPECT_EQ(steps[7].to_read, Number(src, "SELECT count(*) FROM PurBillVouch WHERE cBusType IS NULL AND "
                                          "cPBVCode NOT LIKE '% %'"));
  EXPECT_EQ(report->totals().to_read, -1);
  EXPECT_TRUE(steps[4].completed);
  EXPECT_FALSE(steps[5].completed);
  EXPECT_FALSE(report->totals().completed);
  // The failing step and those never reached read nothing and leave out
  // nothing anyone could tell.
  std::string never_reached;
  for (std::size_t i = 6; i < StepTable().size(); ++i)
    never_reached += (std::string(StepTable()[i].table) + std::string(14, ' ')).substr(0, 14) +
                     "     0        0        0           0         0          0         -        0    0.000\n";
  std::ostringstream table;
  report->PrintTable(table);
  EXPECT_EQ(table.str(),
            "table           read  written  updated  added into  appended  rewritten  left out  deleted  seconds\n"
            "--------------  ----  -------  -------  ----------  --------  ---------  --------  -------  -------\n"
            "Ap_AlarmSet        5        5        0           0         0          0         -        0    0.125\n"
            "Ap_BillAge         8        8        0           0         0          0         -        0    0.125\n"
            "Ap_CancelNo        6        6        0           0         0          0         -        0    0.125\n"
            "Ap_CloseBill       5        5        0           0         0          0         -        0    0.125\n"
            "Ap_CtrlCode       10       10        0           0         0          0         -        0    0.125\n"
            "SaleBillVouch      0        0        0           0         0          0         -        0    0.125\n"
            + never_reached +
            "--------------  ----  -------  -------  ----------  --------  ---------  --------  -------  -------\n"
            "Total             34       34        0           0         0          0         -        0    0.750\n"
            "Total: 34 rows read, 34 rows written, 0 rows updated, 0 rows deleted in 0.88 s\n");
}

TEST(ProgressSummary, TableAndJsonOfTheFixedCases) {
  TempDir dir;
  const std::string src = dir.file("src.db"), tgt = dir.file("tgt.db");
  velaccap::sample::WriteSample(src, {0, 1});
  velaccap::run::CreateTarget(tgt);
  Exec(tgt, "INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('R', '91')");
  const Migration run = Migrate(src, tgt, Named("src.db", "odbc:DSN=ledger;UID=sa;PWD=***", &SteppingClock));
  ASSERT_TRUE(run.ok) << run.error;
  const RunReport* report = run.report.get();

  // The sample's fixed invoices alone. Sales: 4 ordinary owned headers of
  // 11 (4 continuation headers, 2 of another module, a Null code left out);
  // 6 ordinary lines and 6 continuation lines, of which 4 add into parent
  // lines (one into both lines of its item: 5 lines changed) and 2 are
  // appended; the other module's 2 lines and the Null code's line left out.
  // Purchases: 3 of 7 headers, 4 + 4 lines, 3 added into, 1 appended, 2
  // left out. 8 ledger lines refer to continuation invoices; 16 of the 17
  // AR and AP options exist in the target.
  std::ostringstream text;
  report->PrintTable(text);
  EXPECT_EQ(text.str(),
            "table           read  written  updated  added into  appended  rewritten  left out  deleted  seconds\n"
            "--------------  ----  -------  -------  ----------  --------  ---------  --------  -------  -------\n"
            "Ap_AlarmSet        5        5        0           0         0          0         -        1    0.125\n"
            "Ap_BillAge         8        8        0           0         0          0         -        0    0.125\n"
            "Ap_CancelNo        6        6        0           0         0          0         -        0    0.125\n"
            "Ap_CloseBill       5        5        0           0         0          0         -        0    0.125\n"
            "Ap_CtrlCode       10       10        0           0         0          0         -        0    0.125\n"
            "SaleBillVouch      4        4        0           0         0          0         7        0    0.125\n"
            "SaleBillVouchs    12        8        5           4         2          0         3        0    0.125\n"
            "PurBillVouch       3        3        0           0         0          0         4        0    0.125\n"
            "PurBillVouchs      8        5        3           3         1          0         2        0    0.125\n"
            "Ap_Detail         15       15        0           0         0          8         0        0    0.125\n"
            "Ap_InputCode      11       12        0           0         0          0         -        0    0.125\n"
            "Ap_InvCode        40       40        0           0         0          0         -        0    0.125\n"
            "Ap_Note            3        3        0           0         0          0         -        0    0.125\n"
            "Ap_Note_Sub        6        6        0           0         0          0         -        0    0.125\n"
            "Ap_SStyleCode      6        6        0           0         0          0         -        0    0.125\n"
            "Ap_Vouch           5        5        0           0         0          0         -        0    0.125\n"
            "Ap_Vouchs         10       10        0           0         0          0         -        0    0.125\n"
            "Ap_VouchType       8        8        0           0         0          0         -        0    0.125\n"
            "Ar_BadAge          4        4        0           0         0          0         -        0    0.125\n"
            "Ar_BadPara         4        4        0           0         0          0         -        0    0.125\n"
            "AccInformation    17        0       16           0         0          0         -        0    0.125\n"
            "--------------  ----  -------  -------  ----------  --------  ---------  --------  -------  -------\n"
            "Total            190      167       24           7         3          8        16        1    2.625\n"
            "Total: 190 rows read, 167 rows written, 24 rows updated, 1 row deleted in 2.75 s\n");

  // The JSON summary: the same counts per table and in total, the elapsed
  // time, and the names as the tool gave them; written whole to its file.
  const std::string path = dir.file("summary.json");
  velaccap::run::WriteSummaryJson(path, *report);
  std::ifstream in(path);
  const nlohmann::json j = nlohmann::json::parse(in);
  EXPECT_EQ(j, report->ToJson());
  EXPECT_EQ(j["source"], "src.db");
  EXPECT_EQ(j["target"], "odbc:DSN=ledger;UID=sa;PWD=***");
  EXPECT_EQ(j["elapsed_seconds"], 2.75);
  ASSERT_EQ(j["tables"].size(), 21u);
  EXPECT_EQ(j["tables"][6], nlohmann::json::parse(R"({"step": 7, "table": "SaleBillVouchs", "to_read": 12,
      "read": 12, "written": 8, "updated": 5, "added_into": 4, "added_into_lines": 5, "appended": 2,
      "rewritten": 0, "left_out": 3, "deleted": 0, "seconds": 0.125, "completed": true})"));
  EXPECT_EQ(j["tables"][0]["left_out"], nullptr);
  EXPECT_EQ(j["totals"], nlohmann::json::parse(R"({"read": 190, "written": 167, "updated": 24, "added_into": 7,
      "added_into_lines": 8, "appended": 3, "rewritten": 8, "left_out": 16, "deleted": 1, "seconds": 2.625})"));
}

// Runs `body` in a child whose stdin, stdout and stderr are a new
// pseudo-terminal `columns` wide: what it wrote there, and its exit code.
template <typename Body>
testsupport::TerminalResult UnderTerminal(int columns, Body body) {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) throw std::runtime_error("forkpty failed");
  if (pid == 0) _exit(body() ? 0 : 1);
  testsupport::TerminalResult c{-1, ""};
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) c.text.append(buffer, n);
    else if (n < 0 && errno == EINTR) continue;
    else break;  // EIO once the child has gone and closed the terminal
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) c.code = WEXITSTATUS(status);
  return c;
}

// The lines drawn: the texts between each carriage return and the erase
// that follows it (an empty text is the final clearing).
std::vector<std::string> Drawn(const std::string& text) {
  std::vector<std::string> lines;
  static const std::regex kLine("\r([^\r\x1b]*)\x1b\\[K");
  for (std::sregex_iterator it(text.begin(), text.end(), kLine), end; it != end; ++it) lines.push_back((*it)[1]);
  return lines;
}

// The live line on a terminal, where the tool draws it (stderr): each step
// in place, within the width and the redraw interval, cleared at the end. A
// pipe and --quiet show none (the tool's own terminal test runs both).
TEST(ProgressLive, DrawsEveryStepInPlaceWithinWidthAndIntervalAndClearsIt) {
  TempDir dir;
  const std::string src = dir.file("src.db");
  velaccap::sample::WriteSample(src, {3000, 5});
  for (const char* t : {"a.db", "b.db"}) velaccap::run::CreateTarget(dir.file(t));
  // The lines drawn by a run into `target`.
  auto live = [&](const char* target, int columns, std::chrono::milliseconds interval) {
    const auto c = UnderTerminal(columns, [&] {
      ReportOptions options;
      options.live = LiveOnStderr(false);
      options.live.interval = interval;
      return Migrate(src, dir.file(target), options).ok;
    });
    EXPECT_EQ(c.code, 0) << c.text;
    EXPECT_EQ(c.text.find('\n'), std::string::npos) << c.text;
    EXPECT_TRUE(c.text.ends_with("\r\x1b[K")) << c.text;
    const std::vector<std::string> lines = Drawn(c.text);
    EXPECT_EQ(lines.empty() ? "none" : lines.back(), "");
    return lines;
  };

  // Every redraw allowed: each step shows as it begins, and the long
  // steps again as their rows go by.
  const std::vector<std::string> lines = live("a.db", 200, std::chrono::milliseconds(0));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "step 1 of 21  Ap_AlarmSet  0 of " +
                               std::to_string(Number(src, "SELECT count(*) FROM Ap_AlarmSet")) +
                               " rows  0%  0:00 elapsed");

  // The steps in order, each first shown with nothing done of all it has;
  // the share of the run's rows only grows, and the time left comes with it.
  const long long sales_lines = Number(src, "SELECT count(*) FROM SaleBillVouchs l JOIN SaleBillVouch h ON "
                                            "l.SBVID=h.SBVID WHERE cSTCode IS NULL AND cSBVCode IS NOT NULL");
  int next = 1, percent = 0;
  bool mid_step = false;
  static const std::regex kShape(
      R"(step ([0-9]+) of 21  ([A-Za-z_]+)  ([0-9]+) of ([0-9]+) rows?  ([0-9]+)%  0:0[0-9] elapsed(  [0-9]+:[0-9]{2} left)?)");
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, kShape)) << lines[i];
    const int step = std::stoi(m[1]);
    EXPECT_GE(std::stoi(m[5]), percent) << lines[i];
    percent = std::stoi(m[5]);
    EXPECT_TRUE(m[6].matched || percent == 0) << lines[i];
    if (step == next) {
      EXPECT_EQ(m[3], "0") << lines[i];
      EXPECT_EQ(std::string(m[2]), StepTable()[step - 1].table);
      ++next;
    } else {
      ASSERT_EQ(step, next - 1) << lines[i];
      EXPECT_LE(std::stoll(m[3]), std::stoll(m[4])) << lines[i];
    }
    if (step == 7) {
      EXPECT_EQ(std::stoll(m[4]), sales_lines) << lines[i];
      mid_step = mid_step || m[3] != "0";
    }
  }
  EXPECT_GT(percent, 90);
  EXPECT_EQ(next, 22);
  EXPECT_TRUE(mid_step) << "no redraw within step 7";

  // 30 columns and the tool's interval: at most one draw per 100 ms, the
  // first and the clearing on top.
  const auto started = std::chrono::steady_clock::now();
  const std::vector<std::string> narrow = live("b.db", 30, std::chrono::milliseconds(100));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_GE(narrow.size(), 2u);
  EXPECT_EQ(narrow.front(), "step 1 of 21  Ap_AlarmSet  0");  // cut to 29 columns
  for (const std::string& line : narrow) EXPECT_LE(line.size(), 29u) << line;
  EXPECT_LE(static_cast<double>(narrow.size()), seconds * 10 + 2);

  // A regular file, as stderr redirected to a log, is no terminal.
  std::ostringstream sink;
  const int fd = open(dir.file("log").c_str(), O_WRONLY | O_CREAT, 0644);
  EXPECT_EQ(LiveOn(fd, sink, false).out, nullptr);
  close(fd);
}

}  // namespace
}  // namespace velaccap::progress
