#include "tests/support.h"

#include <pty.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::string SharedDir() { return std::string(VELACCAP_SOURCE_DIR) + "/../shared"; }

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "velaccap-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

sqlite3* Open(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(path + ": " + msg);
  }
  return db;
}

}  // namespace

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += std::string{"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
  return out;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Leftovers(const std::string& db) {
  for (const char* suffix : {"-journal", "-wal", "-shm"})
    if (std::filesystem::exists(db + suffix)) return true;
  return false;
}

void Exec(const std::string& db_path, const std::string& sql) {
  sqlite3* db = Open(db_path);
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "?";
    sqlite3_free(err);
    sqlite3_close(db);
    throw std::runtime_error(msg + " in: " + sql);
  }
  sqlite3_close(db);
}

Rows Query(const std::string& db_path, const std::string& sql) {
  sqlite3* db = Open(db_path);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(msg + " in: " + sql);
  }
  Rows rows;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      row.push_back(sqlite3_column_type(st, i) == SQLITE_NULL ? "NULL" : reinterpret_cast<const char*>(t));
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

long long Count(const std::string& db_path, const std::string& table) {
  return std::stoll(Query(db_path, "SELECT count(*) FROM " + table)[0][0]);
}

const std::string& EmptyRunTrace() {
  static const std::string trace =
      "X\tDelete Ap_AlarmSet\nS\tSelect * From Ap_AlarmSet Order By cFlag,cNum\nT\tAp_AlarmSet\t3\n"
      "X\tDelete Ap_BillAge\nS\tSelect * From Ap_BillAge Order By cFlag,cNum\nT\tAp_BillAge\t3\n"
      "X\tDelete Ap_CancelNo\nS\tSelect Max(iCancelNo) As ID,cType,cFlag From Ap_CancelNo Group By cFlag,cType\n"
      "T\tAp_CancelNo\t3\n"
      "X\tDelete Ap_CloseBill\nS\tSelect * From Ap_CloseBill Order By Auto_ID\nT\tAp_CloseBill\t3\n"
      "X\tDelete Ap_CtrlCode\nS\tSelect * From Ap_CtrlCode Order By Auto_ID\nT\tAp_CtrlCode\t3\n"
      "X\tDelete SaleBillVouch Where cSTCode Is Null\n"
      "S\tSelect * From SaleBillVouch Where cSTCode Is Null And Instr(cSBVCode,' ')=0 Order By SBVID\n"
      "T\tSaleBillVouch\t3\n"
      "X\tDelete SaleBillVouchs From SaleBillVouch Where cSTCode Is Null And "
      "SaleBillVouchs.SBVID=SaleBillVouch.SBVID\n"
      "S\tSelect * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID "
      " Where cSTCode Is Null And Instr(cSBVCode,' ')=0 Order By SaleBillVouchs.SBVID,SaleBillVouchs.AutoID\n"
      "T\tSaleBillVouchs\t3\n"
      "S\tSelect * From SaleBillVouchs INNER JOIN SaleBillVouch ON SaleBillVouchs.SBVID=SaleBillVouch.SBVID "
      " Where cSTCode Is Null And Instr(cSBVCode,' ')>0 Order By SaleBillVouchs.SBVID,SaleBillVouchs.AutoID\n"
      "X\tDelete PurBillVouch Where cBusType Is Null\n"
      "S\tSelect * From PurBillVouch Where cBusType Is Null And Instr(cPBVCode,' ')=0 Order By PBVID\n"
      "T\tPurBillVouch\t2\n"
      "X\tDelete PurBillVouchs From PurBillVouch Where cBusType Is Null And "
      "PurBillVouchs.PBVID=PurBillVouch.PBVID\n"
      "S\tSelect * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID "
      " Where cBusType Is Null And Instr(cPBVCode,' ')=0 Order By PurBillVouchs.PBVID,PurBillVouchs.ID\n"
      "T\tPurBillVouchs\t2\n"
      "S\tSelect * From PurBillVouchs INNER JOIN PurBillVouch ON PurBillVouchs.PBVID=PurBillVouch.PBVID "
      " Where cBusType Is Null And Instr(cPBVCode,' ')>0 Order By PurBillVouchs.PBVID,PurBillVouchs.ID\n"
      "X\tDelete Ap_Detail\nS\tSelect * From Ap_Detail Order By Auto_ID\nT\tAp_Detail\t2\n"
      "X\tDelete Ap_InputCode\nS\tSelect * From Ap_InputCode Order By Auto_ID\nT\tAp_InputCode\t2\n"
      "X\tINSERT INTO Ap_Inputcode(cNum,cNote,cNote_f,cFlag,cArCode,cArCodeName,cApCode,cApCodeName) "
      "VALUES('49','币种兑换差异入账科目','dhcyrzkm','RP',Null,Null,Null,Null)\n"
      "X\tDelete Ap_InvCode\nS\tSelect * From Ap_InvCode Order By Auto_ID\nT\tAp_InvCode\t2\n"
      "X\tDelete Ap_Note\nS\tSelect * From Ap_Note Order By Auto_ID\nT\tAp_Note\t2\n"
      "X\tDelete Ap_Note_Sub\nS\tSelect * From Ap_Note_Sub Order By ID\nT\tAp_Note_Sub\t2\n"
      "X\tDelete Ap_SStyleCode\nS\tSelect * From Ap_SStyleCode Order By Auto_ID\nT\tAp_SStyleCode\t2\n"
      "X\tDelete Ap_Vouch\nS\tSelect * From Ap_Vouch Order By Auto_ID\nT\tAp_Vouch\t2\n"
      "X\tDelete Ap_Vouchs\nS\tSelect * From Ap_Vouchs Order By Auto_ID\nT\tAp_Vouchs\t2\n"
      "X\tDelete Ap_VouchType\nS\tSelect * From Ap_VouchType Order By cTypeCode\nT\tAp_VouchType\t2\n"
      "X\tDelete Ar_BadAge\nS\tSelect * From Ar_BadAge Order By cNum\nT\tAr_BadAge\t2\n"
      "X\tDelete Ar_BadPara\nS\tSelect * From Ar_BadPara Order By dJtDate\nT\tAr_BadPara\t2\n"
      "S\tSELECT cSysID,cName,cValue FROM AccInformation WHERE cSysID='AR' or cSysID='AP' "
      "ORDER BY cSysID,cName\n";
  return trace;
}

