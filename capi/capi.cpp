#include "velaccap/capi.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <string>

#include <nlohmann/json.hpp>

#include "progress/run_report.h"
#include "reconcile/json.h"
#include "run/migration.h"
#include "run/verify.h"
#include "velaccap/clsAPA812.h"
#include "velaccap/open.h"
#include "velaccap/version.h"

#define VELACCAP_EXPORT extern "C" __attribute__((visibility("default")))

struct VelAccAPObject {
  velaccap::clsAPA812 component;
  // Open failures happen before the component runs, so the object keeps
  // the description the host reads here.
  std::string description;
  std::string summary;  // the last VelAccAP_Migrate's, as JSON
  std::atomic<bool> cancel{false};
};

namespace {

// What a run is given; it takes a copy when it starts.
struct Settings {
  bool atomic = true;
  bool checks = true;
  bool verify = true;
  int wait_seconds = 5;
  VelAccAPProgress progress = nullptr;
  void* progress_state = nullptr;
};

}  // namespace

// A host may change the options from any thread at any time, the progress
// callback of the run that uses them included: the lock keeps the run's copy
// whole.
struct VelAccAPOptions {
  std::mutex mutex;
  Settings settings;

  template <typename Change>
  void Set(Change&& change) {
    std::lock_guard<std::mutex> lock(mutex);
    change(settings);
  }
  Settings Copy() {
    std::lock_guard<std::mutex> lock(mutex);
    return settings;
  }
};

namespace {
std::atomic<long> g_live_objects{0};
}

VELACCAP_EXPORT VelAccAPObject* VelAccAP_CreateObject(void) {
  VelAccAPObject* obj = new (std::nothrow) VelAccAPObject;
  if (obj) ++g_live_objects;
  return obj;
}

VELACCAP_EXPORT void VelAccAP_Release(VelAccAPObject* obj) {
  if (!obj) return;
  delete obj;
  --g_live_objects;
}

VELACCAP_EXPORT int VelAccAP_UpdateA812ToS820(VelAccAPObject* obj, const char* source,
                                              const char* target) {
  if (!obj) return VELACCAP_FALSE;
  obj->description.clear();
  try {
    auto src = velaccap::OpenSource(source ? source : "");
    auto tgt = velaccap::OpenTarget(target ? target : "");
    // Nothing is rolled back, but the work goes in as one commit: row by
    // row in autocommit, SQLite would sync the file for every row.
    tgt->BeginTransaction();
    bool ok = obj->component.UpdateA812ToS820(*src, *tgt);
    obj->description = obj->component.ErrDescription();
    // An engine that rolled back by itself (a full disk) has nothing left to
    // commit, and the run's own error is the one to report.
    if (!tgt->InTransaction()) return VELACCAP_FALSE;
    try {
      tgt->Commit();
    } catch (const std::exception& e) {
      if (ok) obj->description = e.what();
      try {
        tgt->Rollback();
      } catch (const std::exception&) {
      }
      return VELACCAP_FALSE;
    }
    return ok ? VELACCAP_TRUE : VELACCAP_FALSE;
  } catch (const std::exception& e) {
    obj->description = e.what();
  } catch (...) {
    obj->description = "Unknown error";
  }
  return VELACCAP_FALSE;
}

VELACCAP_EXPORT const char* VelAccAP_ErrDescription(VelAccAPObject* obj) {
  return obj ? obj->description.c_str() : "";
}

VELACCAP_EXPORT int VelAccAP_CanUnloadNow(void) { return g_live_objects.load() == 0 ? 0 : 1; }

VELACCAP_EXPORT VelAccAPOptions* VelAccAP_Options_Create(void) { return new (std::nothrow) VelAccAPOptions; }
VELACCAP_EXPORT void VelAccAP_Options_Destroy(VelAccAPOptions* options) { delete options; }
VELACCAP_EXPORT void VelAccAP_Options_SetAtomic(VelAccAPOptions* options, int on) {
  if (options) options->Set([&](Settings& s) { s.atomic = on != 0; });
}
VELACCAP_EXPORT void VelAccAP_Options_SetChecks(VelAccAPOptions* options, int on) {
  if (options) options->Set([&](Settings& s) { s.checks = on != 0; });
}
VELACCAP_EXPORT void VelAccAP_Options_SetVerify(VelAccAPOptions* options, int on) {
  if (options) options->Set([&](Settings& s) { s.verify = on != 0; });
}
VELACCAP_EXPORT void VelAccAP_Options_SetWaitSeconds(VelAccAPOptions* options, int seconds) {
  if (options) options->Set([&](Settings& s) { s.wait_seconds = seconds < 0 ? 0 : seconds; });
}
VELACCAP_EXPORT void VelAccAP_Options_SetProgress(VelAccAPOptions* options, VelAccAPProgress progress,
                                                  void* state) {
  if (options) options->Set([&](Settings& s) {
    s.progress = progress;
    s.progress_state = state;
  });
}

