// The target side over SQLite: statements in SQL Server's dialect, adapted
// only where SQLite lacks the form; table recordsets that insert one row at a
// time through a prepared statement reused for every row. Statements that
// differ only in their literals share one prepared shape (sqlite_shapes.h).
#include <map>
#include <vector>

#include "dbaccess/dialect.h"
#include "dbaccess/recordset_base.h"
#include "dbaccess/sqlite.h"
#include "dbaccess/sqlite_common.h"
#include "dbaccess/sqlite_shapes.h"
#include "velaccap/open.h"

namespace velaccap {

namespace {

using namespace sqlite_internal;

using namespace recordset_internal;

// Runs every statement of `sql` to its end; returns the change count of the
// last one.
long long RunAll(ShapeCache& shapes, sqlite3* db, const std::string& sql) {
  ShapeCache::Lease shaped;
  if (shapes.Take(sql, &shaped)) {
    int rc;
    while ((rc = sqlite3_step(shaped.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) ThrowLast(db);
    return sqlite3_changes64(db);
  }
  const char* p = sql.c_str();
  const char* end = p + sql.size();
  long long changes = 0;
  while (p < end) {
    const char* tail = nullptr;
    Stmt st = Prepare(db, std::string_view(p, end - p), &tail);
    p = tail;
    if (!st) continue;  // blanks or a comment
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) ThrowLast(db);
    changes = sqlite3_changes64(db);
  }
  return changes;
}

class SqliteTargetRecordset : public RecordsetBase {
 public:
  SqliteTargetRecordset(Connection db, std::shared_ptr<ShapeCache> shapes)
      : db_(std::move(db)), shapes_(std::move(shapes)) {}

  void OpenTable() override {
    RequireClosed();
    Stmt info = Prepare(db_.get(), "SELECT name FROM pragma_table_info(?1)");
    sqlite3_bind_text(info.get(), 1, source_.data(), static_cast<int>(source_.size()), SQLITE_STATIC);
    Reset();
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW)
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0)));
    if (rc != SQLITE_DONE) ThrowLast(db_.get());
    if (names.empty()) throw Error("no such table: " + source_);
    row_.assign(names.size(), Value());
    set_.assign(names.size(), false);
    SetNames(std::move(names));
    mode_ = Mode::Table;
  }

  void OpenQuery(const std::string& query) override {
    RequireClosed();
    Reset();
    std::string sql = AdaptDeleteStatement(query);
    if (!shapes_->Take(sql, &query_)) {
      const char* tail = nullptr;
      query_ = ShapeCache::Lease(Prepare(db_.get(), sql, &tail));
    }
    if (query_) {
      columns_ = query_.columns();
      row_.assign(columns_->families.size(), Value());
      read_.assign(columns_->families.size(), 0);
      SetNames(columns_->names);
    }
    mode_ = Mode::Result;
    try {
      Step();
    } catch (...) {
      Reset();
      throw;
    }
    bof_ = eof_;
  }

  bool bof() const override { return mode_ == Mode::Result ? bof_ : false; }
  bool eof() const override { return mode_ == Mode::Result ? eof_ : false; }

  Value field_value(int index) const override {
    RequireOpen();
    RequireIndex(index, row_.size());
    if (mode_ == Mode::Result) {
      if (eof_) throw Error(kNoCurrentRecord);
      // Read when first asked for: a query of every column is mostly read
      // for one or two of them.
      if (read_[index] != row_number_) {
        ReadColumn(query_.get(), index, columns_->families[index], &row_[index]);
        read_[index] = row_number_;
      }
      return row_[index];
    }
    if (!has_row_) throw Error(kNoCurrentRecord);
    return set_[index] ? row_[index] : Value();
  }

  void move_next() override {
    RequireOpen();
    if (mode_ != Mode::Result) throw Error(kNoCurrentRecord);
    if (eof_) throw Error(kNoCurrentRecord);
    Step();
  }

  void AddNew() override {
    RequireTable();
    if (pending_) Save();
    // Unset columns are told by set_, not by the values: a value left from
    // the row before keeps its text buffer for the next assignment.
    std::fill(set_.begin(), set_.end(), false);
    pending_ = true;
    has_row_ = true;
  }

  void set_field(std::string_view name, const Value& value) override {
    RequireTable();
    int i = Find(name);
    if (i < 0) throw Error("table " + source_ + " has no column named " + std::string(name));
    if (!pending_) throw Error(kNoCurrentRecord);
    row_[i] = value;
    set_[i] = true;
  }

  void UpdateBatch() override {
    RequireTable();
    if (pending_) Save();
  }

  // Closing a closed recordset is allowed, so that a clean-up path may close
  // whatever it holds without first asking.
  void Close() override { Reset(); }

 private:
  void Reset() {
    mode_ = Mode::Closed;
    ClearNames();
    columns_.reset();
    read_.clear();
    row_.clear();
    set_.clear();
    inserts_.clear();
    last_insert_ = nullptr;
    query_.reset();
    pending_ = has_row_ = false;
    bof_ = eof_ = true;
  }

  void Step() {
    if (!query_) {
      eof_ = true;
      return;
    }
    int rc = sqlite3_step(query_.get());
    if (rc == SQLITE_ROW) {
      eof_ = false;
      ++row_number_;  // every column of the row before is now stale
    } else if (rc == SQLITE_DONE) {
      eof_ = true;
      sqlite3_reset(query_.get());  // releases the read lock while the result stays open
    } else {
      eof_ = true;
      ThrowLast(db_.get());
    }
  }

  // The insert for the current set of columns: only the columns set are
  // named, so the others keep the table's defaults.
  sqlite3_stmt* InsertFor(const std::vector<bool>& columns) {
    if (last_insert_ && *last_key_ == columns) return last_insert_;
    auto it = inserts_.find(columns);
    if (it == inserts_.end()) {
      std::string sql = "INSERT INTO " + QuoteIdentifier(source_);
      std::string values;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!columns[i]) continue;
        sql += values.empty() ? " (" : ", ";
        sql += QuoteIdentifier(names()[i]);
        values += values.empty() ? "?" : ", ?";
      }
      sql += values.empty() ? " DEFAULT VALUES" : ") VALUES (" + values + ")";
      it = inserts_.emplace(columns, Prepare(db_.get(), sql)).first;
    }
    last_key_ = &it->first;
    last_insert_ = it->second.get();
    return last_insert_;
  }

  void Save() {
    sqlite3_stmt* st = InsertFor(set_);
    int param = 0;
    std::string date_text;
    for (std::size_t i = 0; i < row_.size(); ++i) {
      if (!set_[i]) continue;
      ++param;
      const Value& v = row_[i];
      int rc = SQLITE_OK;
      switch (v.type()) {
        case Value::Type::Null: rc = sqlite3_bind_null(st, param); break;
        case Value::Type::Integer: rc = sqlite3_bind_int64(st, param, v.integer()); break;
        case Value::Type::Real: rc = sqlite3_bind_double(st, param, v.real()); break;
        case Value::Type::Text:
          // The row outlives the step below, so the text need not be copied.
          rc = sqlite3_bind_text64(st, param, v.text().data(), v.text().size(), SQLITE_STATIC, SQLITE_UTF8);
          break;
        case Value::Type::DateTime:
          date_text = FormatDateTime(v.date());
          rc = sqlite3_bind_text64(st, param, date_text.data(), date_text.size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8);
          break;
        case Value::Type::YesNo: rc = sqlite3_bind_int(st, param, v.yes_no() ? 1 : 0); break;
      }
      if (rc != SQLITE_OK) {
        sqlite3_clear_bindings(st);
        ThrowLast(db_.get());
      }
    }
    int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) {
      Error e(sqlite3_errmsg(db_.get()));
      sqlite3_reset(st);
      sqlite3_clear_bindings(st);
      throw e;
    }
    // Every parameter is bound again for the next row, so the bindings are
    // left as they are; they point into row_, which the engine no longer reads.
    sqlite3_reset(st);
    pending_ = false;
  }

  Connection db_;
  std::shared_ptr<ShapeCache> shapes_;
  std::shared_ptr<const ResultColumns> columns_;  // of the open result
  mutable std::vector<Value> row_;  // the current result row as read so far, or the pending row
  // The result row whose value each slot of row_ holds; row_number_ is the
  // current one. Mutable: reading a column on demand changes no state seen.
  mutable std::vector<unsigned long long> read_;
  unsigned long long row_number_ = 0;
  std::vector<bool> set_;         // columns of the pending row given a value
  ShapeCache::Lease query_;
  std::map<std::vector<bool>, Stmt> inserts_;
  const std::vector<bool>* last_key_ = nullptr;
  sqlite3_stmt* last_insert_ = nullptr;
  bool pending_ = false;  // a row added and not saved yet
  bool has_row_ = false;  // a row was added since the table was opened
  bool bof_ = true;
  bool eof_ = true;
};

