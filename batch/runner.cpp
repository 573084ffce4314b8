#include "batch/runner.h"

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "batch/children.h"
#include "batch/html.h"
#include "batch/manifest.h"
#include "batch/progress.h"
#include "batch/report.h"
#include "batch/state.h"
#include "check/needs.h"
#include "check/report.h"
#include "progress/messages.h"
#include "run/account_set.h"
#include "run/migration.h"
#include "run/output_file.h"
#include "run/summary.h"
#include "velaccap/open.h"

namespace velaccap::batch {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A name made safe for a file name, with a hash of the whole name so that
// two names that differ only in what was replaced stay apart.
std::string FileKey(const std::string& name) {
  std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
  std::string safe;
  for (unsigned char c : name) {
    h = (h ^ c) * 1099511628211ULL;
    if (safe.size() < 60) safe += std::isalnum(c) || c == '-' || c == '_' || c == '.' ? static_cast<char>(c) : '_';
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return safe + "-" + std::string(hex, 8);
}

bool IsFile(const std::string& name) { return name.rfind("odbc:", 0) != 0; }

// Writes the --summary and --report files: `json` and `html` make them.
void WriteOutputs(const Options& options, const std::function<nlohmann::ordered_json()>& json,
                  const std::function<std::string()>& html, std::ostream& err, int* exit_code) {
  try {
    if (!options.summary.empty()) {
      run::OutputFile file(options.summary, "summary");
      run::WriteJson(file, json());
    }
    if (!options.report.empty()) {
      run::OutputFile file(options.report, "report");
      std::ostream page(&file);
      page.exceptions(std::ios::badbit);
      page << html();
      page.flush();
      file.Finish();
    }
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    if (*exit_code == 0) *exit_code = 1;
  }
}

// An output file is written at the batch's end: a folder it cannot be
// written in is refused before any set is migrated.
void CheckFolder(const std::string& path, const char* what) {
  const fs::path folder = fs::absolute(path).parent_path();
  if (::access(folder.c_str(), W_OK) != 0)
    throw InputError(std::string("cannot write the ") + what + " file " + path + ": its folder " + folder.string() +
                     ": " + std::strerror(errno));
}

// The summary and report files must not take the place of a database, the
// manifest or the state.
void CheckOutputs(const Options& options, const std::vector<Set>& sets, const std::string& state) {
  std::vector<std::string> databases;
  for (const Set& s : sets) {
    if (IsFile(s.source)) databases.push_back(s.source);
    if (IsFile(s.target)) databases.push_back(s.target);
  }
  for (auto [path, what] : {std::pair{options.summary, "summary"}, {options.report, "report"}, {options.log_path, "log"}}) {
    if (path.empty()) continue;
    CheckFolder(path, what);
    run::CheckOutputPath(path, what, databases);
    for (const std::string& other : {options.manifest, state, state + ".lock"})
      if (!other.empty() && (path == other || run::SameFile(path, other)))
        throw InputError(std::string("the ") + what + " file " + path + " is the batch's own file " + other);
  }
  if (!options.summary.empty() && !options.report.empty() &&
      (options.summary == options.report || run::SameFile(options.summary, options.report)))
    throw InputError("the summary file and the report file are the same file " + options.summary);
}

// Each set identified as migrate identifies it, without writing anything.
std::vector<Problem> Identify(const std::vector<Set>& sets, int wait_seconds) {
  std::vector<Problem> problems;
  const OpenOptions open{wait_seconds * 1000, false};
  for (const Set& s : sets) {
    try {
      std::unique_ptr<SourceDatabase> source = OpenSource(s.source, open);
      std::unique_ptr<TargetConnection> target = OpenTarget(s.target, open);
      const check::Identity id = check::Identify(*source, *target);
      for (const std::string& text :
           {check::SourceMisfit(id.source, s.source), check::TargetMisfit(id.target, run::DisplayName(s.target))})
        if (!text.empty()) problems.push_back({s.where, "set '" + s.name + "': " + text, s.line});
    } catch (const std::exception& e) {
      problems.push_back({s.where, "set '" + s.name + "': " + e.what(), s.line});
    }
  }
  return problems;
}

SetResult Base(const Set& s) {
  SetResult r;
  r.name = s.name;
  r.source = s.source;
  r.target = run::DisplayName(s.target);
  return r;
}

// What a finished migration's summary says of it.
void TakeSummary(const nlohmann::json& doc, SetResult* r) {
  if (doc.contains("totals")) {
    const nlohmann::json& t = doc["totals"];
    r->rows_read = t.value("read", -1LL);
    r->rows_written = t.value("written", -1LL);
    r->rows_updated = t.value("updated", -1LL);
  }
  if (doc.contains("reconciliation")) r->reconciliation = doc["reconciliation"];
}

std::optional<nlohmann::json> ReadJsonFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  try {
    return nlohmann::json::parse(in);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;  // cut short: the child did not finish it
  }
}

std::size_t Cores() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

// The page's title: the manifest and the shard.
std::string Title(const char* what, const std::string& manifest, const std::string& shard) {
  return std::string("apupgrade ") + what + " " + (manifest.empty() ? std::string("report") : manifest) +
         (shard.empty() ? "" : " shard " + shard);
}

// A refusal before the databases were read is the check's one problem, and
// the check printed nothing for it.
bool RefusedUnread(const std::vector<check::Problem>& problems) {
  if (problems.size() != 1) return false;
  const std::string& c = problems[0].code;
  return c == "missing-file" || c == "same-database" || c == "unusable-database";
}

int RunChecks(const Options& options, const std::vector<Set>& sets, const std::string& tool, int jobs,
              const std::string& shard, document::Clock::time_point started, std::ostream& out, std::ostream& err) {
  char dir_template[] = "/tmp/apupgrade-batch-check-XXXXXX";
  std::string tmp = std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) + "/apupgrade-batch-check-XXXXXX"
                                          : std::string(dir_template);
  if (!::mkdtemp(tmp.data())) {
    err << "apupgrade: cannot create a scratch folder " << tmp << ": " << std::strerror(errno) << '\n';
    return 2;
  }
  struct Remove {
    std::string dir;
    ~Remove() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } remove{tmp};
  std::vector<int> codes(sets.size(), -1);
  const bool stop = false;
  Progress progress(options.live ? *options.live : progress::LiveOnStderr(options.quiet));
  std::size_t finished = 0;
  const int sig = Schedule(
      sets.size(), jobs, options.timeout_seconds,
      [&](std::size_t i) {
        ChildTarget target;
        try {
          target = SplitPassword(sets[i].target);
        } catch (const std::exception& e) {
          std::ofstream(tmp + "/" + std::to_string(i) + ".err") << "apupgrade: " << e.what() << '\n';
          return pid_t(-1);
        }
        return Spawn(tool,
                     {"check", sets[i].source, target.argument, "--json", "--wait",
                      std::to_string(options.wait_seconds)},
                     tmp + "/" + std::to_string(i) + ".out", tmp + "/" + std::to_string(i) + ".err", target.password);
      },
      [&](std::size_t i, const Ended& e) {
        codes[i] = WIFEXITED(e.status) && !e.timed_out && !e.interrupted ? WEXITSTATUS(e.status) : -1;
        ++finished;
      },
      [&](std::size_t running, std::size_t) {
        progress.Draw(sets.size(), finished, 0, running, nullptr);
      },
      &stop);
  progress.Clear();
  std::size_t fine = 0, stops = 0, unusable = 0;
  std::vector<CheckedSet> checked;
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const Set& s = sets[i];
    CheckedSet c{s.name, s.source, run::DisplayName(s.target), "not_checked", codes[i], nullptr, {}};
    out << "set '" << s.name << "' (" << s.where << "): " << s.source << " -> " << c.target << '\n';
    // Each child wrote its findings as JSON: the text is made from them.
    try {
      c.check = nlohmann::ordered_json::parse(Slurp(tmp + "/" + std::to_string(i) + ".out"));
    } catch (const nlohmann::json::exception&) {
      c.check = nullptr;  // cut short: the check did not end
    }
    const std::vector<check::Problem> problems =
        c.check.is_object() ? check::ProblemsOf(c.check) : std::vector<check::Problem>();
    if (c.check.is_object() && codes[i] >= 0 && codes[i] <= 2 && !(codes[i] == 2 && RefusedUnread(problems))) {
      std::ostringstream text;
      check::PrintProblems(text, problems);
      std::istringstream lines(text.str());
      for (std::string line; std::getline(lines, line);) out << "  " << line << '\n';
    }
    if (codes[i] == 0) {
      ++fine;
      c.status = "would_finish";
    } else if (codes[i] == 1) {
      ++stops;
      c.status = "would_stop";
    } else {
      ++unusable;
      if (codes[i] == 2 && c.check.is_object()) c.status = "refused";
      else c.check = nullptr;
      c.error = ErrorLines(Slurp(tmp + "/" + std::to_string(i) + ".err"));
      if (c.status == "not_checked" || RefusedUnread(problems))
        out << "  cannot be used: " << (c.error.empty() ? "the check did not finish" : c.error) << '\n';
    }
    checked.push_back(std::move(c));
  }
  out << sets.size() << (sets.size() == 1 ? " set" : " sets") << " checked: " << fine << " would run to the end, "
      << stops << " would stop, " << unusable << " cannot be used\n";
  int code = sig != 0 ? 128 + sig : unusable ? 2 : stops ? 1 : 0;
  if (sig != 0) err << "apupgrade: interrupted by " << SignalName(sig) << ": the check was not finished\n";
  WriteOutputs(
      options, [&] { return CheckJson(checked, options.manifest, shard, code, started); },
      [&] { return HtmlCheckReport(checked, Title("batch --check", options.manifest, shard)); }, err, &code);
  return code;
}

}  // namespace

