// The target over ODBC. One connection handle serves statements, read-only
// results and table recordsets, whose added rows go out in arrays of
// parameters; every call's return code is checked and a failure carries the
// driver's first diagnostic record as its text.
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
#include <deque>
#include <exception>
#include <memory>
#include <map>
#include <string>
#include <optional>
#include <vector>

#include "dbaccess/ascii.h"
#include "dbaccess/dialect.h"
#include "dbaccess/odbc_connection_string.h"
#include "dbaccess/query_tables.h"
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
    WideText out;
    ToWide(utf8, &out);
    return out;
  }

  // Into `out`, whose room is reused: a batch converts every row's text.
  void ToWide(std::string_view utf8, WideText* out) {
    out->resize(utf8.size());  // never more UTF-16 units than UTF-8 bytes
    Convert(to_wide_, utf8.data(), utf8.size(), reinterpret_cast<char*>(out->data()), out->size() * sizeof(SQLWCHAR),
            "UTF-8", out);
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
void ToWide(std::string_view utf8, WideText* out) { Utf16::ForThisThread().ToWide(utf8, out); }

std::string ToUtf8(const SQLWCHAR* text, std::size_t n) { return Utf16::ForThisThread().ToUtf8(text, n); }

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The message text of diagnostic record `record` (the first by default) on
// `handle`, as the driver (or the driver manager) words it.
std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle, bool wide, SQLSMALLINT record = 1) {
  SQLSMALLINT len = 0;
  SQLINTEGER native = 0;
  if (wide) {
    SQLWCHAR state[6];
    std::vector<SQLWCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, msg.data(),
                                  static_cast<SQLSMALLINT>(msg.size()), &len);
    if (Ok(rc) && static_cast<std::size_t>(len) >= msg.size()) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRecW(type, handle, record, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (Ok(rc)) return ToUtf8(msg.data(), std::min<std::size_t>(static_cast<std::size_t>(len), msg.size() - 1));
  } else {
    SQLCHAR state[6];
    std::vector<SQLCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native, msg.data(),
                                 static_cast<SQLSMALLINT>(msg.size()), &len);
    if (Ok(rc) && static_cast<std::size_t>(len) >= msg.size()) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRec(type, handle, record, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (Ok(rc)) {
      return std::string(reinterpret_cast<const char*>(msg.data()),
                         std::min<std::size_t>(static_cast<std::size_t>(len), msg.size() - 1));
    }
  }
  return {};
}

// Rows saved go to the driver in arrays of this many parameter sets: one
// execute, and with a server one round trip, per this many rows.
constexpr std::size_t kBatchRows = 1000;
// Text and dates held for one batch are bounded too: a batch of long memos
// goes out before it grows past this.
constexpr std::size_t kBatchBytes = std::size_t{8} << 20;

class RowBatch;

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

// The environment and connection handles, shared by the connection object
// and every recordset it hands out, so a recordset outliving its connection
// object still holds valid handles.
class Link {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link();

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

  void Prepare(SQLHSTMT stmt, const std::string& text) const {
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
    Use();
    plain_.clear();
    Check(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
                            SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, dbc_);
    in_transaction_ = !on;
  }

  std::size_t batch_rows() const { return batch_rows_; }
  bool goes_on_after_error() const { return goes_on_after_error_; }

  // The one batch whose rows are saved but not sent yet. Whatever else
  // reaches the connection sends them first, so that it sees them.
  void Hold(std::shared_ptr<RowBatch> batch) { unsent_ = std::move(batch); }
  bool Holds(const RowBatch* batch) const { return unsent_.get() == batch; }
  void Release(const RowBatch* batch) {
    if (unsent_.get() == batch) unsent_.reset();
  }
  void SendUnsent();
  void DropUnsent();
  // Sends the rows held before `query` runs, unless it certainly cannot see
  // them (UnseenBy).
  void SendUnsentBefore(const std::string& query);
  // Forgets what the schema was found to be: a statement may change it.
  void ForgetSchema() { plain_.clear(); }

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

