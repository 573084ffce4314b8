// The command line as people expect it of a Unix tool: version, help with
// examples and exit codes, unknown commands and options named, numbers out
// of range refused, every error line starting with the tool's name, counts
// in words that agree with them.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support.h"
#include "velaccap/version.h"

namespace {

using testsupport::Exec;
using testsupport::Lines;
using testsupport::Query;
using testsupport::Slurp;

using testsupport::Result;
using testsupport::Tool;

TEST(CliUsage, VersionHelpAndUsageErrors) {
  Tool tool;
  // The tool's release first (help2man reads it there), then the libraries
  // it runs with, each saying where its number comes from.
  for (const char* flag : {"--version", "-V"}) {
    Result r = tool.Run(flag);
    EXPECT_EQ(r.code, 0) << flag;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "apupgrade " VELACCAP_VERSION);
    EXPECT_EQ(lines[1], "SQLite " + Query(":memory:", "SELECT sqlite_version()")[0][0] + " (in use)");
    EXPECT_TRUE(lines[2].starts_with("unixODBC 2.3 (in use, SQL_DM_VER 03.52.0002.0003); built against 2.3."))
        << lines[2];
    EXPECT_TRUE(lines[3].starts_with("libmdb ") && lines[3].find("(built against;") != std::string::npos) << lines[3];
  }

  // Help, as a page or a command: the program's name (not its path), and no
  // option's value left as the parser's placeholder. What each page holds is
  // read by the man page and the completion (Install tests).
  for (const char* command : {"", "migrate ", "sample "}) {
    const Result help = tool.Run(std::string(command) + "-h");
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_EQ(tool.Run(std::string("help ") + command).out, help.out) << command;
    EXPECT_NE(help.out.find("\nUsage: apupgrade " + std::string(command) + "[OPTIONS] "), std::string::npos)
        << help.out;
    EXPECT_EQ(help.out.find(VELACCAP_BINARY_DIR), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("TEXT"), std::string::npos) << help.out;
  }