class SqliteTarget : public TargetConnection {
 public:
  SqliteTarget(Connection db, std::size_t shapes, std::string path, int wait_ms)
      : db_(std::move(db)), shapes_(std::make_shared<ShapeCache>(db_, shapes)), path_(std::move(path)),
        wait_ms_(wait_ms) {}

  void Execute(const std::string& statement) override { Run(AdaptDeleteStatement(statement)); }

  long long ExecuteCount(const std::string& statement) override { return Run(AdaptDeleteStatement(statement)); }

  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    // As a connection's execution returns it: read-only until the caller
    // sets another lock type for a later open.
    auto rs = std::make_unique<SqliteTargetRecordset>(db_, shapes_);
    rs->set_lock_type(LockType::ReadOnly);
    rs->OpenQuery(query);
    return rs;
  }

  std::unique_ptr<TargetRecordset> NewRecordset() override {
    return std::make_unique<SqliteTargetRecordset>(db_, shapes_);
  }

  void BeginTransaction() override {
    // The write lock is taken now, not at the first write, so that another
    // program's lock is met before anything is done.
    int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_BUSY) throw InputError(LockedMessage("target", path_, wait_ms_));
    if (rc != SQLITE_OK) ThrowLast(db_.get());
    // Rewriting the header's user version with its own value makes the
    // engine create its journal and write a page: a file or folder that
    // cannot be written is found here, before the run, not at its first row.
    try {
      Stmt get = Prepare(db_.get(), "PRAGMA user_version");
      if (sqlite3_step(get.get()) != SQLITE_ROW) ThrowLast(db_.get());
      const std::string set = "PRAGMA user_version=" + std::to_string(sqlite3_column_int64(get.get(), 0));
      get.reset();
      if (sqlite3_exec(db_.get(), set.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) ThrowLast(db_.get());
    } catch (const Error& e) {
      if (InTransaction()) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw InputError("target database " + path_ + " cannot be written: " + e.what() +
                       " (the engine also writes a journal beside the file, so its folder must be writable)");
    }
  }
  void Commit() override {
    if (!InTransaction()) throw Error(kRolledBackByEngine);
    Run("COMMIT");
  }
  // After the engine has rolled back by itself there is nothing to undo, and
  // a ROLLBACK would only replace the engine's reason with its own complaint.
  void Rollback() override {
    if (InTransaction()) Run("ROLLBACK");
  }
  bool InTransaction() override { return sqlite3_get_autocommit(db_.get()) == 0; }

 private:
  static constexpr char kRolledBackByEngine[] =
      "the engine has already rolled back the transaction after an earlier error";

  long long Run(const std::string& sql) { return RunAll(*shapes_, db_.get(), sql); }

  Connection db_;
  std::shared_ptr<ShapeCache> shapes_;
  std::string path_;
  int wait_ms_;
};

}  // namespace

namespace sqlite_internal {

std::unique_ptr<TargetConnection> OpenSqliteTargetWithShapes(const std::string& path, std::size_t capacity,
                                                             const OpenOptions& options) {
  return std::make_unique<SqliteTarget>(OpenExisting(path, SQLITE_OPEN_READWRITE, "target", options), capacity, path,
                                        options.wait_ms);
}

}  // namespace sqlite_internal

std::unique_ptr<TargetConnection> OpenSqliteTarget(const std::string& path, const OpenOptions& options) {
  return sqlite_internal::OpenSqliteTargetWithShapes(path, sqlite_internal::kShapeCapacity, options);
}

std::string RecoverSqliteFile(const std::string& path) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db = Adopt(raw);
  if (rc != SQLITE_OK) return raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
  sqlite3_busy_timeout(db.get(), 5000);
  // The first read rolls back a hot journal; the check then reads the rest.
  if (sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
    return sqlite3_errmsg(db.get());
  return QuickCheck(db.get());
}

}  // namespace velaccap
