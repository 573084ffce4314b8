// The run over ODBC with a network between it and the server. Per size a
// sample account set is migrated into fresh copies of an empty 8.20 target:
// natively into SQLite, and through Debian's SQLite ODBC driver with a round
// trip time simulated at the driver manager's boundary (odbc_round_trips.h)
// of 0, 0.3 and 1 ms. Prints the round trips per 1000 source lines (invoice
// lines) by step and kind, the arrays of more than one row (a savepoint each
// on SQL Server), and the run's time at each round-trip time beside the
// native run's. Each run goes in a child process of its own.
//
//   velaccap_network_bench [--sizes 10000,100000] [--latencies 0,0.3,1] [--rounds 1] [--dir D]
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/odbc_round_trips.h"
#include "dbaccess/odbc.h"
#include "dbaccess/sqlite.h"
#include "run/account_set.h"
#include "sample/sample.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/layers.h"
#include "velaccap/open.h"

namespace {

namespace fs = std::filesystem;
using velaccap::bench::RoundTrips;

// The parts of the run the round trips are told by.
enum Part : std::size_t { kCopies, kSalesLines, kPurchaseLines, kApDetail, kOptions, kBeginCommit, kParts };
constexpr const char* kPartNames[kParts] = {"copies",    "sales lines", "purchase lines",
                                            "Ap_Detail", "options",     "begin, commit"};

Part PartOfTable(const std::string& table) {
  if (table == "SaleBillVouchs") return kSalesLines;
  if (table == "PurBillVouchs") return kPurchaseLines;
  if (table == "Ap_Detail") return kApDetail;
  return kCopies;
}

// What one run reports to the benchmark: its time and its round trips by part.
struct Report {
  double seconds = 0;
  double waited = 0;
  std::array<RoundTrips, kParts> trips{};
  std::array<long long, kParts> arrays{};  // of more than one row
};

// Books the round trips counted since the last change of part to the part
// that was current. Steps are told apart by their first operation: the
// clearing statement on the target (steps 1 to 20) or, for the options, the
// query on the source.
class Ledger {
 public:
  void Enter(Part part) {
    const RoundTrips now = velaccap::bench::CountedRoundTrips();
    for (std::size_t k = 0; k < now.size(); ++k) report.trips[current_][k] += now[k] - last_[k];
    last_ = now;
    const long long arrays = velaccap::bench::CountedArrays();
    report.arrays[current_] += arrays - last_arrays_;
    last_arrays_ = arrays;
    current_ = part;
  }
  Report report;

 private:
  Part current_ = kBeginCommit;
  RoundTrips last_{};
  long long last_arrays_ = 0;
};

class StepTarget : public velaccap::TargetConnectionLayer {
 public:
  StepTarget(velaccap::TargetConnection& inner, Ledger& ledger) : TargetConnectionLayer(inner), ledger_(ledger) {}
  void Execute(const std::string& statement) override {
    Note(statement);
    TargetConnectionLayer::Execute(statement);
  }
  long long ExecuteCount(const std::string& statement) override {
    Note(statement);
    return TargetConnectionLayer::ExecuteCount(statement);
  }

 private:
  void Note(const std::string& statement) {
    if (statement.rfind("Delete ", 0) != 0) return;
    const std::size_t end = statement.find(' ', 7);
    ledger_.Enter(PartOfTable(statement.substr(7, end == std::string::npos ? std::string::npos : end - 7)));
  }
  Ledger& ledger_;
};

class StepSource : public velaccap::SourceDatabaseLayer {
 public:
  StepSource(velaccap::SourceDatabase& inner, Ledger& ledger) : SourceDatabaseLayer(inner), ledger_(ledger) {}
  std::unique_ptr<velaccap::SourceRecordset> OpenRecordset(const std::string& query) override {
    if (query.find("FROM AccInformation") != std::string::npos) ledger_.Enter(kOptions);
    return SourceDatabaseLayer::OpenRecordset(query);
  }

