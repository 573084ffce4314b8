// The batch's parallelism: 8 sample account sets of 100,000 invoice lines
// migrated by `apupgrade batch` with --jobs 1 and with --jobs 2, each into
// fresh targets, three rounds each; prints the median times and their ratio.
//
//   build/velaccap_batch_bench [LINES] [SETS] [ROUNDS]
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kTool = VELACCAP_BINARY_DIR "/apupgrade";

void Run(const std::string& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir + "' && '" + kTool + "' " + args + " >/dev/null";
  const int status = std::system(cmd.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "batch_bench: failed: apupgrade " << args << '\n';
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long long lines = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int sets = argc > 2 ? std::atoi(argv[2]) : 8;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  char tmpl[] = "/tmp/velaccap-batch-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  for (int i = 0; i < sets; ++i)
    Run(dir, "sample s" + std::to_string(i) + ".db --lines " + std::to_string(lines) + " --seed " + std::to_string(i + 1));

  auto batch = [&](int jobs) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
      std::ofstream manifest(dir + "/sets.csv");
      manifest << "name,source,target\n";
      for (int i = 0; i < sets; ++i) {
        const std::string t = "t" + std::to_string(i) + ".db";
        fs::remove(dir + "/" + t);
        Run(dir, "new-target " + t);
        manifest << "set" << i << ",s" << i << ".db," << t << "\n";
      }
      manifest.close();
      fs::remove(dir + "/sets.csv.state");
      const auto start = std::chrono::steady_clock::now();
      Run(dir, "batch sets.csv -q --jobs " + std::to_string(jobs));
      times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  };
  const double one = batch(1);
  const double two = batch(2);
  std::printf("%d sets of %lld lines: --jobs 1 %.2f s, --jobs 2 %.2f s (medians of %d); jobs 1 / jobs 2 = %.2f\n",
              sets, lines, one, two, rounds, one / two);
  fs::remove_all(dir);
  return 0;
}
