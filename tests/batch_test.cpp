// `apupgrade batch` on an installation of real SQLite account sets: the
// targets held against single migrate runs, failures kept to their own set,
// the batch killed and run again, shards, interrupts, the reports a user
// sees (table, terminal line, JSON, the HTML page in a real browser).
#include <pty.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "batch/runner.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Exec;
using testsupport::Query;
using testsupport::Rows;
using testsupport::Slurp;
using testsupport::TempDir;

const std::string kTool = VELACCAP_BINARY_DIR "/apupgrade";
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

using testsupport::Dump;
using testsupport::Result;
using testsupport::RunTool;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Every part stands in `text`; with `in_order`, each after the one before.
void ExpectHolds(const std::string& text, const std::vector<std::string>& parts, bool in_order = false) {
  std::size_t from = 0;
  for (const std::string& part : parts) {
    const std::size_t at = text.find(part, from);
    EXPECT_NE(at, std::string::npos) << part << "\n" << text;
    if (in_order && at != std::string::npos) from = at + part.size();
  }
}

std::map<std::string, nlohmann::json> SetsOf(const std::string& summary) {
  std::map<std::string, nlohmann::json> sets;
  const nlohmann::json doc = nlohmann::json::parse(Slurp(summary));
  for (const nlohmann::json& s : doc.at("sets")) sets[s.at("name").get<std::string>()] = s;
  return sets;
}

// A damage that lets a set be identified but makes its migration fail, and
// the engine's or the run's words for it. The rows are the sample's fixed
// cases, the same whatever its size and seed.
struct Damage {
  const char* sql;
  const char* failure;
};
const std::map<int, Damage> kDamaged = {
    {4, {"UPDATE SaleBillVouchs SET iQuantity='12 --' WHERE AutoID=4", "iQuantity holds '12 --', which is not a number"}},
    {9, {"DELETE FROM SaleBillVouchs WHERE SBVID=1", "Either BOF or EOF is True"}},
};

std::string Name(int i) { return "set" + std::string(i < 10 ? "0" : "") + std::to_string(i); }

// Twelve account sets s01..s12 with fresh targets t01..t12 and the manifest
// sets.csv; sets 4 and 9 damaged. The reference targets r01..r12 hold what
// a single migrate run makes of each good set.
class Installation {
 public:
  explicit Installation(int count = 12, long long lines = 200) : count_(count) {
    std::string manifest = "name,source,target\n";
    for (int i = 1; i <= count; ++i) {
      const std::string n = Name(i).substr(3);
      EXPECT_EQ(Run("sample s" + n + ".db --lines " + std::to_string(lines) + " --seed " + std::to_string(i)).code, 0);
      EXPECT_EQ(Run("new-target t" + n + ".db").code, 0);
      if (auto d = kDamaged.find(i); d != kDamaged.end() && count == 12) Exec(file("s" + n + ".db"), d->second.sql);
      manifest += Name(i) + ",s" + n + ".db,t" + n + ".db\n";
    }
    Write(file("sets.csv"), manifest);
    fresh_ = Dump(target(1));
  }

  void MakeReferences() {
    for (int i = 1; i <= count_; ++i) {
      if (damaged(i)) continue;
      const std::string n = Name(i).substr(3);
      ASSERT_EQ(Run("new-target r" + n + ".db").code, 0);
      ASSERT_EQ(Run("migrate s" + n + ".db r" + n + ".db -q --summary r" + n + ".json").code, 0);
    }
  }

