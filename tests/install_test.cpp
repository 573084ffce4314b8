// The product as a user installs it: `cmake --install` into a fresh prefix,
// then a C host built through pkg-config and a C++ host built through
// find_package against the installed files alone, each migrating a sample
// account set made by the installed tool; and the three Debian packages,
// checked by lintian, unpacked and used the same way.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support.h"
#include "velaccap/version.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Count;
using testsupport::Query;
using testsupport::Result;
using testsupport::Slurp;

// Runs a shell command in `dir`, stdout and stderr together in `out`.
Result Shell(const std::string& dir, const std::string& command) {
  const std::string log = dir + "/.log";
  const std::string cmd = "cd '" + dir + "' && ( " + command + " ) >'" + log + "' 2>&1 </dev/null";
  const int status = std::system(cmd.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(log), ""};
}

// A library built with the sanitizers needs their runtime first in a
// host that is not.
bool SanitizedBuild() {
  return Slurp(VELACCAP_BINARY_DIR "/CMakeCache.txt").find("VELACCAP_SANITIZE:BOOL=ON") != std::string::npos;
}

std::string HostEnvironment() {
  return SanitizedBuild() ? "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 " : "";
}

// The library's folder under a prefix, as the build was configured.
std::string LibDir() {
  const std::string cache = Slurp(VELACCAP_BINARY_DIR "/CMakeCache.txt");
  const std::string key = "CMAKE_INSTALL_LIBDIR:PATH=";
  const auto at = cache.find(key) + key.size();
  return cache.substr(at, cache.find('\n', at) - at);
}

// The source's rows arrived: the copied tables whole, the input code added.
void ExpectMigrated(const std::string& source, const std::string& target) {
  for (const char* t : {"Ap_AlarmSet", "Ap_CloseBill", "Ap_Note", "Ap_Vouchs", "Ar_BadPara", "Ap_Detail"})
    EXPECT_EQ(Count(target, t), Count(source, t)) << t;
  EXPECT_EQ(Count(target, "Ap_InputCode"), Count(source, "Ap_InputCode") + 1);
  EXPECT_GT(Count(target, "SaleBillVouchs"), 0);
  EXPECT_EQ(Query(target, "SELECT iQuantity FROM SaleBillVouchs WHERE AutoID=1")[0][0], "13.0");
}

constexpr const char* kCHost = R"(#include <stdio.h>
#include <string.h>
#include <velaccap/capi.h>

static int steps_seen = 0;
static int progress(void* state, int step, int steps, const char* table, long long done, long long to_do) {
  (void)state; (void)table; (void)done; (void)to_do;
  if (step > steps_seen) steps_seen = step;
  return steps != 21;
}

int main(int argc, char** argv) {
  if (argc != 4) return 10;
  if (VelAccAP_VersionMajor() != VELACCAP_VERSION_MAJOR || strcmp(VelAccAP_Version(), VELACCAP_VERSION) != 0)
    return 11;
  VelAccAPObject* obj = VelAccAP_CreateObject();
  VelAccAPOptions* options = VelAccAP_Options_Create();
  VelAccAP_Options_SetProgress(options, progress, NULL);
  /* An 8.20 set given as the source is refused, and nothing written. */
  int refused = VelAccAP_Migrate(obj, argv[3], argv[2], options);
  printf("refused %d: %s\n", refused, VelAccAP_ErrDescription(obj));
  int result = VelAccAP_Migrate(obj, argv[1], argv[2], options);
  printf("result %d, %d steps\n%s\n", result, steps_seen, VelAccAP_Summary(obj));
  VelAccAP_Options_Destroy(options);
  VelAccAP_Release(obj);
  return refused == VELACCAP_REFUSED && result == VELACCAP_OK ? 0 : 1;
}
)";

constexpr const char* kCxxHost = R"(#include <iostream>
#include <memory>
#include <velaccap/capi.h>

