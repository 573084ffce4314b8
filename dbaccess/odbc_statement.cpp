// Results and table recordsets of the ODBC target: a read-only result read
// forward only, or a table open for adding rows, whose saved rows go out in
// arrays (odbc_param_array.h).
#include "dbaccess/odbc_statement.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dbaccess/ascii.h"
#include "dbaccess/dialect.h"
#include "dbaccess/odbc_param_array.h"
#include "dbaccess/recordset_base.h"

namespace velaccap::odbc_internal {

namespace {

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

using namespace recordset_internal;

// The one recordset class: closed, a table open for adding rows, or a
// read-only result. A closed recordset opens again in either mode.
class OdbcRecordset : public RecordsetBase, private StreamingResult {
 public:
  explicit OdbcRecordset(std::shared_ptr<Link> link) : link_(std::move(link)) {}
  ~OdbcRecordset() override { link_->Unstream(this); }

  void OpenTable() override {
    RequireClosed();
    link_->held().Send();
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
    link_->held().SendBefore(query);
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
    link_->held().Send();
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
    if (!link_->held().Holds(batch_.get())) link_->held().Send();
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

}  // namespace

std::unique_ptr<TargetRecordset> NewOdbcRecordset(std::shared_ptr<Link> link) {
  return std::make_unique<OdbcRecordset>(std::move(link));
}

}  // namespace velaccap::odbc_internal