  bool damaged(int i) const { return count_ == 12 && kDamaged.count(i) > 0; }
  std::string target(int i) const { return file("t" + Name(i).substr(3) + ".db"); }
  std::string reference(int i) const { return file("r" + Name(i).substr(3) + ".db"); }
  const Rows& fresh() const { return fresh_; }
  Result Run(const std::string& args) const { return RunTool(dir_.path(), args); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  int count_;
  Rows fresh_;
};

// Runs the batch inside a child of the test, so that a test hook can kill it
// where a real batch could die; the tool itself migrates the sets. Returns
// waitpid's status.
int RunInChild(const Installation& inst, int jobs, const std::function<void(const std::string&)>& hook,
               const std::string& tool = kTool) {
  const pid_t pid = fork();
  if (pid == 0) {
    velaccap::batch::Options o;
    o.manifest = inst.file("sets.csv");
    o.jobs = jobs;
    o.tool = tool;
    o.after_set = hook;
    std::ofstream out(inst.file("child.out")), err(inst.file("child.err"));
    const int code = velaccap::batch::Run(o, out, err);
    out.flush();
    err.flush();
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Waits until no process holds the batch's state lock: the children of a
// killed batch run on to their end.
void WaitForStateLock(const std::string& state) {
  const int fd = open((state + ".lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 6000 && flock(fd, LOCK_EX | LOCK_NB) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  flock(fd, LOCK_UN);
  close(fd);
}

TEST(Batch, BadManifestsAndUnusableSetsAreRefusedBeforeAnythingIsMigrated) {
  Installation inst(3, 50);
  const std::string dir = inst.path();
  fs::create_symlink(inst.target(1), inst.file("link.db"));

  // Every problem of the file at once, each with its line.
  Write(inst.file("bad.csv"),
        "name,source,target\n"
        "one,s01.db,t01.db\n"
        "two,s02.db\n"
        "three,,t03.db\n"
        "one,s03.db,t03.db\n"
        "four,s02.db,link.db\n"
        "five,t02.db,t03.db\n"
        "six,s03.db,s02.db\n"
        "seven,\"s03.db\"x,t03.db\n"
        "eight,s01.db,s01.db\n");
  Result r = inst.Run("batch bad.csv");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  // Listed in the file's order.
  ExpectHolds(r.err, {"apupgrade: the manifest cannot be used; nothing was migrated:\n",
        "bad.csv line 3: has 2 fields; every row has the 3 of the header name,source,target\n",
        "bad.csv line 4: empty source\n",
        "bad.csv line 5: the name 'one' is taken already by bad.csv line 2\n",
        "bad.csv line 6: set 'four' writes the target " + dir + "/link.db, which set 'one' (bad.csv line 2) writes too\n",
        "bad.csv line 7: set 'five' writes the target " + dir + "/t03.db, which set 'one' (bad.csv line 5) writes too\n",
        "bad.csv line 8: set 'six' writes the target " + dir + "/s02.db, which is the source of set 'four' (bad.csv line 6)\n",
        "bad.csv line 9: cannot be read as CSV: ",
        "bad.csv line 10: set 'eight': its source and target are the same database " + dir + "/s01.db\n"}, true);

  static const char kNulRow[] = "name,source,target\na,s01.db,t01.db\0x\n";
  for (const auto& [name, text, says] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"header.csv", "name,src,target\na,s01.db,t01.db\n",
            "header.csv line 1: the header row is 'name,src,target'; it must name the columns name,source,target\n"},
           {"empty.csv", "", "empty.csv: is empty; its first row must be the header name,source,target\n"},
           {"only.csv", "name,source,target\n", "only.csv: lists no account set\n"},
           {"open.csv", "name,source,target\na,\"s01.db,t01.db\n",
            "open.csv line 2: a quoted field is not closed before the end of the file\n"},
           {"bad.json", "[{\"name\":\"a\",\"source\":\"s01.db\"},{\"name\":\"b\",\"source\":\"s02.db\",\"target\":7,\"x\":1}]",
            "bad.json entry 1: missing, empty or not text: target\n"
            "apupgrade: bad.json entry 2: missing, empty or not text: target, unknown member x\n"},
           {"broken.json", "[{", "broken.json: cannot be read as JSON: "},
           {"twice.json", R"([{"name":"a","source":"s01.db","target":"t01.db","target":"t02.db"}])",
            "twice.json: an object holds the member \"target\" twice"},
           // A NUL cuts a path short; a name reaches terminals and pages.
           {"nul.csv", std::string(kNulRow, sizeof kNulRow - 1),
            "nul.csv line 2: holds a NUL byte or (in a name) a control character: target\n"},
           {"escape.csv", "name,source,target\n\x1b[2Jx,s01.db,t01.db\n",
            "escape.csv line 2: holds a NUL byte or (in a name) a control character: name\n"},
           {"missing.csv", "", "missing.csv.none: cannot be read: No such file or directory\n"}}) {
    std::string manifest = name;
    if (name == "missing.csv") manifest += ".none";
    else Write(inst.file(name), text);
    r = inst.Run("batch " + manifest);
    EXPECT_EQ(r.code, 2) << name;
    EXPECT_NE(r.err.find(says), std::string::npos) << name << "\n" << r.err;
  }

  // Sets whose databases are not what migrate needs are listed, each as
  // migrate would refuse it, and none is migrated: not even the good one.
  Exec(inst.file("s02.db"), "DROP TABLE Ap_Note_Sub");
  Write(inst.file("ids.csv"),
        "name,source,target\n"
        "good,s01.db,t01.db\n"
        "short,s02.db,t02.db\n"
        "gone,nowhere.db,t03.db\n");
  r = inst.Run("batch ids.csv");
  EXPECT_EQ(r.code, 2);
  ExpectHolds(r.err, {"apupgrade: 2 account sets of the manifest cannot be used; nothing was migrated:\n",
                      "ids.csv line 3: set 'short': SOURCE " + dir + "/s02.db is not an 8.12 account set the run can use",
                      "Ap_Note_Sub", "ids.csv line 4: set 'gone': SOURCE " + dir + "/nowhere.db does not exist\n"},
              true);
  EXPECT_EQ(r.err.find("'good'"), std::string::npos) << r.err;
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(Dump(inst.target(i)) == inst.fresh()) << i;
  EXPECT_FALSE(fs::exists(inst.file("ids.csv.state")));

  // A summary that would overwrite a database, or in a folder that is not
  // there, is refused before any run.
  for (const auto& [summary, says] : std::map<std::string, std::string>{
           {"t02.db", "the summary file t02.db is the database"},
           {"none/s.json", "cannot write the summary file none/s.json: its folder " + dir +
                               "/none: No such file or directory\n"}}) {
    r = inst.Run("batch sets.csv --summary " + summary);
    EXPECT_EQ(r.code, 2);
    ExpectHolds(r.err, {says});
  }
  EXPECT_TRUE(Dump(inst.target(1)) == inst.fresh());

  // The JSON form; relative paths are the manifest's folder's.
  fs::create_directories(inst.file("elsewhere"));
  Write(inst.file("sets.json"), R"({"sets": [{"name": "first", "source": "s01.db", "target": "t01.db"},
                                              {"name": "third", "source": "s03.db", "target": "t03.db"}]})");
  r = RunTool(inst.file("elsewhere"), "batch ../sets.json --jobs 2");
  EXPECT_EQ(r.code, 0) << r.err;
  ExpectHolds(r.out, {"2 sets: 2 succeeded\n"});
  EXPECT_TRUE(fs::exists(inst.file("sets.json.state")));
  EXPECT_TRUE(Dump(inst.target(1)) != inst.fresh());
  EXPECT_TRUE(Dump(inst.target(2)) == inst.fresh());

  // --check lists every problem of the installation in one report.
  Exec(inst.file("s03.db"), kDamaged.at(4).sql);
  Write(inst.file("check.csv"), "name,source,target\nshort,s02.db,t02.db\nbad row,s03.db,t03.db\nfine,s01.db,t01.db\n");
  r = inst.Run("batch check.csv --check --jobs 2 --summary check.json --report check.html");
  EXPECT_EQ(r.code, 2) << r.err;
  ExpectHolds(r.out, {"set 'short' (check.csv line 2): " + dir + "/s02.db -> " + dir + "/t02.db\n  error: ",
                      "migrate would refuse these databases before writing anything", "set 'bad row' (check.csv line 3)",
                      "iQuantity holds '12 --', which is not a number", "  0 errors, ",
                      "3 sets checked: 1 would run to the end, 1 would stop, 1 cannot be used\n"});
  // The same assessment as one document and one page, the sets to look at first.
  const nlohmann::json assessed = nlohmann::json::parse(Slurp(inst.file("check.json")));
  std::vector<std::string> verdicts;
  for (const auto& s : assessed["sets"])
    verdicts.push_back(s["status"].get<std::string>() + " " +
                       (s["check"]["stop"].is_null() ? "-" : s["check"]["stop"]["code"].get<std::string>()));
  EXPECT_EQ(verdicts, (std::vector<std::string>{"refused missing-table", "would_stop not-a-number", "would_finish -"}));
  const std::string page = Slurp(inst.file("check.html"));
  EXPECT_LT(page.find("<td class=\"name\">short"), page.find("<td class=\"name\">fine"));
  EXPECT_TRUE(Dump(inst.target(2)) == inst.fresh());
}

TEST(Batch, TwelveSetsTwoDamagedMigrateAsSingleRunsAndAgainDoNothing) {
  Installation inst;
  inst.MakeReferences();
  Result r = inst.Run("batch sets.csv --jobs 3 --summary run1.json --report report.html");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.err, "");