int main(int argc, char** argv) {
  if (argc != 3) return 10;
  std::unique_ptr<VelAccAPObject, decltype(&VelAccAP_Release)> obj(VelAccAP_CreateObject(), VelAccAP_Release);
  const int ok = VelAccAP_UpdateA812ToS820(obj.get(), argv[1], argv[2]);
  std::cout << "velaccap " << VelAccAP_Version() << ": " << (ok == VELACCAP_TRUE ? "true" : "false") << ' '
            << VelAccAP_ErrDescription(obj.get()) << '\n';
  return ok == VELACCAP_TRUE ? 0 : 1;
}
)";

constexpr const char* kCxxProject = R"(cmake_minimum_required(VERSION 3.20)
project(host CXX)
find_package(VelAccAP 1.0 REQUIRED)
add_executable(host host.cpp)
target_link_libraries(host PRIVATE VelAccAP::VelAccAP)
)";

TEST(Install, HostsBuildAgainstTheInstalledFilesAloneAndMigrate) {
  testsupport::TempDir dir;
  const std::string prefix = dir.file("prefix");
  Result r = Shell(dir.path(), "cmake --install '" VELACCAP_BINARY_DIR "' --prefix '" + prefix + "'");
  ASSERT_EQ(r.code, 0) << r.out;

  // The library under its full version, with the soname and the links.
  const std::string lib = prefix + "/" + LibDir() + "/libVelAccAP.so";
  EXPECT_TRUE(fs::is_regular_file(lib + "." VELACCAP_VERSION));
  EXPECT_EQ(fs::read_symlink(lib + ".1"), "libVelAccAP.so." VELACCAP_VERSION);
  EXPECT_EQ(fs::read_symlink(lib), "libVelAccAP.so.1");
  r = Shell(dir.path(), "objdump -p '" + lib + "' | grep SONAME");
  EXPECT_NE(r.out.find("libVelAccAP.so.1\n"), std::string::npos) << r.out;
  // The tool runs the library's code, found by its run path, not a copy of its own.
  r = Shell(dir.path(), "objdump -p '" + prefix + "/bin/apupgrade' | grep -E 'NEEDED.*VelAccAP|RUNPATH'");
  EXPECT_EQ(r.out.substr(r.out.find_first_not_of(' ')), "NEEDED               libVelAccAP.so.1\n  RUNPATH              $ORIGIN/../" +
                                                        LibDir() + "\n") << r.out;
  // The C interface's headers only: the C++ ones include the rooms' own.
  for (const std::string& file : std::initializer_list<std::string>{"include/velaccap/capi.h", "include/velaccap/version.h", LibDir() + "/pkgconfig/velaccap.pc",
        LibDir() + "/cmake/VelAccAP/VelAccAPConfig.cmake", LibDir() + "/cmake/VelAccAP/VelAccAPConfigVersion.cmake",
        "share/bash-completion/completions/apupgrade", "bin/apupgrade", "share/man/man1/apupgrade.1.gz",
        "share/velaccap/schema/summary.schema.json", "share/velaccap/schema/common.schema.json"})
    EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;
  EXPECT_FALSE(fs::exists(prefix + "/include/velaccap/clsAPA812.h"));
  for (const char* schema : {"target_820_mssql.sql", "target_820.sql", "source_812.sql"})
    EXPECT_EQ(Slurp(prefix + "/share/velaccap/" + schema), Slurp(VELACCAP_SOURCE_DIR "/schema/" + std::string(schema)))
        << schema;
  // Completion of the commands and of a command's options, read from the
  // installed tool's help.
  r = Shell(dir.path(), HostEnvironment() + "T='" + prefix + "/bin/apupgrade' bash -c 'source \"" + prefix +
                            "/share/bash-completion/completions/apupgrade\"; COMP_WORDS=(\"$T\" mi); COMP_CWORD=1; "
                            "_apupgrade; echo \"${COMPREPLY[*]}\"; COMP_WORDS=(\"$T\" sample x.db --l); "
                            "COMP_CWORD=3; _apupgrade; echo \"${COMPREPLY[*]}\"; cd \"" + prefix + "\"; "
                            "for w in --jobs -j --timeout --shard --summary; do COMP_WORDS=(\"$T\" batch $w b); "
                            "COMP_CWORD=3; COMPREPLY=(); _apupgrade; echo \"$w:${COMPREPLY[*]}\"; done'");
  // No file names after an option that takes a number or a shard.
  EXPECT_EQ(r.out, "migrate\n--lines\n--jobs:\n-j:\n--timeout:\n--shard:\n--summary:bin\n");

  // The installed tool makes the account sets.
  const std::string tool = HostEnvironment() + "'" + prefix + "/bin/apupgrade'";
  r = Shell(dir.path(), tool + " --version");
  EXPECT_TRUE(r.out.starts_with("apupgrade " VELACCAP_VERSION "\n")) << r.out;
  ASSERT_EQ(Shell(dir.path(), tool + " sample src.db --lines 300 --seed 5 -q").code, 0);
  for (const char* t : {"c.db", "cxx.db"}) ASSERT_EQ(Shell(dir.path(), tool + " new-target " + t + " -q").code, 0);
  const std::string fresh = dir.file("fresh.db");
  fs::copy_file(dir.file("c.db"), fresh);

  // C, through pkg-config, with the library from the prefix at run time.
  std::ofstream(dir.file("host.c")) << kCHost;
  r = Shell(dir.path(), "PKG_CONFIG_PATH='" + prefix + "/" + LibDir() + "/pkgconfig' && export PKG_CONFIG_PATH && "
                        "cc -std=c11 -Wall -Werror host.c $(pkg-config --cflags --libs velaccap) -o c-host");
  ASSERT_EQ(r.code, 0) << r.out;
  r = Shell(dir.path(), HostEnvironment() + "LD_LIBRARY_PATH='" + prefix + "/" + LibDir() +
                            "' ./c-host src.db c.db fresh.db");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("refused 2: SOURCE fresh.db is not an 8.12 account set the run can use: it looks "
                                "like an 8.20 account set; it lacks "))
      << r.out;
  EXPECT_NE(r.out.find("result 0, 21 steps\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"status\": \"succeeded\""), std::string::npos) << r.out;
  ExpectMigrated(dir.file("src.db"), dir.file("c.db"));

  // C++, through find_package; the imported target carries the include
  // path and the library's place.
  fs::create_directory(dir.file("cxx"));
  std::ofstream(dir.file("cxx/host.cpp")) << kCxxHost;
  std::ofstream(dir.file("cxx/CMakeLists.txt")) << kCxxProject;
  r = Shell(dir.path(), "cmake -S cxx -B cxx/build -DCMAKE_PREFIX_PATH='" + prefix +
                            "' >/dev/null && cmake --build cxx/build");
  ASSERT_EQ(r.code, 0) << r.out;
  r = Shell(dir.path(), HostEnvironment() + "cxx/build/host src.db cxx.db");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "velaccap " VELACCAP_VERSION ": true \n");
  ExpectMigrated(dir.file("src.db"), dir.file("cxx.db"));
  // Both ways leave the same rows.
  for (const char* t : {"SaleBillVouchs", "PurBillVouchs", "Ap_Detail", "AccInformation"})
    EXPECT_EQ(Query(dir.file("c.db"), std::string("SELECT * FROM ") + t + " ORDER BY rowid"),
              Query(dir.file("cxx.db"), std::string("SELECT * FROM ") + t + " ORDER BY rowid"))
        << t;
}

