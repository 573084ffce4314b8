// What every target backend's recordset shares: its state (closed, a table
// open for adding rows, or a read-only result), the settings that may change
// only while it is closed, and the provider's words for a call made in the
// wrong state, so that every backend fails alike.
#ifndef VELACCAP_DBACCESS_RECORDSET_BASE_H_
#define VELACCAP_DBACCESS_RECORDSET_BASE_H_

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
    return static_cast<int>(names_.size());
  }
  const std::string& field_name(int index) const override {
    RequireOpen();
    RequireIndex(index, names_.size());
    return names_[static_cast<std::size_t>(index)];
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
  void SetNames(std::vector<std::string> names) {
    names_ = std::move(names);
    // A result may name two columns alike; lookups must find the first one,
    // so only first occurrences may be taken by the guess in Find().
    const std::size_t n = names_.size();
    first_.assign(n, true);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < i && first_[i]; ++j)
        if (EqualNoCase(names_[i], names_[j])) first_[i] = false;
    guess_ = 0;
  }
  void ClearNames() { SetNames({}); }

  // The index of the first column called `name` in any letter case, or -1.
  // Columns are mostly named in the same order row after row, so the column
  // after the last one found is tried first.
  int Find(std::string_view name) const {
    const int n = static_cast<int>(names_.size());
    if (guess_ < n && first_[guess_] && EqualNoCase(names_[guess_], name)) return guess_++;
    for (int i = 0; i < n; ++i) {
      if (EqualNoCase(names_[i], name)) {
        guess_ = i + 1;
        return i;
      }
    }
    return -1;
  }

  const std::vector<std::string>& names() const { return names_; }

  Mode mode_ = Mode::Closed;
  LockType lock_ = LockType::Optimistic;
  std::string source_;

 private:
  std::vector<std::string> names_;
  std::vector<bool> first_;  // column is the first of its name
  mutable int guess_ = 0;
};

}  // namespace velaccap::recordset_internal

#endif  // VELACCAP_DBACCESS_RECORDSET_BASE_H_
