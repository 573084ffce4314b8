// The target side over SQLite: statements in SQL Server's dialect, adapted
// only where SQLite lacks the form; table recordsets whose saved rows go to
// the table in batches (sqlite_rows.h). Statements that differ only in their
// literals share one prepared shape (sqlite_shapes.h).
#include <cstring>
#include <map>
#include <vector>

#include "dbaccess/dialect.h"
#include "dbaccess/recordset_base.h"
#include "dbaccess/sqlite.h"
#include "dbaccess/sqlite_common.h"
#include "dbaccess/sqlite_rows.h"
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
  SqliteTargetRecordset(Connection db, std::shared_ptr<ShapeCache> shapes, std::shared_ptr<Unsent> unsent)
      : db_(std::move(db)), shapes_(std::move(shapes)), unsent_(std::move(unsent)) {}

  void OpenTable() override {
    RequireClosed();
    unsent_->Send();
    Stmt info = Prepare(db_.get(), "SELECT name, type FROM pragma_table_info(?1)");
    sqlite3_bind_text(info.get(), 1, source_.data(), static_cast<int>(source_.size()), SQLITE_STATIC);
    Reset();
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0)));
      table_types_.push_back(TypeOf(FamilyOf(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)))));
    }
    if (rc != SQLITE_DONE) ThrowLast(db_.get());
    if (names.empty()) throw Error("no such table: " + source_);
    row_.assign(names.size(), Value());
    set_.assign(names.size(), 0);
    SetNames(std::move(names));
    saved_ = std::make_shared<SavedRows>(db_, unsent_.get(), source_);
    mode_ = Mode::Table;
  }

  void OpenQuery(const std::string& query) override {
    RequireClosed();
    // A query that cannot see the held rows leaves them held, so that a
    // table's batches are not cut by lookups in other tables.
    unsent_->SendBefore(query);
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

  ColumnType field_type(int index) const override {
    RequireOpen();
    RequireIndex(index, row_.size());
    return mode_ == Mode::Result ? TypeOf(columns_->families[index]) : table_types_[index];
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
    // Rows saved meanwhile are in their table before the next row is read.
    unsent_->Send();
    Step();
  }

  void AddNew() override {
    RequireTable();
    if (pending_) Save(false);
    // Unset columns are told by set_, not by the values: a value left from
    // an earlier row keeps its text buffer for the next assignment.
    std::fill(set_.begin(), set_.end(), 0);
    pending_ = true;
    has_row_ = true;
  }

  void set_field(std::string_view name, const Value& value) override {
    RequireTable();
    int i = Find(name);
    if (i < 0) throw Error("table " + source_ + " has no column named " + std::string(name));
    if (!pending_) throw Error(kNoCurrentRecord);
    row_[i] = value;
    set_[i] = 1;
  }

  void UpdateBatch() override {
    RequireTable();
    if (pending_) Save(true);  // the row stays readable
    saved_->Send();
  }

  // Closing a closed recordset is allowed, so that a clean-up path may close
  // whatever it holds without first asking. A pending row is discarded; the
  // rows saved before it are written.
  void Close() override {
    std::exception_ptr failure;
    if (saved_) {
      try {
        saved_->Send();
      } catch (const std::exception&) {
        failure = std::current_exception();
      }
    }
    Reset();
    if (failure) std::rethrow_exception(failure);
  }

 private:
  void Reset() {
    mode_ = Mode::Closed;
    ClearNames();
    columns_.reset();
    table_types_.clear();
    read_.clear();
    row_.clear();
    set_.clear();
    saved_.reset();
    inserts_.clear();
    last_key_ = nullptr;
    last_insert_.reset();
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

  static bool SameColumns(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
  }
  // Orders column sets by size, then bytes. Spelled out: g++ 12 at -O3
  // warns about the library's own comparison of byte vectors.
  struct ColumnsLess {
    bool operator()(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) const {
      if (a.size() != b.size()) return a.size() < b.size();
      return !a.empty() && std::memcmp(a.data(), b.data(), a.size()) < 0;
    }
  };

  // The insert for the current set of columns: only the columns set are
  // named, so the others keep the table's defaults.
  const std::shared_ptr<RowInsert>& InsertFor(const std::vector<unsigned char>& columns) {
    if (last_insert_ && SameColumns(*last_key_, columns)) return last_insert_;
    auto it = inserts_.find(columns);
    if (it == inserts_.end()) it = inserts_.emplace(columns, MakeRowInsert(db_.get(), source_, names(), columns)).first;
    last_key_ = &it->first;
    last_insert_ = it->second;
    return last_insert_;
  }

  // With `keep` the row's values stay in row_; otherwise row_ is left with
  // stale values, which a new row's set_ hides.
  void Save(bool keep) {
    // The row is gone once tried: a failed save does not linger as pending.
    pending_ = false;
    saved_->Add(InsertFor(set_), row_, keep);
  }

  Connection db_;
  std::shared_ptr<ShapeCache> shapes_;
  std::shared_ptr<const ResultColumns> columns_;  // of the open result
  std::vector<ColumnType> table_types_;           // of the open table
  mutable std::vector<Value> row_;  // the current result row as read so far, or the pending row
  // The result row whose value each slot of row_ holds; row_number_ is the
  // current one. Mutable: reading a column on demand changes no state seen.
  mutable std::vector<unsigned long long> read_;
  unsigned long long row_number_ = 0;
  std::vector<unsigned char> set_;  // columns of the pending row given a value (bytes: compared as a map key per row)
  ShapeCache::Lease query_;
  std::shared_ptr<Unsent> unsent_;
  std::shared_ptr<SavedRows> saved_;  // this table's saved rows not written yet
  std::map<std::vector<unsigned char>, std::shared_ptr<RowInsert>, ColumnsLess> inserts_;
  const std::vector<unsigned char>* last_key_ = nullptr;
  std::shared_ptr<RowInsert> last_insert_;
  bool pending_ = false;  // a row added and not saved yet
  bool has_row_ = false;  // a row was added since the table was opened
  bool bof_ = true;
  bool eof_ = true;
};

class SqliteTarget : public TargetConnection {
 public:
  SqliteTarget(Connection db, std::size_t shapes, std::string path, const OpenOptions& options)
      : db_(std::move(db)),
        shapes_(std::make_shared<ShapeCache>(db_, shapes)),
        unsent_(std::make_shared<Unsent>(db_, options.batch_rows)),
        path_(std::move(path)),
        wait_ms_(options.wait_ms) {}

  void Execute(const std::string& statement) override { Run(AdaptDeleteStatement(statement)); }

  long long ExecuteCount(const std::string& statement) override { return Run(AdaptDeleteStatement(statement)); }

  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    // As a connection's execution returns it: read-only until the caller
    // sets another lock type for a later open.
    auto rs = std::make_unique<SqliteTargetRecordset>(db_, shapes_, unsent_);
    rs->set_lock_type(LockType::ReadOnly);
    rs->OpenQuery(query);
    return rs;
  }

  std::unique_ptr<TargetRecordset> NewRecordset() override {
    return std::make_unique<SqliteTargetRecordset>(db_, shapes_, unsent_);
  }

  void BeginTransaction() override {
    // Rows saved before the transaction stay outside it.
    unsent_->Send();
    unsent_->ForgetSchema();
    // Every lock the run needs is taken now, not at the first write, so that
    // another program's lock is met (and waited on for wait_ms at most)
    // before anything is done: exclusive, as a reader that keeps a read
    // transaction open would otherwise hold up the run when it writes pages
    // out of its cache and at its commit, each time anew.
    int rc = sqlite3_exec(db_.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
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
    unsent_->Send();
    try {
      Run("COMMIT");
    } catch (const Error&) {
      // A lock met only here (a file in WAL mode checkpointed by another
      // program) is named as every other.
      if ((sqlite3_extended_errcode(db_.get()) & 0xff) == SQLITE_BUSY)
        throw Error("another program holds a lock on " + path_ + " (waited " + std::to_string((wait_ms_ + 999) / 1000) +
                    " s; see --wait)");
      throw;
    }
  }
  // After the engine has rolled back by itself there is nothing to undo, and
  // a ROLLBACK would only replace the engine's reason with its own complaint.
  void Rollback() override {
    if (!InTransaction()) return;
    // Rows not written yet are dropped: the rollback would undo them anyway.
    unsent_->Drop();
    Run("ROLLBACK");
  }
  bool InTransaction() override { return sqlite3_get_autocommit(db_.get()) == 0; }

 private:
  static constexpr char kRolledBackByEngine[] =
      "the engine has already rolled back the transaction after an earlier error";

  long long Run(const std::string& sql) {
    unsent_->Send();
    unsent_->ForgetSchema();
    return RunAll(*shapes_, db_.get(), sql);
  }

  Connection db_;
  std::shared_ptr<ShapeCache> shapes_;
  std::shared_ptr<Unsent> unsent_;
  std::string path_;
  int wait_ms_;
};

}  // namespace

namespace sqlite_internal {

std::unique_ptr<TargetConnection> OpenSqliteTargetWithShapes(const std::string& path, std::size_t capacity,
                                                             const OpenOptions& options) {
  const int flags = options.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  return std::make_unique<SqliteTarget>(OpenExisting(path, flags, "target", options), capacity, path, options);
}

}  // namespace sqlite_internal

std::unique_ptr<TargetConnection> OpenSqliteTarget(const std::string& path, const OpenOptions& options) {
  return sqlite_internal::OpenSqliteTargetWithShapes(path, sqlite_internal::kShapeCapacity, options);
}

std::string RecoverSqliteFile(const std::string& path) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(PlainPath(path).c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection db = Adopt(raw);
  if (rc != SQLITE_OK) return raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
  sqlite3_busy_timeout(db.get(), 5000);
  // The first read rolls back a hot journal; the check then reads the rest.
  if (sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
    return sqlite3_errmsg(db.get());
  return QuickCheck(db.get());
}

}  // namespace velaccap