  const auto sets = SetsOf(inst.file("run1.json"));
  ASSERT_EQ(sets.size(), 12u);
  for (int i = 1; i <= 12; ++i) {
    const nlohmann::json& s = sets.at(Name(i));
    if (inst.damaged(i)) {
      EXPECT_EQ(s["status"], "failed") << i;
      EXPECT_EQ(s["exit_code"], 1) << i;
      ExpectHolds(s["error"], {"migration failed: ", kDamaged.at(i).failure,
                               "the run was rolled back; " + inst.target(i) + " is as it was"}, true);
      EXPECT_TRUE(Dump(inst.target(i)) == inst.fresh()) << i;
      ExpectHolds(r.out, {Name(i) + "  failed "});
    } else {
      EXPECT_EQ(s["status"], "succeeded") << i;
      EXPECT_EQ(s["error"], nullptr);
      EXPECT_TRUE(s["reconciliation"]["ok"].get<bool>());
      // The counts the single run gives.
      const nlohmann::json single = nlohmann::json::parse(Slurp(inst.file("r" + Name(i).substr(3) + ".json")));
      for (const char* count : {"read", "written", "updated"})
        EXPECT_EQ(s["totals"][count], single["totals"][count]) << count;
      EXPECT_EQ(s["reconciliation"], single["reconciliation"]);
      EXPECT_TRUE(Dump(inst.target(i)) == Dump(inst.reference(i))) << i;
      ExpectHolds(r.out, {Name(i) + "  succeeded"});
    }
  }
  ExpectHolds(r.out, {"12 sets: 10 succeeded, 2 failed\n"});
  EXPECT_EQ(r.out.rfind("set    status", 0), 0u) << r.out;
  const nlohmann::json doc = nlohmann::json::parse(Slurp(inst.file("run1.json")));
  EXPECT_EQ(doc["exit_code"], 1);
  EXPECT_EQ(doc["counts"]["succeeded"], 10);
  EXPECT_EQ(doc["counts"]["failed"], 2);

