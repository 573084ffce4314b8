// The built tool against faults of the real engine and operating system: a
// full file system, files it may not write, another program's locks,
// signals halfway through a large run, a killed run, trace paths that would
// take a database's place, and damaged inputs. Each run is a child process
// started as a user would start it; afterwards the target is read back with
// the engine itself.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Count;
using testsupport::Lines;
using testsupport::Slurp;
using testsupport::Exec;
using testsupport::TempDir;
using Clock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;
// The run's last source query: a trace holding it reached the end.
constexpr char kLastStep[] = "S\tSELECT cSysID,cName,cValue FROM AccInformation";

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Outcome {
  int code = -1;   // exit status; -1 when a signal ended the process
  int signal = 0;  // that signal
  std::string out, err;
  double seconds = 0;
};

struct Launch {
  std::string cwd;
  bool as_nobody = false;  // root's permissions would hide what a user meets
  rlim_t file_size_limit = RLIM_INFINITY;
};

// The built tool as a child process. Everything the child needs is prepared
// before fork, so that only async-signal-safe calls run between fork and exec.
class Child {
 public:
  Child(const std::vector<std::string>& args, const Launch& launch) {
    std::vector<std::string> all{VELACCAP_BINARY_DIR "/apupgrade"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int out = ::open(io_.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(io_.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) throw std::runtime_error("cannot create the output files");
    start_ = Clock::now();
    pid_ = fork();
    if (pid_ == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      signal(SIGINT, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      if (launch.file_size_limit != RLIM_INFINITY) {
        const rlimit limit{launch.file_size_limit, launch.file_size_limit};
        // Ignored, a write past the limit fails with EFBIG instead of
        // ending the process.
        signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
      }
      if (dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(launch.cwd.c_str()) != 0) _exit(125);
      if (launch.as_nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(125);
      execv(argv[0], argv.data());
      _exit(127);
    }
    ::close(out);
    ::close(err);
    if (pid_ < 0) throw std::runtime_error("fork failed");
  }

  ~Child() {  // no copies: the scratch folder is not copied
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }
  bool running() {
    if (pid_ <= 0) return false;
    return waitpid(pid_, &status_, WNOHANG) == 0 ? true : (Reaped(), false);
  }

  // Waits for the end; a child still running after `timeout` is killed and
  // reported as such, so a hang fails the test rather than blocking it.
  Outcome Wait(double timeout = 600) {
    const auto begin = Clock::now();
    for (bool killed = false; running(); std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      if (!killed && Since(begin) > timeout) {
        killed = kill(pid_, SIGKILL) == 0;  // reaped by running()
        ADD_FAILURE() << "apupgrade still ran after " << timeout << " s; killed";
      }
    }
    Outcome o;
    o.seconds = std::chrono::duration<double>(end_ - start_).count();
    if (WIFEXITED(status_)) o.code = WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) o.signal = WTERMSIG(status_);
    o.out = Slurp(io_.file("stdout"));
    o.err = Slurp(io_.file("stderr"));
    return o;
  }

 private:
  void Reaped() {
    pid_ = 0;
    end_ = Clock::now();
  }

  TempDir io_;
  pid_t pid_ = 0;
  int status_ = 0;
  Clock::time_point start_, end_;
};

Outcome Tool(const std::vector<std::string>& args, const Launch& launch) { return Child(args, launch).Wait(); }

void MakeSample(const std::string& dir, const std::string& name, int lines) {
  Outcome o = Tool({"sample", name, "--lines", std::to_string(lines)}, {dir});
  ASSERT_EQ(o.code, 0) << o.err;
}

// An empty 8.20 target with rows in tables the run clears and an option it
// overwrites, so that a run that went ahead would show in the dump.
void MakeTarget(const std::string& dir, const std::string& name) {
  Outcome o = Tool({"new-target", name}, {dir});
  ASSERT_EQ(o.code, 0) << o.err;
  Exec(dir + "/" + name,
       "INSERT INTO Ap_AlarmSet (cFlag, cNum, cName) VALUES ('X', '99', 'before');"
       "INSERT INTO Ap_Vouchs (cVouchID) VALUES ('KEEP');"
       "UPDATE AccInformation SET cValue='7' WHERE cSysID='AP' AND cName='iPrecision';");
}

struct Db {
  explicit Db(const std::string& path, int flags = SQLITE_OPEN_READONLY) {
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
      const std::string why = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error(path + ": " + why);
    }
  }
  ~Db() { sqlite3_close(db); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // Each row as one text of typed values, so that 2 and '2' differ.
  std::vector<std::string> Rows(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
    std::vector<std::string> rows;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const int type = sqlite3_column_type(st, i);
        row += "|" + std::to_string(type) + ":";
        if (type != SQLITE_NULL)
          row.append(static_cast<const char*>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i));
      }
      rows.push_back(std::move(row));
    }
    const std::string why = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(why + " in: " + sql);
    return rows;
  }

