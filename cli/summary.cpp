#include "cli/summary.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/output_file.h"
#include "dbaccess/ascii.h"

namespace velaccap::cli {

namespace {

TableCount& Entry(std::vector<TableCount>& counts, std::string_view table) {
  // Table names match without regard to case, as the targets match them.
  for (TableCount& c : counts)
    if (EqualNoCase(c.table, table)) return c;
  counts.push_back(TableCount{std::string(table)});
  return counts.back();
}

// The word after a leading keyword ("Update", "Insert Into"), or empty when
// the statement does not begin with it.
std::string_view TableAfter(std::string_view statement, std::string_view keyword) {
  if (statement.size() <= keyword.size() || !EqualNoCase(statement.substr(0, keyword.size()), keyword) ||
      statement[keyword.size()] != ' ')
    return {};
  std::string_view rest = statement.substr(keyword.size());
  size_t begin = rest.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  rest = rest.substr(begin);
  return rest.substr(0, rest.find_first_of(" (\t\n"));
}

bool IsUpdate(std::string_view statement) { return !TableAfter(statement, "Update").empty(); }

class CountingRecordset : public TargetRecordsetLayer {
 public:
  CountingRecordset(std::unique_ptr<TargetRecordset> inner, std::shared_ptr<std::vector<TableCount>> counts)
      : TargetRecordsetLayer(std::move(inner)), counts_(std::move(counts)) {}
  void OpenTable() override {
    TargetRecordsetLayer::OpenTable();
    // Entry() may grow the vector: take data() only after it returns.
    TableCount& entry = Entry(*counts_, source());
    table_ = &entry - counts_->data();
  }
  void OpenQuery(const std::string& query) override {
    table_ = -1;
    TargetRecordsetLayer::OpenQuery(query);
  }
  void AddNew() override {
    TargetRecordsetLayer::AddNew();
    if (table_ >= 0) ++(*counts_)[table_].added;
  }
  void Close() override {
    table_ = -1;
    TargetRecordsetLayer::Close();
  }

 private:
  std::shared_ptr<std::vector<TableCount>> counts_;
  std::ptrdiff_t table_ = -1;  // index, since the vector may grow
};

}  // namespace

CountingTarget::CountingTarget(TargetConnection& inner)
    : TargetConnectionLayer(inner), counts_(std::make_shared<std::vector<TableCount>>()) {}

CountingTarget::~CountingTarget() = default;

void CountingTarget::Execute(const std::string& statement) {
  if (IsUpdate(statement)) {
    CountStatement(statement, inner_.ExecuteCount(statement));
  } else {
    inner_.Execute(statement);
    CountStatement(statement, 1);
  }
}

long long CountingTarget::ExecuteCount(const std::string& statement) {
  long long changed = inner_.ExecuteCount(statement);
  CountStatement(statement, changed);
  return changed;
}

void CountingTarget::CountStatement(const std::string& statement, long long changed) {
  if (std::string_view t = TableAfter(statement, "Insert Into"); !t.empty()) {
    Entry(*counts_, t).added += changed;
  } else if (std::string_view u = TableAfter(statement, "Update"); !u.empty()) {
    Entry(*counts_, u).updated += changed;
  }
}

std::unique_ptr<TargetRecordset> CountingTarget::Wrap(std::unique_ptr<TargetRecordset> rs) {
  return std::make_unique<CountingRecordset>(std::move(rs), counts_);
}

void PrintSummary(std::ostream& out, const std::vector<TableCount>& counts,
                  std::chrono::steady_clock::duration elapsed) {
  long long added = 0, updated = 0;
  char line[160];
  out << "Rows written per target table:\n";
  for (const TableCount& c : counts) {
    std::snprintf(line, sizeof line, "  %-16s %10lld added", c.table.c_str(), c.added);
    out << line;
    if (c.updated > 0) out << ", " << c.updated << " updated";
    out << '\n';
    added += c.added;
    updated += c.updated;
  }
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::snprintf(line, sizeof line, "Total: %lld rows added, %lld updated in %.2f s\n", added, updated, seconds);
  out << line;
}

void WriteSummaryJson(const std::string& path, const progress::RunReport& report) {
  OutputFile file(path, "summary");
  std::ostream out(&file);
  // A failed write reaches the caller as the error OutputFile raised.
  out.exceptions(std::ios::badbit);
  out << report.ToJson().dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  out.flush();
  file.Finish();
}

}  // namespace velaccap::cli
