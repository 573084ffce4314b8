// The target over ODBC: the connection, its transactions and the savepoints
// that guard an array of rows, and the statements the component executes.
// Results and table recordsets are in odbc_statement.cpp, the arrays of rows
// in odbc_param_array.cpp.
#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include "dbaccess/ascii.h"
#include "dbaccess/dialect.h"
#include "dbaccess/odbc.h"
#include "dbaccess/odbc_connection_string.h"
#include "dbaccess/odbc_link.h"
#include "dbaccess/odbc_statement.h"
#include "dbaccess/query_tables.h"
#include "velaccap/open.h"

namespace velaccap {

namespace odbc_internal {

namespace {

// The savepoint an array of rows goes back to when one of its rows fails.
constexpr const char* kSavepointName = "VelAccAP_Rows";

}  // namespace

bool Link::Connect(const std::string& connection_string, std::string* diagnostic) {
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    *diagnostic = "cannot allocate an ODBC environment";
    return false;
  }
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    *diagnostic = Diagnostic(SQL_HANDLE_ENV, env_, false);
    return false;
  }
  std::string cs = connection_string;
  SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                                  static_cast<SQLSMALLINT>(cs.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    *diagnostic = Diagnostic(SQL_HANDLE_DBC, dbc_, false);
    return false;
  }
  connected_ = true;
  dbms_ = Info(SQL_DBMS_NAME);
  sql_server_ = dbms_ == "Microsoft SQL Server";
  sqlite_ = dbms_ == "SQLite";
  // SQL Server's drivers take text through their wide entry points (their
  // narrow ones convert to the client code page); the drivers of other
  // engines on Unix take UTF-8 through the narrow ones, which the driver
  // manager would otherwise narrow from UTF-16 by the locale and lose
  // whatever is not in it.
  wide_ = sql_server_;
  quote_ = Info(SQL_IDENTIFIER_QUOTE_CHAR);
  if (quote_ == " ") quote_.clear();
  escape_ = Info(SQL_SEARCH_PATTERN_ESCAPE);
  // A driver without arrays of parameters refuses the size or lowers it;
  // rows then go one per execute, as the driver takes them.
  SQLHSTMT probe = SQL_NULL_HSTMT;
  if (Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &probe))) {
    SQLULEN size = 0;
    if (Ok(SQLSetStmtAttr(probe, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kBatchRows), 0)) &&
        Ok(SQLGetStmtAttr(probe, SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr))) {
      batch_rows_ = std::clamp<SQLULEN>(size, 1, kBatchRows);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, probe);
  }
  // A driver that runs an array as a batch of statements (SQL Server's)
  // goes on past a failing row; the rows after it must then be undone.
  SQLUINTEGER counts = 0;
  goes_on_after_error_ = Ok(SQLGetInfo(dbc_, SQL_PARAM_ARRAY_ROW_COUNTS, &counts, sizeof counts, nullptr)) &&
                         counts == SQL_PARC_BATCH;
  return true;
}

Link::~Link() {
  held_.Leave();
  if (dbc_) {
    // A transaction the host left open is abandoned, as closing an ADO
    // connection does; a destructor has nobody to report a failure to.
    if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

std::string Link::Info(SQLUSMALLINT what) {
  char buf[256] = {};
  SQLSMALLINT len = 0;
  Check(SQLGetInfo(dbc_, what, buf, sizeof buf, &len), SQL_HANDLE_DBC, dbc_);
  return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(len), sizeof buf - 1));
}

void Link::Fail(SQLSMALLINT type, SQLHANDLE handle) const {
  std::string text = Diagnostic(type, handle, wide_);
  if (text.empty()) text = kNoDiagnostic;
  throw Error(text);
}

void Link::ExecDirect(SQLHSTMT stmt, const std::string& text) const {
  Use();
  SQLRETURN rc;
  if (wide_) {
    WideText w = ToWide(text);
    rc = SQLExecDirectW(stmt, w.data(), static_cast<SQLINTEGER>(w.size()));
  } else {
    std::string n = text;
    rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(n.data()), static_cast<SQLINTEGER>(n.size()));
  }
  if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_STMT, stmt);
}

