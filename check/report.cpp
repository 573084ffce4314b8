#include "check/report.h"

#include <nlohmann/json.hpp>


namespace velaccap::check {

namespace {

const char* SeverityName(Problem::Severity s) { return s == Problem::Severity::kError ? "error" : "warning"; }

std::string Where(const Problem& p) {
  std::string where = p.step > 0 ? "step " + std::to_string(p.step) + " " : std::string();
  where += p.table.empty() ? std::string("(both databases)") : p.table;
  if (!p.key.empty()) where += ", " + p.key;
  return where;
}

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

const Problem* FirstError(const std::vector<Problem>& problems) {
  for (const Problem& p : problems)
    if (p.severity == Problem::Severity::kError) return &p;
  return nullptr;
}

void PrintProblems(std::ostream& out, const std::vector<Problem>& problems) {
  std::size_t errors = 0;
  for (const Problem& p : problems) {
    out << SeverityName(p.severity) << ": ";
    if (p.step > 0 || !p.table.empty()) out << Where(p) << ": ";
    out << p.reason << '\n';
    if (p.severity == Problem::Severity::kError) ++errors;
  }
  out << Count(errors, "error", "errors") << ", " << Count(problems.size() - errors, "warning", "warnings") << ". ";
  if (const Problem* stop = FirstError(problems); stop && stop->step == 0)
    out << "migrate would refuse these databases before writing anything (exit 2).\n";
  else if (stop)
    out << "migrate would stop at " << Where(*stop) << ".\n";
  else
    out << "migrate would run to its end.\n";
}

std::vector<Problem> ProblemsOf(const nlohmann::ordered_json& doc) {
  std::vector<Problem> problems;
  auto text = [](const nlohmann::ordered_json& v) { return v.is_string() ? v.get<std::string>() : std::string(); };
  if (!doc.contains("problems") || !doc["problems"].is_array()) return problems;
  for (const auto& j : doc["problems"]) {
    Problem p;
    p.severity = j.value("severity", "") == "warning" ? Problem::Severity::kWarning : Problem::Severity::kError;
    p.step = j.contains("step") && j["step"].is_number_integer() ? j["step"].get<int>() : 0;
    p.table = text(j.value("table", nlohmann::ordered_json()));
    p.key = text(j.value("key", nlohmann::ordered_json()));
    p.reason = text(j.value("reason", nlohmann::ordered_json()));
    p.code = text(j.value("code", nlohmann::ordered_json()));
    problems.push_back(std::move(p));
  }
  return problems;
}

int ExitCode(const std::vector<Problem>& problems) {
  const Problem* stop = FirstError(problems);
  return !stop ? 0 : stop->step == 0 ? 2 : 1;
}

std::string ProblemsJson(nlohmann::ordered_json head, const std::string& source, const std::string& target,
                         const std::vector<Problem>& problems) {
  nlohmann::ordered_json doc = std::move(head);
  doc["source"] = source;
  doc["target"] = target;
  const int code = ExitCode(problems);
  doc["status"] = code == 0 ? "would_finish" : code == 1 ? "would_stop" : "refused";
  doc["exit_code"] = code;
  const Problem* stop = FirstError(problems);
  doc["would_stop"] = stop != nullptr;
  auto text = [](const std::string& t) { return t.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(t); };
  auto item = [&](const Problem& p) {
    nlohmann::ordered_json j;
    j["code"] = p.code;
    j["severity"] = SeverityName(p.severity);
    j["step"] = p.step > 0 ? nlohmann::ordered_json(p.step) : nlohmann::ordered_json();
    j["table"] = text(p.table);
    j["key"] = text(p.key);
    j["reason"] = p.reason;
    return j;
  };
  doc["stop"] = stop ? item(*stop) : nlohmann::ordered_json();
  std::size_t errors = 0;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Problem& p : problems) {
    if (p.severity == Problem::Severity::kError) ++errors;
    list.push_back(item(p));
  }
  doc["errors"] = errors;
  doc["warnings"] = problems.size() - errors;
  doc["problems"] = std::move(list);
  // Values read from a damaged database need not be valid UTF-8.
  return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace velaccap::check