  // Again (a done set skipped byte for byte, a damaged one failing again, as
  // the killed batch's rerun checks): a changed source is migrated again;
  // --redo migrates every set again.
  const std::string set02 = Slurp(inst.target(2));
  Exec(inst.file("s01.db"), "UPDATE Ap_Detail SET cDigest='changed' WHERE Auto_ID=1");
  r = inst.Run("batch sets.csv --jobs 3 --summary run3.json");
  ExpectHolds(r.out, {"12 sets: 1 succeeded, 9 skipped, 2 failed\n"});
  EXPECT_EQ(Slurp(inst.target(2)), set02);
  EXPECT_EQ(SetsOf(inst.file("run3.json")).at("set01")["status"], "succeeded");
  EXPECT_EQ(SetsOf(inst.file("run3.json")).at("set02")["status"], "skipped");
  EXPECT_EQ(Query(inst.target(1), "SELECT count(*) FROM Ap_Detail WHERE cDigest='changed'"), Rows{{"1"}});
  r = inst.Run("batch sets.csv --jobs 3 --redo -q --summary run4.json");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(SetsOf(inst.file("run4.json")).at("set02")["status"], "succeeded");
  EXPECT_TRUE(SetsOf(inst.file("run4.json")).at("set02")["reconciliation"]["ok"].get<bool>());
  EXPECT_NE(Slurp(inst.target(2)), set02);

