// The inputs the fuzz targets once failed on (fuzz/regressions/<target>/)
// and their seeds (fuzz/seeds/<target>/), replayed through the targets' own
// checks in the ordinary build, so a fault that was fixed stays fixed
// without clang or libFuzzer. An input named open-* shows a fault not fixed
// yet: it must still fail, so that its fix is noticed and the input renamed
// (and the fuzz target's pass-over of it dropped).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#define VELACCAP_FUZZ_REPLAY
#include "fuzz/connection_string_fuzzer.cpp"
#include "fuzz/delete_statement_fuzzer.cpp"
#include "fuzz/mdb_source_fuzzer.cpp"
#include "fuzz/statement_shape_fuzzer.cpp"

namespace {

namespace fs = std::filesystem;

using Check = void (*)(const std::uint8_t*, std::size_t);

// Runs `check` on every file kept for `target`; returns how many there were.
int Replay(const std::string& target, Check check) {
  int n = 0;
  for (const char* kind : {"regressions", "seeds"}) {
    const fs::path dir = fs::path(VELACCAP_SOURCE_DIR) / "fuzz" / kind / target;
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ++n;
      const bool open = file.filename().string().starts_with("open-");
      try {
        check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        if (open) ADD_FAILURE() << file << " passes now: drop its open- prefix and the fuzz target's pass-over";
      } catch (const std::exception& e) {
        if (open)
          std::cout << "Open fault, still there: " << file << ": " << e.what() << "\n";
        else
          ADD_FAILURE() << file << ": " << e.what();
      }
    }
  }
  return n;
}

TEST(FuzzRegressions, AccessLoader) { Replay("mdb_source_fuzzer", velaccap::fuzz_mdb_source::Check); }

TEST(FuzzRegressions, StatementShapes) {
  EXPECT_GT(Replay("statement_shape_fuzzer", velaccap::fuzz_statement_shape::Check), 0);
}

TEST(FuzzRegressions, DeleteStatements) {
  EXPECT_GT(Replay("delete_statement_fuzzer", velaccap::fuzz_delete_statement::Check), 0);
}

TEST(FuzzRegressions, ConnectionStrings) {
  EXPECT_GT(Replay("connection_string_fuzzer", velaccap::fuzz_connection_string::Check), 0);
}

}  // namespace