  void Run(const std::string& sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      const std::string why = msg ? msg : "?";
      sqlite3_free(msg);
      throw std::runtime_error(why + " in: " + sql);
    }
  }

  sqlite3* db = nullptr;
};

// The schema, the header's user version and every row of every table.
std::vector<std::string> Dump(const std::string& path, int flags = SQLITE_OPEN_READONLY) {
  Db db(path, flags);
  std::vector<std::string> all = db.Rows("SELECT * FROM sqlite_master ORDER BY type, name");
  for (auto& v : db.Rows("PRAGMA user_version")) all.push_back("user_version" + v);
  for (const std::string& t : db.Rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    const std::string name = t.substr(3);  // past "|3:"
    all.push_back("table " + name);
    for (auto& row : db.Rows("SELECT * FROM \"" + name + "\" ORDER BY rowid")) all.push_back(std::move(row));
  }
  return all;
}

// Empty when equal, else the first difference: dumps are too long to print.
std::string Difference(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  for (std::size_t i = 0; i < std::max(before.size(), after.size()); ++i) {
    const std::string a = i < before.size() ? before[i] : "(none)", b = i < after.size() ? after[i] : "(none)";
    if (a != b) return "entry " + std::to_string(i) + ": before " + a + ", after " + b;
  }
  return "";
}

// The engine's first complaint, worded as it reports it over one line.
std::string QuickCheck(const std::string& path) {
  Db db(path);
  std::string first = db.Rows("PRAGMA quick_check(1)").at(0).substr(3);
  const std::string header = "*** in database main ***\n";
  if (first.starts_with(header)) first.erase(0, header.size());
  std::replace(first.begin(), first.end(), '\n', ' ');
  return first;
}

// What a target must be after a run that left it as it was.
void ExpectAsBefore(const std::string& target, const std::vector<std::string>& before, const std::string& context) {
  EXPECT_FALSE(fs::exists(target + "-journal")) << context;
  if (fs::exists(target + "-journal")) return;  // a read-only look would fail on it
  EXPECT_EQ(QuickCheck(target), "ok") << context;
  EXPECT_EQ(Difference(before, Dump(target)), "") << context;
}

// Every entry of a folder, in name order: a file by its mode and a hash of
// its bytes, a link by its target. Compared with Difference.
std::vector<std::string> Snapshot(const std::string& dir) {
  std::vector<std::string> all;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::string entry = e.path().lexically_relative(dir).string();
    if (e.is_symlink())
      entry += " link " + fs::read_symlink(e.path()).string();
    else if (e.is_regular_file())
      entry += " " + std::to_string(static_cast<int>(e.status().permissions())) + " " +
               std::to_string(std::hash<std::string>{}(Slurp(e.path().string())));
    all.push_back(entry);
  }
  std::sort(all.begin(), all.end());
  return all;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms(0644));
}

// A small file system of its own, mounted over a folder: a real full disk.
class Tmpfs {
 public:
  Tmpfs(const std::string& dir, const std::string& size) : dir_(dir) {
    fs::create_directories(dir);
    mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, ("size=" + size).c_str()) == 0;
    why_ = mounted_ ? "" : std::strerror(errno);
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

