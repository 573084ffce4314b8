// The operations the migration performs on its two databases. The source side
// stands in for the 8.12 account set's object model (a database that opens
// query recordsets), the target side for the 8.20 account set's connection
// (statements, table recordsets that add rows, read-only results).
//
// Backends implement these interfaces over real engines; layers (trace,
// counting, fault injection) wrap them by forwarding, see layers.h. Every
// failing operation throws velaccap::Error with the engine's own text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "velaccap/value.h"

namespace velaccap {

// The kind of value a column is declared to hold, as the database describes
// it; kUnknown where it declares none (an expression, an untyped column).
enum class ColumnType { kUnknown, kNumber, kText, kDateTime, kYesNo, kBinary };

// ---------------------------------------------------------------- source side

// The rows of one query on the source, read forward one at a time.
class SourceRecordset {
 public:
  virtual ~SourceRecordset() = default;

  // True once the last row has been passed; at once for an empty result.
  virtual bool eof() const = 0;

  // Number of columns of the result.
  virtual int field_count() const = 0;

  // Name of column `index` (0-based). In a join, a column that both tables
  // have is named "Table.Column"; every other column keeps its bare name.
  virtual const std::string& field_name(int index) const = 0;

  // Index of the column named `name`, compared without regard to letter
  // case; "Table.Column" finds a column of that table. Throws when absent.
  virtual int field_index(std::string_view name) const = 0;

  // Declared kind of column `index`.
  virtual ColumnType field_type(int index) const = 0;

  // Value of column `index` in the current row. Throws at end of file.
  virtual const Value& field_value(int index) const = 0;
  const Value& field_value(std::string_view name) const { return field_value(field_index(name)); }

  // Advances one row.
  virtual void move_next() = 0;

  // Rows visited so far; after the last row, the number of rows read.
  virtual long long record_count() const = 0;

  // Releases the result. Further use throws.
  virtual void close() = 0;
};

// The caller's open source database. The migration only opens queries on it.
class SourceDatabase {
 public:
  virtual ~SourceDatabase() = default;

  // Runs `query`, written in the source's dialect, positioned on its first
  // row, rows in the query's order.
  virtual std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) = 0;
};

// ---------------------------------------------------------------- target side

// Lock type of a target recordset. Either updatable value opens a table for
// adding rows; the engines here treat them alike but keep the setting.
enum class LockType { ReadOnly = 1, Pessimistic = 2, Optimistic = 3, BatchOptimistic = 4 };

// A target recordset: closed, open on a whole table for adding rows, or open
// on a read-only query result. A closed recordset may be given a new source
// and opened again, also one that a query execution returned.
class TargetRecordset {
 public:
  virtual ~TargetRecordset() = default;

  // Lock type used at the next open; may only change while closed.
  virtual void set_lock_type(LockType lock) = 0;
  virtual LockType lock_type() const = 0;

  // The table name that the next open_table() opens.
  virtual void set_source(const std::string& table) = 0;
  virtual const std::string& source() const = 0;

  // Opens the source table for adding rows (the table option).
  virtual void OpenTable() = 0;

  // Opens a read-only result over `query`, written in the target's dialect.
  virtual void OpenQuery(const std::string& query) = 0;

  virtual bool is_open() const = 0;

  // Result recordsets: true when the result is empty (begin / end of file).
  virtual bool bof() const = 0;
  virtual bool eof() const = 0;

  // Columns of the open table or result. Names are found without regard to
  // letter case; in a result the first column of that name wins.
  virtual int field_count() const = 0;
  virtual const std::string& field_name(int index) const = 0;
  virtual int field_index(std::string_view name) const = 0;

  // Declared kind of column `index` of the open table or result.
  virtual ColumnType field_type(int index) const = 0;

  // A result's current row, or the pending new row of a table recordset
  // (Null for a column not set yet). Fails on an empty result.
  virtual Value field_value(int index) const = 0;
  Value field_value(std::string_view name) const { return field_value(field_index(name)); }

  // Result recordsets: advances one row.
  virtual void move_next() = 0;

  // Table recordsets: starts a new blank row, saving the pending one first.
  virtual void AddNew() = 0;

  // Sets a column of the pending row. A column the table lacks fails with a
  // description that names the column.
  virtual void set_field(std::string_view name, const Value& value) = 0;

  // Saves every pending change, the last added row included.
  virtual void UpdateBatch() = 0;

  // Closes the table or result; a pending row not saved is discarded.
  virtual void Close() = 0;
};

// The caller's open target connection. The migration executes statements on
// it and binds recordsets to it; the host alone opens, closes or transacts it.
class TargetConnection {
 public:
  virtual ~TargetConnection() = default;

  // Runs a statement; its result is discarded.
  virtual void Execute(const std::string& statement) = 0;

  // Runs a statement and returns the number of rows it changed.
  virtual long long ExecuteCount(const std::string& statement) = 0;

  // Runs a query and returns its read-only result, positioned on the first
  // row. Reading a field of an empty result fails.
  virtual std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) = 0;

  // A new, closed recordset bound to this connection, lock type optimistic.
  virtual std::unique_ptr<TargetRecordset> NewRecordset() = 0;

  // Host-side transaction control, for an all-or-nothing run. The component
  // itself never calls these.
  virtual void BeginTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  // True while the transaction begun by BeginTransaction is active. An
  // engine may end it by itself: SQLite rolls the whole transaction back on
  // a full disk, some I/O errors or a trigger's RAISE(ROLLBACK).
  virtual bool InTransaction() = 0;
};

}  // namespace velaccap
