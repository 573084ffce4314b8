#include "batch/command.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch/runner.h"

namespace velaccap::batch {

std::function<std::optional<int>()> AddCommands(CLI::App& app) {
  auto options = std::make_shared<Options>();
  CLI::App* b = app.add_subcommand(
      "batch", "Migrate every account set of MANIFEST, each in a process of its own, N at a time, resumably");
  b->add_option("MANIFEST", options->manifest,
                "CSV file with the header name,source,target (or a .json file), one account set a row")
      ->required()
      ->type_name("");
  b->add_option("--jobs,-j", options->jobs, "Sets migrated at a time (default: the number of cores)")
      ->option_text("N")
      ->check(CLI::Range(1, 4096));
  b->add_option("--timeout", options->timeout_seconds,
                "Stop a set's migration (rolled back) that runs longer than this; 0: no limit")
      ->type_name("SECONDS")
      ->capture_default_str()
      ->check(CLI::Range(0, 30 * 86400).description(""));
  b->add_option("--state", options->state,
                "The file recording the sets done (default: beside MANIFEST, MANIFEST.state, per shard "
                "MANIFEST.shard-K-of-N.state)")
      ->option_text("FILE");
  b->add_flag("--redo", options->redo, "Migrate again the sets an earlier run did");
  b->add_option("--shard", options->shard, "Take every N-th set of the manifest, starting at the K-th")
      ->option_text("K/N");
  b->add_option("--summary", options->summary, "Write every set's outcome (with --check: its findings) to FILE as JSON")->option_text("FILE");
  b->add_option("--report", options->report, "Write a self-contained HTML page of every set's outcome (with --check: its findings)")
      ->option_text("FILE.html");
  b->add_flag("--check", options->check,
              "Migrate nothing: run check on every set and list every problem of the installation");
  b->add_flag("-q,--quiet", options->quiet, "No progress and no closing table; errors only");
  b->add_flag("-v,--verbose", options->verbose,
              "Write a line stamped in UTC to stderr for each set started and ended, for logs of batches no one "
              "watches");
  b->add_option("--log", options->log_path, "Append the lines of --verbose to FILE instead")->option_text("FILE");
  b->add_option("--wait", options->wait_seconds,
                "Wait this long for another program's lock on a database file before refusing it")
      ->type_name("SECONDS")
      ->capture_default_str()
      ->check(CLI::Range(0, 86400).description(""));

  b->footer(
      "Examples:\n"
      "  apupgrade batch installation.csv --check\n"
      "  apupgrade batch installation.csv --jobs 4 --report batch.html\n"
      "  apupgrade batch installation.csv --shard 2/8 --summary shard-2.json\n"
      "  apupgrade batch installation.csv -q --log batch.log\n"
      "\n"
      "Exit codes:\n"
      "  0    every set succeeded or was done before (--check: every set would run to its end)\n"
      "  1    a set failed, timed out or crashed, the others are done; or the state could not be written "
      "(--check: a set would stop)\n"
      "  2    the manifest or a set cannot be used (every problem listed), the state is held by another "
      "batch, or an output file would overwrite a database; nothing was migrated\n"
      "  130  interrupted by SIGINT (143: SIGTERM); running sets rolled back, the rest not started\n"
      "\n"
      "Environment:\n"
      "  APUPGRADE_ODBC_PASSWORD  the password of the odbc: targets whose connection strings have no PWD\n"
      "  TERM                     unset or dumb: the progress line is drawn without escape sequences\n"
      "  TMPDIR                   where --check keeps its scratch files (default /tmp)\n");

  auto summaries = std::make_shared<std::vector<std::string>>();
  auto merged_summary = std::make_shared<std::string>();
  auto merged_report = std::make_shared<std::string>();
  CLI::App* r = app.add_subcommand("batch-report", "Report the summaries of several batches (shards) as one");
  r->add_option("SUMMARY", *summaries, "JSON summaries written by batch --summary")->required()->type_name("");
  r->add_option("--summary", *merged_summary, "Write the merged summary to FILE as JSON")->option_text("FILE");
  r->add_option("--report", *merged_report, "Write the merged report as an HTML page")->option_text("FILE.html");
  r->footer(
      "Example:\n"
      "  apupgrade batch-report shard-1.json shard-2.json --report installation.html\n"
      "\n"
      "Exit codes:\n"
      "  0  every set succeeded or was done before\n"
      "  1  a set failed, timed out or crashed\n"
      "  2  a summary cannot be read, or is given twice; an output file is one of them\n");

  return [=]() -> std::optional<int> {
    if (b->parsed()) return Run(*options, std::cout, std::cerr);
    if (r->parsed()) return Merge(*summaries, *merged_summary, *merged_report, std::cout, std::cerr);
    return std::nullopt;
  };
}

}  // namespace velaccap::batch
