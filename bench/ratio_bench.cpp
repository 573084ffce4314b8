// The run's time as a ratio of what SQLite itself needs. Per size, a sample
// account set is migrated into a fresh SQLite target as `apupgrade migrate`
// does it and, interleaved with it, the floor writes the same kind of rows
// through the SQLite library alone, in one transaction: one
// "INSERT INTO ... SELECT" per table from the source, using the run's own
// queries - the owned invoices and their lines, the cancellation maxima, the
// copied tables, the input code row. Each measurement runs in a child
// process of its own, so its peak memory is its own.
//
//   velaccap_ratio_bench [--sizes 10000,100000,1000000] [--rounds 3] [--dir D]
//   velaccap_ratio_bench --only run --sizes 100000   (one measurement, in
//                                                     this process: for a profiler)
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/steps.h"
#include "dbaccess/ascii.h"
#include "dbaccess/sqlite.h"
#include "invoices/kinds.h"
#include "run/account_set.h"
#include "run/migration.h"
#include "sample/sample.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/open.h"

namespace {

namespace fs = std::filesystem;

struct Measure {
  double seconds;      // wall time
  double cpu_seconds;  // user and system time: what the work itself cost on a busy machine
  long peak_kb;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Runs `work` in a child process; its wall time, CPU time and peak memory.
Measure InChild(const std::function<int()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int rc = 1;
    try {
      rc = work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    std::fflush(nullptr);
    _exit(rc);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("a measured run failed");
  return {seconds, Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss};
}

void Exec(sqlite3* db, const std::string& sql) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    std::string text = msg ? msg : "?";
    sqlite3_free(msg);
    throw std::runtime_error(text + " in " + sql);
  }
}

// The column names of `schema`.`table`.
std::vector<std::string> Columns(sqlite3* db, const char* schema, const std::string& table) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?1, ?2)", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, schema, -1, SQLITE_STATIC);
  std::vector<std::string> cols;
  while (sqlite3_step(st) == SQLITE_ROW) cols.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  return cols;
}

// One table's rows: "INSERT INTO tgt.table (targets)" and the query that
// reads them, the run's own query with its * replaced by the sources.
// Columns are named one by one: with "SELECT *" SQLite may copy records
// without decoding them, which is no floor for a run that looks at values.
struct Copy {
  std::string insert;
  std::string select;
  int columns = 0;
};

Copy InsertSelect(const std::string& table, const std::string& targets, const std::string& sources,
                  const std::string& query) {
  const std::string star = "Select * ";
  if (query.rfind(star, 0) != 0) throw std::runtime_error("unexpected query " + query);
  return {"INSERT INTO tgt.\"" + table + "\" (" + targets + ")", "Select " + sources + " " + query.substr(star.size()),
          static_cast<int>(std::count(targets.begin(), targets.end(), ',')) + 1};
}

// A copy by name: the columns source and target share, but the one left out.
Copy CopyStatement(sqlite3* db, const std::string& table, const std::string& query, const char* left_out) {
  std::string cols;
  const std::vector<std::string> in_source = Columns(db, "main", table);
  for (const std::string& c : Columns(db, "tgt", table)) {
    if (left_out && velaccap::EqualNoCase(c, left_out)) continue;
    bool shared = false;
    for (const std::string& s : in_source) shared = shared || velaccap::EqualNoCase(s, c);
    if (!shared) continue;
    if (!cols.empty()) cols += ",";
    cols += "\"" + c + "\"";
  }
  return InsertSelect(table, cols, cols, query);
}

Copy MapStatement(const std::string& table, const velaccap::FieldMapWriter::Pair* map, std::size_t n,
                         const std::string& query) {
  std::string targets, sources;
  for (std::size_t i = 0; i < n; ++i) {
    targets += (i ? "," : "") + std::string(map[i].target);
    sources += (i ? "," : "") + std::string(map[i].source);
  }
  return InsertSelect(table, targets, sources, query);
}

