// What a source row must be for the run to take it, where no engine would
// refuse it: an amount that is a number (not infinity), a text that goes into
// a statement without a NUL byte (which ends the statement early), an invoice
// header with an id to tie its lines to. The check's rules and the run's
// layer ask the same questions, so both name the same row with the same words.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "velaccap/layers.h"

namespace velaccap::check {

struct RowRule;

// The rules for the rows of one of the run's source queries; null when its
// rows have none.
const RowRule* RuleFor(std::string_view query);

// The rules put to the rows of one open recordset; column indexes are found
// on the first row.
class RowCheck {
 public:
  RowCheck(const RowRule& rule, const SourceRecordset& rs) : rule_(rule), rs_(rs) {}
  // The first thing wrong with the current row ("iQuantity holds inf, which
  // is not an amount"), or empty; `code` gets its problem code.
  std::string Fault(const char** code = nullptr) const;
  // The row as the check names it ("AutoID 4 of invoice 'A7 2'").
  std::string Key() const;
  const char* table() const;

 private:
  std::string FaultOf(const char** code) const;
  int Index(int& cached, std::string_view name) const;
  std::string Amounts() const;
  const RowRule& rule_;
  const SourceRecordset& rs_;
  mutable int indexes_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  mutable std::vector<std::pair<int, std::string_view>> amounts_;  // index, name as the rules spell it
  mutable bool amounts_found_ = false;
};

// A layer over the run's source that stops the run on a row the rules
// refuse, naming it, before the run sends anything built from it; and notes
// the value read last, to name the row and column of a value the run itself
// cannot convert.
class RowRules : public SourceDatabaseLayer {
 public:
  explicit RowRules(SourceDatabase& inner) : SourceDatabaseLayer(inner) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override;

  // A conversion error of the run's own ("Type mismatch", "Overflow",
  // "Invalid use of Null"), which names no value, with the source row the
  // run was on when it released its recordset early, and the column when
  // the value read last fails that way: "Ap_Detail Auto_ID 1: iBVID 'abc'
  // cannot be converted (Type mismatch)". Any other text, or a failure
  // with no row known, as it is.
  std::string Named(const std::string& failure) const;

  // Called by the recordsets: where the run was.
  void Left(std::string row, std::string column, Value value) {
    row_ = std::move(row);
    column_ = std::move(column);
    value_ = std::move(value);
  }

 private:
  std::string row_, column_;
  Value value_;
};

}  // namespace velaccap::check
