// The run's live progress: one line on a terminal, redrawn in place, that
// says which step runs, how many of its source rows are done and how fast.
// Written only to a terminal, so logs and pipes never receive it.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>

namespace velaccap::progress {

// Where and how the live line is drawn. The default draws nothing.
struct LiveOptions {
  // The stream the line is written to, or nullptr for no line at all.
  std::ostream* out = nullptr;
  // The shortest time between two redraws, so a fast run does not flood the
  // terminal with writes.
  std::chrono::steady_clock::duration interval = std::chrono::milliseconds(100);
  // The terminal's width in columns; a longer line is cut to one column
  // less, so it never wraps and breaks the redraw. 0: not cut.
  int width = 0;
  // No escape sequences (a dumb terminal, or none named in TERM): the line
  // is redrawn after a carriage return and blanked with spaces.
  bool plain = false;
};

// The line on `out` when `fd` (the descriptor behind `out`) is a terminal
// and the run is not quiet; otherwise no line. The width is the terminal's;
// plain when TERM is unset, empty or "dumb".
LiveOptions LiveOn(int fd, std::ostream& out, bool quiet);

// The line on stderr: LiveOn(STDERR_FILENO, std::cerr, quiet).
LiveOptions LiveOnStderr(bool quiet);

// Draws and clears the line. Each draw is one write of the whole line.
class LiveLine {
 public:
  explicit LiveLine(const LiveOptions& options) : options_(options) {}
  ~LiveLine();
  LiveLine(const LiveLine&) = delete;
  LiveLine& operator=(const LiveLine&) = delete;

  bool enabled() const { return options_.out != nullptr; }

  // True when a redraw at `now` keeps to the interval (always for the first).
  bool Due(std::chrono::steady_clock::time_point now) const {
    return !ever_ || now - last_ >= options_.interval;
  }

  // Draws any text as the line, cut to the terminal's width.
  void DrawText(std::chrono::steady_clock::time_point now, std::string text);

  // Removes the line, leaving the cursor at the start of an empty line.
  // Nothing is written when no line was drawn.
  void Clear();

 private:
  LiveOptions options_;
  bool drawn_ = false;   // a line is on the terminal now
  std::size_t shown_ = 0;  // the length of that line
  bool ever_ = false;    // a line was drawn at least once
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace velaccap::progress