  // Takes the room left, so that the next write fails.
  void Fill() {
    std::ofstream f(dir_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (f.write(block.data(), block.size())) {
    }
  }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string why_;
};

// A failed run's two lines: the failure with the engine's words, then what
// became of the work (with --no-atomic it may have been kept); the target
// must be what they tell.
void ExpectFailedRun(const Outcome& o, const std::string& source, const std::string& target,
                     const std::vector<std::string>& before, const std::string& engine_text, bool atomic,
                     const std::string& context) {
  EXPECT_EQ(o.code, 1) << context << ": " << o.err;
  EXPECT_EQ(o.out, "") << context;
  const auto lines = Lines(o.err);
  ASSERT_EQ(lines.size(), 2u) << context << ": " << o.err;
  EXPECT_TRUE(lines[0].starts_with("apupgrade: migration failed: ")) << context << ": " << o.err;
  EXPECT_TRUE(!atomic || lines[0].find(target) != std::string::npos) << context << ": " << o.err;
  EXPECT_NE(lines[0].find(engine_text), std::string::npos) << context << ": " << o.err;
  const std::string& said = lines[1];
  if (!atomic && said == "apupgrade: --no-atomic: the work done before the failure was kept in " + target) {
    EXPECT_FALSE(fs::exists(target + "-journal")) << context;
    EXPECT_EQ(QuickCheck(target), "ok") << context;
    // The first step was done before any failure could stop the run.
    EXPECT_EQ(Count(target, "Ap_AlarmSet"), Count(source, "Ap_AlarmSet")) << context;
    EXPECT_NE(Difference(before, Dump(target)), "") << context;
    return;
  }
  const std::string as_it_was = "; " + target + " is as it was";
  EXPECT_TRUE((atomic && said == "apupgrade: the run was rolled back" + as_it_was) ||
              said == "apupgrade: the engine rolled back the run's work itself on this error" + as_it_was ||
              (!atomic && said.starts_with("apupgrade: --no-atomic: the work done could not be kept (") &&
               said.ends_with(")" + as_it_was)))
      << context << ": " << o.err;
  ExpectAsBefore(target, before, context);
}

// A target that runs out of room is left as it was, or with --no-atomic as
// the second line tells; output that cannot be written: a trace stops the
// run, which is undone; a summary that cannot be written at all is refused
// before the run; once the run is committed, exit 5, the target migrated.
TEST(FullDisk, WritesThatFailLeaveTheTargetAsItWasOrExitFive) {
  TempDir dir;
  const std::string d = dir.path();
  // Larger than the engine's page cache, so that pages reach the disk
  // before the commit and the disk fills mid-run.
  MakeSample(d, "s.db", 15000);
  MakeTarget(d, "base.db");
  const auto before = Dump(dir.file("base.db"));
  const std::string source = dir.file("s.db");

  if (Tmpfs(dir.file("disk"), "64k").mounted()) {
    bool failed_mid_run = false;
    for (const char* size : {"512k", "1m", "3m"}) {
      Tmpfs disk(dir.file("disk"), size);
      ASSERT_TRUE(disk.mounted()) << disk.why();
      const std::string target = dir.file("disk/t.db"), trace = dir.file(std::string("run-") + size + ".trace");
      CopyFile(dir.file("base.db"), target);
      Outcome o = Tool({"migrate", source, target, "--trace", trace}, {d});
      ExpectFailedRun(o, source, target, before, "database or disk is full", true, std::string("tmpfs ") + size);
      if (Slurp(trace).find(kLastStep) == std::string::npos) failed_mid_run = true;
    }
    EXPECT_TRUE(failed_mid_run) << "no size made the disk fill before the last step";

    Tmpfs disk(dir.file("disk"), "1m");
    const std::string target = dir.file("disk/t.db");
    CopyFile(dir.file("base.db"), target);
    Outcome o = Tool({"migrate", source, target, "--no-atomic"}, {d});
    ExpectFailedRun(o, source, target, before, "database or disk is full", false, "tmpfs 1m, --no-atomic");
  } else {
    std::cerr << "tmpfs cannot be mounted here; the file size limit stands for a full disk\n";
  }

  // A file size limit fails the engine's writes with EFBIG, which it reports
  // as an I/O error rather than a full disk: another path through the engine.
  {
    const rlim_t limit = fs::file_size(dir.file("base.db")) + 800 * 1024;
    const std::string target = dir.file("limited.db");
    CopyFile(dir.file("base.db"), target);
    Outcome o = Tool({"migrate", source, target}, {d, false, limit});
    ExpectFailedRun(o, source, target, before, "disk I/O error", true, "file size limit");
    // Marked as the target's, not the commit's: the write failed mid-run.
    EXPECT_TRUE(o.err.starts_with("apupgrade: migration failed: target " + target + ": ")) << o.err;

    CopyFile(dir.file("base.db"), target);
    o = Tool({"migrate", source, target, "--no-atomic"}, {d, false, limit});
    ExpectFailedRun(o, source, target, before, "disk I/O error", false, "file size limit, --no-atomic");
  }

  const std::string target = dir.file("t.db");
  CopyFile(dir.file("base.db"), target);

  Tmpfs disk(dir.file("disk"), "256k");
  for (const std::string trace : {"/dev/full", "disk/run.trace"}) {
    if (trace != "/dev/full" && !disk.mounted()) continue;
    if (trace != "/dev/full") disk.Fill();
    const Outcome o = Tool({"migrate", "s.db", "t.db", "--trace", trace}, {d});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.err, "apupgrade: migration failed: cannot write the trace file " + trace +
                         ": No space left on device\napupgrade: the run was rolled back; t.db is as it was\n");
    ExpectAsBefore(target, before, trace);
  }

