// Every failure point of a run, proven by fault injection on real SQLite
// files: whichever database operation fails, the run ends with that failure's
// own description, performs nothing after it and releases every recordset;
// through the tool, the target is left exactly as it was (or, with
// --no-atomic, with the finished steps kept).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "dbaccess/sqlite.h"
#include "run/account_set.h"
#include "sample/sample.h"
#include "tests/support.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/fault.h"
#include "velaccap/layers.h"
#include "velaccap/trace.h"

namespace velaccap {
namespace {

namespace fs = std::filesystem;
using testsupport::Slurp;
using testsupport::Count;
using testsupport::Query;
using testsupport::Rows;
using testsupport::TableRows;

std::string Injected(long long k) { return "injected fault at " + std::to_string(k); }

// ------------------------------------------------------------ counting run

// What an undisturbed run does, operation by operation: its trace with the
// number of the operation each line announces, and which operations are the
// source's.
struct Profile {
  long long operations = 0;
  std::string trace;
  struct Mark {
    std::size_t end;  // offset just past the line's newline
    long long op;     // the operation the line announces
    std::string text;
  };
  std::vector<Mark> lines;
  std::set<long long> source_ops;

  // The trace a run failing at operation k must leave: every line up to the
  // failing operation's own (when that operation is traced), nothing after.
  std::string TraceUpTo(long long k) const {
    auto after = std::upper_bound(lines.begin(), lines.end(), k, [](long long v, const Mark& m) { return v < m.op; });
    return after == lines.begin() ? std::string() : trace.substr(0, std::prev(after)->end);
  }

  // Operations announced by lines starting with `prefix` (and holding
  // `also`, when given), in order.
  std::vector<long long> Ops(std::string_view prefix, std::string_view also = {}) const {
    std::vector<long long> ops;
    for (const Mark& m : lines)
      if (m.text.starts_with(prefix) && m.text.find(also) != std::string_view::npos) ops.push_back(m.op);
    return ops;
  }
};

// Collects the trace and notes, at each line's end, the operation that line
// announces: the trace layer writes the whole line before passing the
// operation on, so it is the one after those counted so far.
class MarkingBuffer : public std::streambuf {
 public:
  explicit MarkingBuffer(const FaultInjector& counter) : counter_(counter) {}
  std::string text;
  std::vector<std::pair<std::size_t, long long>> ends;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) Put(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) Put(s[i]);
    return n;
  }

 private:
  void Put(char c) {
    text += c;
    if (c == '\n') ends.emplace_back(text.size(), counter_.operations() + 1);
  }
  const FaultInjector& counter_;
};

// Notes the numbers of the source's operations as they pass, so that the
// tool's message can be expected to name the right database.
class SourceOpsRecordset : public SourceRecordsetLayer {
 public:
  SourceOpsRecordset(std::unique_ptr<SourceRecordset> inner, const FaultInjector& c, std::set<long long>& ops)
      : SourceRecordsetLayer(std::move(inner)), c_(c), ops_(ops) {}
  void move_next() override {
    SourceRecordsetLayer::move_next();
    ops_.insert(c_.operations());
  }

 private:
  const FaultInjector& c_;
  std::set<long long>& ops_;
};

class SourceOps : public SourceDatabaseLayer {
 public:
  SourceOps(SourceDatabase& inner, const FaultInjector& c, std::set<long long>& ops)
      : SourceDatabaseLayer(inner), c_(c), ops_(ops) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    auto rs = SourceDatabaseLayer::OpenRecordset(query);
    ops_.insert(c_.operations());
    return rs;
  }

 protected:
  std::unique_ptr<SourceRecordset> Wrap(std::unique_ptr<SourceRecordset> rs) override {
    return std::make_unique<SourceOpsRecordset>(std::move(rs), c_, ops_);
  }

 private:
  const FaultInjector& c_;
  std::set<long long>& ops_;
};

// One pair of account sets: an 8.12 sample and a pristine empty 8.20 target
// that every run copies, never touches.
struct AccountSets {
  explicit AccountSets(long long lines) {
    velaccap::sample::WriteSample(source, velaccap::sample::SampleOptions{lines, 7});
    velaccap::run::CreateTarget(pristine);
    pristine_rows = TableRows(pristine);
  }
  // A fresh copy of the pristine target at `path`.
  void FreshTarget(const std::string& path) const {
    fs::remove(path);
    fs::copy_file(pristine, path);
  }
  testsupport::TempDir dir;
  std::string source = dir.file("ledger812.db");
  std::string pristine = dir.file("pristine820.db");
  std::string work = dir.file("work820.db");
  Rows pristine_rows;
};

