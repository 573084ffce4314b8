#include "progress/live_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>
#include <string>

namespace velaccap::progress {

namespace {

// Carriage return, then the line; "erase to end of line" removes what a
// longer line drawn before left behind.
constexpr std::string_view kReturn = "\r";
constexpr std::string_view kEraseToEnd = "\x1b[K";

std::string Rows(long long n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

}  // namespace

LiveOptions LiveOn(int fd, std::ostream& out, bool quiet) {
  LiveOptions options;
  if (quiet || !::isatty(fd)) return options;
  options.out = &out;
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0) options.width = size.ws_col;
  return options;
}

LiveOptions LiveOnStderr(bool quiet) { return LiveOn(STDERR_FILENO, std::cerr, quiet); }

LiveLine::~LiveLine() {
  try {
    Clear();
  } catch (...) {
    // A terminal that went away leaves nothing to clear.
  }
}

void LiveLine::Draw(std::chrono::steady_clock::time_point now, int step, int steps, std::string_view table,
                    long long done, long long to_do, std::chrono::steady_clock::duration step_time) {
  if (!options_.out) return;
  std::string text = "step " + std::to_string(step) + " of " + std::to_string(steps) + "  ";
  text += table;
  text += "  ";
  text += to_do >= 0 ? std::to_string(done) + " of " + Rows(to_do) : Rows(done);
  const double seconds = std::chrono::duration<double>(step_time).count();
  if (seconds > 0 && done > 0) text += "  " + std::to_string(static_cast<long long>(done / seconds)) + " rows/s";
  DrawText(now, std::move(text));
}

void LiveLine::DrawText(std::chrono::steady_clock::time_point now, std::string text) {
  if (!options_.out) return;
  if (options_.width > 0 && text.size() >= static_cast<std::size_t>(options_.width)) {
    text.resize(options_.width - 1);
    while (!text.empty() && text.back() == ' ') text.pop_back();
  }
  std::string line;
  line.reserve(text.size() + 8);
  line += kReturn;
  line += text;
  line += kEraseToEnd;
  options_.out->write(line.data(), static_cast<std::streamsize>(line.size()));
  options_.out->flush();
  drawn_ = ever_ = true;
  last_ = now;
}

void LiveLine::Clear() {
  if (!options_.out || !drawn_) return;
  drawn_ = false;
  std::string line(kReturn);
  line += kEraseToEnd;
  options_.out->write(line.data(), static_cast<std::streamsize>(line.size()));
  options_.out->flush();
}

}  // namespace velaccap::progress
