// Opening the two databases of a run by the names the tool gives them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "velaccap/dbaccess.h"

namespace velaccap {

// An input that cannot be used at all: a missing file, a file that is not a
// database, an account set of the wrong release. The text names the file or
// table. Nothing has been written when it is raised.
class InputError : public Error {
 public:
  using Error::Error;
};

// An input refused because its file is not there (a missing SOURCE or
// TARGET, or the database file an ODBC target names), so that a caller can
// tell it from a file that is there but cannot be used.
class MissingFileError : public InputError {
 public:
  using InputError::InputError;
};

// How the databases of a run are opened.
struct OpenOptions {
  // How long to wait for another program's lock on a database file before
  // refusing it.
  int wait_ms = 5000;
  // Run the engine's quick integrity check on a SQLite file first and refuse
  // a damaged one. It reads every page once.
  bool verify = true;
  // How many saved rows a SQLite target's table recordset holds before it
  // writes them together. With 1 each row is written when it is saved, so a
  // failing row fails at once: what a run that names the failing row needs.
  std::size_t batch_rows = 1000;
  // Open the target only to read it (check, verify): a SQLite file with the
  // engine's read-only flag, so that nothing, not even a journal, is written.
  bool read_only = false;
  // Asked while another program's lock is waited on: true ends the wait at
  // once (the open then fails as at the wait's end).
  bool (*interrupted)() = nullptr;
};

// A source named by its file: an Access file (.mdb, .accdb), otherwise a
// SQLite file. Opened read-only; a SQLite source is read in one read
// transaction, so the run sees one state of it throughout.
std::unique_ptr<SourceDatabase> OpenSource(const std::string& name, const OpenOptions& options = {});

// A target named as "odbc:<connection string>", otherwise a SQLite file that
// must already exist. A connection string whose driver makes files (SQLite's)
// must name one that exists: connecting would otherwise create it. Its BeginTransaction takes the write lock at once and
// proves the file can be written; a file that another program holds locked
// past options.wait_ms, or that cannot be written, is an InputError.
std::unique_ptr<TargetConnection> OpenTarget(const std::string& name, const OpenOptions& options = {});

// After a failed or interrupted run, once its connection is closed: lets the
// engine recover whatever the failure left beside a SQLite target (a hot
// journal) and runs its quick check. Returns the empty text when the target
// is a clean database, else the first problem. Other targets recover on
// their own servers: empty.
std::string RecoverTarget(const std::string& name);

// True when `name` is a target that lives in a file (SQLite).
bool IsFileTarget(const std::string& name);

}  // namespace velaccap