void Link::Prepare(SQLHSTMT stmt, const std::string& text) const {
  Use();
  SQLRETURN rc;
  if (wide_) {
    WideText w = ToWide(text);
    rc = SQLPrepareW(stmt, w.data(), static_cast<SQLINTEGER>(w.size()));
  } else {
    std::string n = text;
    rc = SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(n.data()), static_cast<SQLINTEGER>(n.size()));
  }
  Check(rc, SQL_HANDLE_STMT, stmt);
}

void Link::Run(const std::string& statement) const {
  Statement stmt(*this);
  ExecDirect(stmt.get(), statement);
}

std::string Link::Quote(std::string_view name) const {
  if (quote_.empty()) return std::string(name);
  std::string out = quote_;
  for (char c : name) {
    out += c;
    if (std::string_view(&c, 1) == quote_) out += c;
  }
  return out + quote_;
}

std::string Link::Pattern(std::string_view name) const {
  if (escape_.empty()) return std::string(name);
  std::string out;
  for (char c : name) {
    if (c == '_' || c == '%' || escape_ == std::string_view(&c, 1)) out += escape_;
    out += c;
  }
  return out;
}

void Link::SetAutocommit(bool on) {
  Use();
  held_.ForgetSchema();
  Check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, dbc_);
  in_transaction_ = !on;
}

void Link::EndTransaction(SQLSMALLINT how) {
  if (!in_transaction_) throw Error("No transaction is active.");
  Use();
  Check(SQLEndTran(SQL_HANDLE_DBC, dbc_, how), SQL_HANDLE_DBC, dbc_);
  SetAutocommit(true);
}

Guard Link::OpenGuard(std::size_t rows) {
  if (rows <= 1 || !goes_on_after_error_) return Guard::kNone;
  if (in_transaction_) {
    Run((sql_server_ ? "SAVE TRANSACTION " : "SAVEPOINT ") + std::string(kSavepointName));
    return Guard::kSavepoint;
  }
  Check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                          SQL_IS_UINTEGER),
        SQL_HANDLE_DBC, dbc_);
  return Guard::kOwnTransaction;
}

void Link::UndoToGuard(Guard guard) {
  if (guard == Guard::kSavepoint) {
    Run((sql_server_ ? "ROLLBACK TRANSACTION " : "ROLLBACK TO SAVEPOINT ") + std::string(kSavepointName));
  } else {
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_HANDLE_DBC, dbc_);
  }
}

void Link::CloseGuard(Guard guard) {
  if (guard == Guard::kSavepoint) {
    // SQL Server keeps a savepoint until the transaction ends; other
    // engines nest them, so each is let go.
    if (!sql_server_) Run("RELEASE SAVEPOINT " + std::string(kSavepointName));
  } else if (guard == Guard::kOwnTransaction) {
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
    SetAutocommit(true);
    Check(rc, SQL_HANDLE_DBC, dbc_);
  }
}

void Link::AbandonGuard(Guard guard) noexcept {
  if (guard != Guard::kOwnTransaction) return;
  SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
  SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
}

bool Link::PlainTable(const std::string& table, bool no_triggers) {
  std::string sql;
  if (sqlite_) {
    sql = SqlitePlainTableQuery(table, no_triggers);
  } else {
    // The name as the session resolves it: a user table, not a view or a
    // synonym, and with no trigger of any kind.
    std::string name = "N'[";
    for (char c : table) name += c == ']' ? std::string("]]") : c == '\'' ? std::string("''") : std::string(1, c);
    name += "]'";
    sql = "SELECT CASE WHEN EXISTS (SELECT 1 FROM sys.tables WHERE object_id=OBJECT_ID(" + name + "))";
    if (no_triggers) sql += " AND NOT EXISTS (SELECT 1 FROM sys.triggers WHERE parent_id=OBJECT_ID(" + name + "))";
    sql += " THEN 1 ELSE 0 END";
  }
  Statement stmt(*this);
  SQLHSTMT h = stmt.get();
  ExecDirect(h, sql);
  Check(SQLFetch(h), SQL_HANDLE_STMT, h);
  SQLINTEGER verdict = 0;
  SQLLEN ind = 0;
  Check(SQLGetData(h, 1, SQL_C_SLONG, &verdict, 0, &ind), SQL_HANDLE_STMT, h);
  SQLFreeStmt(h, SQL_CLOSE);
  return ind != SQL_NULL_DATA && verdict == 1;
}

}  // namespace odbc_internal