Profile CountingRun(const AccountSets& sets) {
  sets.FreshTarget(sets.work);
  auto src = OpenSqliteSource(sets.source);
  auto tgt = OpenSqliteTarget(sets.work);
  tgt->BeginTransaction();
  FaultInjector counter;
  auto fsrc = counter.WrapSource(*src);
  auto ftgt = counter.WrapTarget(*tgt);
  Profile p;
  SourceOps noted(*fsrc, counter, p.source_ops);
  MarkingBuffer buffer(counter);
  std::ostream out(&buffer);
  auto tsrc = TraceSource(noted, out);
  auto ttgt = TraceTarget(*ftgt, out);
  clsAPA812 obj;
  EXPECT_TRUE(obj.UpdateA812ToS820(*tsrc, *ttgt)) << obj.ErrDescription();
  EXPECT_EQ(counter.open_recordsets(), 0);
  p.operations = counter.operations();
  p.trace = std::move(buffer.text);
  std::size_t begin = 0;
  for (const auto& [end, op] : buffer.ends) {
    p.lines.push_back({end, op, p.trace.substr(begin, end - 1 - begin)});
    begin = end;
  }
  return p;
}

// The small account set of the full sweep and the tool runs, made once.
struct Small {
  AccountSets sets{10};
  Profile profile = CountingRun(sets);
};

const Small& SmallSet() {
  static const Small small;
  return small;
}

// ------------------------------------------------------------ component

// Runs the component on a fresh copy of the target with operation k failing,
// the trace layer above the injector. Returns what went wrong, or nothing.
std::string ComponentFailure(const AccountSets& sets, const Profile& p, long long k) {
  sets.FreshTarget(sets.work);
  // Both files are known sound: the engine's check at open, which reads
  // every page, would double the sweep's time.
  const OpenOptions unchecked{5000, false};
  auto src = OpenSqliteSource(sets.source, unchecked);
  auto tgt = OpenSqliteTarget(sets.work, unchecked);
  // One transaction for speed, as a host would: a run outside one syncs the
  // file for every row. It is never committed.
  tgt->BeginTransaction();
  FaultInjector faults(k, Injected(k));
  auto fsrc = faults.WrapSource(*src);
  auto ftgt = faults.WrapTarget(*tgt);
  std::ostringstream trace;
  auto tsrc = TraceSource(*fsrc, trace);
  auto ttgt = TraceTarget(*ftgt, trace);
  clsAPA812 obj;
  bool ok;
  try {
    ok = obj.UpdateA812ToS820(*tsrc, *ttgt);
  } catch (const std::exception& e) {
    return std::string("exception escaped: ") + e.what();
  } catch (...) {
    return "unknown exception escaped";
  }
  std::string problems;
  if (ok) problems += "; the run succeeded";
  // The failure came from no engine: the host's transaction is still there
  // to roll back, no statement of the run holding it up.
  try {
    if (!tgt->InTransaction()) problems += "; the transaction ended";
    tgt->Rollback();
  } catch (const std::exception& e) {
    problems += std::string("; rollback failed: ") + e.what();
  }
  if (obj.ErrDescription() != Injected(k)) problems += "; description \"" + obj.ErrDescription() + "\"";
  if (faults.operations() != k) problems += "; " + std::to_string(faults.operations()) + " operations";
  if (faults.open_recordsets() != 0)
    problems += "; " + std::to_string(faults.open_recordsets()) + " recordsets left open";
  const std::string expected = p.TraceUpTo(k);
  if (trace.str() != expected) {
    const std::string got = trace.str();
    const std::size_t from = got.size() > 200 ? got.size() - 200 : 0;
    problems += "; trace ends \"" + got.substr(from) + "\", expected " + std::to_string(expected.size()) +
                " characters, got " + std::to_string(got.size());
  }
  return problems;
}

// Makes each failure point in `ks` happen in turn; `check` returns what went
// wrong at one, or nothing. Expects nothing wrong anywhere, showing the first
// few points that went wrong.
template <typename Check>
void ExpectAllClean(const std::vector<long long>& ks, Check check) {
  std::vector<std::string> bad;
  for (long long k : ks) {
    std::string problems = check(k);
    if (!problems.empty()) bad.push_back("operation " + std::to_string(k) + problems);
  }
  std::string shown;
  for (std::size_t i = 0; i < bad.size() && i < 5; ++i) shown += bad[i] + "\n";
  EXPECT_TRUE(bad.empty()) << bad.size() << " of " << ks.size() << " failure points not clean, first:\n" << shown;
}

