#include "batch/report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "progress/table.h"
#include "velaccap/open.h"

namespace velaccap::batch {

namespace {

const char* const kStatuses[] = {"succeeded", "skipped", "failed", kTimedOut, "crashed", "interrupted",
                                 kNotStarted};

std::string Number(long long n) { return n < 0 ? "-" : std::to_string(n); }

}  // namespace

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", s);
  return text;
}

nlohmann::json ToJson(const SetResult& r) {
  auto known = [](long long n) { return n < 0 ? nlohmann::json(nullptr) : nlohmann::json(n); };
  nlohmann::json j{{"name", r.name},     {"source", r.source},
                   {"target", r.target}, {"status", r.status},
                   {"exit_code", known(r.exit_code)}, {"reconciliation", r.reconciliation},
                   {"seconds", r.seconds}};
  // The same names as a migration's own summary.
  j["totals"] = r.rows_read < 0 ? nlohmann::json(nullptr)
                                : nlohmann::json{{"read", r.rows_read},
                                                 {"written", r.rows_written},
                                                 {"updated", r.rows_updated}};
  j["error"] = r.error.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.error);
  return j;
}

SetResult FromJson(const nlohmann::json& j) {
  SetResult r;
  r.name = j.at("name").get<std::string>();
  r.source = j.at("source").get<std::string>();
  r.target = j.at("target").get<std::string>();
  r.status = j.at("status").get<std::string>();
  if (j.contains("exit_code") && j["exit_code"].is_number_integer()) r.exit_code = j["exit_code"].get<int>();
  if (j.contains("totals") && j["totals"].is_object()) {
    const nlohmann::json& t = j["totals"];
    r.rows_read = t.value("read", -1LL);
    r.rows_written = t.value("written", -1LL);
    r.rows_updated = t.value("updated", -1LL);
  }
  if (j.contains("reconciliation")) r.reconciliation = j["reconciliation"];
  r.seconds = j.value("seconds", 0.0);
  if (j.contains("error") && j["error"].is_string()) r.error = j["error"].get<std::string>();
  return r;
}

std::string ReconciliationText(const nlohmann::json& rec) {
  if (!rec.is_object()) return "-";
  const std::size_t differences = rec.contains("differences") ? rec["differences"].size() : 0;
  if (differences > 0) return std::to_string(differences) + (differences == 1 ? " difference" : " differences");
  const std::size_t checks = rec.contains("checked") ? rec["checked"].size() : 0;
  return std::to_string(checks) + " checks, no differences";
}

std::string CountsLine(const std::vector<SetResult>& results) {
  std::string text = std::to_string(results.size()) + (results.size() == 1 ? " set" : " sets");
  bool first = true;
  for (const char* status : kStatuses) {
    const auto n = std::count_if(results.begin(), results.end(), [&](const SetResult& r) { return r.status == status; });
    if (n == 0) continue;
    text += (first ? ": " : ", ") + std::to_string(n) + " " + status;
    first = false;
  }
  return text;
}

void PrintTable(std::ostream& out, const std::vector<SetResult>& results) {
  // Numbers right-aligned; the error, last, is not padded.
  using A = progress::Table::Align;
  progress::Table table({{"set"}, {"status"}, {"read", A::kRight}, {"written", A::kRight}, {"reconciliation"},
                         {"seconds", A::kRight}, {"error"}},
                        true);
  for (const SetResult& r : results)
    table.Row({r.name, r.status, Number(r.rows_read), Number(r.rows_written), ReconciliationText(r.reconciliation),
               r.status == "skipped" || r.status == kNotStarted ? "-" : Seconds(r.seconds), r.error});
  table.Print(out);
  out << CountsLine(results) << '\n';
}

nlohmann::json SummaryJson(const std::vector<SetResult>& results, const std::string& manifest,
                           const std::string& shard, int exit_code, document::Clock::time_point started) {
  nlohmann::json sets = nlohmann::json::array();
  nlohmann::json counts = nlohmann::json::object();
  for (const char* status : kStatuses) counts[status] = 0;
  for (const SetResult& r : results) {
    sets.push_back(ToJson(r));
    counts[r.status] = counts.value(r.status, 0) + 1;
  }
  nlohmann::json doc;
  document::Stamp(doc, document::kBatchSummary, started, document::Clock::now());
  doc["manifest"] = manifest.empty() ? nlohmann::json(nullptr) : nlohmann::json(manifest);
  doc["shard"] = shard.empty() ? nlohmann::json(nullptr) : nlohmann::json(shard);
  doc["exit_code"] = exit_code;
  doc["counts"] = counts;
  doc["sets"] = sets;
  return doc;
}

nlohmann::ordered_json CheckJson(const std::vector<CheckedSet>& sets, const std::string& manifest,
                                 const std::string& shard, int exit_code, document::Clock::time_point started) {
  nlohmann::ordered_json doc = document::Begin(document::kBatchCheck, started, document::Clock::now());
  doc["manifest"] = manifest;
  doc["shard"] = shard.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(shard);
  doc["exit_code"] = exit_code;
  nlohmann::ordered_json counts;
  for (const char* status : {"would_finish", "would_stop", "refused", "not_checked"}) counts[status] = 0;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const CheckedSet& s : sets) {
    counts[s.status] = counts[s.status].get<int>() + 1;
    nlohmann::ordered_json j;
    j["name"] = s.name;
    j["source"] = s.source;
    j["target"] = s.target;
    j["status"] = s.status;
    j["exit_code"] = s.exit_code < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(s.exit_code);
    j["check"] = s.check;
    j["error"] = s.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(s.error);
    list.push_back(std::move(j));
  }
  doc["counts"] = std::move(counts);
  doc["sets"] = std::move(list);
  return doc;
}

std::vector<SetResult> ReadSummary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError("cannot read the batch summary " + path);
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<SetResult> out;
  try {
    const nlohmann::json doc = nlohmann::json::parse(text.str());
    for (const nlohmann::json& s : doc.at("sets")) out.push_back(FromJson(s));
  } catch (const nlohmann::json::exception& e) {
    throw InputError(path + " is not a summary written by apupgrade batch --summary: " + e.what());
  }
  return out;
}

int ExitCodeOf(const std::vector<SetResult>& results) {
  return std::all_of(results.begin(), results.end(), [](const SetResult& r) { return r.ok(); }) ? 0 : 1;
}

}  // namespace velaccap::batch
