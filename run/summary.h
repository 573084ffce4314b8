// The run's summary as a file: the run report's JSON, written with the
// tool's output files so that a write that fails is reported, not lost.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "progress/run_report.h"

namespace velaccap::run {

class OutputFile;

// Writes `doc` to `file`, indented, and has it on the disk before returning.
// A write that fails throws velaccap::Error naming the file. Text that is not
// valid UTF-8 (read from a damaged database) is replaced, not refused.
void WriteJson(OutputFile& file, const nlohmann::json& doc);

// Writes the report's JSON summary to `path`, which CheckOutputPath has
// cleared beforehand.
void WriteSummaryJson(const std::string& path, const progress::RunReport& report);

}  // namespace velaccap::run
