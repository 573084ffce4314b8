// The batch's live line and its pace: the rows the sets have read and have
// to read, counted in the running migrations as they go, so that the time
// left does not grow while the last sets run.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "progress/live_line.h"
#include "progress/rows_file.h"

namespace velaccap::batch {

// Draws the batch's live line at most every interval. `rows` gives the
// rows read and all there are to read (-1: not known yet), asked only when
// the line is drawn.
class Progress {
 public:
  explicit Progress(const progress::LiveOptions& live) : line_(live), start_(std::chrono::steady_clock::now()) {}
  void Draw(std::size_t total, std::size_t done, std::size_t failed, std::size_t running,
            const std::function<progress::RowsSeen()>& rows);
  void Clear() { line_.Clear(); }
  // A stamped line in `log` (when not null), for batches no one watches;
  // the live line is cleared first, in case both are on stderr.
  void Log(std::ostream* log, const std::string& text);

 private:
  progress::LiveLine line_;
  std::chrono::steady_clock::time_point start_;
};

// The batch's rows: those of the sets ended, those the running sets' rows
// files say, and for the sets not started an estimate from their sources'
// sizes at the rows per byte of the sets whose rows are known.
struct Pace {
  long long ended = 0;              // rows the ended sets read
  double known_rows = 0, known_bytes = 0;  // sets whose rows to read are known
  double waiting_bytes = 0;         // the sources of the sets not started
  std::map<std::size_t, std::pair<std::string, double>> running;  // set: its rows file, its source's size

  progress::RowsSeen Now() const;
};

}  // namespace velaccap::batch
