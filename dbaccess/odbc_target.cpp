// The target over ODBC. One connection handle serves statements, read-only
// results and table recordsets; every call's return code is checked and a
// failure carries the driver's first diagnostic record as its text.
#include "dbaccess/odbc.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <map>
#include <string>
#include <optional>
#include <vector>

#include "dbaccess/ascii.h"
#include "dbaccess/dialect.h"
#include "dbaccess/odbc_connection_string.h"
#include "dbaccess/recordset_base.h"
#include "velaccap/open.h"

namespace velaccap {

namespace {

// unixODBC's SQLWCHAR is two bytes: wide text is UTF-16.
using WideText = std::basic_string<SQLWCHAR>;
static_assert(sizeof(SQLWCHAR) == 2, "the driver manager must use UTF-16 wide characters");

// Converts between the run's UTF-8 and the driver manager's UTF-16 with
// iconv. Each thread keeps its own pair of descriptors: opening one per value
// would cost more than the conversion itself.
class Utf16 {
 public:
  static Utf16& ForThisThread() {
    thread_local Utf16 converter;
    return converter;
  }

  WideText ToWide(std::string_view utf8) {
    WideText out(utf8.size(), 0);  // never more UTF-16 units than UTF-8 bytes
    Convert(to_wide_, utf8.data(), utf8.size(), reinterpret_cast<char*>(out.data()), out.size() * sizeof(SQLWCHAR),
            "UTF-8", &out);
    return out;
  }

  std::string ToUtf8(const SQLWCHAR* text, std::size_t n) {
    std::string out(n * 3, '\0');  // one UTF-16 unit never takes more than three bytes
    Convert(to_utf8_, reinterpret_cast<const char*>(text), n * sizeof(SQLWCHAR), out.data(), out.size(), "UTF-16",
            &out);
    return out;
  }

 private:
  static constexpr const char* kWide = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

  Utf16() : to_wide_(Open(kWide, "UTF-8")), to_utf8_(Open("UTF-8", kWide)) {}
  ~Utf16() {
    iconv_close(to_wide_);
    iconv_close(to_utf8_);
  }

  static iconv_t Open(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      throw Error(std::string("Cannot convert text from ") + from + " to " + to + ": " + std::strerror(errno));
    }
    return cd;
  }

  // Converts `in` into `room` bytes at `dst` and trims `*out` to what was
  // written. Text that is not valid in its encoding stops the run: a
  // replacement character would change the stored value without a word.
  template <typename Out>
  static void Convert(iconv_t cd, const char* in, std::size_t in_len, char* dst, std::size_t room, const char* from,
                      Out* out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in);
    char* cursor = dst;
    std::size_t left = room;
    if (iconv(cd, &src, &in_len, &cursor, &left) == static_cast<std::size_t>(-1)) {
      const int err = errno;
      throw Error(std::string("Text is not valid ") + from + " at byte " + std::to_string(src - in) + ": " +
                  std::strerror(err));
    }
    out->resize(static_cast<std::size_t>(cursor - dst) / sizeof(typename Out::value_type));
  }

  iconv_t to_wide_;
  iconv_t to_utf8_;
};

WideText ToWide(std::string_view utf8) { return Utf16::ForThisThread().ToWide(utf8); }

