#include "cli/commands.h"

#include <charconv>
#include <functional>
#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

#include "batch/command.h"
#include "cli/help.h"
#include "cli/version.h"
#include "progress/messages.h"
#include "run/password.h"

namespace velaccap::cli {

namespace {

// A number option's text must be a whole number before its range is
// checked; and CLI11 would read -1 as 2^64-1 for an unsigned one.
CLI::Validator WholeNumber(bool negative_allowed) {
  return CLI::Validator(
      [negative_allowed](std::string& value) -> std::string {
        const std::size_t digits = value.starts_with('-') ? 1 : 0;
        if (value.size() == digits || value.find_first_not_of("0123456789", digits) != std::string::npos)
          return "Value " + value + " is not a whole number";
        if (digits && !negative_allowed) return "Value " + value + " is negative";
        // CLI11 would take a number past 64 bits as the largest one.
        std::uint64_t n = 0;
        if (std::from_chars(value.data() + digits, value.data() + value.size(), n).ec != std::errc())
          return "Value " + value + " is too large";
        return {};
      },
      "");
}

// The lock wait both database commands take.
void AddWaitOption(CLI::App* command, int* seconds) {
  command
      ->add_option("--wait", *seconds,
                   "Wait SECONDS (0 to 86400) for another program's lock on a database file before refusing it")
      ->type_name("SECONDS")
      ->capture_default_str()
      ->check(WholeNumber(true))
      ->check(CLI::Range(0, 86400).description(""));
}

}  // namespace

namespace {

constexpr const char* kTool = "apupgrade";

// What each of the two databases may be, as the help says it.
constexpr const char* kSourceHelp = "8.12 account set: a SQLite file, or an Access .mdb/.accdb file";
constexpr const char* kTargetHelp =
    "8.20 account set: an existing SQLite file, or odbc:<connection string> (its password may instead come "
    "from APUPGRADE_ODBC_PASSWORD or --password-prompt)";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0    success\n"
    "  1    the migration failed; without --no-atomic the target is as it was\n"
    "  2    bad usage, or a database or file that cannot be used; nothing was written\n"
    "  3    the target does not reconcile with the source; rolled back unless --no-atomic\n"
    "  5    migrated and committed, but the summary or the closing table could not be written\n"
    "  130  interrupted by SIGINT (143: SIGTERM); rolled back\n";

constexpr const char* kFooter =
    "Examples:\n"
    "  apupgrade sample ledger812.db --lines 10000\n"
    "  apupgrade new-target ledger820.db\n"
    "  apupgrade check ledger812.db ledger820.db\n"
    "  apupgrade migrate ledger812.db ledger820.db --summary run.json\n"
    "  apupgrade batch installation.csv --jobs 4 --report batch.html\n"
    "  APUPGRADE_ODBC_PASSWORD=... apupgrade migrate ledger812.mdb 'odbc:DSN=ledger820;UID=upgrade'\n"
    "\n"
    "Exit codes:\n"
    "  0    success (check: migrate would run to its end)\n"
    "  1    the migration failed (check: migrate would stop)\n"
    "  2    bad usage, or a database or file that cannot be used; nothing was written\n"
    "  3    the target does not reconcile with the source\n"
    "  5    migrated and committed, but the summary or the closing table could not be written\n"
    "  130  interrupted by SIGINT (143: SIGTERM); rolled back\n"
    "\n"
    "Environment:\n"
    "  APUPGRADE_ODBC_PASSWORD  the password of an odbc: target whose connection string has no PWD (the "
    "command line is visible to every user in ps)\n"
    "  TERM                     unset or dumb: the progress line is drawn without escape sequences\n"
    "\n"
    "Run 'apupgrade COMMAND --help' for the options of a command.";

// The environment of the commands that open databases.
constexpr const char* kPasswordEnvironment =
    "  APUPGRADE_ODBC_PASSWORD  the password of an odbc: TARGET whose connection string has no PWD\n";
constexpr const char* kTermEnvironment =
    "  TERM                     unset or dumb: the progress line is drawn without escape sequences\n";

// -v and --log of the commands that show their phases.
void AddLogOptions(CLI::App* command, bool* verbose, std::string* path) {
  command->add_flag("-v,--verbose", *verbose,
                    "Write each phase and step to stderr as a line stamped with the time (UTC), for runs "
                    "that are not watched on a terminal");
  command->add_option("--log", *path, "Append the lines of --verbose to FILE instead")->type_name("FILE");
}

// A command of the tool: its parser and what runs when it is given.
struct Command {
  CLI::App* parser;
  std::function<int()> run;
};

// A parse error as one line naming the command, then where help is.
int UsageError(const std::string& command, const std::string& message) {
  const std::string who = command.empty() ? "" : command + ": ";
  std::cerr << kTool << ": " << who << message << '\n'
            << kTool << ": see '" << kTool << (command.empty() ? "" : " " + command) << " --help'\n";
  return 2;
}

// A required argument; its name says what it takes (CLI11 would add TEXT).
CLI::Option* Positional(CLI::App* app, const char* name, std::string& into, const char* help) {
  return app->add_option(name, into, help)->required()->type_name("");
}

// The password of an odbc: target (from the environment or the terminal)
// into *out; false, with the reason printed, when it cannot be had.
bool TakePassword(const std::string& target, bool prompt, std::string* out) {
  try {
    *out = run::OdbcPassword(target, prompt);
    return true;
  } catch (const std::exception& e) {
    progress::SayError(std::cerr, e.what());
    return false;
  }
}

// Where a quiet command's report goes.
std::ostream& NullOut() {
  static std::ostream null(nullptr);
  return null;
}

void AddPasswordPrompt(CLI::App* command, bool* prompt) {
  command->add_flag("--password-prompt", *prompt,
                    "Ask on the terminal (without echo) for the password of an odbc: TARGET whose connection "
                    "string has no PWD");
}

}  // namespace

int Main(int argc, char** argv) {
  CLI::App app{"apupgrade: upgrades the receivables and payables ledger of an account set "
               "from release 8.12 to release 8.20",
               kTool};
  app.set_version_flag("-V,--version", [] { return VersionText(); }, "Print the version of the tool and of "
                       "SQLite, unixODBC and libmdb, and exit");
  app.footer(kFooter);
  // Set before the commands are added: they take it.
  app.formatter(WrappingFormatter());
  app.get_formatter()->label("REQUIRED", "");
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  std::vector<Command> commands;
  // A command registers its parser and what it runs; Main finds the one given.
  auto add = [&](const char* name, const char* description, std::function<int()> run) {
    CLI::App* parser = app.add_subcommand(name, description)->group("Commands");
    commands.push_back({parser, std::move(run)});
    return parser;
  };

  MigrateOptions migrate;
  bool no_atomic = false, no_verify = false, migrate_prompt = false;
  CLI::App* m = add("migrate", "Migrate the ledger of SOURCE (8.12) into TARGET (8.20)", [&] {
    migrate.atomic = !no_atomic;
    migrate.verify = !no_verify;
    if (!TakePassword(migrate.target, migrate_prompt, &migrate.odbc_password)) return 2;
    return Migrate(migrate, std::cout, std::cerr);
  });
  Positional(m, "SOURCE", migrate.source, kSourceHelp);
  Positional(m, "TARGET", migrate.target, kTargetHelp);
  m->add_flag("--no-atomic", no_atomic,
              "Keep the work done before a failure (the steps before the failing one, that one in part) instead "
              "of rolling the run back; the run is still committed in one go at its end, so an error on which "
              "the engine rolls back by itself, a failed commit and an interrupt keep nothing");
  m->add_option("--trace", migrate.trace, "Write every database operation of the run to FILE")->type_name("FILE");
  m->add_flag("-q,--quiet", migrate.quiet, "No progress line and no closing table; errors only");
  m->add_flag("--no-verify", no_verify,
              "Do not reconcile the target with the source before committing the run");
  m->add_option("--summary", migrate.summary,
                "Write the run's counts, reconciliation and outcome to FILE as JSON, also for a refused run; "
                "'-' writes it to stdout in place of the closing table")
      ->type_name("FILE");
  AddLogOptions(m, &migrate.verbose, &migrate.log_path);
  AddWaitOption(m, &migrate.wait_seconds);
  AddPasswordPrompt(m, &migrate_prompt);
  // The batch's own: where a migration it started keeps its rows read.
  m->add_option("--rows-file", migrate.rows_file)->group("");
  m->footer(std::string("Examples:\n"
                        "  apupgrade migrate ledger812.db ledger820.db --trace run.trace --summary run.json\n"
                        "  apupgrade migrate ledger812.mdb ledger820.db -q --log upgrade.log\n"
                        "  APUPGRADE_ODBC_PASSWORD=... apupgrade migrate ledger812.mdb "
                        "'odbc:DSN=ledger820;UID=upgrade'\n\n") +
            kExitCodes + "\nEnvironment:\n" + kPasswordEnvironment + kTermEnvironment);

  CheckOptions check_options;
  bool check_prompt = false, no_trial = false;
  CLI::App* c = add("check", "Read SOURCE and TARGET, write nothing, and list every problem on which migrate would stop",
                    [&] {
                      check_options.trial = !no_trial;
                      if (!TakePassword(check_options.target, check_prompt, &check_options.odbc_password))
                        return 2;
                      return Check(check_options, std::cout, std::cerr);
                    });
  Positional(c, "SOURCE", check_options.source, kSourceHelp);
  Positional(c, "TARGET", check_options.target, kTargetHelp);
  c->add_flag("--json", check_options.json, "Write the findings as JSON");
  c->add_flag("--no-trial", no_trial,
              "Skip the trial run of the whole migration on a scratch copy of a SQLite target (faster, but only "
              "the rules' findings)");
  AddLogOptions(c, &check_options.verbose, &check_options.log_path);
  AddWaitOption(c, &check_options.wait_seconds);
  AddPasswordPrompt(c, &check_prompt);
  c->footer(std::string("Examples:\n"
                        "  apupgrade check ledger812.db ledger820.db\n"
                        "  apupgrade check ledger812.mdb ledger820.db --json > findings.json\n\n"
                        "Exit codes:\n"
                        "  0  migrate would run to its end (warnings may be listed)\n"
                        "  1  migrate would stop: the first error is where\n"
                        "  2  a database cannot be used at all; bad usage\n\n"
                        "Environment:\n") +
            kPasswordEnvironment + kTermEnvironment +
            "  TMPDIR                   where the trial run's scratch copy of the target is made (default /tmp)\n");

  VerifyCommandOptions verify_options;
  bool verify_prompt = false;
  CLI::App* v = add("verify",
                    "Reconcile TARGET with SOURCE after a migration, before the books are used; read both, write "
                    "nothing",
                    [&] {
                      if (!TakePassword(verify_options.target, verify_prompt, &verify_options.odbc_password))
                        return 2;
                      return Verify(verify_options, std::cout, std::cerr);
                    });
  Positional(v, "SOURCE", verify_options.source, kSourceHelp);
  Positional(v, "TARGET", verify_options.target, kTargetHelp);
  v->add_flag("--json", verify_options.json, "Write the reconciliation as JSON");
  AddWaitOption(v, &verify_options.wait_seconds);
  AddPasswordPrompt(v, &verify_prompt);
  v->footer("Example:\n  apupgrade verify ledger812.db ledger820.db\n\n"
            "Exit codes:\n"
            "  0  the target reconciles with the source\n"
            "  1  a check could not run: the target is not proven\n"
            "  2  a database cannot be used at all; bad usage\n"
            "  3  the target does not reconcile: the differences are listed\n\n"
            "Environment:\n" +
            std::string(kPasswordEnvironment));

  std::string new_target;
  bool new_target_quiet = false;
  CLI::App* n = add("new-target", "Create FILE as an empty 8.20 SQLite account set",
                    [&] { return NewTarget(new_target, new_target_quiet ? NullOut() : std::cout, std::cerr); });
  Positional(n, "FILE", new_target, "File to create; must not exist");
  n->add_flag("-q,--quiet", new_target_quiet, "Print nothing on success");
  n->footer("Example:\n  apupgrade new-target ledger820.db\n\n"
            "Exit codes:\n"
            "  0  created\n"
            "  2  FILE exists or cannot be written, or is an odbc: name (a SQL Server database is made with "
            "share/velaccap/target_820_mssql.sql); bad usage\n");

  std::string sample;
  long long lines = 1000;
  std::uint64_t seed = 1;
  bool sample_quiet = false;
  CLI::App* s = add("sample", "Write FILE as a synthetic 8.12 SQLite account set", [&] {
    return Sample(sample, lines, seed, sample_quiet ? NullOut() : std::cout, std::cerr);
  });
  Positional(s, "FILE", sample, "File to create; must not exist");
  s->add_option("--lines", lines, "About N invoice lines (1 to 1000000000), half sales, half purchases")
      ->type_name("N")
      ->capture_default_str()
      ->check(WholeNumber(true))
      ->check(CLI::Range(1LL, 1000000000LL).description(""));
  s->add_option("--seed", seed, "Seed (0 or more); the same seed gives the same account set")
      ->type_name("N")
      ->capture_default_str()
      ->check(WholeNumber(false));
  s->add_flag("-q,--quiet", sample_quiet, "Print nothing on success");
  s->footer("Example:\n  apupgrade sample ledger812.db --lines 100000 --seed 7\n\n"
            "Exit codes:\n"
            "  0  written\n"
            "  2  FILE exists or cannot be written; bad usage\n");

  // The batch's commands register themselves; they run as any other.
  const auto batch_command = batch::AddCommands(app);
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    bool listed = false;
    for (const Command& known : commands) listed = listed || known.parser == sub;
    if (listed) continue;
    sub->group("Commands");
    commands.push_back({sub, [&batch_command] { return batch_command().value_or(2); }});
  }

