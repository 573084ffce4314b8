// apupgrade verify: the reconciliation alone, after the fact.
#include <ostream>
#include <sstream>

#include "cli/commands.h"
#include "progress/document.h"
#include "progress/messages.h"
#include "reconcile/reconcile.h"
#include "run/account_set.h"
#include "run/password.h"
#include "run/verify.h"
#include "velaccap/open.h"

namespace velaccap::cli {

int Verify(const VerifyCommandOptions& options, std::ostream& out, std::ostream& err) {
  const auto started = document::Clock::now();
  run::VerifyOutcome v;
  try {
    if (IsFileTarget(options.target)) run::RefuseSameDatabase(options.source, options.target);
    v = run::Verify(options.source, run::ConnectName(options.target, options.odbc_password),
                    run::VerifyOptions{options.wait_seconds});
  } catch (const InputError& e) {
    v.code = run::VerifyOutcome::kRefused;
    v.error = e.what();
  }
  if (options.json) {
    out << run::VerifyJson(options.source, run::DisplayName(options.target), v, v.code, started) << '\n';
  } else if (v.result) {
    reconcile::PrintResult(out, *v.result);
  }
  if (!v.error.empty()) {
    progress::SayError(err, v.error);
    if (v.code == run::VerifyOutcome::kNotRun) err << "apupgrade: the target is not proven to reconcile\n";
  } else if (v.code == run::VerifyOutcome::kDifferences) {
    err << "apupgrade: the target does not reconcile with the source\n";
  }
  return v.code;
}

}  // namespace velaccap::cli