// The packages lintian accepts, each depending on what it needs, and
// unpacked into a fresh root: the tool runs, a C host builds against the -dev
// package and migrates, and the man page reads in 80 columns.
TEST(Install, DebianPackagesPassLintianAndWorkUnpacked) {
  if (SanitizedBuild()) GTEST_SKIP() << "packages are made of a build without the sanitizers";
  testsupport::TempDir dir;
  Result r = Shell(dir.path(), "cpack -G DEB --config '" VELACCAP_BINARY_DIR "/CPackConfig.cmake' -B '" + dir.path() +
                                   "'");
  ASSERT_EQ(r.code, 0) << r.out;
  const std::string version = Shell(dir.path(), "dpkg-parsechangelog -l '" VELACCAP_SOURCE_DIR
                                                "/packaging/debian/changelog' -S Version").out;
  ASSERT_TRUE(version.starts_with(VELACCAP_VERSION "-")) << version;
  const std::string v = version.substr(0, version.size() - 1), arch = Shell(dir.path(), "dpkg --print-architecture").out;
  const std::string tool = "apupgrade_" + v + "_" + arch.substr(0, arch.size() - 1) + ".deb";
  const std::string lib = "libvelaccap1" + tool.substr(9), dev = "libvelaccap-dev" + tool.substr(9);
  for (const std::string& deb : {tool, lib, dev}) ASSERT_TRUE(fs::exists(dir.file(deb))) << deb << "\n" << r.out;

  r = Shell(dir.path(), "lintian --fail-on none " + tool + " " + lib + " " + dev);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find("E: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("W: "), std::string::npos) << r.out;

  auto depends = [&](const std::string& deb) { return Shell(dir.path(), "dpkg-deb -f " + deb + " Depends").out; };
  EXPECT_EQ(depends(dev), "libvelaccap1 (= " + v + ")\n");
  EXPECT_NE(depends(tool).find("libvelaccap1 "), std::string::npos) << depends(tool);
  // Found by dpkg-shlibdeps in the library: the engines' libraries.
  for (const char* package : {"libc6 ", "libsqlite3-0 ", "libodbc2 ", "libmdb3 ", "libstdc++6 "})
    EXPECT_NE(depends(lib).find(package), std::string::npos) << package << ": " << depends(lib);
  EXPECT_EQ(Shell(dir.path(), "dpkg-deb --ctrl-tarfile " + lib + " | tar -xO ./triggers").out,
            "activate-noawait ldconfig\n");

  r = Shell(dir.path(), "for d in " + tool + " " + lib + " " + dev + "; do dpkg-deb -x $d root; done");
  ASSERT_EQ(r.code, 0) << r.out;
  const std::string usr = dir.file("root/usr"), libdir = usr + "/lib/" + Shell(dir.path(), "gcc -print-multiarch").out;
  const std::string env = "LD_LIBRARY_PATH='" + libdir.substr(0, libdir.size() - 1) + "' ";
  r = Shell(dir.path(), env + "root/usr/bin/apupgrade --version");
  EXPECT_TRUE(r.out.starts_with("apupgrade " VELACCAP_VERSION "\n")) << r.out;
  ASSERT_EQ(Shell(dir.path(), env + "root/usr/bin/apupgrade sample src.db --lines 200 -q && " + env +
                                  "root/usr/bin/apupgrade new-target c.db -q && cp c.db fresh.db").code, 0);
  std::ofstream(dir.file("host.c")) << kCHost;
  r = Shell(dir.path(), "export PKG_CONFIG_PATH=\"$(dirname root/usr/lib/*/pkgconfig/velaccap.pc)\" && "
                        "cc -std=c11 -Wall -Werror host.c $(pkg-config --cflags --libs velaccap) -o c-host && " + env +
                            "./c-host src.db c.db fresh.db");
  EXPECT_EQ(r.code, 0) << r.out;
  ExpectMigrated(dir.file("src.db"), dir.file("c.db"));

  // The sections in a man page's order, and nothing wider than 80 columns.
  r = Shell(dir.path(), "MANWIDTH=80 man -l root/usr/share/man/man1/apupgrade.1.gz 2>&1");
  std::size_t at = 0;
  for (const char* section : {"\nNAME\n", "\nSYNOPSIS\n", "\nDESCRIPTION\n", "\nCOMMANDS\n", "\n   migrate\n",
                              "\nOPTIONS\n", "\nEXIT STATUS\n", "\nENVIRONMENT\n", "\nEXAMPLES\n", "\nSEE ALSO\n"}) {
    at = r.out.find(section, at);
    EXPECT_NE(at, std::string::npos) << section << r.out;
  }
  r = Shell(dir.path(), "MANWIDTH=80 man -l root/usr/share/man/man1/apupgrade.1.gz 2>&1 | awk 'length > 80'");
  EXPECT_EQ(r.out, "");
}

}  // namespace
