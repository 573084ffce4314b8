// Helpers shared by the tests: scratch files and direct SQLite access to
// check what a run left behind.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

namespace testsupport {

// A test environment that registers Debian's SQLite ODBC driver as
// "VelSQLite3" in a driver list of the test's own, set before the first ODBC
// call; the machine's ODBC files stay untouched. Pass it to
// ::testing::AddGlobalTestEnvironment.
::testing::Environment* NewPrivateOdbcDriverList();

// Writes into `dir` a driver list like the private one whose driver manager
// traces every ODBC call into `trace_file`, and returns the environment
// settings ("ODBCSYSINI=... ODBCINI=...") that make a program started by a
// shell use it. The driver manager reads its trace settings once per process,
// so a traced run is a program of its own.
std::string TracedOdbcDriverList(const std::string& dir, const std::string& trace_file);

// An execute of a prepared statement, as such a trace shows it: the text
// prepared, as the trace gives it (cut at 128 characters, then its length:
// "INSERT INTO ...][length = 371]"), and the sets of parameters sent with it.
// A statement run directly or a catalog read ("(catalog)") is listed too,
// with no rows.
struct OdbcExecute {
  std::string statement;
  long long rows = 1;
};
std::vector<OdbcExecute> OdbcExecutes(const std::string& trace_file);

// The shared, read-only folder beside the project (fixtures).
std::string SharedDir();

// A fresh scratch folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// What a run of the built tool left: its exit code and what it printed.
struct Result {
  int code;
  std::string out;
  std::string err;
};

// The built apupgrade run with `args` in `dir` as a user runs it from a
// shell: `env` ("NAME=value ...") set before it, no terminal and nothing on
// its standard input, its temporary files in dir/tmp (where what check's
// trial run leaves behind can be seen).
Result RunTool(const std::string& dir, const std::string& args, const std::string& env = "");

// The built apupgrade, run in a scratch folder of its own (RunTool).
class Tool {
 public:
  Result Run(const std::string& args);
  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  TempDir dir_;
};

// The built apupgrade run with `args` on a terminal of its own (forkpty), in
// `dir`, `columns` wide, TERM=xterm. Each of `env` is "NAME=value" to set
// or "NAME" to remove in the tool's environment; `answer` is typed once
// `prompt` has been shown. What the terminal showed, and the exit code (-1: no normal exit).
struct TerminalResult {
  int code;
  std::string text;
};
TerminalResult OnTerminal(const std::string& dir, const std::vector<std::string>& args, int columns = 120,
                          const std::vector<std::string>& env = {}, const std::string& prompt = "",
                          const std::string& answer = "");

// The text of the E that `f` throws, or "no error".
template <class E = std::exception, class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

// Bytes as upper-case hexadecimal digits, as mdb-export prints a blob.
std::string Hex(const std::string& bytes);

// The whole content of a file; empty when it cannot be read.
std::string Slurp(const std::string& path);

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// Whether SQLite left a journal, WAL or shared-memory file beside `db`.
bool Leftovers(const std::string& db);

// Runs SQL (several statements allowed) on a SQLite file, creating it.
void Exec(const std::string& db_path, const std::string& sql);

// Rows of a query on a SQLite file, each value as text ("NULL" for Null).
using Rows = std::vector<std::vector<std::string>>;
Rows Query(const std::string& db_path, const std::string& sql);

// The rows of a table (or of "(SELECT ...)") in a SQLite file.
long long Count(const std::string& db_path, const std::string& table);

// Every table's rows in rowid order, each table's after a {"table", name} row.
Rows TableRows(const std::string& db_path);

// The schema (the engine's own tables included), then TableRows.
Rows Dump(const std::string& db_path);

// The trace of a run over empty tables: every clearing statement, source
// query and table open of the 21 steps, in order, with their lock types.
// A run over rows adds batch saves and row statements between these lines.
const std::string& EmptyRunTrace();

}  // namespace testsupport