std::string ToUtf8(const SQLWCHAR* text, std::size_t n) { return Utf16::ForThisThread().ToUtf8(text, n); }

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The message text of the first diagnostic record on `handle`, as the driver
// (or the driver manager) words it.
std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle, bool wide) {
  SQLSMALLINT len = 0;
  SQLINTEGER native = 0;
  if (wide) {
    SQLWCHAR state[6];
    std::vector<SQLWCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRecW(type, handle, 1, state, &native, msg.data(),
                                  static_cast<SQLSMALLINT>(msg.size()), &len);
    if (Ok(rc) && static_cast<std::size_t>(len) >= msg.size()) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRecW(type, handle, 1, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (Ok(rc)) return ToUtf8(msg.data(), std::min<std::size_t>(static_cast<std::size_t>(len), msg.size() - 1));
  } else {
    SQLCHAR state[6];
    std::vector<SQLCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRec(type, handle, 1, state, &native, msg.data(),
                                 static_cast<SQLSMALLINT>(msg.size()), &len);
    if (Ok(rc) && static_cast<std::size_t>(len) >= msg.size()) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRec(type, handle, 1, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (Ok(rc)) {
      return std::string(reinterpret_cast<const char*>(msg.data()),
                         std::min<std::size_t>(static_cast<std::size_t>(len), msg.size() - 1));
    }
  }
  return {};
}

// The environment and connection handles, shared by the connection object
// and every recordset it hands out, so a recordset outliving its connection
// object still holds valid handles.
class Link {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link() {
    if (dbc_) {
      // A transaction the host left open is abandoned, as closing an ADO
      // connection does; a destructor has nobody to report a failure to.
      if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      if (connected_) SQLDisconnect(dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  // Connects; on failure returns the diagnostic text instead of throwing so
  // that the caller can word the input error.
  bool Connect(const std::string& connection_string, std::string* diagnostic) {
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
                                    static_cast<SQLSMALLINT>(cs.size()), nullptr, 0, nullptr,
                                    SQL_DRIVER_NOPROMPT);
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
    return true;
  }

  std::string Info(SQLUSMALLINT what) {
    char buf[256] = {};
    SQLSMALLINT len = 0;
    Check(SQLGetInfo(dbc_, what, buf, sizeof buf, &len), SQL_HANDLE_DBC, dbc_);
    return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(len), sizeof buf - 1));
  }

  [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle) const {
    std::string text = Diagnostic(type, handle, wide_);
    if (text.empty()) text = "The ODBC driver reported a failure without a diagnostic";
    throw Error(text);
  }

  void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) const {
    if (!Ok(rc)) Fail(type, handle);
  }

  // Runs `text` on `stmt`. SQL_NO_DATA (a searched change that touched no
  // row) is a success.
  void ExecDirect(SQLHSTMT stmt, const std::string& text) const {
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

  void Prepare(SQLHSTMT stmt, const std::string& text) const {
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

  // An identifier quoted for statements this backend builds itself.
  std::string Quote(std::string_view name) const {
    if (quote_.empty()) return std::string(name);
    std::string out = quote_;
    for (char c : name) {
      out += c;
      if (std::string_view(&c, 1) == quote_) out += c;
    }
    return out + quote_;
  }

  // A catalog function's argument is a search pattern, where '_' in a name
  // such as Ap_Note would match any character.
  std::string Pattern(std::string_view name) const {
    if (escape_.empty()) return std::string(name);
    std::string out;
    for (char c : name) {
      if (c == '_' || c == '%' || escape_ == std::string_view(&c, 1)) out += escape_;
      out += c;
    }
    return out;
  }

  SQLHDBC dbc() const { return dbc_; }
  bool wide() const { return wide_; }
  bool sql_server() const { return sql_server_; }
  bool sqlite() const { return sqlite_; }

  void SetAutocommit(bool on) {
    Check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
                            SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_);
    in_transaction_ = !on;
  }

  void EndTransaction(SQLSMALLINT how) {
    if (!in_transaction_) throw Error("No transaction is active.");
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_, how), SQL_HANDLE_DBC, dbc_);
    SetAutocommit(true);
  }

  bool in_transaction() const { return in_transaction_; }

 private:
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

// Reads column `col` (1-based) of the current row as text.
Value ReadText(const Link& link, SQLHSTMT stmt, SQLUSMALLINT col) {
  WideText text;
  SQLWCHAR buf[1024];
  constexpr SQLLEN kRoom = sizeof buf - sizeof(SQLWCHAR);  // the driver ends each part with a 0
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
    if (rc == SQL_NO_DATA) break;  // every part has been read
    link.Check(rc, SQL_HANDLE_STMT, stmt);
    if (ind == SQL_NULL_DATA) return Value();
    const SQLLEN bytes = (ind == SQL_NO_TOTAL || ind > kRoom) ? kRoom : ind;
    text.append(buf, static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR));
    if (rc == SQL_SUCCESS) break;
  }
  return Value::Text(ToUtf8(text.data(), text.size()));
}

