#include "cli/commands.h"

#include <chrono>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/account_set.h"
#include "cli/sample.h"
#include "cli/summary.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/open.h"
#include "velaccap/trace.h"

namespace velaccap::cli {

int Migrate(const MigrateOptions& options, std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<SourceDatabase> source;
  std::unique_ptr<TargetConnection> target;
  std::ofstream trace;
  try {
    source = OpenSource(options.source);
    CheckSource(*source, options.source);
    target = OpenTarget(options.target);
    CheckTarget(*target, options.target);
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    return 2;
  }
  if (!options.trace.empty()) {
    trace.open(options.trace, std::ios::binary | std::ios::trunc);
    if (!trace) {
      err << "apupgrade: " << options.trace << ": cannot write the trace\n";
      return 2;
    }
  }

  // Layers, innermost first: trace (so it records exactly what reaches the
  // databases), then counting for the summary.
  SourceDatabase* src = source.get();
  TargetConnection* tgt = target.get();
  std::unique_ptr<SourceDatabase> traced_source;
  std::unique_ptr<TargetConnection> traced_target;
  if (trace.is_open()) {
    traced_source = TraceSource(*src, trace);
    traced_target = TraceTarget(*tgt, trace);
    src = traced_source.get();
    tgt = traced_target.get();
  }
  CountingTarget counting(*tgt);

  clsAPA812 component;
  bool ok = false;
  try {
    // One transaction either way: row by row in autocommit, an engine that
    // syncs every commit (SQLite) would take minutes per hundred thousand
    // rows. Without atomicity a failed run's work is committed, not undone.
    target->BeginTransaction();
    ok = component.UpdateA812ToS820(*src, counting);
    if (ok || !options.atomic)
      target->Commit();
    else
      target->Rollback();
  } catch (const std::exception& e) {
    // Only the host's own transaction control gets here: the run never throws.
    trace.flush();
    err << "apupgrade: " << DisplayName(options.target) << ": " << e.what() << '\n';
    return 1;
  }
  trace.flush();
  if (!ok) {
    err << "apupgrade: migration failed: " << component.ErrDescription() << '\n';
    return 1;
  }
  if (!options.quiet) PrintSummary(out, counting.counts(), std::chrono::steady_clock::now() - start);
  return 0;
}

int NewTarget(const std::string& path, std::ostream& out, std::ostream& err) {
  try {
    CreateTarget(path);
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    return 2;
  }
  out << path << ": empty 8.20 account set created\n";
  return 0;
}

int Sample(const std::string& path, long long lines, std::uint64_t seed, std::ostream& out,
           std::ostream& err) {
  SampleCounts counts;
  try {
    counts = WriteSample(path, SampleOptions{lines, seed});
  } catch (const std::exception& e) {
    err << "apupgrade: " << e.what() << '\n';
    return 2;
  }
  out << path << ": 8.12 account set with " << counts.sales_lines << " sales and "
      << counts.purchase_lines << " purchase invoice lines (" << counts.continuation_lines
      << " on continuation invoices), " << counts.detail_rows << " ledger lines\n";
  return 0;
}

int Main(int argc, char** argv) {
  CLI::App app{"apupgrade: upgrades the receivables and payables ledger of an account set "
               "from release 8.12 to release 8.20"};
  app.require_subcommand(1);

  MigrateOptions migrate;
  bool no_atomic = false;
  CLI::App* m = app.add_subcommand("migrate", "Migrate the ledger of SOURCE (8.12) into TARGET (8.20)");
  m->add_option("SOURCE", migrate.source, "8.12 account set: a SQLite file, or an Access .mdb/.accdb file")
      ->required();
  m->add_option("TARGET", migrate.target,
                "8.20 account set: an existing SQLite file, or odbc:<connection string>")
      ->required();
  m->add_flag("--no-atomic", no_atomic,
              "No enclosing transaction: a failed run leaves the target as far as it got");
  m->add_option("--trace", migrate.trace, "Write every database operation of the run to FILE");
  m->add_flag("--quiet", migrate.quiet, "No closing summary");

  std::string new_target;
  CLI::App* n = app.add_subcommand("new-target", "Create an empty 8.20 SQLite account set");
  n->add_option("FILE", new_target, "File to create; must not exist")->required();

  std::string sample;
  long long lines = 1000;
  std::uint64_t seed = 1;
  CLI::App* s = app.add_subcommand("sample", "Write a synthetic 8.12 SQLite account set");
  s->add_option("FILE", sample, "File to create; must not exist")->required();
  s->add_option("--lines", lines, "About this many invoice lines")
      ->capture_default_str()
      ->check(CLI::Range(0LL, 1000000000LL));
  s->add_option("--seed", seed, "Seed; the same seed gives the same account set")->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version exit 0 through here; every real parse error is usage.
    int code = app.exit(e, std::cout, std::cerr);
    return code == 0 ? 0 : 2;
  }

  if (m->parsed()) {
    migrate.atomic = !no_atomic;
    return Migrate(migrate, std::cout, std::cerr);
  }
  if (n->parsed()) return NewTarget(new_target, std::cout, std::cerr);
  return Sample(sample, lines, seed, std::cout, std::cerr);
}

}  // namespace velaccap::cli
