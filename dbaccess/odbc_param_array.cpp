#include "dbaccess/odbc_param_array.h"

#include <algorithm>

namespace velaccap::odbc_internal {

namespace {

// Text and dates held for one batch are bounded too: a batch of long memos
// goes out before it grows past this.
constexpr std::size_t kBatchBytes = std::size_t{8} << 20;

// What a row's status reads as when the driver wrote none (SQLite's fills
// no status array).
constexpr SQLUSMALLINT kNoStatus = 0xFFFF;

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

// The first diagnostic record on `h` that is not a warning.
SQLSMALLINT FirstErrorRecord(SQLHSTMT h) {
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    if (!Ok(SQLGetDiagField(SQL_HANDLE_STMT, h, i, SQL_DIAG_SQLSTATE, state, sizeof state, nullptr))) return 1;
    if (state[0] != '0' || state[1] != '1') return i;
  }
}

}  // namespace

RowBatch::RowBatch(Link& link, std::string table, std::vector<TableColumn> columns)
    : HeldBatch(link.held(), std::move(table), link.batch_rows()),
      link_(link),
      columns_(std::move(columns)),
      status_(capacity()) {}

void RowBatch::Add(const std::shared_ptr<Insert>& insert, const std::vector<Value>& row) {
  const std::size_t n = insert->columns.size();
  const std::size_t rows = size();
  if (scratch_wide_.size() < n) scratch_wide_.resize(n), scratch_narrow_.resize(n);
  kinds_.resize(n);
  bool fits = insert == insert_ && rows < capacity();
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
    if (units > 0 || p.longest > 0) bytes += (rows + 1) * std::max(units, p.longest) * unit;
  }
  if (fits && bytes > kBatchBytes && rows > 0) fits = false;
  MakeRoom(fits);
  if (!fits) {
    insert_ = insert;
    params_.resize(n);
    for (Param& p : params_) p.ind.resize(capacity());
  }
  const std::size_t r = size();
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
  // SQLite's driver takes the length of every binary element of an array
  // from its first row, cutting longer ones: there, rows with bytes go one
  // per execute.
  const bool bytes_alone =
      link_.sqlite() && std::any_of(kinds_.begin(), kinds_.begin() + static_cast<std::ptrdiff_t>(n), [](Kind k) {
        return k == Kind::Bytes || k == Kind::LongBytes;
      });
  Joined(bytes_alone);
}

// The driver names a failing row of an array itself (by its status, or by
// the rows it processed before stopping), so an array is never refused
// whole. A driver without arrays writes each row on its own.
bool RowBatch::WriteBatch() {
  if (capacity() == 1) {
    WriteOne(0);
    return true;
  }
  const std::size_t n = size();
  link_.Use();
  SQLHSTMT h = insert_->stmt.get();
  for (std::size_t k = 0; k < params_.size(); ++k) Bind(h, k, 0, n);
  SetAttr(h, SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN);
  SetAttr(h, SQL_ATTR_PARAMSET_SIZE, n);
  link_.Check(SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0), SQL_HANDLE_STMT, h);
  link_.Check(SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0), SQL_HANDLE_STMT, h);
  // Not every driver fills the status array (SQLite's does not); what it
  // leaves alone reads as no word on that row.
  std::fill(status_.begin(), status_.end(), kNoStatus);
  processed_ = 0;
  // A driver that goes on past a failing row needs a point to go back to,
  // so that the rows after that row can be undone.
  const Guard guard = link_.OpenGuard(n);
  const SQLRETURN rc = SQLExecute(h);
  std::size_t failed = n;  // the first failing row, if any
  for (std::size_t i = 0; i < n && failed == n; ++i)
    if (status_[i] == SQL_PARAM_ERROR) failed = i;
  if (Ok(rc) || rc == SQL_NO_DATA) {
    if (failed == n) {
      SQLFreeStmt(h, SQL_CLOSE);
      link_.CloseGuard(guard);
      return true;
    }
  } else if (failed == n) {
    // Without statuses, the rows processed are those before the failing
    // one (SQLite's driver counts so, and stops there).
    failed = std::min<std::size_t>(processed_, n - 1);
  }
  // A warning may come first when the execute as a whole succeeded.
  std::string text = Diagnostic(SQL_HANDLE_STMT, h, link_.wide(), Ok(rc) ? FirstErrorRecord(h) : 1);
  if (text.empty()) text = kNoDiagnostic;
  SQLFreeStmt(h, SQL_CLOSE);
  bool later_rows_ran = processed_ > failed + 1;
  for (std::size_t i = failed + 1; i < n; ++i)
    if (status_[i] != kNoStatus && status_[i] != SQL_PARAM_UNUSED) later_rows_ran = true;
  if (guard != Guard::kNone) {
    try {
      if (later_rows_ran) {
        link_.UndoToGuard(guard);
        if (failed > 0) {
          // The rows before the failing one again, on their own.
          SetAttr(h, SQL_ATTR_PARAMSET_SIZE, failed);
          const SQLRETURN again = SQLExecute(h);
          if (!Ok(again) && again != SQL_NO_DATA) link_.Fail(SQL_HANDLE_STMT, h);
          SQLFreeStmt(h, SQL_CLOSE);
        }
      }
      link_.CloseGuard(guard);
    } catch (const Error& e) {
      link_.AbandonGuard(guard);
      throw Error(text + " (the rows sent with it could not be set back: " + e.what() + ")");
    }
  } else if (later_rows_ran) {
    // A driver that went on past the row without saying it would: what it
    // wrote after the row stays, and the user is told so.
    text += " (the driver went on past this row: rows saved after it were written too)";
  }
  throw Error(text);
}