  // The command named, looked at before CLI11 parses, so that an unknown
  // one and "help" get their own words.
  std::string command;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] != '\0') continue;
    command = argv[i];
    if (command == "help") {
      if (i + 1 >= argc) {
        std::cout << app.help();
        return 0;
      }
      const std::string of = argv[i + 1];
      for (const Command& c : commands)
        if (c.parser->get_name() == of) {
          std::cout << c.parser->help(kTool);
          return 0;
        }
      return UsageError("", "unknown command '" + of + "'");
    }
    bool known = false;
    for (const Command& c : commands) known = known || c.parser->get_name() == command;
    if (!known) return UsageError("", "unknown command '" + command + "'");
    break;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();  // of the command given, if one was
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what();
    return 0;
  } catch (const CLI::ExtrasError&) {
    const std::vector<std::string> extra = app.remaining(true);
    const std::string first = extra.empty() ? "" : extra.front();
    if (first.size() > 1 && first[0] == '-') return UsageError(command, "unknown option '" + first + "'");
    return UsageError(command, "unexpected argument '" + first + "'");
  } catch (const CLI::ParseError& e) {
    return UsageError(command, e.what());
  }
  for (const Command& c : commands)
    if (c.parser->parsed()) return c.run();
  // No command: an error, and where help is.
  return UsageError("", "a command is required: " + [&] {
    std::string names;
    for (const Command& c : commands) names += (names.empty() ? "" : ", ") + c.parser->get_name();
    return names;
  }());
}

}  // namespace velaccap::cli