  void EndTransaction(SQLSMALLINT how) {
    if (!in_transaction_) throw Error("No transaction is active.");
    Use();
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
  std::size_t batch_rows_ = 1;
  bool goes_on_after_error_ = false;
  std::shared_ptr<RowBatch> unsent_;
  mutable StreamingResult* streaming_ = nullptr;
  // Verdicts of Plain() by table name in capitals, '+' when triggers were
  // asked about; kept within a transaction until the next statement.
  std::map<std::string, bool> plain_;

  // True when `query` reads only ordinary tables other than the held rows'
  // table, and that table has no trigger: rows written into it could not
  // change what the query returns. Only inside a transaction, whose locks
  // on the tables it has written keep other sessions from changing their
  // definitions meanwhile, and only on engines whose catalog is asked here.
  bool UnseenBy(const std::string& query);
  bool Plain(const std::string& table, bool no_triggers);
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

// Reads column `col` (1-based) of the current row as bytes.
Value ReadBytes(const Link& link, SQLHSTMT stmt, SQLUSMALLINT col) {
  std::string bytes;
  char buf[8192];
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(stmt, col, SQL_C_BINARY, buf, sizeof buf, &ind);
    if (rc == SQL_NO_DATA) break;  // every part has been read
    link.Check(rc, SQL_HANDLE_STMT, stmt);
    if (ind == SQL_NULL_DATA) return Value();
    const SQLLEN n = (ind == SQL_NO_TOTAL || ind > static_cast<SQLLEN>(sizeof buf)) ? sizeof buf : ind;
    bytes.append(buf, static_cast<std::size_t>(n));
    if (rc == SQL_SUCCESS) break;
  }
  return Value::Binary(std::move(bytes));
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
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return ReadBytes(link, stmt, col);
    default:
      return ReadText(link, stmt, col);
  }
}

// The kind of value an SQL type holds, as the recordsets report it.
ColumnType TypeOfSql(SQLSMALLINT type) {
  switch (type) {
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT:
    case SQL_DECIMAL: case SQL_NUMERIC: case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE:
      return ColumnType::kNumber;
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
      return ColumnType::kText;
    case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP:
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
      return ColumnType::kDateTime;
    case SQL_BIT: return ColumnType::kYesNo;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return ColumnType::kBinary;
    default: return ColumnType::kUnknown;
  }
}

// A column of a table, as the catalog describes it.
struct TableColumn {
  std::string name;
  SQLSMALLINT type = SQL_VARCHAR;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

// A prepared insert of one set of columns into the open table.
struct Insert {
  explicit Insert(const Link& link) : stmt(link) {}
  Statement stmt;
  std::vector<int> columns;
};

// The timestamp parameter of a date for `column` on an engine with a date
// type: the column's own precision, as a driver refuses a fraction finer than
// the scale the parameter declares.
struct StampShape {
  explicit StampShape(const TableColumn& column) {
    const bool timestamp_column = column.type == SQL_TYPE_TIMESTAMP || column.type == SQL_TIMESTAMP;
    digits = timestamp_column ? std::clamp<SQLSMALLINT>(column.digits, 0, 9) : 7;
    size = timestamp_column && column.size > 0 ? column.size : 27;
  }
  SQL_TIMESTAMP_STRUCT Of(const DateTime& d) const {
    SQLUINTEGER unit = 1;
    for (int i = digits; i < 9; ++i) unit *= 10;
    const SQLUINTEGER nanos = static_cast<SQLUINTEGER>(d.microsecond) * 1000;
    return SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(d.year),   static_cast<SQLUSMALLINT>(d.month),
                                static_cast<SQLUSMALLINT>(d.day),    static_cast<SQLUSMALLINT>(d.hour),
                                static_cast<SQLUSMALLINT>(d.minute), static_cast<SQLUSMALLINT>(d.second),
                                nanos - nanos % unit};
  }
  SQLSMALLINT digits;
  SQLULEN size;
};

// The rows a table recordset has saved, held until they go to the driver
// together as arrays of parameters, one execute for up to a batch of rows.
// Every row of a batch uses the same insert, and each parameter binds as one
// kind of value in all of them (Null aside), because an array has one C and
// one SQL type per parameter; a row that does not fit sends the rows before
// it first, so rows reach the table in the order they were saved, each bound
// as a row of its own would be.
class RowBatch : public std::enable_shared_from_this<RowBatch> {
 public:
  RowBatch(Link& link, std::string table, std::vector<TableColumn> columns)
      : link_(link),
        table_(std::move(table)),
        columns_(std::move(columns)),
        capacity_(link.batch_rows()),
        status_(capacity_) {}
  RowBatch(const RowBatch&) = delete;
  RowBatch& operator=(const RowBatch&) = delete;