void RowBatch::WriteOne(std::size_t row) {
  link_.Use();
  SQLHSTMT h = insert_->stmt.get();
  for (std::size_t k = 0; k < params_.size(); ++k) Bind(h, k, row, 1);
  const SQLRETURN rc = SQLExecute(h);
  if (Ok(rc) || rc == SQL_NO_DATA) {
    SQLFreeStmt(h, SQL_CLOSE);
    return;
  }
  std::string text = Diagnostic(SQL_HANDLE_STMT, h, link_.wide());
  if (text.empty()) text = kNoDiagnostic;
  SQLFreeStmt(h, SQL_CLOSE);
  throw Error(text);
}

void RowBatch::Forget() noexcept {
  insert_.reset();
  for (Param& p : params_) p.kind = Kind::Null, p.longest = 0;
}

RowBatch::Kind RowBatch::KindOf(const Value& v) const {
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
      // SQLite keeps dates as text, and its driver writes a bound timestamp
      // as "YYYY-MM-DD HH:MM:SS.000". Bound as the text the native SQLite
      // target writes, the stored value is the same on both roads.
      return link_.sqlite() ? Kind::DateText : Kind::Stamp;
    case Value::Type::Binary:
      return Kind::Bytes;  // or long: Add() tells by its size
  }
  throw Error("unsupported value type");
}

const TableColumn& RowBatch::Column(std::size_t k) const {
  return columns_[static_cast<std::size_t>(insert_->columns[k])];
}

void RowBatch::SetAttr(SQLHSTMT h, SQLINTEGER attribute, SQLULEN value) {
  link_.Check(SQLSetStmtAttr(h, attribute, reinterpret_cast<SQLPOINTER>(value), 0), SQL_HANDLE_STMT, h);
}

void RowBatch::Bind(SQLHSTMT h, std::size_t k, std::size_t first, std::size_t n) {
  Param& p = params_[k];
  const TableColumn& column = Column(k);
  SQLSMALLINT c_type = SQL_C_DEFAULT, sql_type = column.type, digits = 0;
  SQLULEN size = 0;
  SQLPOINTER data = nullptr;
  SQLLEN stride = 0;
  // Text, dates and bytes of rows [first, first + n) at one stride.
  auto lay_out = [&](auto& block, const auto& values) {
    const std::size_t units = std::max<std::size_t>(p.longest, 1);
    if (block.size() < n * units) block.resize(n * units);
    for (std::size_t r = 0; r < n; ++r)
      if (p.ind[first + r] != SQL_NULL_DATA)
        std::copy(values[first + r].begin(), values[first + r].end(), &block[r * units]);
    return units;
  };
  switch (p.kind) {
    case Kind::Null:
      // Typed as the column, so no engine refuses a conversion from Null.
      size = std::max<SQLULEN>(column.size, 1);
      digits = column.digits;
      break;
    case Kind::Integer:
      c_type = SQL_C_SBIGINT, sql_type = SQL_BIGINT, size = 19;
      data = p.integers.data() + first, stride = sizeof(std::int64_t);
      break;
    case Kind::Real:
      c_type = SQL_C_DOUBLE, sql_type = SQL_DOUBLE, size = 15;
      data = p.reals.data() + first, stride = sizeof(double);
      break;
    case Kind::YesNo:
      c_type = SQL_C_BIT, sql_type = SQL_BIT, size = 1;
      data = p.bits.data() + first, stride = 1;
      break;
    case Kind::Text:
    case Kind::LongText: {
      const std::size_t units = lay_out(p.wide_block, p.texts);
      c_type = SQL_C_WCHAR, sql_type = p.kind == Kind::LongText ? SQL_WLONGVARCHAR : SQL_WVARCHAR, size = units;
      data = p.wide_block.data(), stride = static_cast<SQLLEN>(units * sizeof(SQLWCHAR));
      break;
    }
    case Kind::DateText: {
      const std::size_t units = lay_out(p.narrow_block, p.dates);
      c_type = SQL_C_CHAR, sql_type = SQL_VARCHAR, size = p.longest;
      data = p.narrow_block.data(), stride = static_cast<SQLLEN>(units);
      break;
    }
    case Kind::Stamp: {
      const StampShape shape(column);
      c_type = SQL_C_TYPE_TIMESTAMP, sql_type = SQL_TYPE_TIMESTAMP, size = shape.size, digits = shape.digits;
      data = p.stamps.data() + first, stride = sizeof(SQL_TIMESTAMP_STRUCT);
      break;
    }
    case Kind::Bytes:
    case Kind::LongBytes: {
      const std::size_t units = lay_out(p.narrow_block, p.blobs);
      c_type = SQL_C_BINARY, sql_type = p.kind == Kind::LongBytes ? SQL_LONGVARBINARY : SQL_VARBINARY, size = units;
      data = p.narrow_block.data(), stride = static_cast<SQLLEN>(units);
      break;
    }
  }
  link_.Check(SQLBindParameter(h, static_cast<SQLUSMALLINT>(k + 1), SQL_PARAM_INPUT, c_type, sql_type, size, digits,
                               data, stride, p.ind.data() + first),
              SQL_HANDLE_STMT, h);
}

}  // namespace velaccap::odbc_internal
