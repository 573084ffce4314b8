// What every target backend's recordset shares: its state (closed, a table
// open for adding rows, or a read-only result), the settings that may change
// only while it is closed, and the provider's words for a call made in the
// wrong state, so that every backend fails alike.
#ifndef VELACCAP_DBACCESS_RECORDSET_BASE_H_
#define VELACCAP_DBACCESS_RECORDSET_BASE_H_

#include <string>

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

  Mode mode_ = Mode::Closed;
  LockType lock_ = LockType::Optimistic;
  std::string source_;
};

}  // namespace velaccap::recordset_internal

#endif  // VELACCAP_DBACCESS_RECORDSET_BASE_H_