VELACCAP_EXPORT int VelAccAP_Migrate(VelAccAPObject* obj, const char* source, const char* target,
                                     const VelAccAPOptions* options) {
  if (!obj) return VELACCAP_BAD_CALL;
  obj->description.clear();
  obj->summary.clear();
  if (!source || !target) {
    obj->description = !source ? "no SOURCE named (NULL)" : "no TARGET named (NULL)";
    obj->cancel = false;
    return VELACCAP_BAD_CALL;
  }
  // The run's own copy: what the host changes meanwhile is for the next run.
  // The handle is not changed here, whatever its constness says.
  const Settings o = options ? const_cast<VelAccAPOptions*>(options)->Copy() : Settings{};
  // The tool's own run, so that a host gets what its users get: the same
  // checks, transaction, reconciliation, recovery and summary.
  velaccap::run::Options run;
  run.source = source;
  run.target = target;
  run.atomic = o.atomic;
  run.checks = o.checks;
  run.verify = o.verify;
  run.wait_seconds = o.wait_seconds;
  run.watch_signals = false;
  run.cancel = &obj->cancel;
  run.keep_label = "not atomic";
  if (o.progress) {
    run.observer = [progress = o.progress, state = o.progress_state, obj](int step, const char* table, long long done,
                                                                         long long to_do) {
      if (progress(state, step, velaccap::progress::kSteps, table, done, to_do) != 0) obj->cancel = true;
    };
  }
  velaccap::run::Outcome outcome;
  try {
    outcome = velaccap::run::Migrate(run);
  } catch (const std::exception& e) {
    outcome.messages = {e.what()};
    outcome.exit_code = VELACCAP_FAILED;
  } catch (...) {
    outcome.messages = {"Unknown error"};
    outcome.exit_code = VELACCAP_FAILED;
  }
  obj->cancel = false;
  int code = outcome.exit_code;
  if (code != VELACCAP_OK)
    for (const std::string& message : outcome.messages)
      obj->description += (obj->description.empty() ? "" : "\n") + message;
  // Interrupts are the host's; a signal number never comes back from a run
  // that does not watch them.
  if (code == velaccap::run::kCancelled) code = VELACCAP_CANCELLED;
  nlohmann::json& summary = outcome.summary;
  if (!summary.is_null()) {
    summary.erase("exit_code");
    summary["result"] = code;
    obj->summary = summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  return code;
}

VELACCAP_EXPORT int VelAccAP_Verify(VelAccAPObject* obj, const char* source, const char* target) {
  if (!obj) return VELACCAP_BAD_CALL;
  obj->description.clear();
  obj->summary.clear();
  if (!source || !target) {
    obj->description = !source ? "no source named" : "no target named";
    return VELACCAP_BAD_CALL;
  }
  try {
    const velaccap::run::VerifyOutcome v = velaccap::run::Verify(source, target);
    using Code = velaccap::run::VerifyOutcome;
    const int code = v.code == Code::kReconciled    ? VELACCAP_OK
                     : v.code == Code::kDifferences ? VELACCAP_MISMATCH
                     : v.code == Code::kRefused     ? VELACCAP_REFUSED
                                                    : VELACCAP_FAILED;
    nlohmann::json doc{{"status", velaccap::run::StatusName(v.code)}, {"result", code}};
    if (!v.error.empty()) doc["error"] = v.error;
    if (v.result) {
      doc["reconciliation"] = velaccap::reconcile::ToJson(*v.result);
    }
    obj->summary = doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    if (code == VELACCAP_MISMATCH) obj->description = "the target does not reconcile with the source";
    else if (code != VELACCAP_OK) obj->description = v.error;
    return code;
  } catch (const std::exception& e) {
    obj->description = e.what();
  } catch (...) {
    obj->description = "Unknown error";
  }
  return VELACCAP_FAILED;
}

VELACCAP_EXPORT const char* VelAccAP_Summary(VelAccAPObject* obj) { return obj ? obj->summary.c_str() : ""; }

VELACCAP_EXPORT void VelAccAP_Cancel(VelAccAPObject* obj) {
  if (obj) obj->cancel = true;
}

VELACCAP_EXPORT const char* VelAccAP_Version(void) { return VELACCAP_VERSION; }
VELACCAP_EXPORT int VelAccAP_VersionMajor(void) { return VELACCAP_VERSION_MAJOR; }
VELACCAP_EXPORT int VelAccAP_VersionMinor(void) { return VELACCAP_VERSION_MINOR; }