  // The first run's page as Chromium shows it (last, as it may be skipped):
  // the failed sets first, with their errors, quotes as text, not markup.
  const std::string dom_file = inst.file("dom.html");
  const int browser = std::system(("timeout 120 chromium --headless --no-sandbox --disable-gpu --user-data-dir='" +
                                   inst.file("chromium") + "' --dump-dom 'file://" + inst.file("report.html") +
                                   "' >'" + dom_file + "' 2>/dev/null").c_str());
  const std::string dom = Slurp(dom_file);
  if (browser != 0 || dom.empty()) GTEST_SKIP() << "chromium cannot run here";
  ExpectHolds(dom, {"<td class=\"name\">set04</td><td class=\"status\">failed</td>",
                    "<td class=\"name\">set09</td><td class=\"status\">failed</td>",
                    "<td class=\"name\">set01</td><td class=\"status\">succeeded</td>"}, true);
  ExpectHolds(dom, {"iQuantity holds '12 --', which is not a number", "12 sets: 10 succeeded, 2 failed",
                    "2 sets need attention; they are listed first.", "38 checks, no differences"});
  EXPECT_EQ(Slurp(inst.file("report.html")).find("<script"), std::string::npos);
  EXPECT_EQ(Slurp(inst.file("report.html")).find("http"), std::string::npos);
}

// The targets a killed batch had changed, by their bytes: what it committed.
std::map<int, std::string> Committed(const Installation& inst) {
  std::map<int, std::string> committed;
  for (int i = 1; i <= 12; ++i)
    if (Dump(inst.target(i)) != inst.fresh()) committed[i] = Slurp(inst.target(i));
  return committed;
}

// The killed batch run again: exactly the sets committed before are skipped,
// their files untouched; the others end as single runs do, the damaged ones
// failing with their targets fresh.
void ExpectResumed(const Installation& inst, const std::map<int, std::string>& committed) {
  const Result r = inst.Run("batch sets.csv --jobs 3 --summary again.json");
  EXPECT_EQ(r.code, 1) << r.err;
  const auto sets = SetsOf(inst.file("again.json"));
  for (int i = 1; i <= 12; ++i) {
    EXPECT_EQ(sets.at(Name(i))["status"], inst.damaged(i) ? "failed" : committed.contains(i) ? "skipped" : "succeeded")
        << i;
    if (committed.contains(i)) {
      EXPECT_EQ(Slurp(inst.target(i)), committed.at(i)) << i;
    }
    EXPECT_TRUE(Dump(inst.target(i)) == (inst.damaged(i) ? inst.fresh() : Dump(inst.reference(i)))) << i;
  }
}