  Outcome o = Tool({"migrate", "s.db", "t.db", "--summary", "/dev/full"}, {d});
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.err, "apupgrade: cannot write the summary file /dev/full: No space left on device\n");
  ExpectAsBefore(target, before, "summary /dev/full");

  testsupport::Result r = testsupport::RunTool(d, "migrate s.db t.db >/dev/full");
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.err,
            "apupgrade: migrated; the run was committed, but the closing table could not be written to the standard "
            "output\n");
  EXPECT_NE(Dump(target), before);

  // The disk fills while the run goes on: the summary proved writable at
  // the start cannot be written at the end.
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here: " << disk.why();
  fs::remove(dir.file("disk/filler"));
  MakeTarget(d, "t2.db");
  velaccap::cli::MigrateOptions options;
  options.source = dir.file("s.db");
  options.target = dir.file("t2.db");
  options.summary = dir.file("disk/run.json");
  options.quiet = true;
  options.watch_signals = false;
  options.observer = [&](int step, const char*, long long, long long) {
    if (step == 21) disk.Fill();
  };
  std::ostringstream out, err;
  EXPECT_EQ(velaccap::cli::Migrate(options, out, err), 5);
  EXPECT_EQ(err.str(), "apupgrade: migrated; the run was committed, but the summary could not be written: cannot "
                       "write the summary file " + options.summary + ": No space left on device\n");
  EXPECT_EQ(Count(options.target, "Ap_AlarmSet"), Count(dir.file("s.db"), "Ap_AlarmSet"));
}

TEST(Permissions, TargetThatCannotBeWrittenIsRefusedUntouched) {
  TempDir dir;
  const std::string d = dir.path();
  MakeSample(d, "s.db", 100);
  MakeTarget(d, "t.db");
  const std::string target = dir.file("t.db");
  // As root every permission is granted: the tool runs as nobody then, and
  // the target belongs to nobody, so only its mode or its folder stops it.
  const bool root = geteuid() == 0;
  fs::permissions(d, fs::perms(0755));
  if (root) {
    ASSERT_EQ(chown(target.c_str(), kNobody, kNobody), 0) << std::strerror(errno);
  }
  const Launch launch{d, root};

  fs::permissions(target, fs::perms(0444));
  auto snapshot = Snapshot(d);
  Outcome o = Tool({"migrate", "s.db", "t.db"}, launch);
  EXPECT_EQ(o.code, 2) << o.err;
  EXPECT_EQ(o.err, "apupgrade: cannot open target database t.db: the file cannot be written\n");
  EXPECT_EQ(Difference(snapshot, Snapshot(d)), "");

  // The file may be written, but the journal beside it may not be made.
  fs::permissions(target, fs::perms(0644));
  fs::permissions(d, fs::perms(root ? 0755 : 0555));
  snapshot = Snapshot(d);
  o = Tool({"migrate", "s.db", "t.db"}, launch);
  fs::permissions(d, fs::perms(0755));
  EXPECT_EQ(o.code, 2) << o.err;
  EXPECT_TRUE(o.err.starts_with("apupgrade: target database t.db cannot be written: ")) << o.err;
  EXPECT_TRUE(o.err.ends_with("(the engine also writes a journal beside the file, so its folder must be writable)\n"))
      << o.err;
  EXPECT_EQ(Difference(snapshot, Snapshot(d)), "");

  // The same user migrates once the folder is writable: the refusals above
  // were the permissions', not the user's.
  fs::permissions(d, fs::perms(0777));
  o = Tool({"migrate", "s.db", "t.db", "--quiet"}, launch);
  EXPECT_EQ(o.code, 0) << o.err;
}

