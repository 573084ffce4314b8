#include "velaccap/capi.h"

#include <atomic>
#include <exception>
#include <new>
#include <string>

#include "velaccap/clsAPA812.h"
#include "velaccap/open.h"

#define VELACCAP_EXPORT extern "C" __attribute__((visibility("default")))

struct VelAccAPObject {
  velaccap::clsAPA812 component;
  // Open failures happen before the component runs, so the object keeps
  // the description the host reads here.
  std::string description;
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
