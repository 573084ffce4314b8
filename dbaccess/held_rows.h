// Rows that table recordsets save are held, not written at once, so that
// they reach their table many at a time. This is the one place that says
// when held rows go, and what a failing batch leaves written; the SQLite and
// ODBC targets supply only how a batch and how one row are written, so the
// two cannot come to keep different rows.
//
// The rule: at most one batch per connection holds rows. Whatever else
// reaches the connection (a statement, a commit, another table's rows, the
// next row of a result, a query that could see them) writes them first, so
// it sees the table as if every row had been written when it was saved. A
// rollback drops them unwritten. A batch is gone once tried: when a row of
// it fails, the rows before that row stay written, none after it is, and
// the failure is the engine's own text for that row.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace velaccap {

class HeldBatch;

// One per connection: which batch holds rows, and what the catalog said
// about the tables a query reads while they wait.
class HeldRows {
 public:
  // What the rule must ask of the connection it holds rows for.
  class Engine {
   public:
    // Verdicts on the schema are only trusted inside a transaction, whose
    // locks keep other sessions from changing the tables it wrote.
    virtual bool InTransaction() const = 0;
    // False for an engine whose catalog this program does not know how to
    // ask: its held rows go before every query.
    virtual bool AsksCatalog() const = 0;
    // One catalog query: true when `table` is an ordinary table (and, with
    // `no_triggers`, one no trigger watches).
    virtual bool PlainTable(const std::string& table, bool no_triggers) = 0;

   protected:
    ~Engine() = default;
  };

  explicit HeldRows(Engine& engine) : engine_(engine) {}
  HeldRows(const HeldRows&) = delete;
  HeldRows& operator=(const HeldRows&) = delete;

  // Writes the held rows, if any; throws the engine's text for the first
  // row that fails.
  void Send();
  // Writes the held rows before `query` runs, unless it certainly cannot
  // see them: then a table's batches are not cut by lookups in others.
  void SendBefore(const std::string& query);
  // A statement may change the schema, so what it was found to be is
  // forgotten.
  void ForgetSchema() { plain_.clear(); }
  // Forgets the held rows: a rollback would undo them anyway.
  void Drop() noexcept;
  // For the connection's end, while its handles are still valid: rows held
  // outside a transaction were meant to be written (a failure has nobody to
  // be told to); within one, they go with it.
  void Leave() noexcept;

  bool Holds(const HeldBatch* batch) const { return held_.get() == batch; }

 private:
  friend class HeldBatch;
  bool UnseenBy(const std::string& query);

  Engine& engine_;
  std::shared_ptr<HeldBatch> held_;
  // Catalog verdicts by table name in capitals, '+' when triggers were asked
  // about; kept until the next statement.
  std::map<std::string, bool> plain_;
};

// One table recordset's held rows, all for one insert. A backend derives
// from it and stores the rows its own way; the order in which rows go, and
// what a failure keeps, are decided here.
class HeldBatch : public std::enable_shared_from_this<HeldBatch> {
 public:
  // `held` is the connection's and outlives the batch; `capacity` rows at
  // most are held at once.
  HeldBatch(HeldRows& held, std::string table, std::size_t capacity)
      : held_(held), table_(std::move(table)), capacity_(capacity < 1 ? 1 : capacity) {}
  HeldBatch(const HeldBatch&) = delete;
  HeldBatch& operator=(const HeldBatch&) = delete;
  virtual ~HeldBatch() = default;

  // Writes the rows held. They are gone once tried, written or not.
  void Send();
  // Forgets the rows held, unwritten.
  void Clear() noexcept;

  std::size_t size() const { return count_; }
  std::size_t capacity() const { return capacity_; }
  const std::string& table() const { return table_; }

 protected:
  // Before a row joins: rows another batch holds were saved first, so they
  // are written first; this batch's own go first when the row does not fit
  // with them (`fits` false: another insert, or no room).
  void MakeRoom(bool fits);
  // Once the backend has stored the row at index size(): the connection
  // holds the batch, which is written when full or when `send_now`.
  void Joined(bool send_now);

  // Writes the `size()` rows held in one go. True when every row is
  // written. A row that fails either throws the engine's text for it, with
  // the rows before it written and none after (an engine that names the
  // row), or returns false with none written (an engine that refuses the
  // batch whole), and then each row is written again on its own.
  virtual bool WriteBatch() = 0;
  // Writes held row `row` alone; throws the engine's text when it fails.
  virtual void WriteOne(std::size_t row) = 0;
  // Lets go of the backend's copies of the rows held.
  virtual void Forget() noexcept = 0;

 private:
  HeldRows& held_;
  const std::string table_;
  const std::size_t capacity_;
  std::size_t count_ = 0;
};

}  // namespace velaccap
