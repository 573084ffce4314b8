// apupgrade new-target and apupgrade sample: the two commands that make files.
#include <ostream>

#include "cli/commands.h"
#include "cli/print.h"
#include "progress/messages.h"
#include "run/account_set.h"
#include "sample/sample.h"
#include "velaccap/open.h"

namespace velaccap::cli {

int NewTarget(const std::string& path, std::ostream& out, std::ostream& err) {
  if (!IsFileTarget(path)) {
    // A file named so would only confuse: the database is the server's.
    err << "apupgrade: new-target makes SQLite files; create a SQL Server 8.20 database with the script "
           "share/velaccap/target_820_mssql.sql (for example: sqlcmd -S HOST -d ledger820 -i "
           "target_820_mssql.sql)\n";
    return 2;
  }
  try {
    run::CreateTarget(path);
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }
  out << path << ": empty 8.20 account set created\n";
  return 0;
}

int Sample(const std::string& path, long long lines, std::uint64_t seed, std::ostream& out,
           std::ostream& err) {
  sample::SampleCounts counts;
  try {
    counts = sample::WriteSample(path, sample::SampleOptions{lines, seed});
  } catch (const std::exception& e) {
    progress::SayError(err, e.what());
    return 2;
  }
  out << path << ": 8.12 account set with " << counts.sales_lines << " sales and "
      << Plural(counts.purchase_lines, "purchase invoice line", "purchase invoice lines") << " ("
      << counts.continuation_lines << " on continuation invoices), "
      << Plural(counts.detail_rows, "ledger line", "ledger lines") << '\n';
  return 0;
}

}  // namespace velaccap::cli