std::string DefaultStatePath(const std::string& manifest, const std::string& shard) {
  if (shard.empty()) return manifest + ".state";
  const Shard s = ParseShard(shard);
  return manifest + ".shard-" + std::to_string(s.k) + "-of-" + std::to_string(s.n) + ".state";
}

int Run(const Options& options, std::ostream& out, std::ostream& err) {
  std::ofstream log_file;
  std::ostream* log = nullptr;  // -v, --log
  const auto started = document::Clock::now();
  std::string shard_text;
  std::vector<Set> sets;
  std::string state_path;
  try {
    Shard shard;
    if (!options.shard.empty()) {
      shard = ParseShard(options.shard);
      shard_text = shard.text();
    }
    // The whole manifest is read and checked before any set is touched;
    // every problem is listed at once.
    Manifest manifest = ReadManifest(options.manifest);
    std::vector<Problem> problems = manifest.problems;
    for (Problem& p : CrossProblems(manifest.sets)) problems.push_back(std::move(p));
    if (!problems.empty()) {
      err << "apupgrade: the manifest cannot be used; nothing was migrated:\n" << ProblemText(problems);
      return 2;
    }
    sets = TakeShard(manifest.sets, shard);
    state_path = options.state.empty() ? DefaultStatePath(options.manifest, options.shard) : options.state;
    CheckOutputs(options, sets, state_path);
    if (!options.log_path.empty() && !options.check) {
      log_file.open(options.log_path, std::ios::app);
      if (!log_file) throw InputError("cannot open the log file " + options.log_path + ": " + std::strerror(errno));
      log = &log_file;
    } else if (options.verbose && !options.check) {
      log = &err;
    }
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }
  const std::string tool = options.tool.empty() ? "/proc/self/exe" : options.tool;
  const int jobs = options.jobs > 0 ? options.jobs : static_cast<int>(Cores());
  if (options.check) return RunChecks(options, sets, tool, jobs, shard_text, started, out, err);

  std::unique_ptr<StateLock> lock;
  std::unique_ptr<State> state;
  try {
    lock = std::make_unique<StateLock>(state_path);
    state = std::make_unique<State>(state_path);
    std::vector<Problem> problems = Identify(sets, options.wait_seconds);
    if (!problems.empty()) {
      err << "apupgrade: " << problems.size() << (problems.size() == 1 ? " account set" : " account sets")
          << " of the manifest cannot be used; nothing was migrated:\n"
          << ProblemText(problems);
      return 2;
    }
    fs::create_directories(state->work_dir());
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }

  std::vector<SetResult> results;
  std::vector<std::size_t> todo;  // indexes into sets
  std::vector<SourceStamp> stamps(sets.size());
  try {
    bool changed = false;
    for (std::size_t i = 0; i < sets.size(); ++i) {
      const Set& s = sets[i];
      const std::string key = state->work_dir() + "/" + FileKey(s.name);
      results.push_back(Base(s));
      const Entry* entry = state->Find(s.name);
      // A set whose child ran on while (or after) the batch that started it
      // died: its summary says whether its migration was committed.
      if (entry && entry->status == "running") {
        Entry e = *entry;
        const auto doc = ReadJsonFile(key + ".summary.json");
        if (doc && doc->value("status", "") == "succeeded") {
          SetResult r = Base(s);
          r.status = "succeeded";
          r.exit_code = 0;
          r.seconds = doc->value("elapsed_seconds", 0.0);
          TakeSummary(*doc, &r);
          e.status = "done";
          e.result = ToJson(r);
          state->Put(s.name, e);
        } else {
          state->Erase(s.name);
        }
        changed = true;
        entry = state->Find(s.name);
      }
      const bool done = entry && entry->status == "done" && entry->source == s.source &&
                        entry->target == run::DisplayName(s.target) &&
                        entry->stamp == StampOf(s.source);
      if (done && !options.redo) {
        SetResult r = FromJson(entry->result);
        r.status = "skipped";
        r.name = s.name;
        results.back() = r;
      } else {
        todo.push_back(i);
      }
    }
    if (changed) state->Save();
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }

  // Progress counts.
  Pace pace;
  for (std::size_t i : todo) pace.waiting_bytes += static_cast<double>(std::max<std::int64_t>(0, StampOf(sets[i].source).size));
  std::size_t done = results.size() - todo.size(), failed = 0;
  Progress progress(options.live ? *options.live : progress::LiveOnStderr(options.quiet));
  progress.Log(log, "batch " + options.manifest + ": " + std::to_string(todo.size()) + " of " +
                        std::to_string(sets.size()) + " sets to migrate, " + std::to_string(jobs) + " at a time");
  bool stop = false;
  std::string fatal;

  const int sig = Schedule(
      todo.size(), jobs, options.timeout_seconds,
      [&](std::size_t n) -> pid_t {
        const std::size_t i = todo[n];
        const Set& s = sets[i];
        const std::string key = state->work_dir() + "/" + FileKey(s.name);
        try {
          // A summary left by an earlier run must not be taken for this one's.
          std::error_code ec;
          fs::remove(key + ".summary.json", ec);
          fs::remove(key + ".rows", ec);
          stamps[i] = StampOf(s.source);
          // Recorded before the child exists, so that a batch killed from
          // here on finds the child's summary on its next run.
          state->Put(s.name, Entry{"running", s.source, run::DisplayName(s.target), stamps[i], nullptr});
          state->Save();
          const ChildTarget target = SplitPassword(s.target);
          const pid_t pid = Spawn(tool,
                                  {"migrate", s.source, target.argument, "-q", "--summary", key + ".summary.json",
                                   "--rows-file", key + ".rows", "--wait", std::to_string(options.wait_seconds)},
                                  "/dev/null", key + ".stderr", target.password);
          const double bytes = static_cast<double>(std::max<std::int64_t>(0, stamps[i].size));
          pace.waiting_bytes -= bytes;
          pace.running[i] = {key + ".rows", bytes};
          progress.Log(log, "set '" + s.name + "': migrating " + s.source + " into " + run::DisplayName(s.target));
          return pid;
        } catch (const std::exception& ex) {
          results[i].status = "failed";
          results[i].error = ex.what();
          ++failed;
          if (fatal.empty()) fatal = ex.what();
          stop = true;
          return -1;
        }
      },
      [&](std::size_t n, const Ended& e) {
        const std::size_t i = todo[n];
        const Set& s = sets[i];
        const std::string key = state->work_dir() + "/" + FileKey(s.name);
        if (options.after_set) options.after_set(s.name);
        SetResult& r = results[i];
        r.seconds = e.seconds;
        const auto doc = ReadJsonFile(key + ".summary.json");
        const std::string said = ErrorLines(Slurp(key + ".stderr"));
        const std::string limit = std::to_string(options.timeout_seconds);
        if (WIFSIGNALED(e.status)) {
          const int by = WTERMSIG(e.status);
          r.status = e.timed_out ? kTimedOut : e.interrupted ? "interrupted" : "crashed";
          r.error = e.timed_out ? "did not finish within " + limit + " s and was killed" :
                                  "the migration's process ended by " + SignalName(by);
          // The engine restores the file from its journal when next opened:
          // that is now, so that the target is as it was when the report says so.
          if (IsFile(s.target)) {
            const std::string problem = RecoverTarget(s.target);
            r.error += problem.empty() ? "; " + s.target + " is as it was"
                                       : "; after recovery the engine's quick check of " + s.target + " reports: " + problem;
          }
          if (!said.empty()) r.error += " / " + said;
        } else {
          r.exit_code = WEXITSTATUS(e.status);
          const bool succeeded = r.exit_code == 0 && doc && doc->value("status", "") == "succeeded";
          if (succeeded || r.exit_code == run::kOutputLost) {
            r.status = "succeeded";
            // Only a kept run's counts are the target's; a failed run's are
            // in its error and were rolled back.
            if (succeeded) TakeSummary(*doc, &r);
            if (!succeeded) r.error = said;
          } else {
            r.status = e.timed_out ? kTimedOut : e.interrupted && (r.exit_code == 130 || r.exit_code == 143)
                                                       ? "interrupted"
                                                       : "failed";
            r.error = said.empty() ? "the migration ended with exit code " + std::to_string(r.exit_code) : said;
            if (e.timed_out) r.error = "did not finish within " + limit + " s: " + r.error;
            // A target that does not reconcile shows its differences.
            if (doc && doc->contains("reconciliation")) r.reconciliation = (*doc)["reconciliation"];
          }
        }
        const progress::RowsSeen seen = progress::ReadRowsFile(key + ".rows");
        const long long read = r.status == "succeeded" && r.rows_read >= 0 ? r.rows_read : seen.done;
        pace.ended += read;
        if (seen.to_read >= 0) {
          pace.known_rows += static_cast<double>(seen.to_read);
          pace.known_bytes += pace.running[i].second;
        }
        pace.running.erase(i);
        progress.Log(log, "set '" + s.name + "': " + r.status + " in " + Seconds(r.seconds) + " s" +
                              (r.error.empty() ? "" : ": " + r.error));
        if (r.status == "succeeded") {
          ++done;
          state->Put(s.name, Entry{"done", s.source, run::DisplayName(s.target), stamps[i], ToJson(r)});
        } else {
          if (r.status != "interrupted") ++failed;
          state->Erase(s.name);
        }
        try {
          state->Save();
        } catch (const std::exception& ex) {
          // Without its record a finished set would be done again: stop.
          if (fatal.empty()) fatal = ex.what();
          stop = true;
        }
      },
      [&](std::size_t running, std::size_t) {
        progress.Draw(sets.size(), done, failed, running, [&] { return pace.Now(); });
      },
      &stop);
  progress.Clear();

  for (std::size_t i = 0; i < sets.size(); ++i)
    if (results[i].status.empty()) results[i].status = kNotStarted;
  progress.Log(log, "batch ended: " + CountsLine(results));

  int code = sig != 0 ? 128 + sig : !fatal.empty() ? 1 : ExitCodeOf(results);
  if (!options.quiet) PrintTable(out, results);
  if (!fatal.empty()) err << "apupgrade: " << fatal << "; the batch stopped starting sets\n";
  if (sig != 0) {
    std::size_t ok = 0, rolled = 0, waiting = 0;
    for (const SetResult& r : results) {
      ok += r.ok();
      rolled += r.status == "interrupted";
      waiting += r.status == kNotStarted;
    }
    err << "apupgrade: interrupted by " << SignalName(sig) << ": " << ok << " of " << results.size()
        << " sets are done; " << rolled << " running were rolled back and " << waiting
        << " not started; run the batch again to do the rest\n";
  }
  WriteOutputs(
      options, [&] { return nlohmann::ordered_json(SummaryJson(results, options.manifest, shard_text, code, started)); },
      [&] { return HtmlReport(results, Title("batch", options.manifest, shard_text)); }, err, &code);
  return code;
}

