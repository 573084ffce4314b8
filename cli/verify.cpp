// apupgrade verify: the reconciliation alone, after the fact.
#include <ostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "progress/messages.h"
#include "reconcile/json.h"
#include "reconcile/reconcile.h"
#include "run/account_set.h"
#include "run/password.h"
#include "run/verify.h"
#include "velaccap/open.h"

namespace velaccap::cli {

int Verify(const VerifyCommandOptions& options, std::ostream& out, std::ostream& err) {
  if (IsFileTarget(options.target)) {
    try {
      run::RefuseSameDatabase(options.source, options.target);
    } catch (const std::exception& e) {
      progress::SayError(err, e.what());
      return 2;
    }
  }
  const run::VerifyOutcome v = run::Verify(options.source, run::ConnectName(options.target, options.odbc_password),
                                                       run::VerifyOptions{options.wait_seconds});
  if (options.json) {
    nlohmann::json doc{{"source", options.source},
                       {"target", run::DisplayName(options.target)},
                       {"status", run::StatusName(v.code)},
                       {"exit_code", v.code}};
    if (!v.error.empty()) doc["error"] = v.error;
    if (v.result) doc["reconciliation"] = reconcile::ToJson(*v.result);
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else if (v.result) {
    reconcile::PrintResult(out, *v.result);
  }
  if (!v.error.empty()) {
    std::istringstream lines(v.error);
    for (std::string line; std::getline(lines, line);) err << "apupgrade: " << line << '\n';
    if (v.code == run::VerifyOutcome::kNotRun) err << "apupgrade: the target is not proven to reconcile\n";
  } else if (v.code == run::VerifyOutcome::kDifferences) {
    err << "apupgrade: the target does not reconcile with the source\n";
  }
  return v.code;
}

}  // namespace velaccap::cli
