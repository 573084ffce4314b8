#include "cli/account_set.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "cli/schema.h"
#include "dbaccess/odbc_connection_string.h"
#include "velaccap/open.h"

namespace velaccap::cli {

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close(db); }

void ExecSql(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string text = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw Error(text);
  }
}

SqliteHandle CreateSqliteFile(const std::string& path, const char* ddl) {
  // Claim the name first: O_EXCL makes the refusal to overwrite race-free,
  // and SQLite takes an empty file as an empty database.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    if (errno == EEXIST) throw InputError(path + ": already exists; not overwritten");
    throw InputError(path + ": cannot create: " + std::strerror(errno));
  }
  ::close(fd);
  try {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK) throw Error(path + ": " + sqlite3_errmsg(raw));
    ExecSql(db.get(), "BEGIN");
    ExecSql(db.get(), ddl);
    ExecSql(db.get(), "COMMIT");
    return db;
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    throw;
  }
}

void CreateTarget(const std::string& path) { CreateSqliteFile(path, schema::kTarget820); }

const char* const kTargetTables[21] = {
    "Ap_AlarmSet",  "Ap_BillAge",     "Ap_CancelNo", "Ap_CloseBill",  "Ap_CtrlCode",
    "SaleBillVouch", "SaleBillVouchs", "PurBillVouch", "PurBillVouchs", "Ap_Detail",
    "Ap_InputCode", "Ap_InvCode",     "Ap_Note",     "Ap_Note_Sub",   "Ap_SStyleCode",
    "Ap_Vouch",     "Ap_Vouchs",      "Ap_VouchType", "Ar_BadAge",    "Ar_BadPara",
    "AccInformation",
};

std::string DisplayName(const std::string& name) {
  // Connection strings may carry a password; messages never show it.
  constexpr std::string_view kOdbc = "odbc:";
  if (name.starts_with(kOdbc)) return std::string(kOdbc) + MaskOdbcPasswords(name.substr(kOdbc.size()));
  // A name with '=' may be a connection string that lacks its prefix. One
  // without cannot hold an attribute: a file name, shown as it is.
  if (name.find('=') != std::string::npos) return MaskOdbcPasswords(name);
  return name;
}

void CheckSource(SourceDatabase& source, const std::string& name) {
  for (const char* table : kTargetTables) {
    try {
      source.OpenRecordset(std::string("Select * From ") + table + " Where 1=0")->close();
    } catch (const Error& e) {
      throw InputError(name + ": not an 8.12 account set: table " + table + ": " + e.what());
    }
  }
}

void CheckTarget(TargetConnection& target, const std::string& name) {
  std::unique_ptr<TargetRecordset> rs = target.NewRecordset();
  for (const char* table : kTargetTables) {
    try {
      const std::string t = table;
      if (t == "AccInformation") {
        // Only updated by statements: the columns those use must be there.
        target.ExecuteQuery("Select cSysID,cName,cValue From AccInformation Where 1=0")->Close();
        continue;
      }
      // A backend may open a table lazily; the empty query makes sure the
      // table is really there, the table open that it can take rows.
      target.ExecuteQuery("Select * From " + t + " Where 1=0")->Close();
      rs->set_source(t);
      rs->OpenTable();
      rs->Close();
    } catch (const Error& e) {
      throw InputError(DisplayName(name) + ": not an 8.20 account set: table " + table + ": " + e.what());
    }
  }
}

}  // namespace velaccap::cli
