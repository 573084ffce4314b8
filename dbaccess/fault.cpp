#include "velaccap/fault.h"

#include "velaccap/layers.h"

namespace velaccap {

void FaultInjector::Tick() {
  if (++operations_ == fail_at_) throw Error(description_);
}

namespace {

class FaultySourceRecordset : public SourceRecordsetLayer {
 public:
  FaultySourceRecordset(std::unique_ptr<SourceRecordset> inner, FaultInjector& f)
      : SourceRecordsetLayer(std::move(inner)), f_(f) {
    f_.RecordsetOpened();
  }
  ~FaultySourceRecordset() override { f_.RecordsetReleased(); }
  void move_next() override {
    f_.Tick();
    SourceRecordsetLayer::move_next();
  }

 private:
  FaultInjector& f_;
};

class FaultySource : public SourceDatabaseLayer {
 public:
  FaultySource(SourceDatabase& inner, FaultInjector& f) : SourceDatabaseLayer(inner), f_(f) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    f_.Tick();
    return SourceDatabaseLayer::OpenRecordset(query);
  }

 protected:
  std::unique_ptr<SourceRecordset> Wrap(std::unique_ptr<SourceRecordset> rs) override {
    return std::make_unique<FaultySourceRecordset>(std::move(rs), f_);
  }

 private:
  FaultInjector& f_;
};

class FaultyTargetRecordset : public TargetRecordsetLayer {
 public:
  FaultyTargetRecordset(std::unique_ptr<TargetRecordset> inner, FaultInjector& f)
      : TargetRecordsetLayer(std::move(inner)), f_(f) {
    f_.RecordsetOpened();
  }
  ~FaultyTargetRecordset() override { f_.RecordsetReleased(); }
  void OpenTable() override {
    f_.Tick();
    TargetRecordsetLayer::OpenTable();
  }
  void OpenQuery(const std::string& query) override {
    f_.Tick();
    TargetRecordsetLayer::OpenQuery(query);
  }
  void AddNew() override {
    f_.Tick();
    TargetRecordsetLayer::AddNew();
  }
  void set_field(std::string_view name, const Value& value) override {
    f_.Tick();
    TargetRecordsetLayer::set_field(name, value);
  }
  void UpdateBatch() override {
    f_.Tick();
    TargetRecordsetLayer::UpdateBatch();
  }

 private:
  FaultInjector& f_;
};

class FaultyTarget : public TargetConnectionLayer {
 public:
  FaultyTarget(TargetConnection& inner, FaultInjector& f) : TargetConnectionLayer(inner), f_(f) {}
  void Execute(const std::string& statement) override {
    f_.Tick();
    TargetConnectionLayer::Execute(statement);
  }
  long long ExecuteCount(const std::string& statement) override {
    f_.Tick();
    return TargetConnectionLayer::ExecuteCount(statement);
  }
  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    f_.Tick();
    return TargetConnectionLayer::ExecuteQuery(query);
  }

 protected:
  std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) override {
    return std::make_unique<FaultyTargetRecordset>(std::move(rs), f_);
  }

 private:
  FaultInjector& f_;
};

}  // namespace

std::unique_ptr<SourceDatabase> FaultInjector::WrapSource(SourceDatabase& inner) {
  return std::make_unique<FaultySource>(inner, *this);
}

std::unique_ptr<TargetConnection> FaultInjector::WrapTarget(TargetConnection& inner) {
  return std::make_unique<FaultyTarget>(inner, *this);
}

}  // namespace velaccap
