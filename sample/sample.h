// A synthetic 8.12 account set for demonstrations, tests and benchmarks.
// Besides bulk data it always holds the cases the upgrade treats specially:
// continuation invoices of every code shape, invoices of other modules,
// negative quantities, ledger references to continuation invoices, Null and
// empty references, cancellation-number groups with Nulls, options of every
// subsystem.
#pragma once

#include <cstdint>
#include <string>

namespace velaccap::sample {

struct SampleOptions {
  long long lines = 1000;  // invoice lines wanted, sales and purchases together
  std::uint64_t seed = 1;  // the same seed gives the same rows
};

struct SampleCounts {
  long long sales_lines = 0;
  long long purchase_lines = 0;
  long long continuation_lines = 0;  // of both kinds, included above
  long long detail_rows = 0;         // Ap_Detail
};

// Writes the account set to the new SQLite file `path`. Refuses an existing
// file (InputError). The handful of fixed cases comes on top of `lines`.
SampleCounts WriteSample(const std::string& path, const SampleOptions& options);

}  // namespace velaccap::sample
