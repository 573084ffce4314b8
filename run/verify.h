// Proof after the fact: the reconciliation alone, on a source and a target
// that a run migrated earlier (the tool's, or a host's own call of the
// component). Both databases are only read. It holds right after the
// migration, before the books of the 8.20 set are used: a posting made there
// since is a difference here.
#pragma once

#include <optional>
#include <string>

#include "progress/document.h"
#include "reconcile/reconcile.h"

namespace velaccap::run {

// The outcome, with the tool's exit codes.
struct VerifyOutcome {
  enum Code { kReconciled = 0, kNotRun = 1, kRefused = 2, kDifferences = 3 };
  int code = kReconciled;
  // Why the proof did not run (kRefused: a database that cannot be used;
  // kNotRun: a check that could not run). Never holds a password.
  std::string error;
  std::optional<reconcile::Result> result;  // kReconciled and kDifferences
};

// The outcome's word in the JSON documents: "reconciled", "differences",
// "refused" or "not_proven".
const char* StatusName(int code);

// The outcome as the document `verify --json` writes (apupgrade.verify/1):
// `target` as it may be shown, `exit_code` the caller's number for it.
std::string VerifyJson(const std::string& source, const std::string& target, const VerifyOutcome& outcome,
                       int exit_code, document::Clock::time_point started);

struct VerifyOptions {
  int wait_seconds = 5;  // another program's lock on a SQLite file
};

// Opens `source` and `target` as the tool names them, identifies both as an
// 8.12 and an 8.20 account set, and reconciles the target with the source.
VerifyOutcome Verify(const std::string& source, const std::string& target, const VerifyOptions& options = {});

}  // namespace velaccap::run