  // Usage errors: exit 2, the word or value at fault named, every line of
  // stderr the tool's, nothing on stdout, no file written.
  const std::pair<std::string, std::string> refused[] = {
      {"bogus", "apupgrade: unknown command 'bogus'\napupgrade: see 'apupgrade --help'\n"},
      {"help bogus", "apupgrade: unknown command 'bogus'\napupgrade: see 'apupgrade --help'\n"},
      {"--bogus", "apupgrade: unknown option '--bogus'\napupgrade: see 'apupgrade --help'\n"},
      {"migrate a.db b.db --bogus",
       "apupgrade: migrate: unknown option '--bogus'\napupgrade: see 'apupgrade migrate --help'\n"},
      {"migrate a.db b.db c.db",
       "apupgrade: migrate: unexpected argument 'c.db'\napupgrade: see 'apupgrade migrate --help'\n"},
      {"migrate a.db", "apupgrade: migrate: TARGET is required\napupgrade: see 'apupgrade migrate --help'\n"},
      {"sample x.db --seed -1",
       "apupgrade: sample: --seed: Value -1 is negative\napupgrade: see 'apupgrade sample --help'\n"},
      {"sample x.db --lines 0",
       "apupgrade: sample: --lines: Value 0 not in range 1 to 1000000000\napupgrade: see 'apupgrade sample --help'\n"},
      {"sample x.db --lines -5",
       "apupgrade: sample: --lines: Value -5 not in range 1 to 1000000000\napupgrade: see 'apupgrade sample --help'\n"},
      {"sample x.db --lines many",
       "apupgrade: sample: --lines: Value many is not a whole number\napupgrade: see 'apupgrade sample --help'\n"},
      {"sample x.db --seed 1.5",
       "apupgrade: sample: --seed: Value 1.5 is not a whole number\napupgrade: see 'apupgrade sample --help'\n"},
      {"sample x.db --seed 18446744073709551616",
       "apupgrade: sample: --seed: Value 18446744073709551616 is too large\napupgrade: see 'apupgrade sample --help'\n"},
      {"check a.db b.db --wait -3",
       "apupgrade: check: --wait: Value -3 not in range 0 to 86400\napupgrade: see 'apupgrade check --help'\n"},
      {"migrate a.db b.db --password-prompt",
       "apupgrade: --password-prompt is for an odbc: TARGET; b.db is a file\n"},
      {"", "apupgrade: a command is required: migrate, check, verify, new-target, sample, batch, batch-report\n"
           "apupgrade: see 'apupgrade --help'\n"},
  };
  for (const auto& [args, expected] : refused) {
    Result r = tool.Run(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_EQ(r.err, expected) << args;
    EXPECT_EQ(r.out, "") << args;
  }
  EXPECT_FALSE(std::ifstream(tool.file("x.db")).good());
}

// Every error path the tool knows, through the built tool: each line it
// writes to stderr is the tool's, and the exit code says what kind of
// error it was.
TEST(CliUsage, EveryErrorLineIsTheTools) {
  Tool tool;
  ASSERT_EQ(tool.Run("sample src.db --lines 20 -q").code, 0);
  ASSERT_EQ(tool.Run("sample other.db --lines 20 -q").code, 0);
  ASSERT_EQ(tool.Run("new-target tgt.db -q").code, 0);
  std::ofstream(tool.file("bad.csv")) << "name,source,target\na,src.db,t1.db\na,src.db,t2.db\nb,src.db\n"
                                      << "c,,t3.db\nd,other.db,src.db\n";
  std::ofstream(tool.file("ok.csv")) << "name,source,target\na,src.db,tgt.db\nb,missing.db,t2.db\n";
  // Usage errors other than these are held to their exact text above.
  for (const char* args :
       {"migrate src.db tgt.db --wait x", "migrate missing.db tgt.db", "migrate src.db missing.db",
        "check missing.db tgt.db", "verify src.db missing.db", "migrate src.db src.db", "migrate src.db ./src.db",
        "migrate tgt.db src.db", "migrate src.db other.db", "verify tgt.db src.db",
        "migrate src.db tgt.db --trace src.db", "migrate src.db tgt.db --password-prompt", "new-target tgt.db",
        "new-target odbc:DSN=x", "sample src.db",
        "batch", "batch m.csv", "batch bad.csv", "batch ok.csv", "batch ok.csv --jobs 0", "batch ok.csv --shard 3/2",
        "batch-report missing.json", "batch-report bad.csv"}) {
    const Result r = tool.Run(args);
    EXPECT_EQ(r.code, 2) << args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << args;
    ASSERT_FALSE(r.err.empty()) << args;
    for (const std::string& line : Lines(r.err)) EXPECT_TRUE(line.starts_with("apupgrade: ")) << args << ": " << line;
  }
}

// Every help page fits a terminal of 80 columns.
TEST(CliUsage, HelpFitsEightyColumns) {
  Tool tool;
  for (const char* page : {"--help", "help migrate", "check --help", "help verify", "new-target --help",
                           "help sample", "batch --help", "help batch-report"}) {
    const Result r = tool.Run(page);
    EXPECT_EQ(r.code, 0) << page;
    EXPECT_NE(r.out.find("\nExit codes:\n"), std::string::npos) << page;
    for (const std::string& line : Lines(r.out)) EXPECT_LE(line.size(), 80u) << page << ": " << line;
  }
}

// A source of one row: every count the tool puts in words is 1 somewhere.
TEST(CliUsage, CountsAgreeWithTheirNouns) {
  Tool tool;
  ASSERT_EQ(tool.Run("sample src.db --lines 10 -q").code, 0);
  ASSERT_EQ(tool.Run("new-target tgt.db -q").code, 0);
  const std::string src = tool.file("src.db");
  std::string clear;
  for (const auto& t : Query(src, "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%'"))
    clear += "DELETE FROM " + t[0] + ";";
  Exec(src, clear + "INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('AR', '1');");

  Result r = tool.Run("migrate src.db tgt.db --summary run.json");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\nTotal: 1 row read, 2 rows written, 0 rows updated, 0 rows deleted in "), std::string::npos)
      << r.out;
  const nlohmann::json summary = nlohmann::json::parse(Slurp(tool.file("run.json")));
  const auto& checked = summary["reconciliation"]["checked"];
  const std::vector<std::string> lines(checked.begin(), checked.end());
  for (const char* expected : {"Ap_AlarmSet: 1 row, as in the source", "Ap_BillAge: 0 rows, as in the source",
                               "Ap_InputCode: 1 row, the source's 0 and the added code 49"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected << "\n" << checked.dump(1);
  for (const std::string& line : lines) EXPECT_EQ(line.find(" 1 rows"), std::string::npos) << line;
  EXPECT_NE(r.out.find("Reconciled with the source: " + std::to_string(lines.size()) + " checks, no differences.\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
