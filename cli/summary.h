// Counts what a run writes, per target table, for the tool's closing
// summary. A layer over the target connection: the component never knows.
// The run report (progress/run_report.h) counts all this and more; the file
// form of its summary is written here, with the tool's output files.
#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "progress/run_report.h"
#include "velaccap/layers.h"

namespace velaccap::cli {

struct TableCount {
  std::string table;      // spelled as first seen
  long long added = 0;    // rows added by table recordset or insert statement
  long long updated = 0;  // rows changed by update statements
};

class CountingTarget : public TargetConnectionLayer {
 public:
  explicit CountingTarget(TargetConnection& inner);
  ~CountingTarget() override;

  // Update statements go to the inner connection as counted executions, so
  // the changed rows are known; every other statement passes unchanged.
  void Execute(const std::string& statement) override;
  long long ExecuteCount(const std::string& statement) override;

  // Tables in the order the run first wrote them.
  const std::vector<TableCount>& counts() const { return *counts_; }

 protected:
  std::unique_ptr<TargetRecordset> Wrap(std::unique_ptr<TargetRecordset> rs) override;

 private:
  void CountStatement(const std::string& statement, long long changed);

  // Shared with the recordsets handed out, which may outlive a step.
  std::shared_ptr<std::vector<TableCount>> counts_;
};

// The closing summary: one line per table written, then the totals.
void PrintSummary(std::ostream& out, const std::vector<TableCount>& counts,
                  std::chrono::steady_clock::duration elapsed);

// Writes the report's JSON summary to `path`, which CheckOutputPath has
// cleared beforehand, and has it on the disk before returning. A write that
// fails throws velaccap::Error naming the file.
void WriteSummaryJson(const std::string& path, const progress::RunReport& report);

}  // namespace velaccap::cli
