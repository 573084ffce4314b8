#include "progress/live_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

namespace velaccap::progress {

namespace {

// Carriage return, then the line; "erase to end of line" removes what a
// longer line drawn before left behind.
constexpr std::string_view kReturn = "\r";
constexpr std::string_view kEraseToEnd = "\x1b[K";

}  // namespace

LiveOptions LiveOn(int fd, std::ostream& out, bool quiet) {
  LiveOptions options;
  if (quiet || !::isatty(fd)) return options;
  options.out = &out;
  const char* term = std::getenv("TERM");
  options.plain = term == nullptr || *term == '\0' || std::string_view(term) == "dumb";
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
  if (!options_.plain) line += kEraseToEnd;
  else if (shown_ > text.size()) line.append(shown_ - text.size(), ' ');
  options_.out->write(line.data(), static_cast<std::streamsize>(line.size()));
  options_.out->flush();
  shown_ = text.size();
  drawn_ = ever_ = true;
  last_ = now;
}

void LiveLine::Clear() {
  if (!options_.out || !drawn_) return;
  drawn_ = false;
  std::string line(kReturn);
  if (options_.plain) {
    line.append(shown_, ' ');
    line += kReturn;
  } else {
    line += kEraseToEnd;
  }
  shown_ = 0;
  options_.out->write(line.data(), static_cast<std::streamsize>(line.size()));
  options_.out->flush();
}

}  // namespace velaccap::progress