namespace {

std::string SqliteOdbcDriver() {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
    const std::string driver = std::string(dir) + "/libsqlite3odbc.so";
    if (std::filesystem::exists(driver)) return driver;
  }
  return {};
}

void WriteDriverList(const std::string& dir, const std::string& driver, const std::string& trace_file) {
  std::ofstream out(dir + "/odbcinst.ini");
  if (!trace_file.empty()) out << "[ODBC]\nTrace=Yes\nTraceFile=" << trace_file << "\n\n";
  out << "[VelSQLite3]\nDriver=" << driver << "\n";
  std::ofstream(dir + "/odbc.ini") << "";
}

class PrivateOdbcDriverList : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string driver = SqliteOdbcDriver();
    ASSERT_FALSE(driver.empty()) << "the SQLite ODBC driver (Debian package libsqliteodbc) is not installed";
    WriteDriverList(dir_.path(), driver, "");
    setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    setenv("ODBCINI", dir_.file("odbc.ini").c_str(), 1);
  }

 private:
  TempDir dir_;
};

}  // namespace

::testing::Environment* NewPrivateOdbcDriverList() { return new PrivateOdbcDriverList; }

std::string TracedOdbcDriverList(const std::string& dir, const std::string& trace_file) {
  WriteDriverList(dir, SqliteOdbcDriver(), trace_file);
  return "ODBCSYSINI='" + dir + "' ODBCINI='" + dir + "/odbc.ini'";
}

