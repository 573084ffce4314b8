// What a command is doing, for whoever watches it: the live line names the
// phase (checking, a step of the run, reconciling, committing) with the time
// gone, the share of the run's rows done and the time left; a log gets one
// line per phase and step, stamped in UTC, for runs that no one watches.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>

#include "progress/live_line.h"
#include "progress/rows_file.h"

namespace velaccap::progress {

class Phases {
 public:
  using Clock = std::chrono::steady_clock;

  // `log`: where the stamped lines go, or nullptr. When it is the live
  // line's own stream, the line is cleared before each of them.
  Phases(const LiveOptions& live, std::ostream* log, Clock::time_point start = Clock::now(),
         Clock::time_point (*now)() = &Clock::now);

  // Whether the rows read are wanted as the run goes on.
  bool wants_rows() const { return line_.enabled() || rows_file_ != nullptr; }

  // Also keeps the run's rows in `file` (which must outlive the phases).
  void KeepRowsIn(RowsFile* file) { rows_file_ = file; }

  // A phase without steps: "checking", "reconciling", "committing".
  void Phase(std::string_view name);

  // Step `step` of `steps` begins at `now`, on `table`, with `to_read`
  // source rows (-1: unknown); the run has read `all_done` of `all_to_read`.
  void Step(Clock::time_point now, int step, int steps, std::string_view table, long long to_read,
            long long all_done, long long all_to_read);

  // The rows read: of the current step, and of the whole run against all it
  // reads (-1: unknown). Redraws when the interval allows.
  void Rows(long long done, long long all_done, long long all_to_read);

  // A last line for the log ("committed ..."); clears the live line.
  void End(std::string_view text);

  // Removes the live line (it comes back at the next phase or step).
  void Clear() { line_.Clear(); }

  // "2024-05-01T09:30:12.345Z": UTC, RFC 3339 with milliseconds.
  static std::string Stamp(std::chrono::system_clock::time_point t);

 private:
  void Log(const std::string& text);
  void Draw(Clock::time_point t);

  LiveLine line_;
  RowsFile* rows_file_ = nullptr;
  std::ostream* log_;
  bool log_on_line_;
  Clock::time_point (*now_)();
  Clock::time_point start_;
  Clock::time_point steps_start_{};  // the first step's start: the pace of rows
  std::string phase_;                // the live line's first words
  long long to_read_ = -1;
  long long done_ = 0, all_done_ = 0, all_to_read_ = -1;
  bool in_step_ = false;
};

}  // namespace velaccap::progress