TEST(Batch, KilledWithSigkillAndRunAgainCompletesWithoutMigratingASetTwice) {
  Installation inst;
  inst.MakeReferences();
  // The batch dies the worst way: right after the fourth set's migration
  // committed and its child ended, before the state records it. The sets
  // still running go on as orphans to their end.
  const int status = RunInChild(inst, 3, [&](const std::string& name) {
    static int ended = 0;
    if (++ended == 4) {
      Write(inst.file("unrecorded"), name);
      raise(SIGKILL);
    }
  });
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  WaitForStateLock(inst.file("sets.csv.state"));

  // What the first run committed, seen in the targets themselves.
  const auto committed = Committed(inst);
  const std::string unrecorded = Slurp(inst.file("unrecorded"));
  const nlohmann::json state = nlohmann::json::parse(Slurp(inst.file("sets.csv.state")));
  EXPECT_EQ(state["sets"][unrecorded]["status"], "running") << state.dump(1);
  EXPECT_GE(committed.size(), 2u);
  EXPECT_LT(committed.size(), 10u);

  ExpectResumed(inst, committed);

  // The tool itself killed from outside once its state records three sets
  // done, whatever it was doing then.
  Installation second;
  second.MakeReferences();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(second.path().c_str()) != 0) _exit(127);
    execl(kTool.c_str(), kTool.c_str(), "batch", "sets.csv", "--jobs", "3", "-q", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int tries = 0; tries < 12000; ++tries) {
    int done = 0;
    try {
      const nlohmann::json state = nlohmann::json::parse(Slurp(second.file("sets.csv.state")));
      for (const auto& [name, e] : state.at("sets").items()) done += e.at("status") == "done";
    } catch (const std::exception&) {
      // Not written yet.
    }
    if (done >= 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  int killed = 0;
  waitpid(pid, &killed, 0);
  ASSERT_TRUE(WIFSIGNALED(killed)) << "the batch ended before it was killed";
  WaitForStateLock(second.file("sets.csv.state"));
  const auto before = Committed(second);
  EXPECT_LT(before.size(), 10u) << "the batch was killed after its last set";
  ExpectResumed(second, before);
}

TEST(Batch, ShardsTogetherMigrateEachSetOnceAndMergeIntoOneReport) {
  Installation inst(7, 100);
  for (int k = 1; k <= 3; ++k) {
    const std::string shard = std::to_string(k) + "/3";
    Result r = inst.Run("batch sets.csv --shard " + shard + " --jobs 2 -v --summary shard" + std::to_string(k) + ".json");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(inst.file("sets.csv.shard-" + std::to_string(k) + "-of-3.state")));
    std::vector<std::string> names;
    for (const auto& [name, s] : SetsOf(inst.file("shard" + std::to_string(k) + ".json"))) {
      EXPECT_EQ(s["status"], "succeeded");
      names.push_back(name);
    }
    // Every third set, starting at the k-th: together each set once.
    std::vector<std::string> expected;
    for (int i = k; i <= 7; i += 3) expected.push_back(Name(i));
    EXPECT_EQ(names, expected) << shard;
    // -v: a line stamped in UTC for the batch, each set started and ended, and the end.
    const std::vector<std::string> lines = testsupport::Lines(r.err);
    ASSERT_EQ(lines.size(), 2 + 2 * names.size()) << r.err;
    for (const std::string& line : lines) EXPECT_TRUE(line[10] == 'T' && line.substr(19, 1) + line.substr(23, 2) == ".Z ") << line;
    const std::string n = std::to_string(names.size());
    EXPECT_TRUE(lines.front().ends_with(": " + n + " of " + n + " sets to migrate, 2 at a time")) << r.err;
    EXPECT_TRUE(lines.back().ends_with("batch ended: " + n + " sets: " + n + " succeeded")) << r.err;
  }

  Result r = inst.Run("batch-report shard1.json shard2.json shard3.json --summary all.json --report all.html");
  EXPECT_EQ(r.code, 0) << r.err;
  ExpectHolds(r.out, {"7 sets: 7 succeeded\n"});
  EXPECT_EQ(SetsOf(inst.file("all.json")).size(), 7u);
  ExpectHolds(Slurp(inst.file("all.html")), {"<td class=\"name\">set07</td>"});

  const std::string kShard = "expected K/N with 1 <= K <= N";
  for (const auto& [args, says] : std::vector<std::pair<std::string, std::string>>{
           {"batch sets.csv --shard 0/3", kShard}, {"batch sets.csv --shard 4/3", kShard},
           {"batch sets.csv --shard 1/0", kShard}, {"batch sets.csv --shard x", kShard},
           {"batch sets.csv --shard 1/3x", kShard},
           {"batch-report shard1.json ./shard1.json", "the summary ./shard1.json is given twice (also as shard1.json)"},
           {"batch-report shard1.json sets.csv", "sets.csv is not a summary written by apupgrade batch --summary"}}) {
    r = inst.Run(args);
    EXPECT_EQ(r.code, 2) << args;
    ExpectHolds(r.err, {says});
  }
}

