#include "progress/phases.h"

#include <time.h>

#include <fmt/format.h>

namespace velaccap::progress {

namespace {

// "0:42", "12:05", "1:02:03".
std::string Hms(double seconds) {
  const long long s = static_cast<long long>(seconds < 0 ? 0 : seconds + 0.5);
  if (s >= 3600) return fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60);
  return fmt::format("{}:{:02}", s / 60, s % 60);
}

std::string RowCount(long long n) { return fmt::format("{} {}", n, n == 1 ? "row" : "rows"); }

}  // namespace

Phases::Phases(const LiveOptions& live, std::ostream* log, Clock::time_point start, Clock::time_point (*now)())
    : line_(live), log_(log), log_on_line_(log && log == live.out), now_(now), start_(start) {}

std::string Phases::Stamp(std::chrono::system_clock::time_point t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const time_t seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec, ms % 1000);
}

void Phases::Log(const std::string& text) {
  if (!log_) return;
  if (log_on_line_) line_.Clear();
  // One line per event, whatever the text holds.
  std::string line = text;
  for (std::size_t at; (at = line.find('\n')) != std::string::npos;) line.replace(at, 1, " / ");
  *log_ << Stamp(std::chrono::system_clock::now()) << ' ' << line << '\n';
  log_->flush();
}

void Phases::Phase(std::string_view name) {
  phase_ = name;
  in_step_ = false;
  Log(phase_);
  Draw(now_());
}

void Phases::Step(Clock::time_point t, int step, int steps, std::string_view table, long long to_read,
                  long long all_done, long long all_to_read) {
  all_done_ = all_done;
  all_to_read_ = all_to_read;
  if (rows_file_) rows_file_->Write(all_done, all_to_read);
  if (!in_step_ && steps_start_ == Clock::time_point{}) steps_start_ = t;
  // The first step after another phase is shown at once; the next ones come
  // faster than a terminal is redrawn.
  const bool first = !in_step_;
  in_step_ = true;
  phase_ = fmt::format("step {} of {}  {}", step, steps, table);
  to_read_ = to_read;
  done_ = 0;
  Log(fmt::format("step {} of {} {}: {} to read", step, steps, table, to_read < 0 ? "? rows" : RowCount(to_read)));
  if (first || line_.Due(t)) Draw(t);
}

void Phases::Rows(long long done, long long all_done, long long all_to_read) {
  done_ = done;
  all_done_ = all_done;
  all_to_read_ = all_to_read;
  if (rows_file_) rows_file_->Write(all_done, all_to_read);
  if (!line_.enabled()) return;
  const Clock::time_point t = now_();
  if (line_.Due(t)) Draw(t);
}

void Phases::End(std::string_view text) {
  in_step_ = false;
  Log(std::string(text));
  line_.Clear();
}

void Phases::Draw(Clock::time_point t) {
  if (!line_.enabled()) return;
  std::string text = phase_;
  if (in_step_) text += "  " + (to_read_ >= 0 ? fmt::format("{} of {}", done_, RowCount(to_read_)) : RowCount(done_));
  if (in_step_ && all_to_read_ > 0) {
    text += fmt::format("  {}%", std::min<long long>(100, all_done_ * 100 / all_to_read_));
  }
  text += "  " + Hms(std::chrono::duration<double>(t - start_).count()) + " elapsed";
  // The time left at the pace of the rows read so far.
  const double stepping = std::chrono::duration<double>(t - steps_start_).count();
  if (in_step_ && all_to_read_ > 0 && all_done_ > 0 && stepping > 0)
    text += "  " + Hms(stepping * static_cast<double>(std::max(0LL, all_to_read_ - all_done_)) / all_done_) + " left";
  line_.DrawText(t, std::move(text));
}

}  // namespace velaccap::progress
