// What every JSON document of the tool and the library carries, so that a
// program reading one knows what it holds and which release wrote it:
// "format" (apupgrade.KIND/1, one schema per kind in schema/json/), the
// tool's "version", and when the work began and ended, in UTC.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "velaccap/version.h"

namespace velaccap::document {

using Clock = std::chrono::system_clock;

// The kinds; the number after the slash changes only when a reader of the
// old format would misread the new one.
inline constexpr const char* kSummary = "apupgrade.summary/1";
inline constexpr const char* kVerify = "apupgrade.verify/1";
inline constexpr const char* kCheck = "apupgrade.check/1";
inline constexpr const char* kBatchSummary = "apupgrade.batch-summary/1";
inline constexpr const char* kBatchCheck = "apupgrade.batch-check/1";
inline constexpr const char* kBatchState = "apupgrade.batch-state/1";

// "2026-12-07T05:57:21.123Z": RFC 3339, UTC, milliseconds.
inline std::string Timestamp(Clock::time_point t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

// Sets the envelope's members on `doc`; an unset end is null (a run still
// going on).
template <class Json>
void Stamp(Json& doc, const char* format, Clock::time_point started, std::optional<Clock::time_point> ended) {
  doc["format"] = format;
  doc["version"] = VELACCAP_VERSION;
  doc["started_at"] = Timestamp(started);
  doc["ended_at"] = ended ? Json(Timestamp(*ended)) : Json(nullptr);
}

// A document that begins with its envelope, for the kinds written in order.
inline nlohmann::ordered_json Begin(const char* format, Clock::time_point started,
                                    std::optional<Clock::time_point> ended) {
  nlohmann::ordered_json doc;
  Stamp(doc, format, started, ended);
  return doc;
}

}  // namespace velaccap::document
