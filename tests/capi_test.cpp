// The shared library driven as a host program drives it: loaded with dlopen,
// entry points found by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support.h"
#include "velaccap/capi.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(testsupport::NewPrivateOdbcDriverList());

struct Library {
  void* handle = dlopen(VELACCAP_BINARY_DIR "/libVelAccAP.so", RTLD_NOW | RTLD_LOCAL);
  ~Library() {
    if (handle) dlclose(handle);
  }
  template <typename F>
  F* Get(const char* name) {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }
};

int Tool(const std::string& args) {
  return std::system((std::string(VELACCAP_BINARY_DIR) + "/apupgrade " + args + " >/dev/null 2>&1").c_str());
}

// The host entry points, looked up once by name.
#define ENTRY(member, name) decltype(&VelAccAP_##name) member = lib.Get<decltype(VelAccAP_##name)>("VelAccAP_" #name)
struct Host {
  Library lib;
  ENTRY(create, CreateObject);
  ENTRY(release, Release);
  ENTRY(describe, ErrDescription);
  ENTRY(update, UpdateA812ToS820);
  ENTRY(options_create, Options_Create);
  ENTRY(options_destroy, Options_Destroy);
  ENTRY(set_atomic, Options_SetAtomic);
  ENTRY(set_checks, Options_SetChecks);
  ENTRY(set_verify, Options_SetVerify);
  ENTRY(set_wait, Options_SetWaitSeconds);
  ENTRY(set_progress, Options_SetProgress);
  ENTRY(migrate, Migrate);
  ENTRY(summary, Summary);
  ENTRY(cancel, Cancel);
  ENTRY(version, Version);
  ENTRY(major, VersionMajor);
  ENTRY(minor, VersionMinor);
  ENTRY(can_unload, CanUnloadNow);
#undef ENTRY
  bool complete() const {
    return create && release && describe && update && options_create && options_destroy && set_atomic &&
           set_checks && set_verify && set_wait && set_progress && migrate && summary && cancel && version && major &&
           minor && can_unload;
  }
};

TEST(CApi, HostCreatesRunsAndReleases) {
  Host host;
  ASSERT_NE(host.lib.handle, nullptr) << dlerror();
  ASSERT_TRUE(host.complete());

  testsupport::TempDir dir;
  const std::string source = dir.file("source.db"), target = dir.file("target.db");
  ASSERT_EQ(Tool("sample " + source + " --lines 300 --seed 7"), 0);
  ASSERT_EQ(Tool("new-target " + target), 0);

  EXPECT_EQ(host.can_unload(), 0);
  VelAccAPObject* obj = host.create();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(host.can_unload(), 1);
  EXPECT_STREQ(host.describe(obj), "");
  EXPECT_EQ(host.update(obj, source.c_str(), target.c_str()), VELACCAP_TRUE) << host.describe(obj);
  EXPECT_STREQ(host.describe(obj), "");
  EXPECT_EQ(testsupport::Query(target, "SELECT COUNT(*) > 0 FROM SaleBillVouchs"), (testsupport::Rows{{"1"}}));

  // A target without the invoice tables fails in the run with the engine's text.
  testsupport::Exec(target, "DROP TABLE SaleBillVouchs");
  EXPECT_EQ(host.update(obj, source.c_str(), target.c_str()), VELACCAP_FALSE);
  EXPECT_STREQ(host.describe(obj), "no such table: SaleBillVouchs");
  // A source that cannot be opened is a false result with a description too.
  EXPECT_EQ(host.update(obj, dir.file("missing.db").c_str(), target.c_str()), VELACCAP_FALSE);
  EXPECT_NE(std::string(host.describe(obj)).find("missing.db"), std::string::npos);

  host.release(obj);
  EXPECT_EQ(host.can_unload(), 0);
}

// What a progress callback saw, and where it asks to stop.
struct Seen {
  std::vector<std::tuple<int, std::string, long long, long long>> calls;
  int stop_at_step = 0;                  // nonzero: return 1 at this step's start
  std::function<void()> at_step_three;  // run once when step 3 starts
};

int Record(void* state, int step, int steps, const char* table, long long done, long long to_do) {
  Seen& seen = *static_cast<Seen*>(state);
  EXPECT_EQ(steps, 21);
  seen.calls.emplace_back(step, table, done, to_do);
  if (step == 3 && done == 0 && seen.at_step_three) seen.at_step_three();
  return step == seen.stop_at_step ? 1 : 0;
}

