// Fault injection: a layer that fails the Nth database operation of a run
// with a description of its choosing, and counts the recordsets alive on
// both sides, to prove that every failure point ends the run cleanly.
#pragma once

#include <memory>
#include <string>

#include "velaccap/dbaccess.h"

namespace velaccap {

class FaultInjector {
 public:
  // fail_at = 0 never fails: the injector only counts.
  explicit FaultInjector(long long fail_at = 0, std::string description = "injected failure")
      : fail_at_(fail_at), description_(std::move(description)) {}

  // Layers over the two databases; both count into this injector, which must
  // outlive them. Operations counted: opening a source query, moving to the
  // next source row; executing a statement, opening a table or a query,
  // adding a row, setting a column, saving a batch on the target.
  std::unique_ptr<SourceDatabase> WrapSource(SourceDatabase& inner);
  std::unique_ptr<TargetConnection> WrapTarget(TargetConnection& inner);

  // Operations counted so far, the failing one included.
  long long operations() const { return operations_; }

  // Recordsets of either side handed out and not yet destroyed.
  int open_recordsets() const { return open_recordsets_; }

  // Counts one operation, failing it when it is the chosen one.
  void Tick();

  // Kept by the recordset layers.
  void RecordsetOpened() { ++open_recordsets_; }
  void RecordsetReleased() { --open_recordsets_; }

 private:
  long long fail_at_;
  std::string description_;
  long long operations_ = 0;
  int open_recordsets_ = 0;
};

}  // namespace velaccap