void ExpectEveryFailureClean(const AccountSets& sets, const Profile& p, const std::vector<long long>& ks) {
  ExpectAllClean(ks, [&](long long k) { return ComponentFailure(sets, p, k); });
}

// The small sample reaches every branch the sweep is meant to cover: every
// copying step saves rows, both merge passes add into parent lines and
// append new ones, and the payables ledger looks up continuation references.
TEST(FaultSweep, SmallSampleExercisesEveryStepAndMerge) {
  const Profile& p = SmallSet().profile;
  ASSERT_GT(p.operations, 0);
  EXPECT_EQ(p.Ops("T\t").size(), 20u);
  EXPECT_EQ(p.Ops("B\t").size(), 20u) << "a copying step without rows";
  for (const char* table : {"SaleBillVouchs", "PurBillVouchs"}) {
    EXPECT_FALSE(p.Ops(std::string("X\tUpdate ") + table).empty()) << table;
    EXPECT_FALSE(p.Ops(std::string("X\tInsert Into ") + table).empty()) << table;
  }
  EXPECT_FALSE(p.Ops("Q\tSelect AutoID From SaleBillVouchs").empty());
  EXPECT_FALSE(p.Ops("Q\tSelect ID From PurBillVouchs").empty());
  EXPECT_FALSE(p.Ops("X\tUpdate AccInformation").empty());
  // The run ends on the options: their last update, then the source's last
  // row passed. The trace's lines announce operations in order.
  EXPECT_TRUE(p.lines.back().text.starts_with("X\tUpdate AccInformation")) << p.lines.back().text;
  EXPECT_EQ(p.lines.back().op, p.operations - 1);
  EXPECT_TRUE(p.source_ops.contains(p.operations));
  EXPECT_EQ(std::adjacent_find(p.lines.begin(), p.lines.end(),
                               [](const Profile::Mark& a, const Profile::Mark& b) { return a.op >= b.op; }),
            p.lines.end());
}

// The full sweep, in groups of steps of about equal cost (a later failure
// point means a longer run) so that they can run side by side: each group is
// every operation from the clearing statement of its first step up to the
// one of the next group.
struct StepGroup {
  const char* name;
  const char* first;  // the clearing statement of the group's first step; null: the run's start
  const char* next;   // that of the next group's; null: the run's end
};

void PrintTo(const StepGroup& group, std::ostream* os) { *os << group.name; }

class EveryOperation : public ::testing::TestWithParam<StepGroup> {};

TEST_P(EveryOperation, FailsCleanly) {
  const Small& small = SmallSet();
  const Profile& p = small.profile;
  ASSERT_GT(p.operations, 0);
  auto start_of = [&](const char* clear) {
    const auto ops = p.Ops(std::string("X\t") + clear);
    EXPECT_EQ(ops.size(), 1u) << clear;
    return ops.empty() ? 0 : ops.front();
  };
  const long long first = GetParam().first ? start_of(GetParam().first) : 1;
  const long long last = GetParam().next ? start_of(GetParam().next) - 1 : p.operations;
  ASSERT_LT(first, last);
  std::vector<long long> ks;
  for (long long k = first; k <= last; ++k) ks.push_back(k);
  ExpectEveryFailureClean(small.sets, p, ks);
}

INSTANTIATE_TEST_SUITE_P(
    FaultSweep, EveryOperation,
    ::testing::Values(StepGroup{"CopiesAndInvoicesSteps1To9", nullptr, "Delete Ap_Detail"},
                      StepGroup{"PayablesLedgerAndInputCodesSteps10And11", "Delete Ap_Detail", "Delete Ap_InvCode"},
                      StepGroup{"CodesNotesAndVouchersSteps12To16", "Delete Ap_InvCode", "Delete Ap_Vouchs"},
                      StepGroup{"VoucherLinesBadDebtsAndOptionsSteps17To21", "Delete Ap_Vouchs", nullptr}),
    [](const ::testing::TestParamInfo<StepGroup>& info) { return std::string(info.param.name); });

