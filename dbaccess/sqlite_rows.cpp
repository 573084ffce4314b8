#include "dbaccess/sqlite_rows.h"

#include <algorithm>
#include <cstring>

#include "dbaccess/query_tables.h"

namespace velaccap::sqlite_internal {

namespace {

// The virtual table a batch's insert reads; eponymous, so that it needs no
// CREATE and leaves nothing in the target's schema.
constexpr char kModuleName[] = "velaccap_saved_rows";
// Its width. Declaring a table costs the engine per column, once per
// connection; an insert of more columns writes its rows one at a time.
constexpr std::size_t kModuleColumns = 128;

std::string ColumnName(std::size_t i) { return "c" + std::to_string(i); }

}  // namespace

// Serves the rows of the batch being sent, column cN being the Nth value
// of each row.
struct RowsModule {
  struct Table {
    sqlite3_vtab base;
    const Unsent* unsent;
  };
  struct Cursor {
    sqlite3_vtab_cursor base;
    const SavedRows* rows;
    std::size_t at;
    char date_text[kDateTimeTextSize];
  };

  static int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
    std::string declaration = "CREATE TABLE x(";
    for (std::size_t i = 0; i < kModuleColumns; ++i) declaration += (i ? "," : "") + ColumnName(i);
    declaration += ")";
    if (int rc = sqlite3_declare_vtab(db, declaration.c_str()); rc != SQLITE_OK) return rc;
    auto* table = new Table{};
    table->unsent = static_cast<const Unsent*>(aux);
    *out = &table->base;
    return SQLITE_OK;
  }
  static int Disconnect(sqlite3_vtab* vtab) {
    delete reinterpret_cast<Table*>(vtab);
    return SQLITE_OK;
  }
  static int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    info->estimatedCost = 1000;
    info->estimatedRows = 1000;
    return SQLITE_OK;
  }
  static int Open(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
    auto* cursor = new Cursor{};
    cursor->rows = reinterpret_cast<Table*>(vtab)->unsent->feeding_;
    *out = &cursor->base;
    return SQLITE_OK;
  }
  static int Close(sqlite3_vtab_cursor* cursor) {
    delete reinterpret_cast<Cursor*>(cursor);
    return SQLITE_OK;
  }
  static int Filter(sqlite3_vtab_cursor* cursor, int, const char*, int, sqlite3_value**) {
    reinterpret_cast<Cursor*>(cursor)->at = 0;
    return SQLITE_OK;
  }
  static int Next(sqlite3_vtab_cursor* cursor) {
    ++reinterpret_cast<Cursor*>(cursor)->at;
    return SQLITE_OK;
  }
  static int Eof(sqlite3_vtab_cursor* cursor) {
    const auto* c = reinterpret_cast<Cursor*>(cursor);
    return !c->rows || c->at >= c->rows->size();
  }
  static int Column(sqlite3_vtab_cursor* cursor, sqlite3_context* ctx, int column) {
    auto* c = reinterpret_cast<Cursor*>(cursor);
    const Value& v = c->rows->at(c->at, static_cast<std::size_t>(column));
    // Each kind as a bound parameter of it would arrive.
    switch (v.type()) {
      case Value::Type::Null: sqlite3_result_null(ctx); break;
      case Value::Type::Integer: sqlite3_result_int64(ctx, v.integer()); break;
      case Value::Type::Real: sqlite3_result_double(ctx, v.real()); break;
      case Value::Type::Text:
        // The row is held until the insert has run, so the text need not be copied.
        sqlite3_result_text64(ctx, v.text().data(), v.text().size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
      case Value::Type::DateTime:
        sqlite3_result_text64(ctx, c->date_text, FormatDateTime(v.date(), c->date_text), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      case Value::Type::YesNo: sqlite3_result_int(ctx, v.yes_no() ? 1 : 0); break;
      case Value::Type::Binary:
        sqlite3_result_blob64(ctx, v.binary().data(), v.binary().size(), SQLITE_STATIC);
        break;
    }
    return SQLITE_OK;
  }
  static int Rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
    *rowid = static_cast<sqlite3_int64>(reinterpret_cast<Cursor*>(cursor)->at);
    return SQLITE_OK;
  }

  static const sqlite3_module* Get() {
    static const sqlite3_module module = [] {
      sqlite3_module m;
      std::memset(&m, 0, sizeof m);
      m.xConnect = Connect;  // no xCreate: eponymous only
      m.xBestIndex = BestIndex;
      m.xDisconnect = Disconnect;
      m.xOpen = Open;
      m.xClose = Close;
      m.xFilter = Filter;
      m.xNext = Next;
      m.xEof = Eof;
      m.xColumn = Column;
      m.xRowid = Rowid;
      return m;
    }();
    return &module;
  }
};