 private:
  Ledger& ledger_;
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The run as `apupgrade migrate` makes it, in one transaction, into
// `target`: a SQLite file, or with `round_trip_us` >= 0 the same file through
// the SQLite ODBC driver with that round-trip time.
Report Run(const std::string& source, const std::string& target, long long round_trip_us) {
  velaccap::OpenOptions options;
  options.verify = false;
  auto src = velaccap::OpenSqliteSource(source, options);
  auto tgt = round_trip_us < 0 ? velaccap::OpenSqliteTarget(target, options)
                               : velaccap::OpenOdbcTarget("DRIVER={VelSQLite3};Database=" + target);
  Ledger ledger;
  StepSource steps_source(*src, ledger);
  StepTarget steps_target(*tgt, ledger);
  velaccap::bench::SetRoundTripTime(std::max(round_trip_us, 0LL));
  const double start = Now();
  ledger.Enter(kBeginCommit);
  tgt->BeginTransaction();
  velaccap::clsAPA812 obj;
  if (!obj.UpdateA812ToS820(steps_source, steps_target)) throw std::runtime_error(obj.ErrDescription());
  ledger.Enter(kBeginCommit);
  tgt->Commit();
  ledger.Enter(kBeginCommit);
  ledger.report.seconds = Now() - start;
  ledger.report.waited = velaccap::bench::WaitedSeconds();
  return ledger.report;
}

// Runs `work` in a child process and returns what it reported.
Report InChild(const std::function<Report()>& work) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    int rc = 1;
    try {
      const Report r = work();
      rc = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? 0 : 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    std::fflush(nullptr);
    _exit(rc);
  }
  close(fds[1]);
  Report r;
  const bool got = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("a measured run failed");
  return r;
}

std::string SqliteOdbcDriver() {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
    const std::string driver = std::string(dir) + "/libsqlite3odbc.so";
    if (fs::exists(driver)) return driver;
  }
  throw std::runtime_error("the SQLite ODBC driver (Debian package libsqliteodbc) is not installed");
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long long Total(const RoundTrips& t) {
  long long n = 0;
  for (long long k : t) n += k;
  return n;
}

void Fresh(const fs::path& empty, const fs::path& target) {
  fs::remove(target);
  fs::copy_file(empty, target);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Round trips and run time over ODBC with a simulated network"};
  std::vector<long long> sizes{10'000, 100'000};
  std::vector<double> latencies{0, 0.3, 1};
  int rounds = 1;
  std::string dir = (fs::temp_directory_path() / "velaccap-network-bench").string();
  app.add_option("--sizes", sizes, "Invoice lines per sample")->delimiter(',');
  app.add_option("--latencies", latencies, "Round-trip times in milliseconds")->delimiter(',');
  app.add_option("--rounds", rounds, "Runs of each kind per size (times are medians)")->check(CLI::Range(1, 100));
  app.add_option("--dir", dir, "Folder for the samples and targets (kept between runs)");
  CLI11_PARSE(app, argc, argv);

  fs::create_directories(dir);
  // The driver, registered in a driver list of the benchmark's own.
  std::ofstream(fs::path(dir) / "odbcinst.ini") << "[VelSQLite3]\nDriver=" << SqliteOdbcDriver() << "\n";
  std::ofstream(fs::path(dir) / "odbc.ini") << "";
  setenv("ODBCSYSINI", dir.c_str(), 1);
  setenv("ODBCINI", (fs::path(dir) / "odbc.ini").c_str(), 1);
  const fs::path empty = fs::path(dir) / "empty.db";
  fs::remove(empty);
  velaccap::run::CreateTarget(empty.string());
  const fs::path target = fs::path(dir) / "target.db";

  for (long long lines : sizes) {
    const fs::path sample = fs::path(dir) / ("sample-" + std::to_string(lines) + ".db");
    if (!fs::exists(sample)) velaccap::sample::WriteSample(sample.string(), {lines, 1});

    std::vector<double> native;
    std::vector<std::vector<double>> odbc(latencies.size());
    std::vector<double> waited(latencies.size());
    Report counted;
    for (int r = 0; r < rounds; ++r) {
      Fresh(empty, target);
      native.push_back(InChild([&] { return Run(sample.string(), target.string(), -1); }).seconds);
      for (std::size_t i = 0; i < latencies.size(); ++i) {
        Fresh(empty, target);
        const long long us = static_cast<long long>(latencies[i] * 1000 + 0.5);
        const Report rep = InChild([&] { return Run(sample.string(), target.string(), us); });
        odbc[i].push_back(rep.seconds);
        waited[i] = rep.waited;
        counted = rep;  // the same at every round-trip time
      }
    }

    std::printf("%lld invoice lines: round trips per 1000 source lines\n", lines);
    std::printf("  %-15s", "step");
    for (const char* k : velaccap::bench::kRoundTripKindNames) std::printf("  %11s", k);
    std::printf("  %9s  %11s  %16s\n", "total", "round trips", "arrays (>1 row)");
    RoundTrips all{};
    long long arrays = 0;
    const double per = 1000.0 / static_cast<double>(lines);
    for (std::size_t p = 0; p < kParts; ++p) {
      std::printf("  %-15s", kPartNames[p]);
      for (std::size_t k = 0; k < all.size(); ++k) {
        std::printf("  %11.1f", static_cast<double>(counted.trips[p][k]) * per);
        all[k] += counted.trips[p][k];
      }
      std::printf("  %9.1f  %11lld  %16lld\n", static_cast<double>(Total(counted.trips[p])) * per,
                  Total(counted.trips[p]), counted.arrays[p]);
      arrays += counted.arrays[p];
    }
    std::printf("  %-15s", "total");
    for (long long k : all) std::printf("  %11.1f", static_cast<double>(k) * per);
    std::printf("  %9.1f  %11lld  %16lld\n", static_cast<double>(Total(all)) * per, Total(all), arrays);

    const double base = Median(native);
    std::printf("  run time: native SQLite %.3f s\n", base);
    for (std::size_t i = 0; i < latencies.size(); ++i) {
      const double t = Median(odbc[i]);
      // The timers overshoot a wait on a busy machine; without that, the
      // run would have taken exactly its round trips times their time more.
      const double exact = t - (waited[i] - static_cast<double>(Total(all)) * latencies[i] / 1000);
      std::printf("  run time: ODBC, round trip %.1f ms: %.3f s, %.1f x native (%.3f s waited; %.3f s with exact waits)\n",
                  latencies[i], t, t / base, waited[i], exact);
    }
    std::fflush(stdout);
  }
  return 0;
}