// Writes one table's rows through the C API, a prepared insert stepped once
// per row with the values of the query's row bound: what any program that
// writes row by row pays the engine, before any work of its own.
void ByRow(sqlite3* db, const Copy& copy) {
  std::string values;
  for (int i = 0; i < copy.columns; ++i) values += i ? ",?" : "?";
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;
  if (sqlite3_prepare_v2(db, copy.select.c_str(), -1, &read, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, (copy.insert + " VALUES (" + values + ")").c_str(), -1, &write, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(db));
  while (sqlite3_step(read) == SQLITE_ROW) {
    for (int i = 0; i < copy.columns; ++i) sqlite3_bind_value(write, i + 1, sqlite3_column_value(read, i));
    if (sqlite3_step(write) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_reset(write);
  }
  sqlite3_finalize(read);
  sqlite3_finalize(write);
}

// The floor: the source opened, the fresh target attached, every table of
// the run written from the source in one transaction: by one statement per
// table, or with `by_row` one insert per row.
int Floor(const std::string& source, const std::string& target, bool by_row) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(source.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + source);
  Exec(db, "ATTACH DATABASE '" + target + "' AS tgt");
  Exec(db, "BEGIN");
  for (const velaccap::Step& step : velaccap::StepTable()) {
    const std::string t = step.table;
    std::vector<Copy> copies;
    if (step.query) {
      copies.push_back(CopyStatement(db, t, step.query, step.left_out));
    } else if (t == "Ap_CancelNo") {
      copies.push_back({"INSERT INTO tgt.Ap_CancelNo (iCancelNo,cType,cFlag)",
                        "Select Max(iCancelNo),cType,cFlag From Ap_CancelNo Group By cFlag,cType", 3});
    } else if (t == "Ap_Detail") {
      copies.push_back(CopyStatement(db, t, "Select * From Ap_Detail Order By Auto_ID", "AUTO_ID"));
    } else if (t == "Ap_InputCode") {
      copies.push_back(CopyStatement(db, t, "Select * From Ap_InputCode Order By Auto_ID", "AUTO_ID"));
      copies.push_back({"INSERT INTO tgt.Ap_InputCode (cNum,cNote,cFlag)", "Select '49','x','RP'", 3});
    } else {
      for (const velaccap::HeaderKind* h : {&velaccap::kSalesHeaders, &velaccap::kPurchaseHeaders})
        if (t == h->table) copies.push_back(MapStatement(t, h->map, h->map_size, h->query));
      for (const velaccap::DetailKind* d : {&velaccap::kSalesDetails, &velaccap::kPurchaseDetails})
        if (t == d->table) copies.push_back(MapStatement(t, d->map, d->map_size, d->copy_query));
    }
    // AccInformation: the run only updates its rows.
    if (!copies.empty()) Exec(db, "DELETE FROM tgt.\"" + t + "\"");
    for (const Copy& copy : copies) {
      if (by_row)
        ByRow(db, copy);
      else
        Exec(db, copy.insert + " " + copy.select);
    }
  }
  Exec(db, "COMMIT");
  sqlite3_close(db);
  return 0;
}

// The run as the tool makes it: both files opened, the component's run in
// one transaction, committed. Without the files' quick checks, which the
// command column counts.
int Run(const std::string& source, const std::string& target) {
  velaccap::OpenOptions options;
  options.verify = false;
  auto src = velaccap::OpenSqliteSource(source, options);
  auto tgt = velaccap::OpenSqliteTarget(target, options);
  tgt->BeginTransaction();
  velaccap::clsAPA812 obj;
  if (!obj.UpdateA812ToS820(*src, *tgt)) throw std::runtime_error(obj.ErrDescription());
  tgt->Commit();
  return 0;
}

// The whole `apupgrade migrate` command: checks, run, reconciliation.
int Command(const std::string& source, const std::string& target) {
  velaccap::run::Options options;
  options.source = source;
  options.target = target;
  const velaccap::run::Outcome outcome = velaccap::run::Migrate(options);
  for (const std::string& message : outcome.messages) std::cerr << "apupgrade: " << message << '\n';
  return outcome.exit_code;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Fresh(const fs::path& empty, const fs::path& target) {
  fs::remove(target);
  fs::copy_file(empty, target);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times the run against SQLite's own floor"};
  std::vector<long long> sizes{10'000, 100'000, 1'000'000};
  int rounds = 3;
  std::string dir = (fs::temp_directory_path() / "velaccap-ratio-bench").string();
  app.add_option("--sizes", sizes, "Invoice lines per sample")->delimiter(',');
  app.add_option("--rounds", rounds, "Measurements of each kind per size")->check(CLI::Range(1, 100));
  app.add_option("--dir", dir, "Folder for the samples and targets (kept between runs)");
  std::string only;
  app.add_option("--only", only, "Run one kind once in this process, untimed, for a profiler")
      ->check(CLI::IsMember({"floor", "row", "run", "migrate"}));
  CLI11_PARSE(app, argc, argv);

  fs::create_directories(dir);
  const fs::path empty = fs::path(dir) / "empty.db";
  fs::remove(empty);
  velaccap::run::CreateTarget(empty.string());

  std::printf("%10s  %7s  %7s  %6s  %7s  %7s  %6s  %7s  %6s  %9s  %9s  %6s  %8s\n", "lines", "run s", "floor s",
              "ratio", "run cpu", "flr cpu", "ratio", "row cpu", "ratio", "migrate s", "lines/s", "run MB", "floor MB");
  std::fflush(stdout);  // the children would print it again from their copies
  for (long long lines : sizes) {
    const fs::path sample = fs::path(dir) / ("sample-" + std::to_string(lines) + ".db");
    if (!fs::exists(sample)) velaccap::sample::WriteSample(sample.string(), {lines, 1});
    const fs::path target = fs::path(dir) / "target.db";
    if (!only.empty()) {
      Fresh(empty, target);
      const std::string from = sample.string(), to = target.string();
      const int rc = only == "floor"  ? Floor(from, to, false)
                     : only == "row"  ? Floor(from, to, true)
                     : only == "run"  ? Run(from, to)
                                      : Command(from, to);
      if (rc != 0) return rc;
      continue;
    }

    std::vector<double> run, floor, command, run_cpu, floor_cpu, row_cpu;
    long run_kb = 0, floor_kb = 0;
    for (int r = 0; r < rounds; ++r) {
      Fresh(empty, target);
      const Measure f = InChild([&] { return Floor(sample.string(), target.string(), false); });
      Fresh(empty, target);
      const Measure w = InChild([&] { return Floor(sample.string(), target.string(), true); });
      Fresh(empty, target);
      const Measure m = InChild([&] { return Run(sample.string(), target.string()); });
      Fresh(empty, target);
      const Measure c = InChild([&] { return Command(sample.string(), target.string()); });
      floor.push_back(f.seconds);
      floor_cpu.push_back(f.cpu_seconds);
      row_cpu.push_back(w.cpu_seconds);
      run.push_back(m.seconds);
      run_cpu.push_back(m.cpu_seconds);
      command.push_back(c.seconds);
      floor_kb = std::max({floor_kb, f.peak_kb, w.peak_kb});
      run_kb = std::max({run_kb, m.peak_kb, c.peak_kb});
    }
    const double r = Median(run), f = Median(floor), rc = Median(run_cpu), fc = Median(floor_cpu),
                 wc = Median(row_cpu);
    std::printf("%10lld  %7.3f  %7.3f  %6.2f  %7.3f  %7.3f  %6.2f  %7.3f  %6.2f  %9.3f  %9.0f  %6.1f  %8.1f\n", lines, r,
                f, r / f, rc, fc, rc / fc, wc, rc / wc, Median(command), static_cast<double>(lines) / r,
                run_kb / 1024.0, floor_kb / 1024.0);
    std::fflush(stdout);
  }
  return 0;
}