std::vector<OdbcExecute> OdbcExecutes(const std::string& trace_file) {
  // A call opens with "[ODBC][pid][time][SQLExecute.c][line]" and a line
  // "Entry:", then one indented line per argument.
  std::ifstream in(trace_file);
  std::map<std::string, OdbcExecute> prepared;  // by statement handle
  std::vector<OdbcExecute> executes;
  std::string line, function, handle, attribute;
  bool entry = false;
  while (std::getline(in, line)) {
    if (line.rfind("[ODBC]", 0) == 0) {
      const std::size_t end = line.rfind("][");
      const std::size_t start = line.rfind('[', end - 1);
      function = line.substr(start + 1, end - start - 1);
      entry = false;
      continue;
    }
    const std::string text = line.substr(std::min(line.find_first_not_of('\t'), line.size()));
    if (text == "Entry:") {
      entry = true;
      continue;
    }
    if (!entry) continue;
    if (text.rfind("Statement = ", 0) == 0) {
      handle = text.substr(12);
      if (function == "SQLExecute.c") executes.push_back(prepared[handle]);
      // Statements run directly and catalog reads carry no rows.
      if (function == "SQLColumns.c" || function == "SQLColumnsW.c") executes.push_back({"(catalog)", 0});
    } else if ((function == "SQLExecDirect.c" || function == "SQLExecDirectW.c") && text.rfind("SQL = [", 0) == 0) {
      executes.push_back({text.substr(7), 0});
    } else if (function == "SQLPrepare.c" && text.rfind("SQL = [", 0) == 0) {
      prepared[handle] = OdbcExecute{text.substr(7), 1};
    } else if (function == "SQLSetStmtAttr.c" && text.rfind("Attribute = ", 0) == 0) {
      attribute = text.substr(12);
    } else if (function == "SQLSetStmtAttr.c" && attribute == "SQL_ATTR_PARAMSET_SIZE" &&
               text.rfind("Value = ", 0) == 0) {
      prepared[handle].rows = std::stoll(text.substr(8), nullptr, 16);
    }
  }
  return executes;
}

Result RunTool(const std::string& dir, const std::string& args, const std::string& env) {
  std::filesystem::create_directories(dir + "/tmp");
  const std::string out = dir + "/.stdout", err = dir + "/.stderr";
  // In a subshell, so that a pipe in `args` stays a pipe of the tool's.
  const std::string cmd = "cd '" + dir + "' && (" + env + " TMPDIR='" + dir + "/tmp' '" VELACCAP_BINARY_DIR
                          "/apupgrade' " + args + ") >'" + out + "' 2>'" + err + "' </dev/null";
  const int status = std::system(cmd.c_str());
  Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

Result Tool::Run(const std::string& args) { return RunTool(dir_.path(), args); }

Rows TableRows(const std::string& db_path) {
  Rows all;
  for (const auto& t : Query(db_path, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    all.push_back({"table", t[0]});
    for (auto& row : Query(db_path, "SELECT * FROM \"" + t[0] + "\" ORDER BY rowid")) all.push_back(std::move(row));
  }
  return all;
}

Rows Dump(const std::string& db_path) {
  Rows all = Query(db_path, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name");
  for (auto& row : TableRows(db_path)) all.push_back(std::move(row));
  return all;
}

TerminalResult OnTerminal(const std::string& dir, const std::vector<std::string>& args, int columns,
                          const std::vector<std::string>& env, const std::string& prompt, const std::string& answer) {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return {-1, "forkpty failed"};
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("TERM", "xterm", 1);  // a terminal that takes escape sequences, unless `env` says otherwise
    for (const std::string& e : env) {
      const std::size_t eq = e.find('=');
      if (eq == std::string::npos)
        unsetenv(e.c_str());
      else
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(VELACCAP_BINARY_DIR "/apupgrade")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  bool answered = prompt.empty();
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
    if (n > 0) seen.append(buffer, n);
    if (!answered && seen.find(prompt) != std::string::npos) {
      if (write(master, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) break;
      answered = true;
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seen};
}

}  // namespace testsupport
