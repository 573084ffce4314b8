// The shared library driven as a host program drives it: loaded with dlopen,
// entry points found by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support.h"
#include "velaccap/capi.h"

namespace {

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

TEST(CApi, HostCreatesRunsAndReleases) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  auto create = lib.Get<decltype(VelAccAP_CreateObject)>("VelAccAP_CreateObject");
  auto release = lib.Get<decltype(VelAccAP_Release)>("VelAccAP_Release");
  auto update = lib.Get<decltype(VelAccAP_UpdateA812ToS820)>("VelAccAP_UpdateA812ToS820");
  auto describe = lib.Get<decltype(VelAccAP_ErrDescription)>("VelAccAP_ErrDescription");
  auto can_unload = lib.Get<decltype(VelAccAP_CanUnloadNow)>("VelAccAP_CanUnloadNow");
  ASSERT_TRUE(create && release && update && describe && can_unload);
  // Only the entry points leave the library.
  EXPECT_EQ(dlsym(lib.handle, "_ZN8velaccap9clsAPA81216UpdateA812ToS820ERNS_14SourceDatabaseERNS_16TargetConnectionE"),
            nullptr);

  testsupport::TempDir dir;
  const std::string source = dir.file("source.db"), target = dir.file("target.db");
  ASSERT_EQ(Tool("sample " + source + " --lines 300 --seed 7"), 0);
  ASSERT_EQ(Tool("new-target " + target), 0);

  EXPECT_EQ(can_unload(), 0);
  VelAccAPObject* obj = create();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(can_unload(), 1);
  EXPECT_STREQ(describe(obj), "");
  EXPECT_EQ(update(obj, source.c_str(), target.c_str()), VELACCAP_TRUE) << describe(obj);
  EXPECT_STREQ(describe(obj), "");
  EXPECT_EQ(testsupport::Query(target, "SELECT COUNT(*) > 0 FROM SaleBillVouchs"), (testsupport::Rows{{"1"}}));

  // A target without the invoice tables fails in the run with the engine's text.
  testsupport::Exec(target, "DROP TABLE SaleBillVouchs");
  EXPECT_EQ(update(obj, source.c_str(), target.c_str()), VELACCAP_FALSE);
  EXPECT_STREQ(describe(obj), "no such table: SaleBillVouchs");
  // A source that cannot be opened is a false result with a description too.
  EXPECT_EQ(update(obj, dir.file("missing.db").c_str(), target.c_str()), VELACCAP_FALSE);
  EXPECT_NE(std::string(describe(obj)).find("missing.db"), std::string::npos);

  release(obj);
  EXPECT_EQ(can_unload(), 0);
}

}  // namespace
