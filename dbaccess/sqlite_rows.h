// Rows that a SQLite target's table recordsets save, held and written to
// their table together: one "INSERT ... SELECT" per batch, reading the held
// rows through an eponymous virtual table. A statement per row costs the
// engine a cursor on the table and on each of its indexes, a seek to the
// table's end and, with AUTOINCREMENT, a read and a write of the sequence
// row; a batch pays them once.
//
// When held rows go, and what a failing batch keeps, is the rule of
// held_rows.h, which the ODBC target keeps too.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/held_rows.h"
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

// One per connection: the held rows (held_rows.h), and the virtual table
// that feeds a batch's insert.
class Unsent final : private HeldRows::Engine, public HeldRows {
 public:
  // Registers the virtual table on `db`; recordsets hold up to `batch_rows`
  // rows (at least 1).
  Unsent(Connection db, std::size_t batch_rows);
  ~Unsent() { Leave(); }
  Unsent(const Unsent&) = delete;
  Unsent& operator=(const Unsent&) = delete;

  std::size_t batch_rows() const { return batch_rows_; }

 private:
  friend class SavedRows;
  friend struct RowsModule;
  // The held rows' questions, asked of this connection and its catalog.
  bool InTransaction() const override { return !sqlite3_get_autocommit(db_.get()); }
  bool AsksCatalog() const override { return true; }
  bool PlainTable(const std::string& table, bool no_triggers) override;

  Connection db_;  // first, so that it is released after the held rows' statements
  std::size_t batch_rows_;
  const SavedRows* feeding_ = nullptr;  // the batch whose insert is running
};

// A table recordset's saved rows, held until they go to the table together.
class SavedRows : public HeldBatch {
 public:
  // `unsent` is the connection's; it outlives the rows it holds.
  SavedRows(Connection db, Unsent* unsent, std::string table)
      : HeldBatch(*unsent, std::move(table), unsent->batch_rows()), db_(std::move(db)), unsent_(unsent) {}

  // Takes `row` (a value for every column of the table) for `insert`: by
  // swapping it with a held slot, whose stale values `row` then holds, or
  // with `keep` by copying it. Rows held by another recordset, or for
  // another set of columns, are written first.
  void Add(const std::shared_ptr<RowInsert>& insert, std::vector<Value>& row, bool keep);

  // The value of column `column` of the held insert in held row `row`.
  const Value& at(std::size_t row, std::size_t column) const { return rows_[row][insert_->positions[column]]; }

 private:
  // Held rows are bounded in text too, so that a batch of long memos stays
  // small.
  static constexpr std::size_t kMaxTextBytes = 4 << 20;

  // One "INSERT ... SELECT" of every held row; the engine refuses it whole,
  // naming no row, so a failure has each row written again on its own.
  bool WriteBatch() override;
  void WriteOne(std::size_t row) override;
  void Forget() noexcept override;

  Connection db_;
  Unsent* unsent_;
  std::shared_ptr<RowInsert> insert_;
  // Slots are kept between batches, so that their text buffers are reused.
  std::vector<std::vector<Value>> rows_;
  std::size_t text_bytes_ = 0;
};

// Binds the values of `row` at `insert`'s positions to its one-row
// statement, steps it and resets it; throws the engine's description of a
// failure.
void InsertOne(sqlite3* db, const RowInsert& insert, const std::vector<Value>& row);

}  // namespace velaccap::sqlite_internal