  bool empty() const { return rows_ == 0; }
  const std::string& table() const { return table_; }

  // Takes `row` (a value for each column of the table) for `insert`. A value
  // that cannot be bound fails here, before the row joins the batch.
  void Add(const std::shared_ptr<Insert>& insert, const std::vector<Value>& row) {
    const std::size_t n = insert->columns.size();
    if (scratch_wide_.size() < n) scratch_wide_.resize(n), scratch_narrow_.resize(n);
    kinds_.resize(n);
    bool fits = insert == insert_ && rows_ < capacity_;
    std::size_t bytes = 0;  // text the batch holds once the row has joined it
    for (std::size_t k = 0; k < n; ++k) {
      const Value& v = row[static_cast<std::size_t>(insert->columns[k])];
      Kind kind = KindOf(v);
      std::size_t units = 0, unit = sizeof(SQLWCHAR);
      if (kind == Kind::Text) {
        ToWide(v.text(), &scratch_wide_[k]);
        units = scratch_wide_[k].size();
        if (units > 4000) kind = Kind::LongText;
      } else if (kind == Kind::DateText) {
        scratch_narrow_[k] = FormatDateTime(v.date());
        units = scratch_narrow_[k].size(), unit = 1;
      } else if (kind == Kind::Bytes) {
        units = v.binary().size(), unit = 1;
        if (units > 8000) kind = Kind::LongBytes;
      }
      kinds_[k] = kind;
      if (!fits) continue;
      const Param& p = params_[k];
      if (kind != Kind::Null && p.kind != Kind::Null && kind != p.kind) fits = false;
      if (units > 0 || p.longest > 0) bytes += (rows_ + 1) * std::max(units, p.longest) * unit;
    }
    if (fits && bytes > kBatchBytes && rows_ > 0) fits = false;
    // Another recordset's rows were saved first, so they go first.
    if (!link_.Holds(this)) link_.SendUnsent();
    if (!fits) {
      Send();
      insert_ = insert;
      params_.resize(n);
      for (Param& p : params_) p.ind.resize(capacity_);
    }
    const std::size_t r = rows_;
    for (std::size_t k = 0; k < n; ++k) {
      const Value& v = row[static_cast<std::size_t>(insert->columns[k])];
      Param& p = params_[k];
      const Kind kind = kinds_[k];
      if (kind != Kind::Null) p.kind = kind;
      switch (kind) {
        case Kind::Null:
          p.ind[r] = SQL_NULL_DATA;
          break;
        case Kind::Integer:
          Room(p.integers)[r] = v.integer();
          p.ind[r] = sizeof(std::int64_t);
          break;
        case Kind::Real:
          Room(p.reals)[r] = v.real();
          p.ind[r] = sizeof(double);
          break;
        case Kind::YesNo:
          Room(p.bits)[r] = v.yes_no() ? 1 : 0;
          p.ind[r] = 1;
          break;
        case Kind::Text:
        case Kind::LongText:
          Room(p.texts)[r].swap(scratch_wide_[k]);
          p.longest = std::max(p.longest, p.texts[r].size());
          p.ind[r] = static_cast<SQLLEN>(p.texts[r].size() * sizeof(SQLWCHAR));
          break;
        case Kind::DateText:
          Room(p.dates)[r].swap(scratch_narrow_[k]);
          p.longest = std::max(p.longest, p.dates[r].size());
          p.ind[r] = static_cast<SQLLEN>(p.dates[r].size());
          break;
        case Kind::Stamp:
          Room(p.stamps)[r] = StampShape(Column(k)).Of(v.date());
          p.ind[r] = sizeof(SQL_TIMESTAMP_STRUCT);
          break;
        case Kind::Bytes:
        case Kind::LongBytes:
          Room(p.blobs)[r] = v.binary();
          p.longest = std::max(p.longest, p.blobs[r].size());
          p.ind[r] = static_cast<SQLLEN>(p.blobs[r].size());
          break;
      }
    }
    ++rows_;
    link_.Hold(shared_from_this());
    // SQLite's driver takes the length of every binary element of an array
    // from its first row, cutting longer ones: there, rows with bytes go one
    // per execute.
    const bool bytes_alone =
        link_.sqlite() && std::any_of(kinds_.begin(), kinds_.begin() + static_cast<std::ptrdiff_t>(n), [](Kind k) {
          return k == Kind::Bytes || k == Kind::LongBytes;
        });
    if (rows_ == capacity_ || bytes_alone) Send();
  }

