// The password of an ODBC target: given in the environment or typed on the
// terminal, it reaches the driver and never a message, trace or summary;
// written in the connection string, it is masked whole wherever the string
// is shown. Run over Debian's SQLite ODBC driver, which ignores PWD: the
// driver manager's own trace shows what reached it.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

using testsupport::Exec;
using testsupport::Query;
using testsupport::Slurp;

using testsupport::Result;

// A folder with a driver list of its own, the driver manager's trace on.
class Workspace {
 public:
  Workspace() {
    std::string driver;
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"})
      if (std::ifstream(std::string(dir) + "/libsqlite3odbc.so").good()) driver = std::string(dir) + "/libsqlite3odbc.so";
    EXPECT_FALSE(driver.empty()) << "the SQLite ODBC driver (Debian package libsqliteodbc) is not installed";
    std::ofstream(dir_.file("odbcinst.ini")) << "[ODBC]\nTrace=Yes\nTraceFile=" << dir_.file("odbc.log")
                                             << "\n\n[VelSQLite3]\nDriver=" << driver << "\n";
    std::ofstream(dir_.file("odbc.ini")) << "";
  }
  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& path() const { return dir_.path(); }
  std::string environment() const {
    return "ODBCSYSINI='" + dir_.path() + "' ODBCINI='" + dir_.file("odbc.ini") + "' ";
  }

  // Runs the tool with `variables` set; stdin is not a terminal.
  Result Run(const std::string& variables, const std::string& args) {
    return testsupport::RunTool(dir_.path(), args, environment() + variables);
  }

  // The connection strings the driver manager was given, as its trace shows
  // them (it masks PWD its own way) with their lengths; the trace is
  // emptied for the next run.
  std::vector<std::string> Connects() {
    std::vector<std::string> seen;
    std::ifstream in(dir_.file("odbc.log"));
    for (std::string line; std::getline(in, line);)
      if (const std::size_t at = line.find("Str In = ["); at != std::string::npos) seen.push_back(line.substr(at));
    std::ofstream(dir_.file("odbc.log"), std::ios::trunc);
    return seen;
  }

 private:
  testsupport::TempDir dir_;
};

// The driver manager's trace line for a connection string given whole.
std::string TraceOf(const std::string& connection_string, const std::string& masked) {
  return "Str In = [" + masked + "][length = " + std::to_string(connection_string.size()) + "]";
}

void ExpectNoPassword(const std::string& where, const std::string& text) {
  for (const char* piece : {"top}", "secret", "}secret"}) EXPECT_EQ(text.find(piece), std::string::npos) << where << ":\n" << text;
}

TEST(CliPassword, FromTheEnvironmentItReachesTheDriverAndNoOutput) {
  Workspace ws;
  ASSERT_EQ(ws.Run("", "sample src.db --lines 200 -q").code, 0);
  ASSERT_EQ(ws.Run("", "new-target tgt.db -q").code, 0);
  const std::string cs = "DRIVER={VelSQLite3};Database=" + ws.file("tgt.db");
  const std::string password = "APUPGRADE_ODBC_PASSWORD='top}secret;x'";

  Result r = ws.Run(password, "migrate src.db 'odbc:" + cs + "' --trace run.trace --summary run.json");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Query(ws.file("tgt.db"), "SELECT count(*) FROM Ap_Detail"), Query(ws.file("src.db"), "SELECT count(*) FROM Ap_Detail"));
  // The password went to the driver as a braced value, '}' doubled; the
  // driver manager's trace shows the whole string's length.
  EXPECT_EQ(ws.Connects(), (std::vector<std::string>{TraceOf(cs + ";PWD={top}}secret;x}", cs + ";PWD=************;x}")}));
  for (const auto& [where, text] : {std::pair<std::string, std::string>{"stdout", r.out}, {"stderr", r.err},
                                    {"trace", Slurp(ws.file("run.trace"))}, {"summary", Slurp(ws.file("run.json"))}})
    ExpectNoPassword(where, text);
  EXPECT_NE(Slurp(ws.file("run.json")).find("\"target\": \"odbc:" + cs + "\""), std::string::npos);

  // check takes it too.
  r = ws.Run(password, "check src.db 'odbc:" + cs + "' --json");
  EXPECT_NE(r.code, 2) << r.err;
  EXPECT_EQ(ws.Connects().size(), 1u);
  ExpectNoPassword("check", r.out + r.err);

  // A password in the connection string wins over the environment's.
  const std::string own = cs + ";PWD=mine";
  r = ws.Run(password, "migrate src.db 'odbc:" + own + "' -q");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ws.Connects(), (std::vector<std::string>{TraceOf(own, cs + ";PWD=****")}));
}