// Another program's connection holding a lock with a write pending.
class LockHolder {
 public:
  LockHolder(const std::string& path, const char* begin) : db_(path, SQLITE_OPEN_READWRITE) {
    db_.Run(std::string(begin) + "; INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('L', 'held');");
  }
  void Release() {
    db_.Run("ROLLBACK");
    released_ = true;
  }
  ~LockHolder() {
    if (!released_) sqlite3_exec(db_.db, "ROLLBACK", nullptr, nullptr, nullptr);
  }

 private:
  Db db_;
  bool released_ = false;
};

TEST(Locks, LockedDatabaseIsRefusedAfterTheWait) {
  TempDir dir;
  const std::string d = dir.path();
  MakeSample(d, "s.db", 100);
  MakeTarget(d, "t.db");
  const std::string source = dir.file("s.db"), target = dir.file("t.db");
  const auto before = Dump(target);
  const auto source_before = Dump(source);

  struct Case {
    std::string locked, role, begin;
  };
  // A reader inside its transaction holds the target as a writer does (the
  // comment leaves the holder's write out).
  for (const Case& c : {Case{target, "target", "BEGIN EXCLUSIVE"}, Case{target, "target", "BEGIN IMMEDIATE"},
                        Case{target, "target", "BEGIN; SELECT count(*) FROM Ap_AlarmSet; --"},
                        Case{source, "source", "BEGIN EXCLUSIVE"}}) {
    const std::string context = c.role + " held by " + c.begin;
    LockHolder holder(c.locked, c.begin.c_str());
    Outcome o = Tool({"migrate", source, target, "--wait", "1"}, {d});
    holder.Release();
    EXPECT_EQ(o.code, 2) << context << ": " << o.err;
    EXPECT_EQ(o.err, "apupgrade: " + c.role + " database " + c.locked +
                         ": another program holds a lock on it (waited 1 s; see --wait); nothing was written\n")
        << context;
    EXPECT_GE(o.seconds, 0.9) << context;
    EXPECT_LE(o.seconds, 4.0) << context;
    ExpectAsBefore(target, before, context);
    EXPECT_EQ(Difference(source_before, Dump(source)), "") << context;
  }

  // A signal while the databases are still opened (here: a lock waited
  // on) is heeded at once: the run does not begin.
  {
    LockHolder early(target, "BEGIN EXCLUSIVE");
    Child run({"migrate", source, target, "--wait", "20", "--quiet"}, {d});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(kill(run.pid(), SIGINT), 0);
    Outcome o = run.Wait();
    early.Release();
    EXPECT_LE(o.seconds, 2.0);
    EXPECT_EQ(o.code, 130) << o.err;
    EXPECT_EQ(o.err, "apupgrade: interrupted by SIGINT before the run began; nothing was written\n");
    ExpectAsBefore(target, before, "signal before the run");
  }

  // A lock let go within the wait is waited out, and the run goes ahead.
  LockHolder holder(target, "BEGIN EXCLUSIVE");
  Child run({"migrate", source, target, "--wait", "20", "--quiet"}, {d});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(run.running()) << "did not wait for the lock";
  holder.Release();
  Outcome o = run.Wait();
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_GE(o.seconds, 0.5);
  EXPECT_EQ(Count(target, "Ap_AlarmSet"), Count(source, "Ap_AlarmSet"));
}

