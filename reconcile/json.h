// The reconciliation as the JSON documents of the tool and the library give
// it: "ok", "checked", "differences" and "not_compared".
#pragma once

#include <nlohmann/json.hpp>

#include "reconcile/reconcile.h"

namespace velaccap::reconcile {

inline nlohmann::json ToJson(const Result& result) {
  nlohmann::json rec{{"ok", result.ok()}, {"checked", result.checked}};
  rec["differences"] = nlohmann::json::array();
  for (const Difference& d : result.differences)
    rec["differences"].push_back({{"table", d.table}, {"what", d.what}, {"source", d.source}, {"target", d.target}});
  rec["not_compared"] = nlohmann::json::array();
  for (const NotCompared& n : result.not_compared)
    rec["not_compared"].push_back({{"table", n.table}, {"column", n.column}, {"reason", n.reason}});
  return rec;
}

}  // namespace velaccap::reconcile