TEST(Batch, OdbcTargetMigratesAndItsPasswordIsShownNowhere) {
  Installation inst(2, 100);
  inst.MakeReferences();
  const std::string odbc = "odbc:DRIVER={VelSQLite3};Database=" + inst.target(2) + ";PWD=s3cret";
  Write(inst.file("odbc.csv"),
        "name,source,target\n\"<b>native</b> & \"\"co\"\"\",s01.db,t01.db\nover odbc,s02.db,\"" + odbc + "\"\n");
  Result r = inst.Run("batch odbc.csv --summary s.json --report r.html");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Dump(inst.target(2)) == Dump(inst.reference(2)));
  ExpectHolds(r.out, {"2 sets: 2 succeeded\n"});
  EXPECT_EQ(SetsOf(inst.file("s.json")).at("over odbc")["target"],
            "odbc:DRIVER={VelSQLite3};Database=" + inst.target(2) + ";PWD=***");
  // The page holds the name as text.
  const std::string page = Slurp(inst.file("r.html"));
  ExpectHolds(page, {"<td class=\"name\">&lt;b&gt;native&lt;/b&gt; &amp; &quot;co&quot;</td>"});
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  r = inst.Run("batch odbc.csv --summary s2.json");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(SetsOf(inst.file("s2.json")).at("over odbc")["status"], "skipped");
  // Two sets writing one ODBC database are refused, the password masked.
  Write(inst.file("twice.csv"), "name,source,target\na,s01.db,\"" + odbc + "\"\nb,s02.db,\"" + odbc + "\"\n");
  Result twice = inst.Run("batch twice.csv");
  EXPECT_EQ(twice.code, 2);
  ExpectHolds(twice.err, {"twice.csv line 3: set 'b' writes the target odbc:DRIVER={VelSQLite3};Database=" +
                          inst.target(2) + ";PWD=***, which set 'a' (twice.csv line 2) writes too"});
  for (const std::string& text : {r.out, r.err, twice.err, Slurp(inst.file("s.json")), Slurp(inst.file("r.html")),
                                  Slurp(inst.file("odbc.csv.state"))})
    EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;

  // Each child's command line, which every local user can read, holds no
  // password: its environment (its owner's only) does.
  Write(inst.file("tool.sh"), "#!/bin/sh\necho \"$* | $APUPGRADE_ODBC_PASSWORD\" >>" + inst.file("argv.txt") +
                                  "\nexec " + kTool + " \"$@\"\n");
  fs::permissions(inst.file("tool.sh"), fs::perms::owner_all);
  velaccap::batch::Options o;
  o.manifest = inst.file("odbc.csv");
  o.tool = inst.file("tool.sh");
  o.redo = true;
  o.quiet = true;
  std::ostringstream out, err;
  EXPECT_EQ(velaccap::batch::Run(o, out, err), 0) << err.str();
  o.check = true;
  EXPECT_EQ(velaccap::batch::Run(o, out, err), 0) << err.str();
  const std::string argv = Slurp(inst.file("argv.txt"));
  const std::string odbc_set = inst.file("s02.db") + " odbc:DRIVER={VelSQLite3};Database=" + inst.target(2);
  ExpectHolds(argv, {"migrate " + odbc_set + " -q --summary ", "check " + odbc_set + " --json --wait 5 | s3cret\n"});
  EXPECT_EQ(argv.find("PWD"), std::string::npos) << argv;
}