// A column of a result: its name and how its values are read.
struct ResultColumn {
  std::string name;
  SQLSMALLINT type = SQL_UNKNOWN_TYPE;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

// Reads column `col` (1-based) of the current row as the value type that its
// SQL type stands for.
Value ReadValue(const Link& link, SQLHSTMT stmt, SQLUSMALLINT col, const ResultColumn& c) {
  SQLLEN ind = 0;
  switch (c.type) {
    case SQL_BIT: {
      unsigned char v = 0;
      link.Check(SQLGetData(stmt, col, SQL_C_BIT, &v, sizeof v, &ind), SQL_HANDLE_STMT, stmt);
      return ind == SQL_NULL_DATA ? Value() : Value::YesNo(v != 0);
    }
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      // Exact numbers without a fraction that fit 64 bits are integers (ids
      // declared numeric); money and the like are reals, as ADO's doubles.
      if (c.digits != 0 || c.size > 18) {
        double v = 0;
        link.Check(SQLGetData(stmt, col, SQL_C_DOUBLE, &v, sizeof v, &ind), SQL_HANDLE_STMT, stmt);
        return ind == SQL_NULL_DATA ? Value() : Value::Real(v);
      }
      [[fallthrough]];
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: {
      std::int64_t v = 0;
      link.Check(SQLGetData(stmt, col, SQL_C_SBIGINT, &v, sizeof v, &ind), SQL_HANDLE_STMT, stmt);
      return ind == SQL_NULL_DATA ? Value() : Value::Integer(v);
    }
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: {
      double v = 0;
      link.Check(SQLGetData(stmt, col, SQL_C_DOUBLE, &v, sizeof v, &ind), SQL_HANDLE_STMT, stmt);
      return ind == SQL_NULL_DATA ? Value() : Value::Real(v);
    }
    case SQL_DATE:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT ts{};
      link.Check(SQLGetData(stmt, col, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind), SQL_HANDLE_STMT, stmt);
      if (ind == SQL_NULL_DATA) return Value();
      return Value::Date(DateTime{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                  static_cast<int>(ts.fraction / 1000)});
    }
    default:
      return ReadText(link, stmt, col);
  }
}

// A column of a table, as the catalog describes it.
struct TableColumn {
  std::string name;
  SQLSMALLINT type = SQL_VARCHAR;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

// One parameter's value, kept alive from its binding to the execution.
struct ParamBuffer {
  SQLLEN ind = 0;
  WideText wide;
  std::string narrow;
  SQL_TIMESTAMP_STRUCT timestamp{};
  std::int64_t integer = 0;
  double real = 0;
  unsigned char bit = 0;
};

// A prepared insert of one set of columns into the open table.
struct Insert {
  explicit Insert(const Link& link) : stmt(link) {}
  Statement stmt;
  std::vector<int> columns;
  std::vector<ParamBuffer> params;
};

using namespace recordset_internal;

// The one recordset class: closed, a table open for adding rows, or a
// read-only result. A closed recordset opens again in either mode.
class OdbcRecordset : public RecordsetBase {
 public:
  explicit OdbcRecordset(std::shared_ptr<Link> link) : link_(std::move(link)) {}
  ~OdbcRecordset() override = default;

  void OpenTable() override {
    RequireClosed();
    ReadCatalog();
    std::vector<std::string> names;
    for (const TableColumn& c : table_columns_) names.push_back(c.name);
    SetNames(std::move(names));
    has_pending_ = false;
    mode_ = Mode::Table;
  }

