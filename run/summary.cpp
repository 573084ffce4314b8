#include "run/summary.h"

#include <ostream>

#include <nlohmann/json.hpp>

#include "run/output_file.h"

namespace velaccap::run {

void WriteJson(OutputFile& file, const nlohmann::json& doc) {
  std::ostream out(&file);
  // A failed write reaches the caller as the error OutputFile raised.
  out.exceptions(std::ios::badbit);
  out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  out.flush();
  file.Finish();
}

void WriteSummaryJson(const std::string& path, const progress::RunReport& report) {
  OutputFile file(path, "summary");
  WriteJson(file, report.ToJson());
}

}  // namespace velaccap::run