std::shared_ptr<RowInsert> MakeRowInsert(sqlite3* db, const std::string& table, const std::vector<std::string>& names,
                                         const std::vector<unsigned char>& set) {
  std::string head = "INSERT INTO " + QuoteIdentifier(table);
  std::string marks, columns;
  std::vector<std::size_t> positions;
  std::size_t n = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (!set[i]) continue;
    head += n ? ", " : " (";
    head += QuoteIdentifier(names[i]);
    marks += n ? ", ?" : "?";
    columns += (n ? ", " : "") + ColumnName(n);
    positions.push_back(i);
    ++n;
  }
  auto insert = std::make_shared<RowInsert>();
  insert->positions = std::move(positions);
  if (n == 0) {
    insert->one_row = Prepare(db, head + " DEFAULT VALUES");
    return insert;  // rows of defaults only go one at a time
  }
  head += ")";
  insert->one_row = Prepare(db, head + " VALUES (" + marks + ")");
  if (n <= kModuleColumns) insert->from_saved = Prepare(db, head + " SELECT " + columns + " FROM " + kModuleName);
  return insert;
}

void InsertOne(sqlite3* db, const RowInsert& insert, const std::vector<Value>& row) {
  sqlite3_stmt* st = insert.one_row.get();
  char date_text[kDateTimeTextSize];
  for (std::size_t i = 0; i < insert.positions.size(); ++i) {
    const int param = static_cast<int>(i + 1);
    const Value& v = row[insert.positions[i]];
    int rc = SQLITE_OK;
    switch (v.type()) {
      case Value::Type::Null: rc = sqlite3_bind_null(st, param); break;
      case Value::Type::Integer: rc = sqlite3_bind_int64(st, param, v.integer()); break;
      case Value::Type::Real: rc = sqlite3_bind_double(st, param, v.real()); break;
      case Value::Type::Text:
        // The values outlive the step below, so the text need not be copied.
        rc = sqlite3_bind_text64(st, param, v.text().data(), v.text().size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
      case Value::Type::DateTime:
        rc = sqlite3_bind_text64(st, param, date_text, FormatDateTime(v.date(), date_text), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
        break;
      case Value::Type::YesNo: rc = sqlite3_bind_int(st, param, v.yes_no() ? 1 : 0); break;
      case Value::Type::Binary:
        rc = sqlite3_bind_blob64(st, param, v.binary().data(), v.binary().size(), SQLITE_STATIC);
        break;
    }
    if (rc != SQLITE_OK) {
      sqlite3_clear_bindings(st);
      ThrowLast(db);
    }
  }
  if (sqlite3_step(st) != SQLITE_DONE) {
    Error e(sqlite3_errmsg(db));
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    throw e;
  }
  // Every parameter is bound again for the next row, so the bindings are
  // left as they are; they point into a row the engine no longer reads.
  sqlite3_reset(st);
}

Unsent::Unsent(Connection db, std::size_t batch_rows)
    : HeldRows(static_cast<HeldRows::Engine&>(*this)),
      db_(std::move(db)),
      batch_rows_(std::max<std::size_t>(batch_rows, 1)) {
  if (sqlite3_create_module_v2(db_.get(), kModuleName, RowsModule::Get(), this, nullptr) != SQLITE_OK)
    ThrowLast(db_.get());
}

bool Unsent::PlainTable(const std::string& table, bool no_triggers) {
  Stmt st = Prepare(db_.get(), SqlitePlainTableQuery(table, no_triggers));
  if (sqlite3_step(st.get()) != SQLITE_ROW) ThrowLast(db_.get());
  return sqlite3_column_int(st.get(), 0) == 1;
}

void SavedRows::Add(const std::shared_ptr<RowInsert>& insert, std::vector<Value>& row, bool keep) {
  MakeRoom(insert == insert_);
  if (!insert->from_saved || capacity() == 1) {
    InsertOne(db_.get(), *insert, row);
    return;
  }
  insert_ = insert;
  if (rows_.size() == size()) rows_.emplace_back();
  std::vector<Value>& slot = rows_[size()];
  if (keep) {
    slot = row;
  } else {
    slot.swap(row);
    if (row.size() != slot.size()) row.resize(slot.size());  // a slot used for the first time
  }
  for (std::size_t p : insert->positions)
    if (slot[p].type() == Value::Type::Text) text_bytes_ += slot[p].text().size();
  Joined(text_bytes_ >= kMaxTextBytes);
}

bool SavedRows::WriteBatch() {
  sqlite3* db = db_.get();
  sqlite3_stmt* st = insert_->from_saved.get();
  const bool in_transaction = !sqlite3_get_autocommit(db);
  unsent_->feeding_ = this;
  const int rc = sqlite3_step(st);
  unsent_->feeding_ = nullptr;
  if (rc == SQLITE_DONE) {
    sqlite3_reset(st);
    return true;
  }
  Error failure(sqlite3_errmsg(db));
  sqlite3_reset(st);
  // The engine undid the statement's rows. When it undid the whole
  // transaction there is nothing to go on from.
  if (in_transaction && sqlite3_get_autocommit(db)) throw failure;
  return false;
}

void SavedRows::WriteOne(std::size_t row) { InsertOne(db_.get(), *insert_, rows_[row]); }

void SavedRows::Forget() noexcept {
  text_bytes_ = 0;
  insert_.reset();
}

}  // namespace velaccap::sqlite_internal
