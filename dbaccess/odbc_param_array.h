// The rows an ODBC table recordset saves, sent to the driver as arrays of
// parameters: one execute, and with a server one round trip, for up to a
// batch of rows. When they go and what a failing array keeps is the held
// rows' rule (held_rows.h); this is how an array is bound and sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/held_rows.h"
#include "dbaccess/odbc_link.h"

namespace velaccap::odbc_internal {

// A column of a table, as the catalog describes it: the type a Null or a
// date binds as.
struct TableColumn {
  std::string name;
  SQLSMALLINT type = SQL_VARCHAR;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

// A prepared insert of one set of columns into the open table, shared by the
// recordset that prepared it and the batch holding rows for it.
struct Insert {
  explicit Insert(const Link& link) : stmt(link) {}
  Statement stmt;
  std::vector<int> columns;  // positions in the table's columns, in the insert's order
};

// Every row of a batch uses the same insert, and each parameter binds as one
// kind of value in all of them (Null aside), because an array has one C and
// one SQL type per parameter; a row that does not fit sends the rows before
// it first, so rows reach the table in the order they were saved, each bound
// as a row of its own would be.
class RowBatch : public HeldBatch {
 public:
  RowBatch(Link& link, std::string table, std::vector<TableColumn> columns);

  // Takes `row` (a value for each column of the table) for `insert`. A value
  // that cannot be bound fails here, before the row joins the batch.
  void Add(const std::shared_ptr<Insert>& insert, const std::vector<Value>& row);

 private:
  // How a parameter binds: a Null binds as any kind, and typed as the column
  // when the whole batch holds Null there. Text beyond 4000 characters is a
  // kind of its own, as SQL Server wants the long type (nvarchar(max)) for it;
  // so are bytes beyond 8000 (varbinary(max)).
  enum class Kind : unsigned char { Null, Integer, Real, YesNo, Text, LongText, DateText, Stamp, Bytes, LongBytes };

  // One parameter's values, column-wise, one element per row of the batch.
  struct Param {
    Kind kind = Kind::Null;
    std::vector<SQLLEN> ind;
    std::vector<std::int64_t> integers;
    std::vector<double> reals;
    std::vector<unsigned char> bits;
    std::vector<SQL_TIMESTAMP_STRUCT> stamps;
    std::vector<WideText> texts;
    std::vector<std::string> dates;
    std::vector<std::string> blobs;
    std::size_t longest = 0;  // the longest text or date held, in characters; bytes in bytes
    // Text and dates laid out at one stride, as an array binds them.
    std::vector<SQLWCHAR> wide_block;
    std::vector<char> narrow_block;
  };

  // The held rows' rule asks for these (HeldBatch).
  bool WriteBatch() override;
  void WriteOne(std::size_t row) override;
  void Forget() noexcept override;

  Kind KindOf(const Value& v) const;
  const TableColumn& Column(std::size_t k) const;
  // The array of one kind of value, sized for a whole batch on first use.
  template <class T>
  std::vector<T>& Room(std::vector<T>& values) {
    if (values.size() < capacity()) values.resize(capacity());
    return values;
  }
  void SetAttr(SQLHSTMT h, SQLINTEGER attribute, SQLULEN value);
  // Binds parameter `k` as the array of the `n` held rows from `first` on.
  void Bind(SQLHSTMT h, std::size_t k, std::size_t first, std::size_t n);

  Link& link_;
  const std::vector<TableColumn> columns_;
  std::shared_ptr<Insert> insert_;  // the insert of the rows held
  std::vector<Param> params_;
  std::vector<Kind> kinds_;  // of the row being added
  std::vector<WideText> scratch_wide_;
  std::vector<std::string> scratch_narrow_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN processed_ = 0;
};

}  // namespace velaccap::odbc_internal
