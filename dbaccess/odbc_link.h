// What every part of the ODBC target shares: text in the driver manager's
// UTF-16, the driver's diagnostics, and the connection (Link) that the
// connection object and every recordset it hands out hold together.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "dbaccess/held_rows.h"
#include "velaccap/value.h"

namespace velaccap::odbc_internal {

// unixODBC's SQLWCHAR is two bytes: wide text is UTF-16.
using WideText = std::basic_string<SQLWCHAR>;
static_assert(sizeof(SQLWCHAR) == 2, "the driver manager must use UTF-16 wide characters");

// UTF-8 to UTF-16 and back. Text not valid in its encoding throws: a
// replacement character would change the stored value without a word.
WideText ToWide(std::string_view utf8);
// Into `out`, whose room is reused: a batch converts every row's text.
void ToWide(std::string_view utf8, WideText* out);
std::string ToUtf8(const SQLWCHAR* text, std::size_t n);

inline bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The message text of diagnostic record `record` (the first by default) on
// `handle`, as the driver (or the driver manager) words it; empty when there
// is none.
std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle, bool wide, SQLSMALLINT record = 1);

// What a failure says when the driver gave no diagnostic, so that no
// failure is ever an empty text.
inline constexpr char kNoDiagnostic[] = "The ODBC driver reported a failure without a diagnostic";

// Rows saved go to the driver in arrays of this many parameter sets: one
// execute, and with a server one round trip, per this many rows.
inline constexpr std::size_t kBatchRows = 1000;

// A query's result whose rows are still coming from the server. A driver
// that serves one statement at a time (SQL Server's, without MARS) must have
// read them all before another statement may run, so the result reads its
// rest into memory when anything else needs the connection. Read forward
// only, a result costs no round trip beyond its execute; a server cursor
// would cost one per fetch and one to close.
class StreamingResult {
 public:
  virtual void ReadRest() = 0;

 protected:
  ~StreamingResult() = default;
};

// How rows sent in one array are guarded on a driver that goes on past a
// failing row, so that the rows after that row can be undone.
enum class Guard : unsigned char { kNone, kSavepoint, kOwnTransaction };

// The environment and connection handles, shared by the connection object
// and every recordset it hands out, so a recordset outliving its connection
// object still holds valid handles.
class Link final : private HeldRows::Engine {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link();

  // Connects; on failure returns the diagnostic text instead of throwing so
  // that the caller can word the input error.
  bool Connect(const std::string& connection_string, std::string* diagnostic);

  // A text answer of SQLGetInfo.
  std::string Info(SQLUSMALLINT what);

  // Throws the handle's first diagnostic as the failure's text.
  [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle) const;
  void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) const {
    if (!Ok(rc)) Fail(type, handle);
  }

  // Runs `text` on `stmt`. SQL_NO_DATA (a searched change that touched no
  // row) is a success.
  void ExecDirect(SQLHSTMT stmt, const std::string& text) const;
  void Prepare(SQLHSTMT stmt, const std::string& text) const;
  // Runs `statement` on a statement handle of its own, its result unread.
  void Run(const std::string& statement) const;

  // An identifier quoted for statements this backend builds itself.
  std::string Quote(std::string_view name) const;
  // A catalog function's argument is a search pattern, where '_' in a name
  // such as Ap_Note would match any character.
  std::string Pattern(std::string_view name) const;

  SQLHDBC dbc() const { return dbc_; }
  bool wide() const { return wide_; }
  bool sql_server() const { return sql_server_; }
  bool sqlite() const { return sqlite_; }
  std::size_t batch_rows() const { return batch_rows_; }

  // Transactions: autocommit off is a transaction begun; ending one turns it
  // back on.
  void SetAutocommit(bool on);
  void EndTransaction(SQLSMALLINT how);
  bool in_transaction() const { return in_transaction_; }

  // A point to go back to before an array of `rows` rows, where the driver
  // goes on past a failing row (SQL Server's runs an array as a batch of
  // statements); kNone where it stops there by itself.
  Guard OpenGuard(std::size_t rows);
  // Undoes what was written since the guard.
  void UndoToGuard(Guard guard);
  // Keeps what was written since the guard.
  void CloseGuard(Guard guard);
  // After a guard could be neither undone nor kept: nothing since it stays,
  // and the connection commits by itself again, as it did before.
  void AbandonGuard(Guard guard) noexcept;

  // The rows table recordsets hold, by the rule both targets keep.
  HeldRows& held() { return held_; }

  // The result whose rows are still coming, if any; whatever else uses the
  // connection first has it read them in.
  void Stream(StreamingResult* result) const {
    Use();
    streaming_ = result;
  }
  void Unstream(const StreamingResult* result) const {
    if (streaming_ == result) streaming_ = nullptr;
  }
  void Use() const {
    if (!streaming_) return;
    StreamingResult* result = streaming_;
    streaming_ = nullptr;
    result->ReadRest();
  }

 private:
  // The held rows' questions: only SQLite's and SQL Server's catalogs are
  // asked here; other engines always have the rows sent first.
  bool InTransaction() const override { return in_transaction_; }
  bool AsksCatalog() const override { return sqlite_ || sql_server_; }
  bool PlainTable(const std::string& table, bool no_triggers) override;

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool in_transaction_ = false;
  std::string dbms_;
  bool sql_server_ = false;
  bool sqlite_ = false;
  bool wide_ = false;
  std::string quote_;
  std::string escape_;
  std::size_t batch_rows_ = 1;
  bool goes_on_after_error_ = false;
  HeldRows held_{*this};
  mutable StreamingResult* streaming_ = nullptr;
};

// A statement handle, freed with its owner.
class Statement {
 public:
  explicit Statement(const Link& link) {
    link.Check(SQLAllocHandle(SQL_HANDLE_STMT, link.dbc(), &h_), SQL_HANDLE_DBC, link.dbc());
  }
  ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, h_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  SQLHSTMT get() const { return h_; }

 private:
  SQLHSTMT h_ = SQL_NULL_HSTMT;
};

}  // namespace velaccap::odbc_internal
