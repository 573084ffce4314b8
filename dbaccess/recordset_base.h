// What every target backend's recordset shares: its state (closed, a table
// open for adding rows, or a read-only result), the settings that may change
// only while it is closed, and the provider's words for a call made in the
// wrong state, so that every backend fails alike.
#ifndef VELACCAP_DBACCESS_RECORDSET_BASE_H_
#define VELACCAP_DBACCESS_RECORDSET_BASE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/ascii.h"

#include "velaccap/dbaccess.h"

namespace velaccap::recordset_internal {

inline constexpr char kNoCurrentRecord[] =
    "Either BOF or EOF is True, or the current record has been deleted. "
    "Requested operation requires a current record.";
inline constexpr char kClosed[] = "Operation is not allowed when the object is closed.";
inline constexpr char kOpen[] = "Operation is not allowed when the object is open.";
inline constexpr char kNotUpdatable[] = "Current Recordset does not support updating.";
inline constexpr char kNoItem[] = "Item cannot be found in the collection corresponding to the requested name or ordinal: ";

// The column names of a table or result, with which of them is the first of
// its name. Immutable, so that a backend may keep one per statement and hand
// it to every recordset that opens the statement again.
struct ColumnNames {
  explicit ColumnNames(std::vector<std::string> names_in) : names(std::move(names_in)) {
    // A result may name two columns alike; lookups must find the first one,
    // so only first occurrences may be taken by the guess in Find().
    const std::size_t n = names.size();
    first.assign(n, true);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < i && first[i]; ++j)
        if (EqualNoCase(names[i], names[j])) first[i] = false;
  }
  std::vector<std::string> names;
  std::vector<bool> first;  // column is the first of its name
};

class RecordsetBase : public TargetRecordset {
 public:
  void set_lock_type(LockType lock) override {
    RequireClosed();
    lock_ = lock;
  }
  LockType lock_type() const override { return lock_; }

  void set_source(const std::string& table) override {
    RequireClosed();
    source_ = table;
  }
  const std::string& source() const override { return source_; }

  bool is_open() const override { return mode_ != Mode::Closed; }

  int field_count() const override {
    RequireOpen();
    return static_cast<int>(names_->names.size());
  }
  const std::string& field_name(int index) const override {
    RequireOpen();
    RequireIndex(index, names_->names.size());
    return names_->names[static_cast<std::size_t>(index)];
  }
  int field_index(std::string_view name) const override {
    RequireOpen();
    const int i = Find(name);
    if (i < 0) throw Error(kNoItem + std::string(name));
    return i;
  }

 protected:
  enum class Mode { Closed, Table, Result };

  // Opening, and the settings, need a closed recordset.
  void RequireClosed() const {
    if (mode_ != Mode::Closed) throw Error(kOpen);
  }
  void RequireOpen() const {
    if (mode_ == Mode::Closed) throw Error(kClosed);
  }
  // Adding rows needs a table; a result is read-only.
  void RequireTable() const {
    RequireOpen();
    if (mode_ != Mode::Table) throw Error(kNotUpdatable);
  }
  // `index` must name one of `count` columns.
  static void RequireIndex(int index, std::size_t count) {
    if (index < 0 || static_cast<std::size_t>(index) >= count) throw Error(kNoItem + std::to_string(index));
  }

  // Takes the column names of the table or result just opened.
  void SetNames(std::vector<std::string> names) { SetNames(std::make_shared<const ColumnNames>(std::move(names))); }
  void SetNames(std::shared_ptr<const ColumnNames> names) {
    names_ = std::move(names);
    next_.assign(names_->names.size(), -1);
    last_ = -1;
  }
  void ClearNames() { SetNames(NoNames()); }

  // The index of the first column called `name` in any letter case, or -1.
  // Columns are named in the same order row after row (a field map's order,
  // not the table's), so the column that followed the last one found the
  // time before is tried first: one comparison per value, not a search.
  int Find(std::string_view name) const {
    const std::vector<std::string>& names = names_->names;
    const int n = static_cast<int>(names.size());
    int guess = last_ < 0 ? 0 : next_[last_];
    if (guess < 0) guess = last_ + 1;
    // Names mostly come spelled as the table spells them: the plain
    // comparison settles most guesses before the one ignoring case.
    if (guess < n && names_->first[guess] && (names[guess] == name || EqualNoCase(names[guess], name)))
      return Found(guess);
    for (int i = 0; i < n; ++i)
      if (EqualNoCase(names[i], name)) return Found(i);
    return -1;
  }

  const std::vector<std::string>& names() const { return names_->names; }

  Mode mode_ = Mode::Closed;
  LockType lock_ = LockType::Optimistic;
  std::string source_;

 private:
  static const std::shared_ptr<const ColumnNames>& NoNames() {
    static const auto none = std::make_shared<const ColumnNames>(std::vector<std::string>{});
    return none;
  }

  int Found(int i) const {
    if (last_ >= 0) next_[last_] = i;
    last_ = i;
    return i;
  }

  std::shared_ptr<const ColumnNames> names_ = NoNames();
  // next_[i]: the column found right after column i the last time, or -1.
  mutable std::vector<int> next_;
  mutable int last_ = -1;
};

}  // namespace velaccap::recordset_internal

#endif  // VELACCAP_DBACCESS_RECORDSET_BASE_H_
