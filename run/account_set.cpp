#include "run/account_set.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "check/needs.h"
#include "dbaccess/odbc_connection_string.h"
#include "dbaccess/sqlite_common.h"
#include "run/output_file.h"
#include "schema/schema.h"
#include "velaccap/open.h"

namespace velaccap::run {

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
    int rc = sqlite3_open_v2(sqlite_internal::PlainPath(path).c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
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

void RefuseSameDatabase(const std::string& source, const std::string& target) {
  if (SameFile(source, target))
    throw InputError("SOURCE and TARGET are the same database (" + source + ", " + target +
                     "); the run reads one account set and writes another");
}

void RequireFit(SourceDatabase& source, const std::string& source_name, TargetConnection& target,
                const std::string& target_name) {
  const check::Identity id = check::Identify(source, target);
  std::string text = check::SourceMisfit(id.source, source_name);
  if (const std::string t = check::TargetMisfit(id.target, DisplayName(target_name)); !t.empty())
    text += (text.empty() ? "" : "\n") + t;
  if (!text.empty()) throw InputError(text);
  // The tables written through a recordset must open for adding rows.
  std::unique_ptr<TargetRecordset> rs = target.NewRecordset();
  for (const char* table : kTargetTables) {
    if (std::string_view(table) == "AccInformation") continue;  // only updated
    try {
      rs->set_source(table);
      rs->OpenTable();
      rs->Close();
    } catch (const Error& e) {
      throw InputError("TARGET " + DisplayName(target_name) + ": table " + table +
                       " cannot be opened for adding rows: " + e.what());
    }
  }
}

}  // namespace velaccap::run
