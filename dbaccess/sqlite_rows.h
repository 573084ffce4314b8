// Rows that a SQLite target's table recordsets save, held and written to
// their table together: one "INSERT ... SELECT" per batch, reading the held
// rows through an eponymous virtual table. A statement per row costs the
// engine a cursor on the table and on each of its indexes, a seek to the
// table's end and, with AUTOINCREMENT, a read and a write of the sequence
// row; a batch pays them once.
//
// Whatever else reaches the connection sends the held rows first, so every
// statement, query and commit sees the table as if each row had been written
// when it was saved.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/sqlite_common.h"

namespace velaccap::sqlite_internal {

// The insert of one set of columns of a table, in both forms.
struct RowInsert {
  Stmt one_row;     // "INSERT INTO t (a, b) VALUES (?, ?)", for a row on its own
  Stmt from_saved;  // "INSERT INTO t (a, b) SELECT c0, c1 FROM ...", for a batch
  std::vector<std::size_t> positions;  // of the columns named, in a row of every column
};

// The insert of the columns of `names` whose `set` is true (or of the
// table's defaults when none is).
std::shared_ptr<RowInsert> MakeRowInsert(sqlite3* db, const std::string& table, const std::vector<std::string>& names,
                                         const std::vector<unsigned char>& set);

class SavedRows;

// One per connection: the batch holding rows that are not in their table
// yet, if any.
class Unsent {
 public:
  // Registers the virtual table that feeds a batch's insert on `db`;
  // recordsets hold up to `batch_rows` rows (at least 1).
  Unsent(Connection db, std::size_t batch_rows);
  // Rows left held outside a transaction were meant to be written; within
  // one, they go with it.
  ~Unsent();
  Unsent(const Unsent&) = delete;
  Unsent& operator=(const Unsent&) = delete;

  // Writes the held rows, if any; throws the engine's description of the
  // first row that fails.
  void Send();
  // Writes the held rows before `query` runs, unless it certainly cannot see
  // them (UnseenBy).
  void SendBefore(const std::string& query);
  // Forgets what the schema was found to be: a statement may change it.
  void ForgetSchema() { plain_.clear(); }
  // Forgets the held rows: a rollback would undo them anyway.
  void Drop() noexcept;

  bool Holds(const SavedRows* rows) const { return held_.get() == rows; }
  std::size_t batch_rows() const { return batch_rows_; }

 private:
  friend class SavedRows;
  friend struct RowsModule;
  // True when `query` reads only ordinary tables other than the held rows'
  // table, and that table has no trigger: rows written into it could not
  // change what the query returns. Only inside a transaction, where the
  // verdicts on the schema are kept until the next statement.
  bool UnseenBy(const std::string& query);
  bool Plain(const std::string& table, bool no_triggers);

  Connection db_;  // first, so that it is released after the held rows' statements
  std::size_t batch_rows_;
  std::map<std::string, bool> plain_;  // by table name in capitals, and '+' when triggers were asked about
  std::shared_ptr<SavedRows> held_;
  const SavedRows* feeding_ = nullptr;  // the batch whose insert is running
};

// A table recordset's saved rows, held until they go to the table together.
class SavedRows : public std::enable_shared_from_this<SavedRows> {
 public:
  // `unsent` is the connection's; it outlives the rows it holds.
  SavedRows(Connection db, Unsent* unsent, std::string table)
      : db_(std::move(db)), unsent_(unsent), table_(std::move(table)) {}
  SavedRows(const SavedRows&) = delete;
  SavedRows& operator=(const SavedRows&) = delete;

  // Takes `row` (a value for every column of the table) for `insert`: by
  // swapping it with a held slot, whose stale values `row` then holds, or
  // with `keep` by copying it. Rows held by another recordset, or for
  // another set of columns, are written first.
  void Add(const std::shared_ptr<RowInsert>& insert, std::vector<Value>& row, bool keep);

  // Writes the held rows. They are gone once tried: when a row fails, the
  // rows before it stay written and the rows after it are not, as when each
  // row had been written on its own, and the failure is that row's.
  void Send();

  // Forgets the held rows, unwritten.
  void Clear() noexcept;

  std::size_t size() const { return count_; }
  const std::string& table() const { return table_; }
  // The value of column `column` of the held insert in held row `row`.
  const Value& at(std::size_t row, std::size_t column) const { return rows_[row][insert_->positions[column]]; }

 private:
  // Held rows are bounded in text too, so that a batch of long memos stays
  // small.
  static constexpr std::size_t kMaxTextBytes = 4 << 20;

  Connection db_;
  Unsent* unsent_;
  std::string table_;
  std::shared_ptr<RowInsert> insert_;
  // Slots are kept between batches, so that their text buffers are reused.
  std::vector<std::vector<Value>> rows_;
  std::size_t count_ = 0;
  std::size_t text_bytes_ = 0;
};

// Binds the values of `row` at `insert`'s positions to its one-row
// statement, steps it and resets it; throws the engine's description of a
// failure.
void InsertOne(sqlite3* db, const RowInsert& insert, const std::vector<Value>& row);

}  // namespace velaccap::sqlite_internal