TEST(Batch, InterruptTimeoutAndLiveProgress) {
  // Ctrl-C after the first set: no set starts after it, the running ones
  // roll back or finish, none is left half-written; the next run does the
  // rest.
  {
    Installation inst(5, 3000);
    inst.MakeReferences();
    const int status = RunInChild(inst, 2, [](const std::string&) {
      static bool once = false;
      if (!once) raise(SIGINT);
      once = true;
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string err = Slurp(inst.file("child.err"));
    ExpectHolds(err, {"apupgrade: interrupted by SIGINT: ", " not started; run the batch again to do the rest\n"}, true);
    ExpectHolds(Slurp(inst.file("child.out")), {"set03  not_started"});
    int done = 0;
    for (int i = 1; i <= 5; ++i) {
      const Rows now = Dump(inst.target(i));
      EXPECT_TRUE(now == inst.fresh() || now == Dump(inst.reference(i))) << i;
      done += now != inst.fresh();
    }
    EXPECT_GE(done, 1);
    EXPECT_LE(done, 2);
    Result r = inst.Run("batch sets.csv --jobs 2");
    EXPECT_EQ(r.code, 0) << r.err;
    for (int i = 1; i <= 5; ++i) EXPECT_TRUE(Dump(inst.target(i)) == Dump(inst.reference(i))) << i;
  }

  // A set that hangs (here on another program's lock, which it was told to
  // wait for) is stopped at the timeout; its target is as it was.
  {
    Installation inst(2, 50);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(inst.target(2).c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Result r = inst.Run("batch sets.csv --jobs 2 --timeout 5 --wait 600 --summary s.json");
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(r.code, 1) << r.err;
    const auto sets = SetsOf(inst.file("s.json"));
    EXPECT_EQ(sets.at("set01")["status"], "succeeded");
    EXPECT_EQ(sets.at("set02")["status"], "timed_out");
    ExpectHolds(sets.at("set02")["error"], {"did not finish within 5 s"});
    ExpectHolds(r.out, {"set02  timed_out"});
    EXPECT_TRUE(Dump(inst.target(2)) == inst.fresh());
    r = inst.Run("batch sets.csv");
    EXPECT_EQ(r.code, 0) << r.err;
    ExpectHolds(r.out, {"2 sets: 1 succeeded, 1 skipped\n"});
  }

  // A migration that crashes in the middle of its transaction (pages of the
  // run already in the file, the journal hot): the batch
  // has the engine restore its target from the journal at once, reports it,
  // and the other sets are done. (The crash is injected by a stand-in for
  // the tool that kills the real migration once its journal exists.)
  {
    Installation inst(3, 20000);
    inst.MakeReferences();
    const std::string crasher = inst.file("crasher.sh");
    Write(crasher, "#!/bin/sh\n"
                   "case \"$3\" in\n"
                   "  */t02.db)\n"
                   "    fresh=$(stat -c %s \"$3\")\n"
                   "    '" + kTool + "' \"$@\" & pid=$!\n"
                   "    until [ -s \"$3-journal\" ] && [ $(stat -c %s \"$3\") -gt $fresh ]; do sleep 0.01; done\n"
                   "    kill -KILL $pid; wait $pid\n"
                   "    kill -SEGV $$ ;;\n"
                   "esac\n"
                   "exec '" + kTool + "' \"$@\"\n");
    fs::permissions(crasher, fs::perms::owner_all);
    const int status = RunInChild(inst, 3, nullptr, crasher);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string out = Slurp(inst.file("child.out"));
    ExpectHolds(out, {"set02  crashed ", "the migration's process ended by SIGSEGV; " + inst.target(2) + " is as it was",
                      "3 sets: 2 succeeded, 1 crashed\n"}, true);
    EXPECT_FALSE(fs::exists(inst.target(2) + "-journal"));
    EXPECT_TRUE(Slurp(inst.target(2)) != "" && Dump(inst.target(2)) == inst.fresh());
    EXPECT_TRUE(Dump(inst.target(1)) == Dump(inst.reference(1)));
    EXPECT_TRUE(Dump(inst.target(3)) == Dump(inst.reference(3)));
  }

  // On a terminal a live line counts the sets; piped, only the table.
  {
    Installation inst(3, 20000);
    const auto seen = testsupport::OnTerminal(inst.path(), {"batch", "sets.csv", "--jobs", "1"}, 160);
    EXPECT_EQ(seen.code, 0) << seen.text;
    ExpectHolds(seen.text, {"\r0 of 3 sets done, 0 failed, 1 running\x1b[K", "\r\x1b[Kset    status", "3 sets: 3 succeeded"},
                true);
    // The rows of the set still running count: the time left is there
    // before any set has ended.
    EXPECT_TRUE(std::regex_search(
        seen.text, std::regex("\r0 of 3 sets done, 0 failed, 1 running  [0-9]+ rows/s  about [0-9]+ s left")))
        << seen.text;
    Result r = inst.Run("batch sets.csv --redo 2>&1 | cat");
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
    ExpectHolds(r.out, {"3 sets: 3 succeeded\n"});
  }
}

}  // namespace