  // Sends the rows held, in one execute. The rows are gone once tried: a
  // failed send leaves none of them behind. When a row fails, the rows
  // before it stay written and the rows after it do not, as when each row
  // had an execute of its own; the failure is the driver's description of
  // that row.
  void Send() {
    if (rows_ == 0) return;
    struct Done {
      RowBatch* batch;
      ~Done() { batch->Clear(); }
    } done{this};
    const std::size_t n = rows_;
    link_.Use();
    SQLHSTMT h = insert_->stmt.get();
    for (std::size_t k = 0; k < params_.size(); ++k) Bind(h, k, n);
    const bool arrays = capacity_ > 1;
    if (arrays) {
      SetAttr(h, SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN);
      SetAttr(h, SQL_ATTR_PARAMSET_SIZE, n);
      link_.Check(SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0), SQL_HANDLE_STMT, h);
      link_.Check(SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0), SQL_HANDLE_STMT, h);
      // Not every driver fills the status array (SQLite's does not); what
      // it leaves alone reads as no word on that row.
      std::fill(status_.begin(), status_.end(), kNoStatus);
      processed_ = 0;
    }
    // A driver that goes on past a failing row needs a point to go back to,
    // so that the rows after that row can be undone.
    const Guard guard = arrays && n > 1 && link_.goes_on_after_error() ? OpenGuard() : Guard::kNone;
    const SQLRETURN rc = SQLExecute(h);
    std::size_t failed = n;  // the first failing row, if any
    for (std::size_t i = 0; arrays && i < n && failed == n; ++i)
      if (status_[i] == SQL_PARAM_ERROR) failed = i;
    if (Ok(rc) || rc == SQL_NO_DATA) {
      if (failed == n) {
        SQLFreeStmt(h, SQL_CLOSE);
        CloseGuard(guard);
        return;
      }
    } else if (failed == n) {
      // Without statuses, the rows processed are those before the failing
      // one (SQLite's driver counts so, and stops there).
      failed = arrays ? std::min<std::size_t>(processed_, n - 1) : 0;
    }
    // A warning may come first when the execute as a whole succeeded.
    std::string text = Diagnostic(SQL_HANDLE_STMT, h, link_.wide(), Ok(rc) ? FirstErrorRecord(h) : 1);
    if (text.empty()) text = "The ODBC driver reported a failure without a diagnostic";
    SQLFreeStmt(h, SQL_CLOSE);
    bool later_rows_ran = processed_ > failed + 1;
    for (std::size_t i = failed + 1; arrays && i < n; ++i)
      if (status_[i] != kNoStatus && status_[i] != SQL_PARAM_UNUSED) later_rows_ran = true;
    if (guard != Guard::kNone) {
      try {
        if (later_rows_ran) {
          UndoToGuard(guard);
          if (failed > 0) {
            // The rows before the failing one again, on their own.
            SetAttr(h, SQL_ATTR_PARAMSET_SIZE, failed);
            const SQLRETURN again = SQLExecute(h);
            if (!Ok(again) && again != SQL_NO_DATA) link_.Fail(SQL_HANDLE_STMT, h);
            SQLFreeStmt(h, SQL_CLOSE);
          }
        }
        CloseGuard(guard);
      } catch (const Error& e) {
        if (guard == Guard::kOwnTransaction) {
          // Nothing of the batch is kept then; the connection commits by
          // itself again, as it did before.
          SQLEndTran(SQL_HANDLE_DBC, link_.dbc(), SQL_ROLLBACK);
          SQLSetConnectAttr(link_.dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                            SQL_IS_UINTEGER);
        }
        throw Error(text + " (the rows sent with it could not be set back: " + e.what() + ")");
      }
    } else if (later_rows_ran) {
      // A driver that went on past the row without saying it would: what
      // it wrote after the row stays, and the user is told so.
      text += " (the driver went on past this row: rows saved after it were written too)";
    }
    throw Error(text);
  }

  // Forgets the rows held, unsent.
  void Clear() noexcept {
    rows_ = 0;
    insert_.reset();
    for (Param& p : params_) p.kind = Kind::Null, p.longest = 0;
    link_.Release(this);
  }

 private:
  // How a parameter binds: a Null binds as any kind, and typed as the column
  // when the whole batch holds Null there. Text beyond 4000 characters is a
  // kind of its own, as SQL Server wants the long type (nvarchar(max)) for it;
  // so are bytes beyond 8000 (varbinary(max)).
  enum class Kind : unsigned char { Null, Integer, Real, YesNo, Text, LongText, DateText, Stamp, Bytes, LongBytes };
  enum class Guard : unsigned char { kNone, kSavepoint, kOwnTransaction };
  static constexpr SQLUSMALLINT kNoStatus = 0xFFFF;
  static constexpr const char* kSavepointName = "VelAccAP_Rows";

  // One parameter's values, column-wise, one element per row of the batch.
  struct Param {
    Kind kind = Kind::Null;
    std::vector<SQLLEN> ind;
    std::vector<std::int64_t> integers;
    std::vector<double> reals;
    std::vector<unsigned char> bits;
    std::vector<SQL_TIMESTAMP_STRUCT> stamps;
    std::vector<WideText> texts;
    std::vector<std::string> dates;
    std::vector<std::string> blobs;
    std::size_t longest = 0;  // the longest text or date held, in characters; bytes in bytes
    // Text and dates laid out at one stride, as an array binds them.
    std::vector<SQLWCHAR> wide_block;
    std::vector<char> narrow_block;
  };

  Kind KindOf(const Value& v) const {
    switch (v.type()) {
      case Value::Type::Null:
        return Kind::Null;
      case Value::Type::Integer:
        return Kind::Integer;
      case Value::Type::Real:
        return Kind::Real;
      case Value::Type::YesNo:
        return Kind::YesNo;
      case Value::Type::Text:
        return Kind::Text;  // or long: Add() tells once it is converted
      case Value::Type::DateTime:
        // SQLite keeps dates as text, and its driver writes a bound
        // timestamp as "YYYY-MM-DD HH:MM:SS.000". Bound as the text the
        // native SQLite target writes, the stored value is the same on both
        // roads.
        return link_.sqlite() ? Kind::DateText : Kind::Stamp;
      case Value::Type::Binary:
        return Kind::Bytes;  // or long: Add() tells by its size
    }
    throw Error("unsupported value type");
  }

  const TableColumn& Column(std::size_t k) const {
    return columns_[static_cast<std::size_t>(insert_->columns[k])];
  }

  // The array of one kind of value, sized for a whole batch on first use.
  template <class T>
  std::vector<T>& Room(std::vector<T>& values) {
    if (values.size() < capacity_) values.resize(capacity_);
    return values;
  }

  void SetAttr(SQLHSTMT h, SQLINTEGER attribute, SQLULEN value) {
    link_.Check(SQLSetStmtAttr(h, attribute, reinterpret_cast<SQLPOINTER>(value), 0), SQL_HANDLE_STMT, h);
  }

  // Binds parameter `k` as the array of its `n` rows.
  void Bind(SQLHSTMT h, std::size_t k, std::size_t n) {
    Param& p = params_[k];
    const TableColumn& column = Column(k);
    SQLSMALLINT c_type = SQL_C_DEFAULT, sql_type = column.type, digits = 0;
    SQLULEN size = 0;
    SQLPOINTER data = nullptr;
    SQLLEN stride = 0;
    switch (p.kind) {
      case Kind::Null:
        // Typed as the column, so no engine refuses a conversion from Null.
        size = std::max<SQLULEN>(column.size, 1);
        digits = column.digits;
        break;
      case Kind::Integer:
        c_type = SQL_C_SBIGINT, sql_type = SQL_BIGINT, size = 19;
        data = p.integers.data(), stride = sizeof(std::int64_t);
        break;
      case Kind::Real:
        c_type = SQL_C_DOUBLE, sql_type = SQL_DOUBLE, size = 15;
        data = p.reals.data(), stride = sizeof(double);
        break;
      case Kind::YesNo:
        c_type = SQL_C_BIT, sql_type = SQL_BIT, size = 1;
        data = p.bits.data(), stride = 1;
        break;
      case Kind::Text:
      case Kind::LongText: {
        const std::size_t units = std::max<std::size_t>(p.longest, 1);
        if (p.wide_block.size() < n * units) p.wide_block.resize(n * units);
        for (std::size_t r = 0; r < n; ++r)
          if (p.ind[r] != SQL_NULL_DATA) std::copy(p.texts[r].begin(), p.texts[r].end(), &p.wide_block[r * units]);
        c_type = SQL_C_WCHAR, sql_type = p.kind == Kind::LongText ? SQL_WLONGVARCHAR : SQL_WVARCHAR, size = units;
        data = p.wide_block.data(), stride = static_cast<SQLLEN>(units * sizeof(SQLWCHAR));
        break;
      }
      case Kind::DateText: {
        const std::size_t units = std::max<std::size_t>(p.longest, 1);
        if (p.narrow_block.size() < n * units) p.narrow_block.resize(n * units);
        for (std::size_t r = 0; r < n; ++r)
          if (p.ind[r] != SQL_NULL_DATA) std::copy(p.dates[r].begin(), p.dates[r].end(), &p.narrow_block[r * units]);
        c_type = SQL_C_CHAR, sql_type = SQL_VARCHAR, size = p.longest;
        data = p.narrow_block.data(), stride = static_cast<SQLLEN>(units);
        break;
      }
      case Kind::Stamp: {
        const StampShape shape(column);
        c_type = SQL_C_TYPE_TIMESTAMP, sql_type = SQL_TYPE_TIMESTAMP, size = shape.size, digits = shape.digits;
        data = p.stamps.data(), stride = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      }
      case Kind::Bytes:
      case Kind::LongBytes: {
        const std::size_t units = std::max<std::size_t>(p.longest, 1);
        if (p.narrow_block.size() < n * units) p.narrow_block.resize(n * units);
        for (std::size_t r = 0; r < n; ++r)
          if (p.ind[r] != SQL_NULL_DATA) std::copy(p.blobs[r].begin(), p.blobs[r].end(), &p.narrow_block[r * units]);
        c_type = SQL_C_BINARY, sql_type = p.kind == Kind::LongBytes ? SQL_LONGVARBINARY : SQL_VARBINARY, size = units;
        data = p.narrow_block.data(), stride = static_cast<SQLLEN>(units);
        break;
      }
    }
    link_.Check(SQLBindParameter(h, static_cast<SQLUSMALLINT>(k + 1), SQL_PARAM_INPUT, c_type, sql_type, size, digits,
                                 data, stride, p.ind.data()),
                SQL_HANDLE_STMT, h);
  }

  // The first diagnostic record on `h` that is not a warning.
  static SQLSMALLINT FirstErrorRecord(SQLHSTMT h) {
    for (SQLSMALLINT i = 1;; ++i) {
      SQLCHAR state[6] = {};
      if (!Ok(SQLGetDiagField(SQL_HANDLE_STMT, h, i, SQL_DIAG_SQLSTATE, state, sizeof state, nullptr))) return 1;
      if (state[0] != '0' || state[1] != '1') return i;
    }
  }

  void Run(const std::string& statement) {
    Statement stmt(link_);
    link_.ExecDirect(stmt.get(), statement);
  }

  Guard OpenGuard() {
    if (link_.in_transaction()) {
      Run((link_.sql_server() ? "SAVE TRANSACTION " : "SAVEPOINT ") + std::string(kSavepointName));
      return Guard::kSavepoint;
    }
    link_.Check(SQLSetConnectAttr(link_.dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                  SQL_IS_UINTEGER),
                SQL_HANDLE_DBC, link_.dbc());
    return Guard::kOwnTransaction;
  }

  void UndoToGuard(Guard guard) {
    if (guard == Guard::kSavepoint) {
      Run((link_.sql_server() ? "ROLLBACK TRANSACTION " : "ROLLBACK TO SAVEPOINT ") + std::string(kSavepointName));
    } else {
      link_.Check(SQLEndTran(SQL_HANDLE_DBC, link_.dbc(), SQL_ROLLBACK), SQL_HANDLE_DBC, link_.dbc());
    }
  }

  // Keeps what the guarded execute left written.
  void CloseGuard(Guard guard) {
    if (guard == Guard::kSavepoint) {
      // SQL Server keeps a savepoint until the transaction ends; other
      // engines nest them, so each is let go.
      if (!link_.sql_server()) Run("RELEASE SAVEPOINT " + std::string(kSavepointName));
    } else if (guard == Guard::kOwnTransaction) {
      const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, link_.dbc(), SQL_COMMIT);
      link_.SetAutocommit(true);
      link_.Check(rc, SQL_HANDLE_DBC, link_.dbc());
    }
  }

  Link& link_;
  const std::string table_;
  const std::vector<TableColumn> columns_;
  const std::size_t capacity_;
  std::shared_ptr<Insert> insert_;  // the insert of the rows held
  std::size_t rows_ = 0;
  std::vector<Param> params_;
  std::vector<Kind> kinds_;  // of the row being added
  std::vector<WideText> scratch_wide_;
  std::vector<std::string> scratch_narrow_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN processed_ = 0;
};