  void OpenQuery(const std::string& query) override {
    RequireClosed();
    auto stmt = std::make_unique<Statement>(*link_);
    SQLHSTMT h = stmt->get();
    if (link_->sql_server()) {
      // A server cursor, so that statements can run on the connection while
      // the result stays open (the merge pass updates before it reads).
      link_->Check(SQLSetStmtAttr(h, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0),
                   SQL_HANDLE_STMT, h);
      link_->Check(SQLSetStmtAttr(h, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0),
                   SQL_HANDLE_STMT, h);
    }
    link_->ExecDirect(h, link_->sql_server() ? query : AdaptDeleteStatement(query));
    SQLSMALLINT count = 0;
    link_->Check(SQLNumResultCols(h, &count), SQL_HANDLE_STMT, h);
    std::vector<ResultColumn> columns(static_cast<std::size_t>(count));
    for (SQLSMALLINT i = 0; i < count; ++i) {
      Describe(h, static_cast<SQLUSMALLINT>(i + 1), &columns[i]);
      MoneyAsReal(h, static_cast<SQLUSMALLINT>(i + 1), &columns[i]);
    }
    result_ = std::move(stmt);
    result_columns_ = std::move(columns);
    std::vector<std::string> names;
    for (const ResultColumn& c : result_columns_) names.push_back(c.name);
    SetNames(std::move(names));
    mode_ = Mode::Result;
    at_end_ = false;
    // The first row is fetched now, so that an empty result is known at once.
    try {
      Fetch();
    } catch (...) {
      Close();
      throw;
    }
    empty_ = at_end_;
  }

  // A table recordset reads no rows, so it stands on none of them.
  bool bof() const override { return mode_ == Mode::Result && empty_; }
  bool eof() const override { return mode_ == Mode::Result && at_end_; }

  Value field_value(int index) const override {
    RequireOpen();
    RequireIndex(index, names().size());
    if (mode_ == Mode::Result) {
      if (at_end_) throw Error(kNoCurrentRecord);
      return row_[static_cast<std::size_t>(index)];
    }
    if (!has_pending_) throw Error(kNoCurrentRecord);
    return pending_[static_cast<std::size_t>(index)];
  }
  using TargetRecordset::field_value;

  void move_next() override {
    RequireOpen();
    if (mode_ != Mode::Result || at_end_) throw Error(kNoCurrentRecord);
    Fetch();
  }

  void AddNew() override {
    RequireTable();
    if (has_pending_) SaveRow();
    pending_.assign(table_columns_.size(), Value());
    is_set_.assign(table_columns_.size(), false);
    has_pending_ = true;
  }

  void set_field(std::string_view name, const Value& value) override {
    RequireTable();
    int i = Find(name);
    if (i < 0) throw Error("table " + source_ + " has no column named " + std::string(name));
    if (!has_pending_) throw Error(kNoCurrentRecord);
    pending_[static_cast<std::size_t>(i)] = value;
    is_set_[static_cast<std::size_t>(i)] = true;
  }

  void UpdateBatch() override {
    RequireTable();
    if (has_pending_) SaveRow();
    has_pending_ = false;
  }

  void Close() override {
    // Closing a closed recordset does nothing; a pending row is discarded.
    result_.reset();
    result_columns_.clear();
    row_.clear();
    inserts_.clear();
    last_key_ = nullptr;
    last_insert_ = nullptr;
    table_columns_.clear();
    ClearNames();
    pending_.clear();
    is_set_.clear();
    has_pending_ = false;
    mode_ = Mode::Closed;
  }

 private:
  void Describe(SQLHSTMT h, SQLUSMALLINT col, ResultColumn* out) const {
    SQLSMALLINT len = 0, nullable = 0;
    if (link_->wide()) {
      std::vector<SQLWCHAR> name(256);
      for (;;) {
        link_->Check(SQLDescribeColW(h, col, name.data(), static_cast<SQLSMALLINT>(name.size()), &len, &out->type,
                                     &out->size, &out->digits, &nullable),
                     SQL_HANDLE_STMT, h);
        if (static_cast<std::size_t>(len) < name.size()) break;
        name.resize(static_cast<std::size_t>(len) + 1);
      }
      out->name = ToUtf8(name.data(), static_cast<std::size_t>(len));
    } else {
      std::vector<SQLCHAR> name(256);
      for (;;) {
        link_->Check(SQLDescribeCol(h, col, name.data(), static_cast<SQLSMALLINT>(name.size()), &len, &out->type,
                                    &out->size, &out->digits, &nullable),
                     SQL_HANDLE_STMT, h);
        if (static_cast<std::size_t>(len) < name.size()) break;
        name.resize(static_cast<std::size_t>(len) + 1);
      }
      out->name.assign(reinterpret_cast<const char*>(name.data()), static_cast<std::size_t>(len));
    }
  }

