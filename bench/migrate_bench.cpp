// Whole-run throughput on the embedded default: a sample account set of N
// invoice lines migrated into a fresh SQLite target inside one transaction,
// as `apupgrade migrate` does it. Run: velaccap_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>

#include "dbaccess/sqlite.h"
#include "run/account_set.h"
#include "sample/sample.h"
#include "velaccap/clsAPA812.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / "velaccap-bench";
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// One sample per size, made once for every benchmark that wants it.
const std::string& SampleOf(long long lines) {
  static std::map<long long, std::string> made;
  auto it = made.find(lines);
  if (it == made.end()) {
    std::string path = (Dir() / ("sample-" + std::to_string(lines) + ".db")).string();
    velaccap::sample::WriteSample(path, {lines, 1});
    it = made.emplace(lines, path).first;
  }
  return it->second;
}

void BM_Migrate(benchmark::State& state) {
  const long long lines = state.range(0);
  const std::string& source = SampleOf(lines);
  const std::string target = (Dir() / "target.db").string();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(target);
    velaccap::run::CreateTarget(target);
    state.ResumeTiming();
    auto src = velaccap::OpenSqliteSource(source);
    auto tgt = velaccap::OpenSqliteTarget(target);
    tgt->BeginTransaction();
    velaccap::clsAPA812 obj;
    if (!obj.UpdateA812ToS820(*src, *tgt)) state.SkipWithError(obj.ErrDescription().c_str());
    tgt->Commit();
  }
  state.SetItemsProcessed(state.iterations() * lines);
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_Migrate)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
