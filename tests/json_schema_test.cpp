// Every kind of JSON document the tool and the library write, from real runs,
// validated against its schema in schema/json/ by Debian's python3-jsonschema.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "check/check.h"
#include "tests/support.h"
#include "velaccap/capi.h"

namespace {

using testsupport::Result;
using testsupport::Slurp;

const std::string kSchemas = VELACCAP_SOURCE_DIR "/schema/json/";

// The validator's own words for each way `file` breaks the schema of `kind`;
// empty when it holds.
std::string Violations(const std::string& file, const std::string& kind) {
  const std::string command = "/usr/bin/python3 -W ignore -m jsonschema --base-uri file://" + kSchemas + " -i '" +
                              file + "' " + kSchemas + kind + ".schema.json 2>&1";
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "cannot run " + command;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  return status == 0 ? std::string() : out.empty() ? "exit " + std::to_string(status) : out;
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(JsonSchema, EveryDocumentKindHoldsToItsSchema) {
  testsupport::Tool tool;
  ASSERT_EQ(tool.Run("sample s.db --lines 300").code, 0);
  for (const char* t : {"t1.db", "t2.db", "t3.db", "t4.db", "t5.db"})
    ASSERT_EQ(tool.Run(std::string("new-target ") + t).code, 0);
  Write(tool.file("sets.csv"), "name,source,target\none,s.db,t4.db\ntwo,s.db,t5.db\n");

  // Each document and the kind it is, as a user makes it.
  struct Case {
    const char* command;  // writes the file below, or stdout when it is "-"
    const char* file;
    const char* kind;
    int code;
  };
  const Case cases[] = {
      {"migrate s.db t1.db -q --summary run.json", "run.json", "summary", 0},
      {"migrate nothere.db t2.db --summary refused.json", "refused.json", "summary", 2},
      {"migrate s.db t2.db --summary -", "-", "summary", 0},
      {"verify s.db t1.db --json", "-", "verify", 0},
      {"verify s.db t3.db --json", "-", "verify", 3},
      {"verify nothere.db t3.db --json", "-", "verify", 2},
      {"check s.db t3.db --json", "-", "check", 0},
      {"check t3.db s.db --json", "-", "check", 2},
      {"check nothere.mdb t3.db --json", "-", "check", 2},
      {"batch --check sets.csv --summary bcheck.json --report bcheck.html -q", "bcheck.json", "batch-check", 0},
      {"batch sets.csv -q --summary batch.json", "batch.json", "batch-summary", 0},
      {"batch sets.csv -q", "sets.csv.state", "batch-state", 0},
      {"batch-report batch.json --summary merged.json", "merged.json", "batch-summary", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const Result r = tool.Run(c.command);
    EXPECT_EQ(r.code, c.code) << r.err;
    const std::string file = c.file == std::string("-") ? tool.file("stdout.json") : tool.file(c.file);
    if (c.file == std::string("-")) Write(file, r.out);
    EXPECT_EQ(Violations(file, c.kind), "") << Slurp(file);
  }
  // What a refusal says, in the words a program can test.
  const auto refused = nlohmann::json::parse(Slurp(tool.file("refused.json")));
  EXPECT_EQ(refused["status"], "refused");
  EXPECT_EQ(refused["error"], "SOURCE nothere.db does not exist");
  const auto missing = nlohmann::json::parse(tool.Run("check nothere.mdb t3.db --json").out);
  EXPECT_EQ(missing["problems"][0]["code"], "missing-file");
  EXPECT_EQ(missing["problems"][0]["reason"], "SOURCE nothere.mdb does not exist");

  // The schemas are strict: a key they do not know is refused.
  auto run = nlohmann::json::parse(Slurp(tool.file("run.json")));
  run["totals"]["rows_read"] = 1;
  Write(tool.file("drift.json"), run.dump());
  EXPECT_NE(Violations(tool.file("drift.json"), "summary").find("rows_read"), std::string::npos);

  // The library's summaries are the tool's kinds.
  void* lib = dlopen(VELACCAP_BINARY_DIR "/libVelAccAP.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto get = [&](const char* name) { return dlsym(lib, name); };
  auto create = reinterpret_cast<decltype(VelAccAP_CreateObject)*>(get("VelAccAP_CreateObject"));
  auto migrate = reinterpret_cast<decltype(VelAccAP_Migrate)*>(get("VelAccAP_Migrate"));
  auto verify = reinterpret_cast<decltype(VelAccAP_Verify)*>(get("VelAccAP_Verify"));
  auto summary = reinterpret_cast<decltype(VelAccAP_Summary)*>(get("VelAccAP_Summary"));
  auto release = reinterpret_cast<decltype(VelAccAP_Release)*>(get("VelAccAP_Release"));
  VelAccAPObject* obj = create();
  EXPECT_EQ(migrate(obj, tool.file("s.db").c_str(), tool.file("t3.db").c_str(), nullptr), VELACCAP_OK);
  Write(tool.file("lib-run.json"), summary(obj));
  EXPECT_EQ(Violations(tool.file("lib-run.json"), "summary"), "");
  EXPECT_EQ(migrate(obj, tool.file("nothere.db").c_str(), tool.file("t3.db").c_str(), nullptr), VELACCAP_REFUSED);
  Write(tool.file("lib-refused.json"), summary(obj));
  EXPECT_EQ(Violations(tool.file("lib-refused.json"), "summary"), "");
  EXPECT_EQ(verify(obj, tool.file("s.db").c_str(), tool.file("t3.db").c_str()), VELACCAP_OK);
  Write(tool.file("lib-verify.json"), summary(obj));
  EXPECT_EQ(Violations(tool.file("lib-verify.json"), "verify"), "");
  release(obj);
  dlclose(lib);
}

// The codes a program may meet are the schema's, and no other.
TEST(JsonSchema, ProblemCodesAreTheSchemas) {
  const auto common = nlohmann::json::parse(Slurp(kSchemas + "common.schema.json"));
  std::set<std::string> schema, code;
  for (const auto& c : common["$defs"]["problem_code"]["enum"]) schema.insert(c.get<std::string>());
  for (const char* c : velaccap::check::kProblemCodes) code.insert(c);
  EXPECT_EQ(schema, code);
}

}  // namespace