namespace {

using namespace odbc_internal;

class OdbcTarget : public TargetConnection {
 public:
  explicit OdbcTarget(std::shared_ptr<Link> link) : link_(std::move(link)), exec_(*link_) {}

  void Execute(const std::string& statement) override { Run(statement); }

  long long ExecuteCount(const std::string& statement) override { return Run(statement); }

  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    auto rs = NewOdbcRecordset(link_);
    rs->set_lock_type(LockType::ReadOnly);
    rs->OpenQuery(query);
    return rs;
  }

  std::unique_ptr<TargetRecordset> NewRecordset() override { return NewOdbcRecordset(link_); }

  void BeginTransaction() override {
    if (link_->in_transaction()) throw Error("A transaction is already active.");
    // Rows saved before the transaction stay outside it.
    link_->held().Send();
    link_->SetAutocommit(false);
  }
  void Commit() override {
    if (link_->in_transaction()) link_->held().Send();
    link_->EndTransaction(SQL_COMMIT);
  }
  void Rollback() override {
    // Rows not sent yet are dropped: the rollback would undo them anyway.
    if (link_->in_transaction()) link_->held().Drop();
    link_->EndTransaction(SQL_ROLLBACK);
  }
  bool InTransaction() override { return link_->in_transaction(); }

 private:
  // Runs a statement and returns the rows it changed; any further results
  // are read through, so an error in them is not lost.
  long long Run(const std::string& statement) {
    link_->held().Send();
    link_->held().ForgetSchema();
    SQLHSTMT h = exec_.get();
    const std::string text = link_->sql_server() ? statement : AdaptDeleteStatement(statement);
    link_->ExecDirect(h, text);
    SQLLEN rows = 0;
    SQLRETURN rc = SQLRowCount(h, &rows);
    if (!Ok(rc)) {
      SQLFreeStmt(h, SQL_CLOSE);
      link_->Fail(SQL_HANDLE_STMT, h);
    }
    for (;;) {
      rc = SQLMoreResults(h);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) {
        SQLFreeStmt(h, SQL_CLOSE);
        link_->Fail(SQL_HANDLE_STMT, h);
      }
    }
    SQLFreeStmt(h, SQL_CLOSE);
    return rows < 0 ? 0 : static_cast<long long>(rows);
  }

  std::shared_ptr<Link> link_;
  Statement exec_;
};

// The connection string's DSN, driver, server and database, for a message
// that must never show a password.
std::string Describe(const std::string& connection_string) {
  // Only attributes read whole are shown: past an unreadable part, what is
  // a value and what a password is no longer certain.
  const OdbcConnectionString cs = ParseOdbcConnectionString(connection_string);
  std::string shown;
  for (const OdbcAttribute& a : cs.attributes) {
    for (const char* wanted : {"DSN", "Driver", "Server", "Database"}) {
      if (EqualNoCase(a.key, wanted)) {
        if (!shown.empty()) shown += ", ";
        shown += std::string(wanted) + "=" + a.value;
      }
    }
  }
  return shown.empty() ? "no DSN or database named" : shown;
}

}  // namespace

std::unique_ptr<TargetConnection> OpenOdbcTarget(const std::string& connection_string) {
  auto link = std::make_shared<Link>();
  std::string diagnostic;
  if (!link->Connect(connection_string, &diagnostic)) {
    throw InputError("Cannot connect to the ODBC target (" + Describe(connection_string) + "): " + diagnostic);
  }
  return std::make_unique<OdbcTarget>(std::move(link));
}

}  // namespace velaccap
