// What the tool watches around a run, as layers over the data-access
// interfaces: an interrupt (SIGINT, SIGTERM) stops the run at its next
// database operation, so that the tool can roll back and close the target
// cleanly; and the first failure is traced to the database it came from, so
// that the message can name the file.
#pragma once

#include <atomic>
#include <memory>

#include "velaccap/dbaccess.h"

namespace velaccap::run {

// SIGINT and SIGTERM are noted instead of ending the process, for the
// object's lifetime. A second signal of either kind ends it at once.
class SignalWatch {
 public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // The first signal noted, or 0.
  static int Received();
};

class RunGuard {
 public:
  enum class Side { kNone, kSource, kTarget };

  RunGuard() = default;
  // Also stops the run once `*cancel` is set (by a host, from any thread).
  explicit RunGuard(const std::atomic<bool>* cancel) : cancel_(cancel) {}

  // Layers over the two databases; the guard must outlive them.
  std::unique_ptr<SourceDatabase> WrapSource(SourceDatabase& inner);
  std::unique_ptr<TargetConnection> WrapTarget(TargetConnection& inner);

  // Where the first failure of a database operation came from; kNone when
  // the run stopped on an error of its own (a value it cannot convert) or
  // on an interrupt.
  Side failed_side() const { return failed_; }

  // Called by the layers: throws when the run is to stop.
  void Check() const;
  void Failed(Side side) {
    if (failed_ == Side::kNone) failed_ = side;
  }

 private:
  Side failed_ = Side::kNone;
  const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace velaccap::run