// Starts a run of the large set `source` into `target` and returns once its
// trace shows it well into the invoice lines, the largest step.
std::unique_ptr<Child> StartAndReachHalfway(const std::string& source, const std::string& target,
                                            const std::string& trace) {
  auto run = std::make_unique<Child>(std::vector<std::string>{"migrate", source, target, "--trace", trace, "--quiet"},
                                     Launch{fs::path(target).parent_path().string()});
  const auto begin = Clock::now();
  std::error_code ec;
  while (!(fs::file_size(trace, ec) >= 6u << 20 && !ec)) {
    if (!run->running()) {
      ADD_FAILURE() << "the run ended before it reached its middle";
      return run;
    }
    if (Since(begin) > 300) {
      ADD_FAILURE() << "the run did not reach its middle";
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(Slurp(trace).find("T\tSaleBillVouchs\t"), std::string::npos);
  return run;
}

// Runs over one large account set, long enough to be stopped in their
// middle: SIGINT and SIGTERM roll back at once; a SIGKILL leaves a journal
// that the next open recovers.
TEST(Interrupts, SignalsRollBackPromptlyAndAKilledRunIsRecoveredByTheNextOpen) {
  TempDir dir;
  MakeSample(dir.path(), "big.db", 200000);
  MakeSample(dir.path(), "small.db", 200);
  MakeTarget(dir.path(), "base.db");
  const std::string base = dir.file("base.db"), big = dir.file("big.db"), small = dir.file("small.db");
  const auto before = Dump(base);
  for (const int sig : {SIGINT, SIGTERM}) {
    const std::string name = sig == SIGINT ? "SIGINT" : "SIGTERM";
    const std::string target = dir.file(name + ".db"), trace = dir.file(name + ".trace");
    CopyFile(base, target);
    auto run = StartAndReachHalfway(big, target, trace);
    ASSERT_TRUE(run->running()) << name;
    const auto signalled = Clock::now();
    ASSERT_EQ(kill(run->pid(), sig), 0);
    Outcome o = run->Wait();
    EXPECT_LE(Since(signalled), 3.0) << name << ": too slow to stop";
    EXPECT_EQ(o.code, 128 + sig) << name << ": " << o.err;
    EXPECT_EQ(o.err, "apupgrade: interrupted by " + name + ": the run was rolled back; " + target + " is as it was\n");
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(Slurp(trace).find(kLastStep), std::string::npos) << name << " came after the run's end";
    ExpectAsBefore(target, before, name);
  }

  const std::string target = dir.file("t.db");
  const auto base_size = fs::file_size(base);
  CopyFile(base, target);
  auto run = StartAndReachHalfway(big, target, dir.file("run.trace"));
  ASSERT_TRUE(run->running());
  ASSERT_EQ(kill(run->pid(), SIGKILL), 0);
  Outcome o = run->Wait();
  EXPECT_EQ(o.signal, SIGKILL);
  // The run had written into the file itself, and left the journal that
  // undoes it: without recovery the file would be neither state.
  EXPECT_GT(fs::file_size(target), base_size);
  ASSERT_TRUE(fs::exists(target + "-journal"));
  EXPECT_GT(fs::file_size(target + "-journal"), 0u);

  // A second copy of the killed state, file and journal, recovered by the
  // engine's first read-write open.
  const std::string copy = dir.file("copy.db");
  CopyFile(target, copy);
  CopyFile(target + "-journal", copy + "-journal");
  EXPECT_EQ(Difference(before, Dump(copy, SQLITE_OPEN_READWRITE)), "");
  EXPECT_FALSE(fs::exists(copy + "-journal"));
  EXPECT_EQ(QuickCheck(copy), "ok");

  // The tool itself needs no manual step: it recovers the killed target and
  // migrates into it as into the target before the killed run.
  const std::string reference = dir.file("reference.db");
  CopyFile(base, reference);
  o = Tool({"migrate", small, reference, "--quiet"}, {dir.path()});
  ASSERT_EQ(o.code, 0) << o.err;
  o = Tool({"migrate", small, target, "--quiet"}, {dir.path()});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(fs::exists(target + "-journal"));
  EXPECT_EQ(QuickCheck(target), "ok");
  EXPECT_EQ(Difference(Dump(reference), Dump(target)), "");
}

// Trace paths that would take a database's place, and damaged inputs: each
// refused with what is wrong, nothing written.
TEST(RefusedInput, TracePathsAndDamagedFilesAreRefusedAndNothingIsWritten) {
  TempDir dir;
  const std::string d = dir.path();
  MakeSample(d, "s.db", 3000);
  MakeTarget(d, "t.db");
  MakeTarget(d, "other.db");
  CopyFile(testsupport::SharedDir() + "/fixtures/mdb/nwind.mdb", dir.file("other.mdb"));
  fs::create_symlink("t.db", dir.file("sym.db"));
  fs::create_hard_link(dir.file("t.db"), dir.file("hard.db"));
  fs::create_directory(dir.file("sub"));
  // A link to where the engine puts the target's journal once the run
  // starts: the file does not exist when the paths are checked.
  fs::create_symlink("t.db-journal", dir.file("journal-link"));

  const std::string overwritten = "; it would be overwritten\n", damaged = "; writing it would damage the database\n";
  const std::pair<std::string, std::string> refused[] = {
      {"t.db", "apupgrade: the trace file t.db is the database t.db" + overwritten},
      {"s.db", "apupgrade: the trace file s.db is the database s.db" + overwritten},
      {"sym.db", "apupgrade: the trace file sym.db is the database t.db" + overwritten},
      {"hard.db", "apupgrade: the trace file hard.db is the database t.db" + overwritten},
      {"t.db-journal", "apupgrade: the trace file t.db-journal is the engine's journal of t.db" + damaged},
      {"sub/../t.db-journal", "apupgrade: the trace file sub/../t.db-journal is the engine's journal of t.db" + damaged},
      {"s.db-journal", "apupgrade: the trace file s.db-journal is the engine's journal of s.db" + damaged},
      {"t.db-wal", "apupgrade: the trace file t.db-wal is the engine's journal of t.db" + damaged},
      {"journal-link", "apupgrade: the trace file journal-link is the engine's journal of t.db" + damaged},
      {"other.db", "apupgrade: the trace file other.db is a database" + overwritten},
      {"other.mdb", "apupgrade: the trace file other.mdb is a database" + overwritten},
  };
  for (const auto& [trace, message] : refused) {
    const auto snapshot = Snapshot(d);
    Outcome o = Tool({"migrate", "s.db", "t.db", "--trace", trace}, {d});
    EXPECT_EQ(o.code, 2) << trace << ": " << o.err;
    EXPECT_EQ(o.err, message) << trace;
    EXPECT_EQ(o.out, "") << trace;
    EXPECT_EQ(Difference(snapshot, Snapshot(d)), "") << trace;
  }

  const std::string fixtures = testsupport::SharedDir() + "/fixtures/damaged/";
  CopyFile(fixtures + "damaged-sample.db", dir.file("damaged.db"));
  CopyFile(fixtures + "duplicate-column.mdb", dir.file("damaged.mdb"));

  // A target damaged after a run had filled it: a page in the middle of
  // its rows overwritten.
  ASSERT_EQ(Tool({"new-target", "full.db"}, {d}).code, 0);
  ASSERT_EQ(Tool({"migrate", "s.db", "full.db", "--quiet"}, {d}).code, 0);
  {
    const auto size = fs::file_size(dir.file("full.db"));
    std::fstream f(dir.file("full.db"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size / 2 / 4096 * 4096 + 100));
    const std::string junk(400, 'Z');
    f.write(junk.data(), junk.size());
  }
  ASSERT_NE(QuickCheck(dir.file("damaged.db")), "ok");
  ASSERT_NE(QuickCheck(dir.file("full.db")), "ok");

  const auto snapshot = Snapshot(d);
  for (const auto& [role, source, target] : {std::tuple{"source", "damaged.db", "t.db"},
                                             std::tuple{"target", "s.db", "full.db"}}) {
    const std::string broken = std::string(role) == "source" ? source : target;
    const Outcome o = Tool({"migrate", source, target}, {d});
    EXPECT_EQ(o.code, 2) << o.err;
    EXPECT_EQ(o.err, "apupgrade: " + std::string(role) + " database " + broken +
                         " is damaged: the engine's quick check reports: " + QuickCheck(dir.file(broken)) + "\n");
    EXPECT_EQ(Difference(snapshot, Snapshot(d)), "");
  }

  // libmdb may note the damage first; the tool's own line comes last.
  const Outcome o = Tool({"migrate", "damaged.mdb", "t.db"}, {d});
  EXPECT_EQ(o.code, 2) << o.err;
  const auto lines = Lines(o.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("apupgrade: cannot read table DateTest of Access file damaged.mdb: "))
      << o.err;
  EXPECT_EQ(Difference(snapshot, Snapshot(d)), "");
}

}  // namespace