TEST(FaultSweep, LargeSampleFailsCleanlyThroughoutTheRun) {
  const AccountSets sets(2000);
  const Profile p = CountingRun(sets);
  ASSERT_GT(p.operations, 10000);
  ASSERT_EQ(p.Ops("B\t").size(), 20u);
  // The ends; the start of the invoice and ledger steps and the middle of
  // their row loops (between the table's open and its batch save); inside
  // both merge passes, at an addition and at the last appended line; a
  // continuation lookup of the payables ledger of each kind; and points
  // spread between.
  std::set<long long> ks{1, p.operations};
  for (const char* table : {"SaleBillVouch", "PurBillVouch", "Ap_Detail"}) {
    for (long long op : p.Ops(std::string("X\tDelete ") + table)) ks.insert(op);
    const auto opens = p.Ops(std::string("T\t") + table), saves = p.Ops("B\t");
    for (long long open : opens) ks.insert((open + *std::upper_bound(saves.begin(), saves.end(), open)) / 2);
  }
  auto middle = [](const std::vector<long long>& ops) { return ops.at(ops.size() / 2); };
  for (const char* table : {"SaleBillVouchs", "PurBillVouchs"}) {
    ks.insert(middle(p.Ops(std::string("X\tUpdate ") + table)));
    ks.insert(p.Ops(std::string("X\tInsert Into ") + table).back());
  }
  ks.insert(middle(p.Ops("Q\tSelect AutoID From SaleBillVouchs")));
  ks.insert(middle(p.Ops("Q\tSelect ID From PurBillVouchs")));
  for (long long i = 1; i < 5; ++i) ks.insert(p.operations * i / 5);
  ExpectEveryFailureClean(sets, p, std::vector<long long>(ks.begin(), ks.end()));
}

// ------------------------------------------------------------ the tool

struct ToolRun {
  int code;
  std::string err;
};

ToolRun Migrate(const std::string& source, const std::string& target, const std::string& trace,
                FaultInjector& faults, bool atomic) {
  cli::MigrateOptions options;
  options.source = source;
  options.target = target;
  options.atomic = atomic;
  options.trace = trace;
  // Errors only: the run's messages are what is checked.
  options.quiet = true;
  options.faults = &faults;
  std::ostringstream out, err;
  const int code = cli::Migrate(options, out, err);
  return {code, err.str()};
}

// What the engine left beside or inside the file after a failed run.
std::string FileProblems(const std::string& db) {
  std::string problems;
  for (const char* side : {"-journal", "-wal"})
    if (fs::exists(db + side)) problems += std::string("; a ") + side + " file is left";
  const Rows check = Query(db, "PRAGMA quick_check");
  if (check != Rows{{"ok"}}) problems += "; quick_check: " + check[0][0];
  return problems;
}

// All or nothing: wherever the run fails, the tool exits 1 naming the failing
// database and the injected failure, the target's rows are exactly as before,
// the file is clean, and the trace stops at the failing operation.
TEST(FaultSweep, ToolRollsBackAtEveryKindOfFailurePoint) {
  const Small& small = SmallSet();
  const AccountSets& sets = small.sets;
  const Profile& p = small.profile;
  const long long n = p.operations;
  ASSERT_GT(n, 0);
  const std::string trace_file = sets.dir.file("run.trace");

  // The injector stands below every layer of the tool: it counts the run's
  // own operations, the same as the component's, and none of the checks
  // before the run; one past the last never fails.
  {
    sets.FreshTarget(sets.work);
    FaultInjector past(n + 1, Injected(n + 1));
    ToolRun r = Migrate(sets.source, sets.work, trace_file, past, true);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(past.operations(), n);
    EXPECT_EQ(Slurp(trace_file), p.trace);
  }

  // The first and last operations (the last ones come right before the
  // commit), the boundaries of every step, every step's batch save, the
  // first statements of both merge passes and of the ledger lookups, and
  // points spread between.
  std::set<long long> ks;
  for (long long k = 1; k <= 5; ++k) ks.insert(k);
  for (long long k = n - 4; k <= n; ++k) ks.insert(k);
  for (long long op : p.Ops("X\tDelete ")) ks.insert({op - 1, op, op + 1});
  for (long long op : p.Ops("B\t")) ks.insert({op - 1, op});
  for (const char* merge : {"S\tSelect * From SaleBillVouchs", "S\tSelect * From PurBillVouchs"})
    ks.insert(p.Ops(merge, ">0").at(0));
  for (const char* first : {"X\tSelect * From SaleBillVouchs", "X\tUpdate SaleBillVouchs",
                            "X\tInsert Into SaleBillVouchs", "X\tSelect * From PurBillVouchs",
                            "X\tUpdate PurBillVouchs", "X\tInsert Into PurBillVouchs", "Q\tSelect AutoID From",
                            "Q\tSelect ID From", "X\tINSERT INTO Ap_Inputcode", "S\tSELECT cSysID",
                            "X\tUpdate AccInformation"}) {
    const auto ops = p.Ops(first);
    ASSERT_FALSE(ops.empty()) << first;
    ks.insert({ops.front(), ops.front() + 1});
  }
  for (long long i = 1; i < 20; ++i) ks.insert(n * i / 20);
  ks.erase(0);
  ASSERT_LE(*ks.rbegin(), n);
  ASSERT_LE(ks.size(), 150u);

  ExpectAllClean(std::vector<long long>(ks.begin(), ks.end()), [&](long long k) {
    sets.FreshTarget(sets.work);
    FaultInjector faults(k, Injected(k));
    const ToolRun r = Migrate(sets.source, sets.work, trace_file, faults, true);
    const std::string side = p.source_ops.contains(k) ? "source " + sets.source : "target " + sets.work;
    const std::string expected_err = "apupgrade: migration failed: " + side + ": " + Injected(k) +
                                     "\napupgrade: the run was rolled back; " + sets.work + " is as it was\n";
    std::string problems;
    if (r.code != 1) problems += "; exit code " + std::to_string(r.code);
    if (r.err != expected_err) problems += "; stderr \"" + r.err + "\"";
    if (faults.operations() != k) problems += "; " + std::to_string(faults.operations()) + " operations";
    if (faults.open_recordsets() != 0)
      problems += "; " + std::to_string(faults.open_recordsets()) + " recordsets left open";
    problems += FileProblems(sets.work);
    if (TableRows(sets.work) != sets.pristine_rows) problems += "; the target's rows changed";
    if (Slurp(trace_file) != p.TraceUpTo(k)) problems += "; the trace does not stop at the failing operation";
    return problems;
  });
}

