// The source side over SQLite: queries run exactly as written, one row read
// at a time, values typed by the columns' declared types.
#include <vector>

#include "dbaccess/sqlite.h"
#include "dbaccess/sqlite_common.h"
#include "velaccap/open.h"

namespace velaccap {

namespace {

using namespace sqlite_internal;

class SqliteSourceRecordset : public SourceRecordset {
 public:
  SqliteSourceRecordset(Connection db, const std::string& query) : db_(std::move(db)) {
    const char* tail = nullptr;
    st_ = Prepare(db_.get(), query, &tail);
    if (!st_) throw Error("not a query: " + query);  // only blanks or comments
    const int n = sqlite3_column_count(st_.get());
    families_ = Families(st_.get());
    row_.resize(n);
    read_.assign(n, 0);
    names_.resize(n);
    tables_.resize(n);
    for (int i = 0; i < n; ++i) {
      const char* name = sqlite3_column_name(st_.get(), i);
      const char* table = sqlite3_column_table_name(st_.get(), i);
      names_[i] = name ? name : "";
      tables_[i] = table ? table : "";
    }
    // A column name that the result holds more than once is qualified with
    // its table, as the source's object model names the columns of a join.
    std::vector<std::string> bare = names_;
    for (int i = 0; i < n; ++i) {
      if (tables_[i].empty()) continue;
      for (int j = 0; j < n; ++j) {
        if (j != i && EqualNoCase(bare[i], bare[j])) {
          names_[i] = tables_[i] + "." + bare[i];
          break;
        }
      }
    }
    bare_ = std::move(bare);
    Step();
  }

  bool eof() const override { return eof_; }
  int field_count() const override { return static_cast<int>(names_.size()); }

  const std::string& field_name(int index) const override {
    CheckIndex(index);
    return names_[index];
  }

  int field_index(std::string_view name) const override {
    const int n = field_count();
    for (int i = 0; i < n; ++i)
      if (EqualNoCase(names_[i], name)) return i;
    // "Table.Column" also finds a column of that table whose name is unique.
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) {
      std::string_view table = name.substr(0, dot), column = name.substr(dot + 1);
      for (int i = 0; i < n; ++i)
        if (EqualNoCase(tables_[i], table) && EqualNoCase(bare_[i], column)) return i;
    }
    throw Error("Item not found in this collection: " + std::string(name));
  }

  ColumnType field_type(int index) const override {
    CheckIndex(index);
    return TypeOf(families_[index]);
  }

  const Value& field_value(int index) const override {
    CheckOpen();
    if (eof_) throw Error("No current record.");
    CheckIndex(index);
    // Read when first asked for: most queries select every column and the
    // run reads only some of them.
    if (read_[index] != count_) {
      ReadColumn(st_.get(), index, families_[index], &row_[index]);
      read_[index] = count_;
    }
    return row_[index];
  }

  void move_next() override {
    CheckOpen();
    if (eof_) throw Error("No current record.");
    Step();
  }

  long long record_count() const override { return count_; }

  void close() override {
    st_.reset();
    closed_ = true;
    eof_ = true;
  }

 private:
  void Step() {
    int rc = sqlite3_step(st_.get());
    if (rc == SQLITE_ROW) {
      ++count_;  // every column read for the row before is now stale
    } else if (rc == SQLITE_DONE) {
      eof_ = true;
      sqlite3_reset(st_.get());  // ends the read transaction early
    } else {
      eof_ = true;
      ThrowLast(db_.get());
    }
  }

  void CheckOpen() const {
    if (closed_) throw Error("Object invalid or no longer set.");
  }

  void CheckIndex(int index) const {
    if (index < 0 || index >= field_count())
      throw Error("Item not found in this collection: " + std::to_string(index));
  }

  Connection db_;
  Stmt st_;
  std::vector<std::string> names_;   // as the recordset names them
  std::vector<std::string> bare_;    // as the result names them
  std::vector<std::string> tables_;  // table of origin, empty for expressions
  std::vector<Family> families_;
  // The row as read so far; read_ holds, per column, the row number
  // (count_) its value in row_ belongs to. Mutable: reading on demand changes
  // nothing a caller sees.
  mutable std::vector<Value> row_;
  mutable std::vector<long long> read_;
  long long count_ = 0;
  bool eof_ = false;
  bool closed_ = false;
};

class SqliteSource : public SourceDatabase {
 public:
  explicit SqliteSource(Connection db) : db_(std::move(db)) {}

  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    return std::make_unique<SqliteSourceRecordset>(db_, query);
  }

 private:
  Connection db_;
};

}  // namespace

std::unique_ptr<SourceDatabase> OpenSqliteSource(const std::string& path, const OpenOptions& options) {
  Connection db = OpenExisting(path, SQLITE_OPEN_READONLY, "source", options);
  // One read transaction for the whole run: every query sees the same state
  // of the file, even if another program writes to it meanwhile (it waits).
  int rc = sqlite3_exec(db.get(), "BEGIN; SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if ((rc & 0xff) == SQLITE_BUSY) throw InputError(LockedMessage("source", path, options.wait_ms));
    throw InputError("cannot open source database " + path + ": " + sqlite3_errmsg(db.get()));
  }
  return std::make_unique<SqliteSource>(std::move(db));
}

std::unique_ptr<SourceDatabase> AdoptSqliteSource(sqlite3* db) {
  return std::make_unique<SqliteSource>(Adopt(db));
}

}  // namespace velaccap