TEST(CliPassword, InTheConnectionStringItIsMaskedWholeInEveryMessage) {
  Workspace ws;
  ASSERT_EQ(ws.Run("", "sample src.db --lines 50 -q").code, 0);
  ASSERT_EQ(ws.Run("", "new-target short.db -q").code, 0);
  Exec(ws.file("short.db"), "DROP TABLE Ap_Note_Sub");
  ASSERT_EQ(ws.Run("", "new-target refusing.db -q").code, 0);
  Exec(ws.file("refusing.db"),
       "CREATE TRIGGER refuse BEFORE INSERT ON Ap_Vouch BEGIN SELECT RAISE(ABORT, 'no vouchers here'); END;");
  const std::string secret = ";PWD={top}}secret;x};UID=u";
  const std::string shown = ";PWD=***;UID=u";

  // Refused before the run: the target named, the password masked.
  const std::string short_cs = "DRIVER={VelSQLite3};Database=" + ws.file("short.db");
  Result r = ws.Run("", "migrate src.db 'odbc:" + short_cs + secret + "' --summary refused.json");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("odbc:" + short_cs + shown), std::string::npos) << r.err;
  ExpectNoPassword("refused", r.out + r.err);

  // Failed in the run, with --trace and --summary.
  const std::string refusing_cs = "DRIVER={VelSQLite3};Database=" + ws.file("refusing.db");
  r = ws.Run("", "migrate src.db 'odbc:" + refusing_cs + secret + "' --trace run.trace --summary run.json");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no vouchers here"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("odbc:" + refusing_cs + shown), std::string::npos) << r.err;
  for (const auto& [where, text] : {std::pair<std::string, std::string>{"output", r.out + r.err},
                                    {"trace", Slurp(ws.file("run.trace"))}, {"summary", Slurp(ws.file("run.json"))}})
    ExpectNoPassword(where, text);
  EXPECT_NE(Slurp(ws.file("run.json")).find(shown), std::string::npos);

  // No driver: the connect fails and names what it can.
  r = ws.Run("", "check src.db 'odbc:DRIVER={NoSuchDriver};Server=h" + secret + "'");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Driver=NoSuchDriver, Server=h"), std::string::npos) << r.err;
  ExpectNoPassword("no driver", r.out + r.err);

  // The prompt is refused where it cannot be honoured.
  r = ws.Run("", "migrate src.db 'odbc:" + refusing_cs + secret + "' --password-prompt");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "apupgrade: --password-prompt: the connection string of TARGET holds a password already (odbc:" +
                       refusing_cs + shown + ")\n");
  r = ws.Run("", "migrate src.db 'odbc:" + refusing_cs + "' --password-prompt");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err,
            "apupgrade: --password-prompt needs a terminal, and standard input is none; give the password in "
            "APUPGRADE_ODBC_PASSWORD instead\n");
}

// Runs the tool on a terminal of its own in `ws`'s folder; when `prompt`
// appears, types `answer`. Returns all the terminal showed; the exit code in
// `code`.
std::string OnTerminal(const Workspace& ws, const std::vector<std::string>& args, const std::string& prompt,
                       const std::string& answer, int* code) {
  const testsupport::TerminalResult r = testsupport::OnTerminal(
      ws.path(), args, 120,
      {"ODBCSYSINI=" + ws.path(), "ODBCINI=" + ws.file("odbc.ini"), "APUPGRADE_ODBC_PASSWORD"}, prompt, answer);
  *code = r.code;
  return r.text;
}

// Asked on a real terminal: the prompt names the target, the answer is not
// echoed, and it reaches the driver. Written in the string, the password
// stays off the terminal, live progress line included.
TEST(CliPassword, AskedOnTheTerminalWithoutEcho) {
  Workspace ws;
  ASSERT_EQ(ws.Run("", "sample src.db --lines 300 -q").code, 0);
  ASSERT_EQ(ws.Run("", "new-target tgt.db -q").code, 0);
  ASSERT_EQ(ws.Run("", "new-target own.db -q").code, 0);
  const std::string cs = "DRIVER={VelSQLite3};Database=" + ws.file("tgt.db");
  const std::string target = "odbc:" + cs;

  const std::string prompt = "Password for " + target + ": ";
  int code = -1;
  std::string seen = OnTerminal(ws, {"migrate", "src.db", target, "--password-prompt", "--summary", "run.json"},
                                prompt, "top}secret;x\n", &code);
  EXPECT_EQ(code, 0) << seen;
  EXPECT_TRUE(seen.starts_with(prompt + "\r\n")) << seen;  // the newline echoed, nothing else
  EXPECT_NE(seen.find("Reconciled with the source"), std::string::npos) << seen;
  ExpectNoPassword("terminal", seen);
  ExpectNoPassword("summary", Slurp(ws.file("run.json")));
  EXPECT_EQ(ws.Connects(), (std::vector<std::string>{TraceOf(cs + ";PWD={top}}secret;x}", cs + ";PWD=************;x}")}));
  EXPECT_EQ(Query(ws.file("tgt.db"), "SELECT count(*) > 0 FROM SaleBillVouchs"), (testsupport::Rows{{"1"}}));

  const std::string own = "odbc:DRIVER={VelSQLite3};Database=" + ws.file("own.db") + ";PWD={top}}secret;x}";
  seen = OnTerminal(ws, {"migrate", "src.db", own}, "", "", &code);
  EXPECT_EQ(code, 0) << seen;
  EXPECT_NE(seen.find("\rstep 1 of 21  Ap_AlarmSet"), std::string::npos) << seen;
  ExpectNoPassword("terminal", seen);
}

}  // namespace
