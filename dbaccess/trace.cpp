#include "velaccap/trace.h"

#include "velaccap/layers.h"

namespace velaccap {

std::string TraceEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

void Line(std::ostream& out, char tag, std::string_view a) {
  out << tag << '\t' << TraceEscape(a) << '\n';
}

class TracedSource : public SourceDatabaseLayer {
 public:
  TracedSource(SourceDatabase& inner, std::ostream& out) : SourceDatabaseLayer(inner), out_(out) {}
  std::unique_ptr<SourceRecordset> OpenRecordset(const std::string& query) override {
    Line(out_, 'S', query);
    return SourceDatabaseLayer::OpenRecordset(query);
  }

 private:
  std::ostream& out_;
};

class TracedRecordset : public TargetRecordsetLayer {
 public:
  TracedRecordset(std::unique_ptr<TargetRecordset> inner, std::ostream& out)
      : TargetRecordsetLayer(std::move(inner)), out_(out) {}
  void OpenTable() override {
    out_ << "T\t" << TraceEscape(source()) << '\t' << static_cast<int>(lock_type()) << '\n';
    added_ = 0;
    TargetRecordsetLayer::OpenTable();
  }
  void OpenQuery(const std::string& query) override {
    Line(out_, 'Q', query);
    TargetRecordsetLayer::OpenQuery(query);
  }
  void AddNew() override {
    TargetRecordsetLayer::AddNew();
    ++added_;
  }
  void UpdateBatch() override {
    out_ << "B\t" << added_ << '\n';
    TargetRecordsetLayer::UpdateBatch();
  }

 private:
  std::ostream& out_;
  long long added_ = 0;
};

class TracedTarget : public TargetConnectionLayer {
 public:
  TracedTarget(TargetConnection& inner, std::ostream& out) : TargetConnectionLayer(inner), out_(out) {}
  void Execute(const std::string& statement) override {
    Line(out_, 'X', statement);
    TargetConnectionLayer::Execute(statement);
  }
  long long ExecuteCount(const std::string& statement) override {
    Line(out_, 'X', statement);
    return TargetConnectionLayer::ExecuteCount(statement);
  }
  std::unique_ptr<TargetRecordset> ExecuteQuery(const std::string& query) override {
    Line(out_, 'X', query);
    return TargetConnectionLayer::ExecuteQuery(query);
  }

 protected:
  std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) override {
    return std::make_unique<TracedRecordset>(std::move(rs), out_);
  }

 private:
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<SourceDatabase> TraceSource(SourceDatabase& inner, std::ostream& out) {
  return std::make_unique<TracedSource>(inner, out);
}

std::unique_ptr<TargetConnection> TraceTarget(TargetConnection& inner, std::ostream& out) {
  return std::make_unique<TracedTarget>(inner, out);
}

}  // namespace velaccap