TEST(CApi, HostRunWithOptionsIsTheToolsRun) {
  Host host;
  ASSERT_NE(host.lib.handle, nullptr) << dlerror();
  ASSERT_TRUE(host.complete());
  EXPECT_STREQ(host.version(), VELACCAP_VERSION);
  EXPECT_EQ(host.major(), VELACCAP_VERSION_MAJOR);
  EXPECT_EQ(host.minor(), VELACCAP_VERSION_MINOR);

  testsupport::TempDir dir;
  const std::string source = dir.file("source.db"), target = dir.file("target.db");
  ASSERT_EQ(Tool("sample " + source + " --lines 3000 --seed 7"), 0);
  for (const char* t : {"target.db", "other.db", "refusing.db", "loose.db", "odbc.db"})
    ASSERT_EQ(Tool("new-target " + dir.file(t)), 0);
  testsupport::Exec(dir.file("other.db"), "INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('X', '99');");
  for (const char* t : {"refusing.db", "loose.db"})
    testsupport::Exec(dir.file(t),
                      "CREATE TRIGGER refuse BEFORE INSERT ON Ap_Vouch BEGIN SELECT RAISE(ABORT, 'no vouchers here'); "
                      "END; INSERT INTO Ap_AlarmSet (cFlag, cNum) VALUES ('X', '99');");
  VelAccAPObject* obj = host.create();
  ASSERT_NE(obj, nullptr);
  VelAccAPOptions* options = host.options_create();
  ASSERT_NE(options, nullptr);
  Seen seen;
  host.set_progress(options, Record, &seen);

  // An 8.20 set given as the source: refused with the checks, nothing
  // written to either.
  const auto other_before = testsupport::TableRows(dir.file("other.db")), target_before = testsupport::TableRows(target);
  EXPECT_EQ(host.migrate(obj, dir.file("other.db").c_str(), target.c_str(), options), VELACCAP_REFUSED);
  EXPECT_TRUE(std::string(host.describe(obj))
                  .starts_with("SOURCE " + dir.file("other.db") +
                               " is not an 8.12 account set the run can use: it looks like an 8.20 account set; it "
                               "lacks "))
      << host.describe(obj);
  nlohmann::json summary = nlohmann::json::parse(host.summary(obj));
  EXPECT_EQ(summary["status"], "refused");
  EXPECT_EQ(summary["exit_code"], VELACCAP_REFUSED);
  EXPECT_EQ(testsupport::TableRows(dir.file("other.db")), other_before);
  EXPECT_EQ(testsupport::TableRows(target), target_before);
  EXPECT_TRUE(seen.calls.empty());
  // So are one file as both, and a target of the wrong release.
  EXPECT_EQ(host.migrate(obj, target.c_str(), target.c_str(), options), VELACCAP_REFUSED);
  EXPECT_NE(std::string(host.describe(obj)).find("SOURCE and TARGET are the same database"), std::string::npos);
  EXPECT_EQ(host.migrate(obj, source.c_str(), source.c_str(), options), VELACCAP_REFUSED);
  EXPECT_EQ(host.migrate(obj, nullptr, target.c_str(), options), VELACCAP_BAD_CALL);
  EXPECT_STREQ(host.describe(obj), "no SOURCE named (NULL)");
  EXPECT_EQ(host.migrate(nullptr, source.c_str(), target.c_str(), options), VELACCAP_BAD_CALL);

  // A whole run: every step's start reported in order with its table, rows
  // growing within a step, and the summary the tool writes.
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_OK) << host.describe(obj);
  EXPECT_STREQ(host.describe(obj), "");
  std::vector<std::string> starts;
  for (std::size_t i = 0; i < seen.calls.size(); ++i) {
    const auto& [step, table, done, to_do] = seen.calls[i];
    if (done == 0) starts.push_back(std::to_string(step) + " " + table);
    if (i > 0 && std::get<0>(seen.calls[i - 1]) == step) {
      EXPECT_GT(done, std::get<2>(seen.calls[i - 1]));
    }
  }
  ASSERT_EQ(starts.size(), 21u);
  EXPECT_EQ(starts.front(), "1 Ap_AlarmSet");
  EXPECT_EQ(starts[6], "7 SaleBillVouchs");
  EXPECT_EQ(starts.back(), "21 AccInformation");
  EXPECT_GT(seen.calls.size(), 21u);  // steps of thousands of rows report on the way
  summary = nlohmann::json::parse(host.summary(obj));
  EXPECT_EQ(summary["status"], "succeeded");
  EXPECT_EQ(summary["exit_code"], VELACCAP_OK);
  EXPECT_EQ(summary["reconciliation"]["ok"], true);
  EXPECT_EQ(summary["tables"].size(), 21u);
  EXPECT_EQ(summary["tables"][9]["table"], "Ap_Detail");
  EXPECT_EQ(summary["tables"][9]["written"],
            std::stoll(testsupport::Query(source, "SELECT count(*) FROM Ap_Detail")[0][0]));

  // All or nothing: a failed run is rolled back, unless the host asks to
  // keep what was done.
  const auto refusing_before = testsupport::TableRows(dir.file("refusing.db"));
  EXPECT_EQ(host.migrate(obj, source.c_str(), dir.file("refusing.db").c_str(), nullptr), VELACCAP_FAILED);
  EXPECT_EQ(std::string(host.describe(obj)), "migration failed: target " + dir.file("refusing.db") +
                                                 ": no vouchers here\nthe run was rolled back; " +
                                                 dir.file("refusing.db") + " is as it was");
  EXPECT_EQ(testsupport::TableRows(dir.file("refusing.db")), refusing_before);
  EXPECT_EQ(nlohmann::json::parse(host.summary(obj))["status"], "failed");
  host.set_atomic(options, 0);
  EXPECT_EQ(host.migrate(obj, source.c_str(), dir.file("loose.db").c_str(), options), VELACCAP_FAILED);
  EXPECT_EQ(std::string(host.describe(obj)), "migration failed: target " + dir.file("loose.db") +
                                                 ": no vouchers here\nnot atomic: the work done before the failure "
                                                 "was kept in " +
                                                 dir.file("loose.db"));
  EXPECT_EQ(testsupport::Query(dir.file("loose.db"), "SELECT count(*) FROM Ap_AlarmSet"),
            testsupport::Query(source, "SELECT count(*) FROM Ap_AlarmSet"));
  host.set_atomic(options, 1);

  // Cancelled by the callback, and from another thread: rolled back.
  testsupport::Exec(target, "DELETE FROM Ap_Vouchs");  // the rerun would put them back
  const auto emptied = testsupport::TableRows(target);
  seen = Seen{};
  seen.stop_at_step = 7;
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_CANCELLED);
  EXPECT_EQ(std::string(host.describe(obj)), "cancelled by the host: the run was rolled back; " + target + " is as it was");
  EXPECT_EQ(nlohmann::json::parse(host.summary(obj))["status"], "cancelled");
  EXPECT_EQ(testsupport::TableRows(target), emptied);
  EXPECT_EQ(std::get<0>(seen.calls.back()), 7);
  seen = Seen{};
  seen.at_step_three = [&] { std::thread([&] { host.cancel(obj); }).join(); };
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_CANCELLED);
  EXPECT_EQ(testsupport::TableRows(target), emptied);
  EXPECT_EQ(std::get<0>(seen.calls.back()), 3);
  // A cancel before the run stops it at its first operation; the next run
  // is not cancelled.
  host.cancel(obj);
  seen = Seen{};
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_CANCELLED);
  EXPECT_EQ(testsupport::TableRows(target), emptied);
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_OK) << host.describe(obj);
  EXPECT_EQ(nlohmann::json::parse(host.summary(obj))["reconciliation"]["ok"], true);

  // The run keeps the options it started with: the callback that clears
  // the callback, and another thread changing them, change the next run.
  seen = Seen{};
  seen.at_step_three = [&] {
    host.set_progress(options, nullptr, nullptr);
    std::thread([&] { host.set_progress(options, Record, nullptr); }).join();
    host.set_wait(options, 0);
  };
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_OK) << host.describe(obj);
  EXPECT_EQ(std::get<0>(seen.calls.back()), 21);
  host.set_progress(options, nullptr, nullptr);
  seen = Seen{};
  EXPECT_EQ(host.migrate(obj, source.c_str(), target.c_str(), options), VELACCAP_OK) << host.describe(obj);
  EXPECT_TRUE(seen.calls.empty());

  // Over ODBC, the connection string's password masked whole in the
  // description and the summary.
  const std::string odbc = "odbc:DRIVER={VelSQLite3};Database=" + dir.file("odbc.db");
  EXPECT_EQ(host.migrate(obj, source.c_str(), (odbc + ";PWD={top}}secret;x}").c_str(), nullptr), VELACCAP_OK)
      << host.describe(obj);
  std::string text = host.summary(obj);
  EXPECT_NE(text.find("\"target\": \"" + odbc + ";PWD=***\""), std::string::npos) << text;
  EXPECT_EQ(nlohmann::json::parse(text)["reconciliation"]["ok"], true);
  testsupport::Exec(dir.file("odbc.db"), "DROP TABLE Ap_Note_Sub");
  EXPECT_EQ(host.migrate(obj, source.c_str(), (odbc + ";PWD={top}}secret;x}").c_str(), nullptr), VELACCAP_REFUSED);
  text = std::string(host.describe(obj)) + host.summary(obj);
  EXPECT_NE(text.find("TARGET " + odbc + ";PWD=*** is not an 8.20 account set"), std::string::npos) << text;
  for (const char* piece : {"top", "secret", ";x}"}) EXPECT_EQ(text.find(piece), std::string::npos) << text;

  // The old entry point, beside it, still runs unchecked: an 8.20 set as
  // the source replaces the target's rows with its own.
  EXPECT_EQ(host.update(obj, dir.file("other.db").c_str(), dir.file("loose.db").c_str()), VELACCAP_TRUE);
  EXPECT_EQ(testsupport::Query(dir.file("loose.db"), "SELECT cFlag, cNum FROM Ap_AlarmSet"),
            (testsupport::Rows{{"X", "99"}}));

  host.options_destroy(options);
  host.release(obj);
}

}  // namespace
