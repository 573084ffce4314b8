#include "run/verify.h"

#include "reconcile/json.h"

#include <memory>

#include "check/needs.h"
#include "dbaccess/odbc_connection_string.h"
#include "velaccap/open.h"

namespace velaccap::run {

namespace {

std::string Shown(const std::string& name) {
  constexpr std::string_view kOdbc = "odbc:";
  return name.starts_with(kOdbc) ? std::string(kOdbc) + MaskOdbcPasswords(name.substr(kOdbc.size())) : name;
}

}  // namespace

const char* StatusName(int code) {
  switch (code) {
    case VerifyOutcome::kReconciled: return "reconciled";
    case VerifyOutcome::kDifferences: return "differences";
    case VerifyOutcome::kRefused: return "refused";
    default: return "not_proven";
  }
}

std::string VerifyJson(const std::string& source, const std::string& target, const VerifyOutcome& outcome,
                       int exit_code, document::Clock::time_point started) {
  nlohmann::ordered_json doc = document::Begin(document::kVerify, started, document::Clock::now());
  doc["source"] = source;
  doc["target"] = target;
  doc["status"] = StatusName(outcome.code);
  doc["exit_code"] = exit_code;
  if (!outcome.error.empty()) doc["error"] = outcome.error;
  if (outcome.result) doc["reconciliation"] = reconcile::ToJson(*outcome.result);
  return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

VerifyOutcome Verify(const std::string& source_name, const std::string& target_name, const VerifyOptions& options) {
  VerifyOutcome out;
  std::unique_ptr<SourceDatabase> source;
  std::unique_ptr<TargetConnection> target;
  try {
    OpenOptions open;
    open.wait_ms = options.wait_seconds * 1000;
    open.read_only = true;
    source = OpenSource(source_name, open);
    target = OpenTarget(target_name, open);
    // Both sides as the run would have found them; a pair that a run could
    // not have migrated has nothing to prove.
    const check::Identity id = check::Identify(*source, *target);
    std::string misfit = check::SourceMisfit(id.source, source_name);
    if (const std::string t = check::TargetMisfit(id.target, Shown(target_name)); !t.empty())
      misfit += (misfit.empty() ? "" : "\n") + t;
    if (!misfit.empty()) throw InputError(misfit);
  } catch (const std::exception& e) {
    out.code = VerifyOutcome::kRefused;
    out.error = e.what();
    return out;
  }
  try {
    out.result = reconcile::Reconcile(*source, *target, std::nullopt);
    out.code = out.result->ok() ? VerifyOutcome::kReconciled : VerifyOutcome::kDifferences;
  } catch (const std::exception& e) {
    out.code = VerifyOutcome::kNotRun;
    out.error = e.what();
  }
  return out;
}

}  // namespace velaccap::run