Link::~Link() {
  if (unsent_ && !in_transaction_) {
    // Rows saved outside a transaction were meant to stay; a destructor has
    // nobody to report a failure to.
    try {
      SendUnsent();
    } catch (const std::exception&) {
    }
  }
  unsent_.reset();
  if (dbc_) {
    // A transaction the host left open is abandoned, as closing an ADO
    // connection does; a destructor has nobody to report a failure to.
    if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void Link::SendUnsent() {
  if (!unsent_) return;
  std::shared_ptr<RowBatch> batch = unsent_;  // alive while it sends
  batch->Send();
}

void Link::DropUnsent() {
  if (!unsent_) return;
  std::shared_ptr<RowBatch> batch = unsent_;
  batch->Clear();
}

void Link::SendUnsentBefore(const std::string& query) {
  if (unsent_ && !UnseenBy(query)) SendUnsent();
}

bool Link::UnseenBy(const std::string& query) {
  if (!in_transaction_ || !(sqlite_ || sql_server_)) return false;
  return QueryCannotSeeHeldRows(query, unsent_->table(),
                                [this](const std::string& t, bool no_triggers) { return Plain(t, no_triggers); });
}

bool Link::Plain(const std::string& table, bool no_triggers) {
  const std::string key = Upper(table) + (no_triggers ? "+" : "");
  auto it = plain_.find(key);
  if (it != plain_.end()) return it->second;
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
  const bool plain = ind != SQL_NULL_DATA && verdict == 1;
  plain_.emplace(key, plain);
  return plain;
}

using namespace recordset_internal;

// The one recordset class: closed, a table open for adding rows, or a
// read-only result. A closed recordset opens again in either mode.
class OdbcRecordset : public RecordsetBase, private StreamingResult {
 public:
  explicit OdbcRecordset(std::shared_ptr<Link> link) : link_(std::move(link)) {}
  ~OdbcRecordset() override { link_->Unstream(this); }

  void OpenTable() override {
    RequireClosed();
    link_->SendUnsent();
    ReadCatalog();
    std::vector<std::string> names;
    for (const TableColumn& c : table_columns_) names.push_back(c.name);
    SetNames(std::move(names));
    batch_ = std::make_shared<RowBatch>(*link_, source_, table_columns_);
    has_pending_ = false;
    mode_ = Mode::Table;
  }

  void OpenQuery(const std::string& query) override {
    RequireClosed();
    // A query that cannot see the held rows leaves them held, so that a
    // table's arrays are not cut by lookups in other tables.
    link_->SendUnsentBefore(query);
    auto stmt = std::make_unique<Statement>(*link_);
    SQLHSTMT h = stmt->get();
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
    rest_.clear();
    rest_read_ = false;
    rest_failure_.clear();
    link_->Stream(this);
    // The first row is fetched now, so that an empty result is known at once.
    try {
      Fetch();
    } catch (...) {
      Close();
      throw;
    }
    empty_ = at_end_;
  }

  ColumnType field_type(int index) const override {
    RequireOpen();
    RequireIndex(index, names().size());
    const auto i = static_cast<std::size_t>(index);
    return TypeOfSql(mode_ == Mode::Result ? result_columns_[i].type : table_columns_[i].type);
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
    // Rows saved meanwhile are on the table before the next row is read.
    link_->SendUnsent();
    if (!rest_read_) {
      Fetch();
    } else if (!rest_.empty()) {
      row_ = std::move(rest_.front());
      rest_.pop_front();
    } else if (!rest_failure_.empty()) {
      throw Error(rest_failure_);
    } else {
      at_end_ = true;
      row_.clear();
    }
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
    batch_->Send();
  }

  void Close() override {
    // Closing a closed recordset does nothing; a pending row is discarded,
    // the rows saved before it are sent.
    std::exception_ptr failure;
    if (batch_) {
      try {
        batch_->Send();
      } catch (const std::exception&) {
        failure = std::current_exception();
      }
      batch_.reset();
    }
    link_->Unstream(this);
    result_.reset();
    result_columns_.clear();
    row_.clear();
    rest_.clear();
    inserts_.clear();
    last_key_ = nullptr;
    last_insert_ = nullptr;
    table_columns_.clear();
    ClearNames();
    pending_.clear();
    is_set_.clear();
    has_pending_ = false;
    mode_ = Mode::Closed;
    if (failure) std::rethrow_exception(failure);
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
    if (!ReadRow(&row_)) at_end_ = true;
  }

  // Reads the next row of the result into *row; false at its end, where the
  // cursor is closed and the connection free.
  bool ReadRow(std::vector<Value>* row) {
    SQLHSTMT h = result_->get();
    SQLRETURN rc = SQLFetch(h);
    row->clear();
    if (rc == SQL_NO_DATA) {
      link_->Unstream(this);
      SQLFreeStmt(h, SQL_CLOSE);
      return false;
    }
    link_->Check(rc, SQL_HANDLE_STMT, h);
    for (std::size_t i = 0; i < result_columns_.size(); ++i) {
      row->push_back(ReadValue(*link_, h, static_cast<SQLUSMALLINT>(i + 1), result_columns_[i]));
    }
    return true;
  }

  // The rows not read yet, into memory, before another statement runs. A
  // failure is the statement's that needed the connection, and the result
  // ends with it where the rows read so far end.
  void ReadRest() override {
    rest_read_ = true;
    try {
      std::vector<Value> row;
      while (ReadRow(&row)) rest_.push_back(std::move(row));
    } catch (const Error& e) {
      rest_failure_ = e.what();
      SQLFreeStmt(result_->get(), SQL_CLOSE);
      throw;
    }
  }

  // The table's columns from the catalog, in their defined order.
  void ReadCatalog() {
    link_->Use();
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
  const std::shared_ptr<Insert>& InsertFor(const std::vector<bool>& is_set) {
    if (last_insert_ && *last_key_ == is_set) return last_insert_;
    auto it = inserts_.find(is_set);
    if (it == inserts_.end()) {
      auto insert = std::make_shared<Insert>(*link_);
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
      it = inserts_.emplace(is_set, std::move(insert)).first;
    }
    last_key_ = &it->first;
    last_insert_ = it->second;
    return last_insert_;
  }

  void SaveRow() {
    // The row is gone once tried: a failed save does not linger as pending.
    has_pending_ = false;
    // Another recordset's rows were saved first, so they go first.
    if (!link_->Holds(batch_.get())) link_->SendUnsent();
    batch_->Add(InsertFor(is_set_), pending_);
  }

  std::shared_ptr<Link> link_;

  // Result mode.
  std::unique_ptr<Statement> result_;
  std::vector<ResultColumn> result_columns_;
  std::vector<Value> row_;
  bool at_end_ = true;
  bool empty_ = true;
  // The rows after the current one, once read in for another statement.
  std::deque<std::vector<Value>> rest_;
  bool rest_read_ = false;
  std::string rest_failure_;

  // Table mode.
  std::vector<TableColumn> table_columns_;
  std::vector<Value> pending_;
  std::vector<bool> is_set_;
  bool has_pending_ = false;
  std::map<std::vector<bool>, std::shared_ptr<Insert>> inserts_;
  const std::vector<bool>* last_key_ = nullptr;
  std::shared_ptr<Insert> last_insert_;
  // Saved rows not sent yet; held by the connection too, so that they are
  // sent even when this recordset goes first.
  std::shared_ptr<RowBatch> batch_;
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
    // Rows saved before the transaction stay outside it.
    link_->SendUnsent();
    link_->SetAutocommit(false);
  }
  void Commit() override {
    if (link_->in_transaction()) link_->SendUnsent();
    link_->EndTransaction(SQL_COMMIT);
  }
  void Rollback() override {
    // Rows not sent yet are dropped: the rollback would undo them anyway.
    if (link_->in_transaction()) link_->DropUnsent();
    link_->EndTransaction(SQL_ROLLBACK);
  }
  bool InTransaction() override { return link_->in_transaction(); }

 private:
  // Runs a statement and returns the rows it changed; any further results
  // are read through, so an error in them is not lost.
  long long Run(const std::string& statement) {
    link_->SendUnsent();
    link_->ForgetSchema();
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
