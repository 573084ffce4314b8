#include "run/run_guard.h"

#include <signal.h>

#include <cstring>
#include <string>

#include "velaccap/layers.h"

namespace velaccap::run {

namespace {

volatile sig_atomic_t g_signal = 0;

void Note(int sig) {
  if (g_signal == 0) g_signal = sig;
}

struct sigaction g_old_int, g_old_term;

// Runs `op` on one side's database; a failure is marked with that side
// before it goes on to the run's error path.
template <typename Op>
auto On(RunGuard& guard, RunGuard::Side side, Op&& op) -> decltype(op()) {
  guard.Check();
  try {
    return op();
  } catch (...) {
    guard.Failed(side);
    throw;
  }
}

constexpr auto kSource = RunGuard::Side::kSource;
constexpr auto kTarget = RunGuard::Side::kTarget;

class GuardedSourceRecordset : public SourceRecordsetLayer {
 public:
  GuardedSourceRecordset(std::unique_ptr<SourceRecordset> inner, RunGuard& g)
      : SourceRecordsetLayer(std::move(inner)), g_(g) {}
  int field_index(std::string_view name) const override {
    try {
      return SourceRecordsetLayer::field_index(name);
    } catch (...) {
      g_.Failed(kSource);
      throw;
    }
  }
  const Value& field_value(int index) const override {
    try {
      return SourceRecordsetLayer::field_value(index);
    } catch (...) {
      g_.Failed(kSource);
      throw;
    }
  }
  using SourceRecordset::field_value;
  void move_next() override {
    On(g_, kSource, [&] { SourceRecordsetLayer::move_next(); });
  }

 private:
  RunGuard& g_;
};

class GuardedSource : public SourceDatabaseLayer {
 public:
  GuardedSource(SourceDatabase& inner, RunGuard& g) : SourceDatabaseLayer(inner), g_(g) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    return On(g_, kSource, [&] { return SourceDatabaseLayer::OpenRecordset(query); });
  }

 protected:
  std::unique_ptr<SourceRecordset> Wrap(std::unique_ptr<SourceRecordset> rs) override {
    return std::make_unique<GuardedSourceRecordset>(std::move(rs), g_);
  }

 private:
  RunGuard& g_;
};

class GuardedTargetRecordset : public TargetRecordsetLayer {
 public:
  GuardedTargetRecordset(std::unique_ptr<TargetRecordset> inner, RunGuard& g)
      : TargetRecordsetLayer(std::move(inner)), g_(g) {}
  void OpenTable() override {
    On(g_, kTarget, [&] { TargetRecordsetLayer::OpenTable(); });
  }
  void OpenQuery(const std::string& query) override {
    On(g_, kTarget, [&] { TargetRecordsetLayer::OpenQuery(query); });
  }
  Value field_value(int index) const override {
    try {
      return TargetRecordsetLayer::field_value(index);
    } catch (...) {
      g_.Failed(kTarget);
      throw;
    }
  }
  using TargetRecordset::field_value;
  void move_next() override {
    On(g_, kTarget, [&] { TargetRecordsetLayer::move_next(); });
  }
  void AddNew() override {
    On(g_, kTarget, [&] { TargetRecordsetLayer::AddNew(); });
  }
  void set_field(std::string_view name, const Value& value) override {
    On(g_, kTarget, [&] { TargetRecordsetLayer::set_field(name, value); });
  }
  void UpdateBatch() override {
    On(g_, kTarget, [&] { TargetRecordsetLayer::UpdateBatch(); });
  }

 private:
  RunGuard& g_;
};

class GuardedTarget : public TargetConnectionLayer {
 public:
  GuardedTarget(TargetConnection& inner, RunGuard& g) : TargetConnectionLayer(inner), g_(g) {}
  void Execute(const std::string& statement) override {
    On(g_, kTarget, [&] { TargetConnectionLayer::Execute(statement); });
  }
  long long ExecuteCount(const std::string& statement) override {
    return On(g_, kTarget, [&] { return TargetConnectionLayer::ExecuteCount(statement); });
  }
  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    return On(g_, kTarget, [&] { return TargetConnectionLayer::ExecuteQuery(query); });
  }

 protected:
  std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) override {
    return std::make_unique<GuardedTargetRecordset>(std::move(rs), g_);
  }

 private:
  RunGuard& g_;
};

}  // namespace

SignalWatch::SignalWatch() {
  g_signal = 0;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = Note;
  sigemptyset(&sa.sa_mask);
  // The first signal is noted; the disposition then returns to the default,
  // so a second one ends the process at once (the engine recovers the
  // target at its next open).
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, &g_old_int);
  sigaction(SIGTERM, &sa, &g_old_term);
}

SignalWatch::~SignalWatch() {
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
}

int SignalWatch::Received() { return g_signal; }

void RunGuard::Check() const {
  if (cancel_ && cancel_->load()) throw Error("cancelled by the host");
  if (const int sig = g_signal) throw Error(std::string("interrupted by ") + (sig == SIGINT ? "SIGINT" : "SIGTERM"));
}

std::unique_ptr<SourceDatabase> RunGuard::WrapSource(SourceDatabase& inner) {
  return std::make_unique<GuardedSource>(inner, *this);
}

std::unique_ptr<TargetConnection> RunGuard::WrapTarget(TargetConnection& inner) {
  return std::make_unique<GuardedTarget>(inner, *this);
}

}  // namespace velaccap::run