// With --no-atomic, a failure between the sales lines' copy pass and their
// merge pass keeps every step before it and the copy pass itself, and leaves
// the later steps' tables as they were.
TEST(FaultSweep, ToolKeepsFinishedStepsWithoutAtomic) {
  const Small& small = SmallSet();
  const AccountSets& sets = small.sets;
  const auto merge = small.profile.Ops("S\tSelect * From SaleBillVouchs", ">0");
  ASSERT_EQ(merge.size(), 1u);
  const long long k = merge.front();
  ASSERT_TRUE(small.profile.source_ops.contains(k));

  const std::string target = sets.dir.file("loose820.db");
  sets.FreshTarget(target);
  FaultInjector faults(k, Injected(k));
  ToolRun r = Migrate(sets.source, target, "", faults, false);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "apupgrade: migration failed: source " + sets.source + ": " + Injected(k) +
                       "\napupgrade: --no-atomic: the work done before the failure was kept in " + target + "\n");
  EXPECT_EQ(faults.operations(), k);
  EXPECT_EQ(faults.open_recordsets(), 0);
  EXPECT_EQ(FileProblems(target), "");

  const std::string& src = sets.source;
  for (const char* t : {"Ap_AlarmSet", "Ap_BillAge", "Ap_CloseBill", "Ap_CtrlCode"})
    EXPECT_EQ(Count(target, t), Count(src, t)) << t;
  EXPECT_EQ(Count(target, "Ap_CancelNo"), Count(src, "(SELECT DISTINCT cFlag, cType FROM Ap_CancelNo)"));
  EXPECT_EQ(Query(target, "SELECT SBVID, cSBVCode, cVouchType FROM SaleBillVouch ORDER BY SBVID"),
            Query(src, "SELECT SBVID, cSBVCode, cVouchType FROM SaleBillVouch "
                       "WHERE cSTCode IS NULL AND instr(cSBVCode,' ')=0 ORDER BY SBVID"));
  // The ordinary lines as the source holds them: nothing merged into them yet.
  const Rows copied = Query(target, "SELECT SBVID, AutoID, cInvCode, iQuantity, iSum FROM SaleBillVouchs ORDER BY AutoID");
  EXPECT_FALSE(copied.empty());
  EXPECT_EQ(copied, Query(src, "SELECT l.SBVID, l.AutoID, l.cInvCode, l.iQuantity, l.iSum FROM SaleBillVouchs l "
                               "JOIN SaleBillVouch h ON l.SBVID=h.SBVID "
                               "WHERE h.cSTCode IS NULL AND instr(h.cSBVCode,' ')=0 ORDER BY l.AutoID"));
  // Steps 8 on never ran: their tables are as the pristine target has them.
  const std::string& pristine = sets.pristine;
  for (const char* t : {"PurBillVouch", "PurBillVouchs", "Ap_Detail", "Ap_InputCode", "Ap_Vouchs", "Ar_BadPara",
                        "AccInformation"})
    EXPECT_EQ(Query(target, std::string("SELECT * FROM ") + t + " ORDER BY rowid"),
              Query(pristine, std::string("SELECT * FROM ") + t + " ORDER BY rowid"))
        << t;
}

}  // namespace
}  // namespace velaccap