int Merge(const std::vector<std::string>& summaries, const std::string& summary, const std::string& report,
          std::ostream& out, std::ostream& err) {
  const auto started = document::Clock::now();
  std::vector<SetResult> results;
  Options options;
  options.summary = summary;
  options.report = report;
  try {
    for (std::size_t i = 0; i < summaries.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (summaries[i] == summaries[j] || run::SameFile(summaries[i], summaries[j]))
          throw InputError("the summary " + summaries[i] + " is given twice (also as " + summaries[j] +
                           "); its sets would be counted twice");
    for (const std::string& path : summaries)
      for (SetResult& r : ReadSummary(path)) results.push_back(std::move(r));
    std::vector<std::string> inputs = summaries;
    for (auto [path, what] : {std::pair{summary, "summary"}, {report, "report"}}) {
      if (path.empty()) continue;
      run::CheckOutputPath(path, what, {});
      for (const std::string& in : inputs)
        if (path == in || run::SameFile(path, in))
          throw InputError(std::string("the ") + what + " file " + path + " is one of the summaries read");
    }
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }
  PrintTable(out, results);
  int code = ExitCodeOf(results);
  WriteOutputs(
      options, [&] { return nlohmann::ordered_json(SummaryJson(results, "", "", code, started)); },
      [&] { return HtmlReport(results, Title("batch", "", "")); }, err, &code);
  return code;
}

}  // namespace velaccap::batch