  // SQLite's driver calls a money column text, for want of a type of its
  // own; its values are amounts, as they are read from SQL Server.
  void MoneyAsReal(SQLHSTMT h, SQLUSMALLINT col, ResultColumn* c) const {
    if (c->type != SQL_VARCHAR && c->type != SQL_WVARCHAR && c->type != SQL_CHAR && c->type != SQL_WCHAR) return;
    char name[64] = {};
    SQLSMALLINT len = 0;
    if (!Ok(SQLColAttribute(h, col, SQL_DESC_TYPE_NAME, name, sizeof name, &len, nullptr))) return;
    const std::string upper = Upper(std::string_view(
        name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)), sizeof name - 1)));
    if (upper.find("MONEY") != std::string::npos || upper.find("CURRENCY") != std::string::npos) c->type = SQL_DOUBLE;
  }

  void Fetch() {
    SQLHSTMT h = result_->get();
    SQLRETURN rc = SQLFetch(h);
    if (rc == SQL_NO_DATA) {
      at_end_ = true;
      row_.clear();
      return;
    }
    link_->Check(rc, SQL_HANDLE_STMT, h);
    row_.clear();
    for (std::size_t i = 0; i < result_columns_.size(); ++i) {
      row_.push_back(ReadValue(*link_, h, static_cast<SQLUSMALLINT>(i + 1), result_columns_[i]));
    }
  }

  // The table's columns from the catalog, in their defined order.
  void ReadCatalog() {
    Statement stmt(*link_);
    SQLHSTMT h = stmt.get();
    const std::string pattern = link_->Pattern(source_);
    SQLRETURN rc;
    if (link_->wide()) {
      WideText w = ToWide(pattern);
      rc = SQLColumnsW(h, nullptr, 0, nullptr, 0, w.data(), static_cast<SQLSMALLINT>(w.size()), nullptr, 0);
    } else {
      std::string n = pattern;
      rc = SQLColumns(h, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(n.data()),
                      static_cast<SQLSMALLINT>(n.size()), nullptr, 0);
    }
    link_->Check(rc, SQL_HANDLE_STMT, h);
    std::vector<TableColumn> columns;
    std::optional<Value> schema;
    for (;;) {
      rc = SQLFetch(h);
      if (rc == SQL_NO_DATA) break;
      link_->Check(rc, SQL_HANDLE_STMT, h);
      Value table = ReadText(*link_, h, 3);
      if (table.is_null() || !EqualNoCase(table.text(), source_)) continue;
      // A table of the same name in a second schema is not this one.
      Value this_schema = ReadText(*link_, h, 2);
      if (!schema) schema = this_schema;
      if (this_schema != *schema) continue;
      TableColumn c;
      c.name = ReadText(*link_, h, 4).text();
      SQLLEN ind = 0;
      link_->Check(SQLGetData(h, 5, SQL_C_SSHORT, &c.type, 0, &ind), SQL_HANDLE_STMT, h);
      SQLINTEGER size = 0;
      link_->Check(SQLGetData(h, 7, SQL_C_SLONG, &size, 0, &ind), SQL_HANDLE_STMT, h);
      c.size = ind == SQL_NULL_DATA || size < 0 ? 0 : static_cast<SQLULEN>(size);
      link_->Check(SQLGetData(h, 9, SQL_C_SSHORT, &c.digits, 0, &ind), SQL_HANDLE_STMT, h);
      if (ind == SQL_NULL_DATA) c.digits = 0;
      columns.push_back(std::move(c));
    }
    if (columns.empty()) {
      // The catalog has no word for a missing table; the engine has, so ask
      // it with a query that reads no rows.
      Statement probe(*link_);
      link_->ExecDirect(probe.get(), "SELECT * FROM " + link_->Quote(source_) + " WHERE 1=0");
      throw Error("table " + source_ + " has no columns");
    }
    table_columns_ = std::move(columns);
  }

  // The insert for the columns set in the pending row, prepared once per set
  // of columns; rows mostly set the same columns as the row before.
  Insert& InsertFor(const std::vector<bool>& is_set) {
    if (last_insert_ && *last_key_ == is_set) return *last_insert_;
    auto it = inserts_.find(is_set);
    if (it == inserts_.end()) {
      auto insert = std::make_unique<Insert>(*link_);
      for (std::size_t i = 0; i < is_set.size(); ++i)
        if (is_set[i]) insert->columns.push_back(static_cast<int>(i));
      std::string sql = "INSERT INTO " + link_->Quote(source_);
      if (insert->columns.empty()) {
        sql += " DEFAULT VALUES";
      } else {
        std::string names, marks;
        for (int i : insert->columns) {
          if (!names.empty()) names += ",", marks += ",";
          names += link_->Quote(table_columns_[static_cast<std::size_t>(i)].name);
          marks += "?";
        }
        sql += " (" + names + ") VALUES (" + marks + ")";
      }
      link_->Prepare(insert->stmt.get(), sql);
      insert->params.resize(insert->columns.size());
      it = inserts_.emplace(is_set, std::move(insert)).first;
    }
    last_key_ = &it->first;
    last_insert_ = it->second.get();
    return *last_insert_;
  }

  void Bind(Insert& insert, std::size_t k, const TableColumn& column, const Value& v) {
    SQLHSTMT h = insert.stmt.get();
    ParamBuffer& p = insert.params[k];
    const SQLUSMALLINT number = static_cast<SQLUSMALLINT>(k + 1);
    SQLSMALLINT c_type, sql_type;
    SQLULEN size;
    SQLSMALLINT digits = 0;
    SQLPOINTER data;
    SQLLEN buffer_length = 0;
    switch (v.type()) {
      case Value::Type::Null:
        // Typed as the column, so no engine refuses a conversion from Null.
        c_type = SQL_C_DEFAULT;
        sql_type = column.type;
        size = std::max<SQLULEN>(column.size, 1);
        digits = column.digits;
        data = nullptr;
        p.ind = SQL_NULL_DATA;
        break;
      case Value::Type::Integer:
        p.integer = v.integer();
        c_type = SQL_C_SBIGINT, sql_type = SQL_BIGINT, size = 19;
        data = &p.integer;
        p.ind = sizeof p.integer;
        break;
      case Value::Type::Real:
        p.real = v.real();
        c_type = SQL_C_DOUBLE, sql_type = SQL_DOUBLE, size = 15;
        data = &p.real;
        p.ind = sizeof p.real;
        break;
      case Value::Type::YesNo:
        p.bit = v.yes_no() ? 1 : 0;
        c_type = SQL_C_BIT, sql_type = SQL_BIT, size = 1;
        data = &p.bit;
        p.ind = sizeof p.bit;
        break;
      case Value::Type::Text:
        p.wide = ToWide(v.text());
        c_type = SQL_C_WCHAR;
        // Beyond 4000 characters SQL Server wants the long type (nvarchar(max)).
        sql_type = p.wide.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        size = std::max<SQLULEN>(p.wide.size(), 1);
        data = p.wide.data();
        buffer_length = p.ind = static_cast<SQLLEN>(p.wide.size() * sizeof(SQLWCHAR));
        break;
      case Value::Type::DateTime:
        if (link_->sqlite()) {
          // SQLite keeps dates as text, and its driver writes a bound
          // timestamp as "YYYY-MM-DD HH:MM:SS.000". Bound as the text the
          // native SQLite target writes, the stored value is the same on
          // both roads.
          p.narrow = FormatDateTime(v.date());
          c_type = SQL_C_CHAR, sql_type = SQL_VARCHAR, size = p.narrow.size();
          data = p.narrow.data();
          buffer_length = p.ind = static_cast<SQLLEN>(p.narrow.size());
        } else {
          const DateTime& d = v.date();
          const bool timestamp_column = column.type == SQL_TYPE_TIMESTAMP || column.type == SQL_TIMESTAMP;
          // The column's own precision: a driver refuses a fraction finer
          // than the scale the parameter declares.
          digits = timestamp_column ? std::clamp<SQLSMALLINT>(column.digits, 0, 9) : 7;
          size = timestamp_column && column.size > 0 ? column.size : 27;
          SQLUINTEGER unit = 1;
          for (int i = digits; i < 9; ++i) unit *= 10;
          const SQLUINTEGER nanos = static_cast<SQLUINTEGER>(d.microsecond) * 1000;
          p.timestamp = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(d.year), static_cast<SQLUSMALLINT>(d.month),
                                             static_cast<SQLUSMALLINT>(d.day),  static_cast<SQLUSMALLINT>(d.hour),
                                             static_cast<SQLUSMALLINT>(d.minute), static_cast<SQLUSMALLINT>(d.second),
                                             nanos - nanos % unit};
          c_type = SQL_C_TYPE_TIMESTAMP, sql_type = SQL_TYPE_TIMESTAMP;
          data = &p.timestamp;
          p.ind = sizeof p.timestamp;
        }
        break;
      default:
        throw Error("unsupported value type");
    }
    link_->Check(SQLBindParameter(h, number, SQL_PARAM_INPUT, c_type, sql_type, size, digits, data, buffer_length,
                                  &p.ind),
                 SQL_HANDLE_STMT, h);
  }

  void SaveRow() {
    // The row is gone once tried: a failed save does not linger as pending.
    has_pending_ = false;
    Insert& insert = InsertFor(is_set_);
    for (std::size_t k = 0; k < insert.columns.size(); ++k) {
      const std::size_t col = static_cast<std::size_t>(insert.columns[k]);
      Bind(insert, k, table_columns_[col], pending_[col]);
    }
    SQLHSTMT h = insert.stmt.get();
    SQLRETURN rc = SQLExecute(h);
    if (rc != SQL_NO_DATA) link_->Check(rc, SQL_HANDLE_STMT, h);
    SQLFreeStmt(h, SQL_CLOSE);
  }

  std::shared_ptr<Link> link_;

  // Result mode.
  std::unique_ptr<Statement> result_;
  std::vector<ResultColumn> result_columns_;
  std::vector<Value> row_;
  bool at_end_ = true;
  bool empty_ = true;

  // Table mode.
  std::vector<TableColumn> table_columns_;
  std::vector<Value> pending_;
  std::vector<bool> is_set_;
  bool has_pending_ = false;
  std::map<std::vector<bool>, std::unique_ptr<Insert>> inserts_;
  const std::vector<bool>* last_key_ = nullptr;
  Insert* last_insert_ = nullptr;
};

class OdbcTarget : public TargetConnection {
 public:
  explicit OdbcTarget(std::shared_ptr<Link> link) : link_(std::move(link)), exec_(*link_) {}

  void Execute(const std::string& statement) override { Run(statement); }

  long long ExecuteCount(const std::string& statement) override { return Run(statement); }

  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    auto rs = std::make_unique<OdbcRecordset>(link_);
    rs->set_lock_type(LockType::ReadOnly);
    rs->OpenQuery(query);
    return rs;
  }

  std::unique_ptr<TargetRecordset> NewRecordset() override { return std::make_unique<OdbcRecordset>(link_); }

  void BeginTransaction() override {
    if (link_->in_transaction()) throw Error("A transaction is already active.");
    link_->SetAutocommit(false);
  }
  void Commit() override { link_->EndTransaction(SQL_COMMIT); }
  void Rollback() override { link_->EndTransaction(SQL_ROLLBACK); }
  bool InTransaction() override { return link_->in_transaction(); }

 private:
  // Runs a statement and returns the rows it changed; any further results
  // are read through, so an error in them is not lost.
  long long Run(const std::string& statement) {
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
