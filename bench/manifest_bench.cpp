// The batch's check of its manifest against its floor: reading the manifest
// and checking every set against every other (names, targets, sources, one
// file under two names) must cost about what reading the file and looking at
// each of its files once costs, at any size.
//   velaccap_manifest_bench [--sizes 1000,10000,100000] [--max-ratio R]
// Prints per size the check, the floor and their ratio; exits 1 when a ratio
// passes R (default 20).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "batch/manifest.h"

namespace {

namespace fs = std::filesystem;

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every path of the manifest looked at once, after reading the file: what
// any check of one file under two names needs.
std::size_t Floor(const std::string& manifest) {
  std::ifstream in(manifest);
  std::string line;
  std::getline(in, line);
  std::size_t found = 0;
  const fs::path base = fs::path(manifest).parent_path();
  struct stat st;
  while (std::getline(in, line)) {
    const std::size_t a = line.find(','), b = line.find(',', a + 1);
    for (const std::string& p : {line.substr(a + 1, b - a - 1), line.substr(b + 1)})
      found += ::stat((base / p).c_str(), &st) == 0;
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes{1000, 10000, 100000};
  double max_ratio = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--sizes") {
      sizes.clear();
      std::istringstream list(argv[i + 1]);
      for (std::string n; std::getline(list, n, ',');) sizes.push_back(std::stol(n));
    } else if (arg == "--max-ratio") {
      max_ratio = std::stod(argv[i + 1]);
    }
  }
  const fs::path dir = fs::temp_directory_path() / ("velaccap-manifest-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir / "sets");
  int code = 0;
  std::printf("%8s  %10s  %10s  %6s\n", "sets", "check (s)", "floor (s)", "ratio");
  for (long n : sizes) {
    // Sources that exist, targets that do not yet: both are looked at.
    const std::string manifest = (dir / ("m" + std::to_string(n) + ".csv")).string();
    {
      std::ofstream out(manifest);
      out << "name,source,target\n";
      for (long i = 0; i < n; ++i) {
        const std::string source = "sets/s" + std::to_string(i) + ".db";
        if (!fs::exists(dir / source)) std::ofstream(dir / source).put('x');
        out << "set" << i << "," << source << ",sets/t" << i << ".db\n";
      }
    }
    std::size_t problems = 0, found = 0;
    const double check = Seconds([&] {
      const velaccap::batch::Manifest m = velaccap::batch::ReadManifest(manifest);
      problems = m.problems.size() + velaccap::batch::CrossProblems(m.sets).size();
    });
    const double floor = Seconds([&] { found = Floor(manifest); });
    const double ratio = check / floor;
    std::printf("%8ld  %10.3f  %10.3f  %6.2f\n", n, check, floor, ratio);
    if (problems != 0 || found != static_cast<std::size_t>(n)) {
      std::fprintf(stderr, "manifest of %ld sets: %zu problems, %zu files found\n", n, problems, found);
      code = 1;
    }
    if (ratio > max_ratio) code = 1;
  }
  fs::remove_all(dir);
  return code;
}
